#include <gtest/gtest.h>

#include <boost/json/value.hpp>

#include "jsonmodel/JSONModel/JSONValueTransformer.h"

namespace ambrell {
namespace {

namespace json = boost::json;

TEST(JSONValueTransformerTest, ResolvesValuesToTheirJSONClasses) {
    EXPECT_EQ(JSONValueTransformer::classByResolvingClusterClasses(json::value("a")), "NSString");
    EXPECT_EQ(JSONValueTransformer::classByResolvingClusterClasses(json::value(true)), "NSNumber");
    EXPECT_EQ(JSONValueTransformer::classByResolvingClusterClasses(json::value(1.5)), "NSNumber");
    EXPECT_EQ(JSONValueTransformer::classByResolvingClusterClasses(json::array()), "NSArray");
    EXPECT_EQ(JSONValueTransformer::classByResolvingClusterClasses(json::object()), "NSDictionary");
    EXPECT_EQ(JSONValueTransformer::classByResolvingClusterClasses(json::value()), "NSNull");
}

TEST(JSONValueTransformerTest, PrimitiveNamesKeepTheTablesSpelling) {
    EXPECT_EQ(JSONValueTransformer::primitivesNames().size(), 17u);
    EXPECT_EQ(JSONValueTransformer::primitiveNameForEncoding("L"), "usigned long");
    EXPECT_EQ(JSONValueTransformer::primitiveNameForEncoding("q"), "long long");
    EXPECT_EQ(JSONValueTransformer::primitiveNameForEncoding("@?"), "Block");
    EXPECT_EQ(JSONValueTransformer::primitiveNameForEncoding("x"), "");
}

struct NumberCase {
    std::string_view text;
    json::value number;
};

class NumberFromTextTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(NumberFromTextTest, ReadsTheNumberAtTheStart) {
    EXPECT_EQ(JSONValueTransformer::shared().NSNumberFromNSString(GetParam().text), GetParam().number)
        << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, NumberFromTextTest,
    ::testing::Values(NumberCase{"42", json::value(std::int64_t{42})}, NumberCase{"  -7", json::value(std::int64_t{-7})},
                      NumberCase{"+3.5kg", json::value(3.5)}, NumberCase{".5", json::value(0.5)},
                      NumberCase{"1e3", json::value(1000.0)}, NumberCase{"1e", json::value(std::int64_t{1})},
                      NumberCase{"abc", json::value(std::int64_t{0})}, NumberCase{"", json::value(std::int64_t{0})},
                      NumberCase{"-", json::value(std::int64_t{0})},
                      NumberCase{"18446744073709551615", json::value(std::uint64_t{18446744073709551615ULL})},
                      NumberCase{"-99999999999999999999", json::value(-1e20)}));

TEST(JSONValueTransformerTest, NumbersAsTexts) {
    const auto& t = JSONValueTransformer::shared();
    EXPECT_EQ(t.NSStringFromNSNumber(json::value(12)), "12");
    EXPECT_EQ(t.NSStringFromNSNumber(json::value(0.1)), "0.1");
    EXPECT_EQ(t.NSStringFromNSNumber(json::value(2.0)), "2");
    EXPECT_EQ(t.NSStringFromNSNumber(json::value(true)), "1");
    EXPECT_EQ(t.NSStringFromNSNumber(json::value(std::uint64_t{18446744073709551615ULL})), "18446744073709551615");
}

TEST(JSONValueTransformerTest, DatesAndURLs) {
    using namespace std::chrono;
    const auto& t = JSONValueTransformer::shared();
    const auto instant = sys_days{year{1999} / 12 / 31} + hours{23} + minutes{59} + seconds{59};
    EXPECT_EQ(t.JSONObjectFromNSDate(instant), "1999-12-31T23:59:59+0000");
    EXPECT_EQ(t.NSDateFromNSString("2000-01-01T01:59:59+02:00"), instant);
    EXPECT_EQ(t.NSDateFromNSString("1999-12-31T20:59:59-0300"), instant);
    EXPECT_FALSE(t.NSDateFromNSString("1999-12-31T23:59:59.5Z"));
    EXPECT_FALSE(t.NSDateFromNSString("1999-12-31 23:59:59Z"));
    EXPECT_FALSE(t.NSDateFromNSString("1999-12-31T23:59:59+2400"));
    EXPECT_EQ(t.NSDateFromNSNumber(0), system_clock::time_point{});
    EXPECT_FALSE(t.NSDateFromNSNumber(1e300));
    EXPECT_TRUE(t.NSURLFromNSString("/relative/path?x=1"));
    EXPECT_FALSE(t.NSURLFromNSString("http://a b"));
    EXPECT_FALSE(t.NSURLFromNSString(""));
}

}  // namespace
}  // namespace ambrell
