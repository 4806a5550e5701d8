#pragma once

#include <boost/json/value.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace ambrell::test {

// How numbers of different kinds compare.
enum class JsonNumbers {
    // JSON has one number type, so 3, 3U and 3.0 are the same value. Integers
    // and doubles are compared exactly, never through a lossy conversion
    // (2^53 + 1 differs from 2^53 as a double).
    byValue,
    // An integer never equals a double, as boost::json's operator== has it.
    // For writers that must keep whole numbers integers: boost::json writes
    // the double 3.0 as "3E0". A signed and an unsigned integer still compare
    // by value, because they are written alike.
    exactKind,
};

// Where two JSON values first differ and how.
struct JsonDifference {
    // From the root "$": ".key" for a member whose key reads as a name,
    // ["other key"] (JSON-quoted) for any other key, [i] for an array element.
    std::string path;
    // What the expected and the actual value hold there.
    std::string what;
};

// None when the values are equal. Object members compare regardless of their
// order and are visited in the expected object's order, then the actual
// object's extra members; array elements are visited in order before a
// difference in length is reported.
[[nodiscard]] std::optional<JsonDifference> firstJsonDifference(const boost::json::value& expected,
                                                                const boost::json::value& actual,
                                                                JsonNumbers numbers = JsonNumbers::byValue);

// A JSON value's text cut to a length fit for a failure message. A double is
// written in its shortest form, a whole one with ".0" so that it shows as a
// double (boost::json would write 0.5 as "5E-1").
[[nodiscard]] std::string shortJsonText(const boost::json::value& value);

class JsonEqMatcher {
public:
    using is_gtest_matcher = void;

    JsonEqMatcher(boost::json::value expected, JsonNumbers numbers)
        : expected_(std::move(expected)), numbers_(numbers) {}

    // gmock calls these by name.
    // NOLINTBEGIN(readability-identifier-naming)
    bool MatchAndExplain(const boost::json::value& actual, std::ostream* why) const;
    void DescribeTo(std::ostream* os) const;
    void DescribeNegationTo(std::ostream* os) const;
    // NOLINTEND(readability-identifier-naming)

private:
    boost::json::value expected_;
    JsonNumbers numbers_;
};

// EXPECT_THAT(actual, JsonEq(expected)): on a mismatch the message names the
// first differing path and the two values there, e.g.
//   differs at $.venues[2].name: expected "Main", actual "Hall".
// The actual side may be anything that converts to a boost::json::value (an
// object, an array).
// Named as gmock's own matchers are, so that expectations read alike.
// NOLINTBEGIN(readability-identifier-naming)
[[nodiscard]] inline JsonEqMatcher JsonEq(boost::json::value expected, JsonNumbers numbers = JsonNumbers::byValue) {
    return {std::move(expected), numbers};
}

// The expected side as JSON text; text that does not parse throws, failing the
// test at the line that wrote it. A JSON string value is passed as a
// boost::json::value, not as text.
[[nodiscard]] JsonEqMatcher JsonEq(std::string_view jsonText, JsonNumbers numbers = JsonNumbers::byValue);
[[nodiscard]] inline JsonEqMatcher JsonEq(const char* jsonText, JsonNumbers numbers = JsonNumbers::byValue) {
    return JsonEq(std::string_view(jsonText), numbers);
}
[[nodiscard]] inline JsonEqMatcher JsonEq(const std::string& jsonText, JsonNumbers numbers = JsonNumbers::byValue) {
    return JsonEq(std::string_view(jsonText), numbers);
}
// NOLINTEND(readability-identifier-naming)

}  // namespace ambrell::test
