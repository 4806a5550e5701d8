#include "routemodel/RouteJSONCoding.h"

#include <cmath>
#include <limits>
#include <system_error>

#include <boost/json/parse.hpp>
#include <boost/json/parse_options.hpp>

#include "routemodel/CVRouteCodingError.h"

namespace ambrell::routejson {

namespace {

// 2^63 and 2^53 as doubles: the 64-bit range, and the whole numbers a double
// holds exactly.
constexpr double kTwoTo63 = 9223372036854775808.0;
constexpr double kTwoTo53 = 9007199254740992.0;

const char* kindName(const boost::json::value& value) {
    switch (value.kind()) {
        case boost::json::kind::null: return "null";
        case boost::json::kind::bool_: return "a boolean";
        case boost::json::kind::int64:
        case boost::json::kind::uint64:
        case boost::json::kind::double_: return "a number";
        case boost::json::kind::string: return "a text";
        case boost::json::kind::array: return "a list";
        case boost::json::kind::object: return "an object";
    }
    return "an unknown value";
}

[[noreturn]] void failKind(const boost::json::value& value, const Path& path, const char* expected) {
    path.fail(std::string("expected ") + expected + ", found " + kindName(value));
}

}  // namespace

std::string Path::text() const {
    if (parent_ == nullptr) return {};
    std::string text = parent_->text();
    if (isIndex_) {
        text += '[';
        text += std::to_string(index_);
        text += ']';
    } else {
        if (!text.empty()) text += '.';
        text += key_;
    }
    return text;
}

void Path::fail(const std::string& reason) const { throw CVRouteCodingError(text(), reason); }

void Path::checkDepth() const {
    if (depth_ > kMaxNestingDepth) fail("nested deeper than " + std::to_string(kMaxNestingDepth) + " levels");
}

boost::json::value parse(std::string_view text) {
    boost::json::parse_options options;
    options.max_depth = kMaxNestingDepth;
    std::error_code error;
    auto value = boost::json::parse(text, error, {}, options);
    if (error) Path().fail("not valid JSON (" + error.message() + ")");
    return value;
}

std::string asText(const boost::json::value& value, const Path& path) {
    if (!value.is_string()) failKind(value, path, "a text");
    return std::string(value.get_string());
}

double asNumber(const boost::json::value& value, const Path& path) {
    switch (value.kind()) {
        case boost::json::kind::int64: return static_cast<double>(value.get_int64());
        case boost::json::kind::uint64: return static_cast<double>(value.get_uint64());
        case boost::json::kind::double_:
            if (!std::isfinite(value.get_double())) path.fail("number out of range");
            return value.get_double();
        default: failKind(value, path, "a number");
    }
}

int asInteger(const boost::json::value& value, const Path& path) {
    constexpr auto kLowest = std::numeric_limits<int>::min();
    constexpr auto kHighest = std::numeric_limits<int>::max();
    switch (value.kind()) {
        case boost::json::kind::int64: {
            const auto integer = value.get_int64();
            if (integer < kLowest || integer > kHighest) path.fail("integer out of range");
            return static_cast<int>(integer);
        }
        case boost::json::kind::uint64:
            if (value.get_uint64() > static_cast<std::uint64_t>(kHighest)) path.fail("integer out of range");
            return static_cast<int>(value.get_uint64());
        case boost::json::kind::double_: {
            const double number = value.get_double();
            if (!std::isfinite(number) || std::trunc(number) != number) failKind(value, path, "an integer");
            if (number < kLowest || number > kHighest) path.fail("integer out of range");
            return static_cast<int>(number);
        }
        default: failKind(value, path, "an integer");
    }
}

std::int64_t asTruncatedInteger(const boost::json::value& value, const Path& path) {
    switch (value.kind()) {
        case boost::json::kind::int64: return value.get_int64();
        case boost::json::kind::uint64:
            if (value.get_uint64() > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
                path.fail("integer out of range");
            }
            return static_cast<std::int64_t>(value.get_uint64());
        case boost::json::kind::double_: {
            const double number = std::trunc(value.get_double());
            if (!(number >= -kTwoTo63 && number < kTwoTo63)) path.fail("integer out of range");
            return static_cast<std::int64_t>(number);
        }
        default: failKind(value, path, "a number");
    }
}

CVHighway asHighway(const boost::json::value& value, const Path& path) {
    if (value.is_string()) return CVHighway::initWithTypeString(value.get_string());
    if (value.is_number()) return CVHighway::withType(asInteger(value, path));
    failKind(value, path, "a way type text or number");
}

const boost::json::array& asArray(const boost::json::value& value, const Path& path) {
    if (!value.is_array()) failKind(value, path, "a list");
    return value.get_array();
}

ObjectReader::ObjectReader(const boost::json::value& value, const Path& path) : object_(nullptr), path_(path) {
    path.checkDepth();
    if (!value.is_object()) failKind(value, path, "an object");
    object_ = &value.get_object();
}

const boost::json::value* ObjectReader::find(std::string_view key) const {
    const auto* found = object_->if_contains(key);
    return found == nullptr || found->is_null() ? nullptr : found;
}

std::optional<double> ObjectReader::numberOrValueObject(std::string_view key) const {
    const auto* found = find(key);
    if (found == nullptr) return std::nullopt;
    const Path path = path_.child(key);
    if (found->is_object()) return ObjectReader(*found, path).number("value");
    if (!found->is_number()) failKind(*found, path, "a number or an object with \"value\"");
    return asNumber(*found, path);
}

ObjectWriter::ObjectWriter(const Path& path) : path_(path) { path.checkDepth(); }

void ObjectWriter::text(std::string_view key, const std::optional<std::string>& text) {
    if (text) object_[key] = *text;
}

void ObjectWriter::number(std::string_view key, std::optional<double> number) {
    if (!number) return;
    if (!std::isfinite(*number)) path_.child(key).fail("not a finite number");
    if (std::trunc(*number) == *number && std::fabs(*number) <= kTwoTo53) {
        object_[key] = static_cast<std::int64_t>(*number);
    } else {
        object_[key] = *number;
    }
}

void ObjectWriter::integer(std::string_view key, std::optional<std::int64_t> integer) {
    if (integer) object_[key] = *integer;
}

void ObjectWriter::highway(std::string_view key, std::optional<CVHighway> highway) {
    if (highway) object_[key] = highway->typeString();
}

void ObjectWriter::texts(std::string_view key, const std::optional<std::vector<std::string>>& texts) {
    if (!texts) return;
    boost::json::array array;
    array.reserve(texts->size());
    for (const auto& text : *texts) array.emplace_back(text);
    object_[key] = std::move(array);
}

void ObjectWriter::integers(std::string_view key, const std::optional<std::vector<int>>& integers) {
    if (!integers) return;
    boost::json::array array;
    array.reserve(integers->size());
    for (const int integer : *integers) array.emplace_back(integer);
    object_[key] = std::move(array);
}

}  // namespace ambrell::routejson
