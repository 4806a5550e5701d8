#include "jsonmodel/JSONModel/JSONParsing.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include <boost/json/basic_parser_impl.hpp>
#include <boost/json/value.hpp>
#include <boost/json/value_stack.hpp>

namespace ambrell {
namespace {

namespace json = boost::json;

// Builds the value on a value_stack, as the library's own parser does, and in
// addition refuses duplicate keys and infinite numbers, which that parser
// would take silently (the last duplicate winning, 1e400 read as infinity).
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

    bool on_object_begin(json::error_code&) {
        frames_.push_back(Frame{keys_.size(), keyBytes_.size()});
        return true;
    }
    bool on_object_end(std::size_t n, json::error_code& ec) {
        const Frame frame = frames_.back();
        frames_.pop_back();
        if (hasDuplicate(frame.firstKey)) return fail(ec, "duplicate key in an object");
        keys_.resize(frame.firstKey);
        keyBytes_.resize(frame.keyBytes);
        stack.push_object(n);
        return true;
    }

    bool on_array_begin(json::error_code&) { return true; }
    bool on_array_end(std::size_t n, json::error_code&) {
        stack.push_array(n);
        return true;
    }

    bool on_key_part(json::string_view part, std::size_t, json::error_code&) {
        if (!inKey_) {
            inKey_ = true;
            keyStart_ = keyBytes_.size();
        }
        keyBytes_.append(part.data(), part.size());
        stack.push_chars(part);
        return true;
    }
    bool on_key(json::string_view part, std::size_t, json::error_code&) {
        if (!inKey_) keyStart_ = keyBytes_.size();
        inKey_ = false;
        keyBytes_.append(part.data(), part.size());
        keys_.push_back(
            KeyRef{hashOf(keyStart_, keyBytes_.size() - keyStart_), keyStart_, keyBytes_.size() - keyStart_});
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
        if (!std::isfinite(value)) return fail(ec, "number out of the range of a double");
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
    struct Frame {
        std::size_t firstKey;
        std::size_t keyBytes;
    };
    struct KeyRef {
        std::uint64_t hash;
        std::size_t offset;
        std::size_t size;
    };

    bool fail(json::error_code& ec, std::string_view why) {
        reason = why;
        ec = json::make_error_code(json::error::syntax);
        return false;
    }

    [[nodiscard]] std::uint64_t hashOf(std::size_t offset, std::size_t size) const {
        std::uint64_t hash = 14695981039346656037ULL;
        for (std::size_t i = offset; i < offset + size; ++i) {
            hash = (hash ^ static_cast<unsigned char>(keyBytes_[i])) * 1099511628211ULL;
        }
        return hash;
    }

    [[nodiscard]] bool sameKey(const KeyRef& a, const KeyRef& b) const {
        return a.hash == b.hash && a.size == b.size &&
               std::equal(keyBytes_.begin() + static_cast<std::ptrdiff_t>(a.offset),
                          keyBytes_.begin() + static_cast<std::ptrdiff_t>(a.offset + a.size),
                          keyBytes_.begin() + static_cast<std::ptrdiff_t>(b.offset));
    }

    bool hasDuplicate(std::size_t firstKey) {
        const std::size_t count = keys_.size() - firstKey;
        if (count < 2) return false;
        if (count <= 32) {
            for (std::size_t i = firstKey; i < keys_.size(); ++i) {
                for (std::size_t j = i + 1; j < keys_.size(); ++j) {
                    if (sameKey(keys_[i], keys_[j])) return true;
                }
            }
            return false;
        }
        sorted_.assign(keys_.begin() + static_cast<std::ptrdiff_t>(firstKey), keys_.end());
        std::sort(sorted_.begin(), sorted_.end(), [](const KeyRef& a, const KeyRef& b) { return a.hash < b.hash; });
        for (std::size_t i = 0; i < sorted_.size(); ++i) {
            for (std::size_t j = i + 1; j < sorted_.size() && sorted_[j].hash == sorted_[i].hash; ++j) {
                if (sameKey(sorted_[i], sorted_[j])) return true;
            }
        }
        return false;
    }

    json::storage_ptr storage_;
    std::vector<Frame> frames_;
    std::vector<KeyRef> keys_;
    std::vector<KeyRef> sorted_;
    std::string keyBytes_;
    std::size_t keyStart_ = 0;
    bool inKey_ = false;
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

std::optional<json::value> parseJSON(std::string_view text, std::string* failure, json::storage_ptr storage) {
    json::basic_parser<StrictHandler> parser(strictOptions(), std::move(storage));
    json::error_code ec;
    const std::size_t used = parser.write_some(false, text.data(), text.size(), ec);
    if (!ec && used != text.size()) ec = json::make_error_code(json::error::extra_data);
    if (ec) {
        if (failure != nullptr) {
            *failure = parser.handler().reason.empty() ? ec.message() : std::string(parser.handler().reason);
        }
        return std::nullopt;
    }
    return parser.handler().stack.release();
}

}  // namespace ambrell
