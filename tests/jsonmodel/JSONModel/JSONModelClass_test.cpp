#include <gtest/gtest.h>

#include "tests/jsonmodel/JSONModel/TestModels.h"

namespace ambrell::test {
namespace {

std::vector<std::string> namesOf(const JSONModel& model) {
    std::vector<std::string> names;
    for (const auto& property : model.properties()) names.push_back(property.name);
    return names;
}

TEST(JSONModelClassTest, IgnoredReadOnlyAndFunctionMembersHaveNoRecord) {
    Venue venue;
    EXPECT_EQ(namesOf(venue), (std::vector<std::string>{"venueId", "name", "properties", "bbox", "neighbours",
                                                        "defaultFloor", "tilesUrl", "anchor", "entryPoints"}));
    EXPECT_EQ(venue.requiredPropertyNames(), (std::vector<std::string>{"venueId", "name"}));
    EXPECT_TRUE(venue.keyMapper());
}

TEST(JSONModelClassTest, SubclassesInheritAndRedeclare) {
    Room room;
    EXPECT_EQ(namesOf(room), (std::vector<std::string>{"locationId", "floor", "name", "roomNumber"}));
    EXPECT_EQ(room.requiredPropertyNames(), std::vector<std::string>{"locationId"});
    EXPECT_EQ(&room.modelClass(), &Room::jsonClass());
    EXPECT_NE(&room.modelClass(), &Location::jsonClass());
}

TEST(JSONModelClassTest, TheBaseClassHasNoProperties) {
    JSONModel base;
    EXPECT_TRUE(base.properties().empty());
    EXPECT_TRUE(base.requiredPropertyNames().empty());
    EXPECT_FALSE(base.indexPropertyName());
    EXPECT_FALSE(base.keyMapper());
}

struct TextCase {
    std::string_view property;
    std::string_view description;
};

class PropertyTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(PropertyTextTest, ShowsTypeNameAndFlagsInOrder) {
    static Everything everything;
    static Venue venue;
    static Location location;
    static Badge badge;
    for (const JSONModel* model : {static_cast<const JSONModel*>(&everything), static_cast<const JSONModel*>(&venue),
                                   static_cast<const JSONModel*>(&location), static_cast<const JSONModel*>(&badge)}) {
        if (const auto* property = model->modelClass().property(GetParam().property)) {
            EXPECT_EQ(property->description(), GetParam().description);
            return;
        }
    }
    ADD_FAILURE() << "no property " << GetParam().property;
}

INSTANTIATE_TEST_SUITE_P(
    Records, PropertyTextTest,
    ::testing::Values(
        TextCase{"note", "@property NSString* note (Optional, Standard JSON type, Setters = [])"},
        TextCase{"venueId", "@property NSString* venueId (Standard JSON type, Setters = [])"},
        TextCase{"name", "@property NSString* name (Standard JSON type, Setters = [setNameWithNSString:])"},
        TextCase{"neighbours", "@property NSArray*<Venue> neighbours (Optional, Standard JSON type, Setters = [])"},
        TextCase{"properties",
                 "@property NSDictionary*<Field> properties (Optional, Standard JSON type, Setters = [])"},
        TextCase{"anchor", "@property Point* anchor (Optional, Setters = [])"},
        TextCase{"number", "@property primitive number (Optional, Setters = [])"},
        TextCase{"date", "@property NSDate* date (Optional, Setters = [])"},
        TextCase{"locationId", "@property NSString* locationId (Index, Standard JSON type, Setters = [])"},
        TextCase{"label", "@property NSString* label (Standard JSON type, Getter = JSONObjectForLabel, Setters = [])"}));

}  // namespace
}  // namespace ambrell::test
