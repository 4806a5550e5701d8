#include <gtest/gtest.h>

#include <boost/json/value.hpp>

#include "jsonmodel/JSONModel/JSONKeyMapper.h"
#include "jsonmodel/JSONModel/JSONModelError.h"
#include "jsonmodel/JSONModel/JSONValueTransformer.h"
#include "tests/jsonmodel/JSONModel/TestModels.h"

namespace ambrell::test {
namespace {

namespace json = boost::json;

// ---- key mappers

TEST(KeyMapperTest, MapsAPropertyNameToItsKey) {
    using M = JSONKeyMapper;
    using Case = std::tuple<std::shared_ptr<const JSONKeyMapper>, std::string_view, std::string_view>;
    for (const auto& [mapper, name, key] : {
             Case{M::initWithModelToJSONDictionary({{"venueId", "id"}}), "venueId", "id"},
             Case{M::initWithModelToJSONDictionary({{"venueId", "id"}}), "name", "name"},
             Case{M::initWithDictionary({{"venueInfo.name", "name"}}), "name", "venueInfo.name"},
             Case{M::mapperForSnakeCase(), "version2Name", "version_2_name"},
             Case{M::mapperForSnakeCase(), "venueId", "venue_id"},
             Case{M::mapperForSnakeCase(), "URLString", "_u_r_l_string"},
             Case{M::mapperForSnakeCase(), "a12b3", "a_12b_3"},
             Case{M::mapperFromUnderscoreCaseToCamelCase(), "firstName", "first_name"},
             Case{M::mapperForTitleCase(), "name", "Name"},
             Case{M::mapperFromUpperCaseToLowerCase(), "floorName", "FLOORNAME"},
             Case{M::mapper(M::mapperForSnakeCase(), {{"ID", "userId"}}), "userId", "ID"},
             Case{M::mapper(M::mapperForSnakeCase(), {{"ID", "userId"}}), "firstName", "first_name"},
             Case{M::baseMapper(M::mapperForTitleCase(), {{"userId", "uid"}}), "userId", "uid"},
             Case{M::initWithJSONToModelBlock([](std::string_view) { return std::string("dropped"); },
                                              [](std::string_view n) { return "x_" + std::string(n); }),
                  "a", "x_a"},
         }) {
        EXPECT_EQ(mapper->convertValue(name), key);
        EXPECT_EQ(mapper->convertValue(name, true), key);
    }
}

// ---- property records

TEST(PropertyTextTest, ShowsTypeNameAndFlagsInOrder) {
    const auto& everything = Everything::jsonClass();
    const auto& venue = Venue::jsonClass();
    for (const auto& [modelClass, name, text] : std::vector<std::tuple<const JSONModelClass*, std::string, std::string>>{
             {&everything, "note", "NSString* note (Optional, Standard JSON type, Setters = [])"},
             {&venue, "venueId", "NSString* venueId (Standard JSON type, Setters = [])"},
             {&venue, "name", "NSString* name (Standard JSON type, Setters = [setNameWithNSString:])"},
             {&venue, "neighbours", "NSArray*<Venue> neighbours (Optional, Standard JSON type, Setters = [])"},
             {&venue, "properties", "NSDictionary*<Field> properties (Optional, Standard JSON type, Setters = [])"},
             {&venue, "anchor", "Point* anchor (Optional, Setters = [])"},
             {&everything, "number", "primitive number (Optional, Setters = [])"},
             {&everything, "date", "NSDate* date (Optional, Setters = [])"},
             {&Location::jsonClass(), "locationId", "NSString* locationId (Index, Standard JSON type, Setters = [])"},
             {&Badge::jsonClass(), "label",
              "NSString* label (Standard JSON type, Getter = JSONObjectForLabel, Setters = [])"},
         }) {
        const auto* property = modelClass->property(name);
        ASSERT_NE(property, nullptr) << name;
        EXPECT_EQ(property->description(), "@property " + text);
    }
}

// ---- errors

TEST(JSONModelErrorTest, PrependingJoinsWithAPointUnlessABracketFollows) {
    for (const auto& [keyPath, component, expected] :
         std::vector<std::tuple<std::optional<std::string>, std::string, std::string>>{
             {std::nullopt, "a", "a"}, {"b", "a", "a.b"}, {"[0]", "items", "items[0]"}, {"x", "[1]", "[1].x"},
             {"[2].name", "[1]", "[1][2].name"}}) {
        auto error = JSONModelError::errorInvalidDataWithMessage("m");
        if (keyPath) error = error.errorByPrependingKeyPathComponent(*keyPath);
        EXPECT_EQ(error.errorByPrependingKeyPathComponent(component).keyPath(), expected);
    }
}

TEST(JSONModelErrorTest, PrependingKeepsCodeAndUserInfoButNotTheResponse) {
    auto error = JSONModelError::errorInvalidDataWithTypeMismatch("mismatch");
    error.httpResponse = platform::HttpResponse{404, "http://x/", {}};
    error.responseData = std::vector<std::uint8_t>{'a'};
    auto prepended = error.errorByPrependingKeyPathComponent("p");
    EXPECT_EQ(std::tuple(prepended.domain, prepended.code, prepended.typeMismatch(), prepended.localizedDescription()),
              std::tuple("JSONModelErrorDomain", 1, "mismatch", error.localizedDescription()));
    EXPECT_FALSE(prepended.httpResponse || prepended.responseData);
}

TEST(JSONModelErrorTest, EveryFactoryHasItsCodeAndText) {
    using Case = std::tuple<JSONModelError, std::int64_t, std::string_view>;
    const std::vector<std::string> missing{"a", "b"};
    for (const auto& [error, code, text] : {
             Case{JSONModelError::errorInvalidDataWithMessage("bad"), 1, "Invalid JSON data: bad"},
             Case{JSONModelError::errorInvalidDataWithMissingKeys(missing), 1,
                  "Invalid JSON data. Required JSON keys are missing from the input. Check the error user "
                  "information."},
             Case{JSONModelError::errorInvalidDataWithTypeMismatch("t"), 1,
                  "Invalid JSON data. The JSON type mismatches the expected type. Check the error user information."},
             Case{JSONModelError::errorBadResponse(), 2, "Bad network response. Probably the JSON URL is unreachable."},
             Case{JSONModelError::errorBadJSON(), 3, "Malformed JSON. Check the JSONModel data input."},
             Case{JSONModelError::errorModelIsInvalid(), 4,
                  "Model does not validate. The custom validation for the input data failed."},
             Case{JSONModelError::errorInputIsNil(), 5, "Initializing model with nil input object."},
         }) {
        EXPECT_EQ(std::tuple(error.domain, error.code, error.localizedDescription()),
                  std::tuple("JSONModelErrorDomain", code, text));
    }
    auto withKeys = JSONModelError::errorInvalidDataWithMissingKeys(missing);
    EXPECT_EQ(withKeys.stringForKey("kJSONModelMissingKeys"), "a, b");
    EXPECT_EQ(withKeys.missingKeys(), missing);
}

// ---- value transformer

TEST(JSONValueTransformerTest, ClassesAndPrimitiveNamesKeepTheTablesSpelling) {
    using T = JSONValueTransformer;
    for (const auto& [value, name] : std::vector<std::pair<json::value, std::string>>{
             {"a", "NSString"}, {true, "NSNumber"}, {1.5, "NSNumber"}, {json::array(), "NSArray"},
             {json::object(), "NSDictionary"}, {nullptr, "NSNull"}}) {
        EXPECT_EQ(T::classByResolvingClusterClasses(value), name);
    }
    EXPECT_EQ(T::primitiveNameForEncoding("L"), "usigned long");
    EXPECT_EQ(T::primitiveNameForEncoding("q"), "long long");
    EXPECT_EQ(T::primitiveNameForEncoding("@?"), "Block");
    EXPECT_EQ(T::primitiveNameForEncoding("x"), "");
}

TEST(JSONValueTransformerTest, NumbersFromAndToTexts) {
    const auto& t = JSONValueTransformer::shared();
    for (const auto& [text, number] : std::vector<std::pair<std::string, json::value>>{
             {"42", std::int64_t{42}}, {"  -7", std::int64_t{-7}}, {"+3.5kg", 3.5}, {".5", 0.5}, {"1e3", 1000.0},
             {"1e", std::int64_t{1}}, {"abc", std::int64_t{0}}, {"", std::int64_t{0}}, {"-", std::int64_t{0}},
             {"18446744073709551615", std::uint64_t{18446744073709551615ULL}}, {"-99999999999999999999", -1e20}}) {
        EXPECT_EQ(t.NSNumberFromNSString(text), number) << text;
    }
    for (const auto& [number, text] : std::vector<std::pair<json::value, std::string>>{
             {12, "12"}, {0.1, "0.1"}, {2.0, "2"}, {true, "1"},
             {std::uint64_t{18446744073709551615ULL}, "18446744073709551615"}}) {
        EXPECT_EQ(t.NSStringFromNSNumber(number), text);
    }
}

TEST(JSONValueTransformerTest, DatesAndURLs) {
    using namespace std::chrono;
    const auto& t = JSONValueTransformer::shared();
    const auto instant = sys_days{year{1999} / 12 / 31} + hours{23} + minutes{59} + seconds{59};
    EXPECT_EQ(t.JSONObjectFromNSDate(instant), "1999-12-31T23:59:59+0000");
    EXPECT_EQ(t.NSDateFromNSString("2000-01-01T01:59:59+02:00"), instant);
    EXPECT_EQ(t.NSDateFromNSString("1999-12-31T20:59:59-0300"), instant);
    for (std::string_view text : {"1999-12-31T23:59:59.5Z", "1999-12-31 23:59:59Z", "1999-12-31T23:59:59+2400"}) {
        EXPECT_FALSE(t.NSDateFromNSString(text)) << text;
    }
    EXPECT_EQ(t.NSDateFromNSNumber(0), system_clock::time_point{});
    EXPECT_FALSE(t.NSDateFromNSNumber(1e300));
    EXPECT_TRUE(t.NSURLFromNSString("/relative/path?x=1"));
    EXPECT_FALSE(t.NSURLFromNSString("http://a b"));
    EXPECT_FALSE(t.NSURLFromNSString(""));
}

}  // namespace
}  // namespace ambrell::test
