#include "tests/support/JsonEq.h"

#include <gmock/gmock.h>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <stdexcept>
#include <string>

namespace ambrell::test {
namespace {

namespace json = boost::json;

// "<path>: <what>" of the first difference, or "equal".
std::string difference(std::string_view expected, std::string_view actual, JsonNumbers numbers = JsonNumbers::byValue) {
    const auto found = firstJsonDifference(json::parse(expected), json::parse(actual), numbers);
    return found ? found->path + ": " + found->what : "equal";
}

std::string valueDifference(const json::value& expected, const json::value& actual,
                            JsonNumbers numbers = JsonNumbers::byValue) {
    const auto found = firstJsonDifference(expected, actual, numbers);
    return found ? found->path + ": " + found->what : "equal";
}

TEST(JsonEq, NamesTheNestedMemberThatDiffers) {
    EXPECT_EQ(difference(R"({"id": "v1", "venue": {"info": {"name": "Main", "floors": 3}}})",
                         R"({"id": "v1", "venue": {"info": {"name": "Hall", "floors": 3}}})"),
              R"($.venue.info.name: expected "Main", actual "Hall")");
}

TEST(JsonEq, NamesTheArrayElementThatDiffers) {
    EXPECT_EQ(difference(R"({"venues": [{"name": "A"}, {"name": "B"}, {"name": "C", "floors": [0, 1, 2]}]})",
                         R"({"venues": [{"name": "A"}, {"name": "B"}, {"name": "C", "floors": [0, 1, 3]}]})"),
              "$.venues[2].floors[2]: expected 2, actual 3");
}

TEST(JsonEq, NamesAMissingAndAnExtraMember) {
    EXPECT_EQ(difference(R"({"venue": {"id": "v", "floor": 2}})", R"({"venue": {"id": "v"}})"),
              "$.venue.floor: expected 2, but actual has no such member");
    EXPECT_EQ(difference(R"({"venue": {"id": "v"}})", R"({"venue": {"id": "v", "extra": [1]}})"),
              "$.venue.extra: expected no such member, actual has [1]");
    // A member that is null is still a member.
    EXPECT_EQ(difference(R"({"a": null})", "{}"), "$.a: expected null, but actual has no such member");
}

TEST(JsonEq, NamesTheFirstElementBeyondTheShorterArray) {
    EXPECT_EQ(difference(R"({"list": [1, 2, {"x": 3}]})", R"({"list": [1, 2]})"),
              R"($.list[2]: expected {"x":3}, but actual ends after 2 elements (expected 3 elements))");
    EXPECT_EQ(difference("[1]", "[1, 2, 3]"),
              "$[1]: expected the array to end after 1 element, actual has 3 elements, the first extra one 2");
    EXPECT_EQ(difference("[[]]", "[[7]]"),
              "$[0][0]: expected the array to end after 0 elements, actual has 1 element, the first extra one 7");
}

TEST(JsonEq, NamesBothKindsWhenTheKindsDiffer) {
    EXPECT_EQ(difference(R"({"a": "3"})", R"({"a": 3})"), R"($.a: expected a string "3", actual a number 3)");
    EXPECT_EQ(difference(R"({"a": null})", R"({"a": {}})"), "$.a: expected null, actual an object {}");
    EXPECT_EQ(difference("[[1]]", R"([{"0": 1}])"), R"($[0]: expected an array [1], actual an object {"0":1})");
    EXPECT_EQ(difference("true", "1"), "$: expected a boolean true, actual a number 1");
}

TEST(JsonEq, ReportsTheFirstDifferenceInTheExpectedOrder) {
    // The element that differs comes before the missing one.
    EXPECT_EQ(difference("[1, 2, 3]", "[1, 5]"), "$[1]: expected 2, actual 5");
    // Members are visited in the expected object's order, extra ones last.
    EXPECT_EQ(difference(R"({"b": 1, "a": 2, "c": 3})", R"({"z": 0, "a": 9, "b": 1})"), "$.a: expected 2, actual 9");
    EXPECT_EQ(difference(R"({"b": 1, "c": 3})", R"({"z": 0, "b": 1})"),
              "$.c: expected 3, but actual has no such member");
}

TEST(JsonEq, MemberOrderDoesNotMatter) {
    EXPECT_EQ(
        difference(R"({"a": 1, "b": {"c": [1, {"d": 2, "e": 3}]}})", R"({"b": {"c": [1, {"e": 3, "d": 2}]}, "a": 1})"),
        "equal");
}

TEST(JsonEq, KeysThatDoNotReadAsNamesAreQuoted) {
    EXPECT_EQ(difference(R"({"venueInfo.name": "A"})", R"({"venueInfo.name": "B"})"),
              R"($["venueInfo.name"]: expected "A", actual "B")");
    EXPECT_EQ(difference(R"({"syncContent::underlyingError": [{"first name": 1}]})",
                         R"({"syncContent::underlyingError": [{"first name": 2}]})"),
              R"($["syncContent::underlyingError"][0]["first name"]: expected 1, actual 2)");
    EXPECT_EQ(difference(R"({"2d": {"say \"hi\"": 0, "": 1}})", R"({"2d": {"say \"hi\"": 0, "": 2}})"),
              R"($["2d"][""]: expected 1, actual 2)");
    EXPECT_EQ(difference(R"({"_id9": 1})", R"({"_id9": 2})"), "$._id9: expected 1, actual 2");
}

TEST(JsonEq, NumbersCompareByValueAcrossKinds) {
    EXPECT_EQ(difference("[3, 0, -7, 1e3]", "[3.0, -0.0, -7.0, 1000]"), "equal");
    EXPECT_EQ(valueDifference(json::value(3), json::value(3U)), "equal");
    EXPECT_EQ(valueDifference(json::value(10000000000000000000ULL), json::value(1e19)), "equal");
    EXPECT_EQ(difference("[0.5]", "[0]"), "$[0]: expected 0.5, actual 0");
    EXPECT_EQ(valueDifference(json::value(-1), json::value(18446744073709551615ULL)),
              "$: expected -1, actual 18446744073709551615");
    // 2^53 + 1 has no double; converting it to one would call the two equal.
    EXPECT_EQ(valueDifference(json::value(9007199254740993LL), json::value(9007199254740992.0)),
              "$: expected 9007199254740993, actual 9007199254740992.0");
    // A double at or beyond 2^63 or 2^64 is outside the integer's range, not wrapped into it.
    EXPECT_EQ(valueDifference(json::value(-9223372036854775807LL - 1), json::value(9223372036854775808.0)),
              "$: expected -9223372036854775808, actual 9223372036854775808.0");
    EXPECT_EQ(valueDifference(json::value(0U), json::value(18446744073709551616.0)),
              "$: expected 0, actual 18446744073709551616.0");
}

TEST(JsonEq, ExactKindTellsIntegersFromDoubles) {
    EXPECT_EQ(difference(R"({"duration": 655})", R"({"duration": 655.0})", JsonNumbers::exactKind),
              "$.duration: expected an integer 655, actual a double 655.0");
    EXPECT_EQ(valueDifference(json::value(3), json::value(3U), JsonNumbers::exactKind), "equal");
    EXPECT_EQ(difference("[1.5]", "[1.5]", JsonNumbers::exactKind), "equal");
}

TEST(JsonEq, LongValuesAreShortenedInTheMessage) {
    json::array many;
    for (int i = 0; i < 200; ++i) many.push_back(i);
    const std::string text = shortJsonText(many);
    EXPECT_EQ(text.size(), 160U);
    EXPECT_EQ(text.substr(0, 10), "[0,1,2,3,4");
    EXPECT_EQ(text.substr(157), "...");
    // Doubles as they are usually written, a whole one marked as a double.
    EXPECT_EQ(shortJsonText(json::parse("[0.5, 2.0, -1e-7, 1e300, 3]")), "[0.5,2.0,-1e-07,1e+300,3]");
    // A cut never splits a UTF-8 sequence ("\u00e9" is two bytes): the one
    // the 157th byte would split is left out whole.
    std::string accents;
    for (int i = 0; i < 100; ++i) accents += "\u00e9";
    EXPECT_EQ(shortJsonText(json::value("a" + accents)), "\"a" + accents.substr(0, 154) + "...");
}

TEST(JsonEq, MatcherReportsTheDifferenceInTheFailure) {
    const json::value actual = json::parse(R"({"venues": [{"name": "A"}, {"name": "Hall"}]})");
    EXPECT_THAT(actual, JsonEq(R"({"venues": [{"name": "A"}, {"name": "Hall"}]})"));
    EXPECT_NONFATAL_FAILURE(EXPECT_THAT(actual, JsonEq(R"({"venues": [{"name": "A"}, {"name": "Main"}]})")),
                            R"(differs at $.venues[1].name: expected "Main", actual "Hall")");
    EXPECT_NONFATAL_FAILURE(EXPECT_THAT(actual, testing::Not(JsonEq(actual))),
                            R"(is not the JSON value {"venues":[{"name":"A"},{"name":"Hall"}]})");
    EXPECT_NONFATAL_FAILURE(EXPECT_THAT(json::value(2), JsonEq(json::value(2.0), JsonNumbers::exactKind)),
                            "Expected: is the JSON value 2.0 (an integer never equals a double)");
}

TEST(JsonEq, AcceptsObjectsAndTextsOnEitherSide) {
    const json::object object{{"a", 1}};
    EXPECT_THAT(object, JsonEq(std::string(R"({"a": 1.0})")));
    EXPECT_THAT((json::array{1, "x"}), JsonEq(json::array{1, "x"}));
    // A string value is a value, not text to parse.
    EXPECT_THAT(json::value("[1]"), JsonEq(json::value("[1]")));
    EXPECT_THAT(json::value("[1]"), testing::Not(JsonEq("[1]")));
    EXPECT_THROW((void)JsonEq(R"({"a": )"), std::invalid_argument);
}

}  // namespace
}  // namespace ambrell::test
