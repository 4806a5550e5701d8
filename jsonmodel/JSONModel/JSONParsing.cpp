#include "jsonmodel/JSONModel/JSONParsing.h"

#include <cmath>
#include <cstdint>
#include <utility>

#include <boost/json/basic_parser_impl.hpp>
#include <boost/json/value.hpp>
#include <boost/json/value_stack.hpp>

namespace ambrell {
namespace {

namespace json = boost::json;

// Builds the value on a value_stack, as the library's own parser does, and in
// addition refuses infinite numbers, which that parser would take silently
// (1e400 read as infinity) and which no JSON writer can give back. A key
// repeated in one object is kept with its last value, as the platform parser
// does: a service answer with one repeated key must not lose the document.
class StrictHandler {
public:
    // basic_parser reads its limits from the handler by these names.
    // NOLINTBEGIN(readability-identifier-naming)
    static constexpr std::size_t max_object_size = json::object::max_size();
    static constexpr std::size_t max_array_size = json::array::max_size();
    static constexpr std::size_t max_key_size = json::string::max_size();
    static constexpr std::size_t max_string_size = json::string::max_size();
    // NOLINTEND(readability-identifier-naming)

    explicit StrictHandler(json::storage_ptr storage) : storage_(std::move(storage)) {}

    json::value_stack stack;
    std::string_view reason;

    bool on_document_begin(json::error_code&) {
        stack.reset(storage_);
        return true;
    }
    bool on_document_end(json::error_code&) { return true; }

    bool on_object_begin(json::error_code&) { return true; }
    bool on_object_end(std::size_t n, json::error_code&) {
        // The object built from the stack keeps the last of repeated keys.
        stack.push_object(n);
        return true;
    }

    bool on_array_begin(json::error_code&) { return true; }
    bool on_array_end(std::size_t n, json::error_code&) {
        stack.push_array(n);
        return true;
    }

    bool on_key_part(json::string_view part, std::size_t, json::error_code&) {
        stack.push_chars(part);
        return true;
    }
    bool on_key(json::string_view part, std::size_t, json::error_code&) {
        stack.push_key(part);
        return true;
    }

    bool on_string_part(json::string_view part, std::size_t, json::error_code&) {
        stack.push_chars(part);
        return true;
    }
    bool on_string(json::string_view part, std::size_t, json::error_code&) {
        stack.push_string(part);
        return true;
    }

    bool on_number_part(json::string_view, json::error_code&) { return true; }
    bool on_int64(std::int64_t value, json::string_view, json::error_code&) {
        stack.push_int64(value);
        return true;
    }
    bool on_uint64(std::uint64_t value, json::string_view, json::error_code&) {
        stack.push_uint64(value);
        return true;
    }
    bool on_double(double value, json::string_view, json::error_code& ec) {
        if (!std::isfinite(value)) {
            reason = "number out of the range of a double";
            ec = json::make_error_code(json::error::syntax);
            return false;
        }
        stack.push_double(value);
        return true;
    }
    bool on_bool(bool value, json::error_code&) {
        stack.push_bool(value);
        return true;
    }
    bool on_null(json::error_code&) {
        stack.push_null();
        return true;
    }
    bool on_comment_part(json::string_view, json::error_code&) { return true; }
    bool on_comment(json::string_view, json::error_code&) { return true; }

private:
    json::storage_ptr storage_;
};

json::parse_options strictOptions() {
    json::parse_options options;
    options.max_depth = kJSONMaxNestingDepth;
    options.allow_comments = false;
    options.allow_trailing_commas = false;
    options.allow_invalid_utf8 = false;
    return options;
}

}  // namespace

std::optional<json::value> parseJSON(std::string_view text, JSONParseFailure& failure, json::storage_ptr storage) {
    json::basic_parser<StrictHandler> parser(strictOptions(), std::move(storage));
    json::error_code ec;
    const std::size_t used = parser.write_some(false, text.data(), text.size(), ec);
    if (!ec && used != text.size()) ec = json::make_error_code(json::error::extra_data);
    if (ec) {
        failure.reason = parser.handler().reason.empty() ? ec.message() : std::string(parser.handler().reason);
        failure.offset = used;
        return std::nullopt;
    }
    return parser.handler().stack.release();
}

std::optional<json::value> parseJSON(std::string_view text, std::string* failure, json::storage_ptr storage) {
    JSONParseFailure why;
    auto parsed = parseJSON(text, why, std::move(storage));
    if (!parsed && failure != nullptr) *failure = std::move(why.reason);
    return parsed;
}

}  // namespace ambrell
