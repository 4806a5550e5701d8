#include "tests/support/JsonEq.h"

#include <algorithm>
#include <array>
#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <boost/json/string.hpp>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <utility>

namespace ambrell::test {

namespace {

namespace json = boost::json;

// Long enough for a record of a few members, short enough that a difference
// deep in a golden document does not print the whole document again.
constexpr std::size_t kShortTextLength = 160;

bool isInteger(const json::value& value) { return value.is_int64() || value.is_uint64(); }
bool isNumber(const json::value& value) { return isInteger(value) || value.is_double(); }

// Exact: the double must be whole and inside the integer's range before it is
// converted, so no rounding can make two different numbers meet.
bool integerEqualsDouble(const json::value& integer, double number) {
    if (!std::isfinite(number) || std::trunc(number) != number) return false;
    constexpr double kTwoTo63 = 9223372036854775808.0;
    if (integer.is_int64()) {
        if (number < -kTwoTo63 || number >= kTwoTo63) return false;
        return static_cast<std::int64_t>(number) == integer.get_int64();
    }
    if (number < 0 || number >= 2 * kTwoTo63) return false;
    return static_cast<std::uint64_t>(number) == integer.get_uint64();
}

bool sameNumber(const json::value& expected, const json::value& actual) {
    if (expected.is_double() && actual.is_double()) return expected.get_double() == actual.get_double();
    // boost::json compares a signed and an unsigned integer by value.
    if (isInteger(expected) && isInteger(actual)) return expected == actual;
    return expected.is_double() ? integerEqualsDouble(actual, expected.get_double())
                                : integerEqualsDouble(expected, actual.get_double());
}

// Two values that are compared member by member or by value rather than
// reported as of different kinds.
bool comparable(const json::value& expected, const json::value& actual, JsonNumbers numbers) {
    if (isNumber(expected) && isNumber(actual)) {
        return numbers == JsonNumbers::byValue || isInteger(expected) == isInteger(actual);
    }
    return expected.kind() == actual.kind();
}

std::string kindName(const json::value& value, JsonNumbers numbers) {
    switch (value.kind()) {
        case json::kind::null: return "null";
        case json::kind::bool_: return "a boolean";
        case json::kind::int64:
        case json::kind::uint64: return numbers == JsonNumbers::byValue ? "a number" : "an integer";
        case json::kind::double_: return numbers == JsonNumbers::byValue ? "a number" : "a double";
        case json::kind::string: return "a string";
        case json::kind::array: return "an array";
        case json::kind::object: return "an object";
    }
    return "a value";
}

// The text with its kind in front, for values of different kinds; null says both.
std::string withKind(const json::value& value, JsonNumbers numbers) {
    if (value.is_null()) return "null";
    return kindName(value, numbers) + " " + shortJsonText(value);
}

// The shortest text that reads back as the same double, with ".0" on a whole
// one so it shows as a double: boost::json would write 0.5 as "5E-1".
std::string doubleText(double number) {
    std::array<char, 64> buffer{};
    const auto end = std::to_chars(buffer.data(), buffer.data() + buffer.size(), number).ptr;
    std::string text(buffer.data(), end);
    if (std::isfinite(number) && text.find_first_of(".e") == std::string::npos) text += ".0";
    return text;
}

// JSON text with doubles as doubleText writes them; stops adding once the text
// is longer than a message shows.
void appendText(const json::value& value, std::string& text) {
    if (text.size() > kShortTextLength) return;
    switch (value.kind()) {
        case json::kind::double_: text += doubleText(value.get_double()); return;
        case json::kind::array: {
            text += '[';
            const char* separator = "";
            for (const auto& element : value.get_array()) {
                text += separator;
                appendText(element, text);
                separator = ",";
                if (text.size() > kShortTextLength) return;
            }
            text += ']';
            return;
        }
        case json::kind::object: {
            text += '{';
            const char* separator = "";
            for (const auto& [key, member] : value.get_object()) {
                text += separator;
                text += json::serialize(json::string(key));
                text += ':';
                appendText(member, text);
                separator = ",";
                if (text.size() > kShortTextLength) return;
            }
            text += '}';
            return;
        }
        default: text += json::serialize(value); return;
    }
}

bool readsAsName(json::string_view key) {
    if (key.empty()) return false;
    const auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
    if (!isLetter(key.front())) return false;
    for (const char c : key) {
        if (!isLetter(c) && !(c >= '0' && c <= '9')) return false;
    }
    return true;
}

std::string memberPath(const std::string& parent, json::string_view key) {
    if (readsAsName(key)) return parent + "." + std::string(key);
    return parent + "[" + json::serialize(json::string(key)) + "]";
}

std::string elementPath(const std::string& parent, std::size_t index) {
    return parent + "[" + std::to_string(index) + "]";
}

std::string elements(std::size_t count) { return std::to_string(count) + (count == 1 ? " element" : " elements"); }

class Comparison {
public:
    explicit Comparison(JsonNumbers numbers) : numbers_(numbers) {}

    std::optional<JsonDifference> compare(const json::value& expected, const json::value& actual,
                                          const std::string& path) const {
        if (!comparable(expected, actual, numbers_)) {
            return JsonDifference{path, "expected " + withKind(expected, numbers_) + ", actual " +
                                            withKind(actual, numbers_)};
        }
        if (expected.is_object()) return compareObjects(expected.get_object(), actual.get_object(), path);
        if (expected.is_array()) return compareArrays(expected.get_array(), actual.get_array(), path);
        const bool equal = isNumber(expected) ? sameNumber(expected, actual) : expected == actual;
        if (equal) return std::nullopt;
        return JsonDifference{path, "expected " + shortJsonText(expected) + ", actual " + shortJsonText(actual)};
    }

private:
    std::optional<JsonDifference> compareObjects(const json::object& expected, const json::object& actual,
                                                 const std::string& path) const {
        for (const auto& [key, value] : expected) {
            const auto* found = actual.if_contains(key);
            if (found == nullptr) {
                return JsonDifference{memberPath(path, key),
                                      "expected " + shortJsonText(value) + ", but actual has no such member"};
            }
            if (auto difference = compare(value, *found, memberPath(path, key))) return difference;
        }
        for (const auto& [key, value] : actual) {
            if (!expected.contains(key)) {
                return JsonDifference{memberPath(path, key),
                                      "expected no such member, actual has " + shortJsonText(value)};
            }
        }
        return std::nullopt;
    }

    std::optional<JsonDifference> compareArrays(const json::array& expected, const json::array& actual,
                                                const std::string& path) const {
        const std::size_t common = std::min(expected.size(), actual.size());
        for (std::size_t index = 0; index < common; ++index) {
            if (auto difference = compare(expected[index], actual[index], elementPath(path, index))) {
                return difference;
            }
        }
        if (expected.size() > common) {
            return JsonDifference{elementPath(path, common), "expected " + shortJsonText(expected[common]) +
                                                                 ", but actual ends after " + elements(common) +
                                                                 " (expected " + elements(expected.size()) + ")"};
        }
        if (actual.size() > common) {
            return JsonDifference{elementPath(path, common), "expected the array to end after " + elements(common) +
                                                                 ", actual has " + elements(actual.size()) +
                                                                 ", the first extra one " +
                                                                 shortJsonText(actual[common])};
        }
        return std::nullopt;
    }

    JsonNumbers numbers_;
};

}  // namespace

std::optional<JsonDifference> firstJsonDifference(const json::value& expected, const json::value& actual,
                                                  JsonNumbers numbers) {
    return Comparison(numbers).compare(expected, actual, "$");
}

std::string shortJsonText(const json::value& value) {
    std::string text;
    appendText(value, text);
    if (text.size() <= kShortTextLength) return text;
    std::size_t cut = kShortTextLength - 3;
    // Never split a UTF-8 sequence: step back over continuation bytes.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0U) == 0x80U) --cut;
    text.resize(cut);
    return text + "...";
}

bool JsonEqMatcher::MatchAndExplain(const json::value& actual, std::ostream* why) const {
    const auto difference = firstJsonDifference(expected_, actual, numbers_);
    if (!difference) return true;
    if (why != nullptr) *why << "differs at " << difference->path << ": " << difference->what;
    return false;
}

void JsonEqMatcher::DescribeTo(std::ostream* os) const {
    *os << "is the JSON value " << shortJsonText(expected_);
    if (numbers_ == JsonNumbers::exactKind) *os << " (an integer never equals a double)";
}

void JsonEqMatcher::DescribeNegationTo(std::ostream* os) const {
    *os << "is not the JSON value " << shortJsonText(expected_);
    if (numbers_ == JsonNumbers::exactKind) *os << " (an integer never equals a double)";
}

JsonEqMatcher JsonEq(std::string_view jsonText, JsonNumbers numbers) {
    boost::system::error_code error;
    auto expected = json::parse(json::string_view(jsonText.data(), jsonText.size()), error);
    if (error) {
        throw std::invalid_argument("JsonEq: the expected text is not JSON (" + error.message() +
                                    "): " + std::string(jsonText.substr(0, kShortTextLength)));
    }
    return {std::move(expected), numbers};
}

}  // namespace ambrell::test
