#include <gtest/gtest.h>

#include <boost/json/parse.hpp>

#include "jsonmodel/JSONModel/JSONKeyMapper.h"
#include "tests/jsonmodel/JSONModel/TestModels.h"

namespace ambrell::test {
namespace {

// Every test that sets the global key mapper clears it again, pass or fail.
class GlobalKeyMapperTest : public ::testing::Test {
protected:
    ~GlobalKeyMapperTest() override { JSONModel::setGlobalKeyMapper(nullptr); }
};

struct MapperCase {
    std::shared_ptr<const JSONKeyMapper> mapper;
    std::string_view name;
    std::string_view key;
};

class KeyMapperTest : public ::testing::TestWithParam<MapperCase> {};

TEST_P(KeyMapperTest, MapsAPropertyNameToItsKey) {
    EXPECT_EQ(GetParam().mapper->convertValue(GetParam().name), GetParam().key);
    EXPECT_EQ(GetParam().mapper->convertValue(GetParam().name, true), GetParam().key);
}

INSTANTIATE_TEST_SUITE_P(
    Mappers, KeyMapperTest,
    ::testing::Values(
        MapperCase{JSONKeyMapper::initWithModelToJSONDictionary({{"venueId", "id"}}), "venueId", "id"},
        MapperCase{JSONKeyMapper::initWithModelToJSONDictionary({{"venueId", "id"}}), "name", "name"},
        MapperCase{JSONKeyMapper::initWithDictionary({{"venueInfo.name", "name"}}), "name", "venueInfo.name"},
        MapperCase{JSONKeyMapper::mapperForSnakeCase(), "version2Name", "version_2_name"},
        MapperCase{JSONKeyMapper::mapperForSnakeCase(), "venueId", "venue_id"},
        MapperCase{JSONKeyMapper::mapperForSnakeCase(), "URLString", "_u_r_l_string"},
        MapperCase{JSONKeyMapper::mapperForSnakeCase(), "a12b3", "a_12b_3"},
        MapperCase{JSONKeyMapper::mapperFromUnderscoreCaseToCamelCase(), "firstName", "first_name"},
        MapperCase{JSONKeyMapper::mapperForTitleCase(), "name", "Name"},
        MapperCase{JSONKeyMapper::mapperFromUpperCaseToLowerCase(), "floorName", "FLOORNAME"},
        MapperCase{JSONKeyMapper::mapper(JSONKeyMapper::mapperForSnakeCase(), {{"ID", "userId"}}), "userId", "ID"},
        MapperCase{JSONKeyMapper::mapper(JSONKeyMapper::mapperForSnakeCase(), {{"ID", "userId"}}), "firstName",
                   "first_name"},
        MapperCase{JSONKeyMapper::baseMapper(JSONKeyMapper::mapperForTitleCase(), {{"userId", "uid"}}), "userId",
                   "uid"},
        MapperCase{JSONKeyMapper::initWithJSONToModelBlock([](std::string_view) { return std::string("dropped"); },
                                                           [](std::string_view n) { return "x_" + std::string(n); }),
                   "a", "x_a"}));

TEST_F(GlobalKeyMapperTest, TheGlobalMapperMapsWhatTheClassMapperLeavesUnchanged) {
    JSONModel::setGlobalKeyMapper(JSONKeyMapper::mapperForSnakeCase());
    std::optional<JSONModelError> error;
    auto profile = Profile::fromString(R"({"uid": "u1", "first_name": "Ada", "version_2_name": 2})", &error);
    ASSERT_TRUE(profile) << error->localizedDescription();
    EXPECT_EQ(profile->userId, "u1");
    EXPECT_EQ(profile->firstName, "Ada");
    EXPECT_EQ(profile->version2Name, 2);
    EXPECT_EQ(profile->toJSONString(), R"({"uid":"u1","first_name":"Ada","version_2_name":2})");

    // Without a class mapper (a merge without key mapping) only the global one applies.
    ASSERT_TRUE(profile->mergeFromDictionary(boost::json::parse(R"({"user_id": "u2", "uid": "u3"})"), false));
    EXPECT_EQ(profile->userId, "u2");

    // Clearing it brings the plain names back.
    JSONModel::setGlobalKeyMapper(nullptr);
    EXPECT_FALSE(Profile::fromString(R"({"uid": "u1", "first_name": "Ada", "version_2_name": 2})"));
    EXPECT_TRUE(Profile::fromString(R"({"uid": "u1", "firstName": "Ada", "version2Name": 2})"));
}

TEST(KeyPathTest, AKeyPathThroughANonObjectFallsBackToThePlainKey) {
    // "venueInfo" is a text, so "venueInfo.name" is read as one key.
    std::optional<JSONModelError> error;
    auto venue = Venue::fromString(R"({"id": "v", "venueInfo": "flat", "venueInfo.name": "Flat"})", &error);
    ASSERT_TRUE(venue) << error->localizedDescription();
    EXPECT_EQ(venue->name, "Flat");
    // A missing step is simply missing.
    error.reset();
    EXPECT_FALSE(Venue::fromString(R"({"id": "v", "venueInfo.name": "Flat"})", &error));
    EXPECT_EQ(error->missingKeys(), std::vector<std::string>{"name"});
}

}  // namespace
}  // namespace ambrell::test
