#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Ambrell/CVHighway.h"

namespace ambrell {
namespace {

TEST(Highway, TypesAndTheirTexts) {
    struct Case {
        int rawType;
        CVHighway highway;
        const char* typeString;
    };
    const Case cases[] = {
        {0, CVHighway::unclassified(), "unclassified"},
        {1, CVHighway::footway(), "footway"},
        {2, CVHighway::residential(), "residential"},
        {3, CVHighway::service(), "service"},
        {4, CVHighway::ramp(), "ramp"},
        {5, CVHighway::stairs(), "steps"},
        {6, CVHighway::escalator(), "escalator"},
        {7, CVHighway::travelator(), "travelator"},
        {8, CVHighway::elevator(), "elevator"},
        {9, CVHighway::wheelchairramp(), "wheelchairramp"},
        {10, CVHighway::wheelchairlift(), "wheelchairlift"},
        {11, CVHighway::ladder(), "ladder"},
    };
    for (const auto& [rawType, highway, typeString] : cases) {
        SCOPED_TRACE(typeString);
        EXPECT_EQ(highway.rawType(), rawType);
        EXPECT_EQ(CVHighway::withType(rawType), highway);
        EXPECT_EQ(highway.typeString(), typeString);
        EXPECT_EQ(CVHighway::initWithTypeString(typeString), highway);
    }
}

TEST(Highway, UnknownTypesAreUnclassified) {
    EXPECT_EQ(CVHighway::withType(12), CVHighway::unclassified());
    EXPECT_EQ(CVHighway::withType(-1), CVHighway::unclassified());
    EXPECT_EQ(CVHighway(static_cast<CVHighwayType>(40)).rawType(), 0);
    EXPECT_EQ(CVHighway::initWithTypeString(""), CVHighway::unclassified());
    EXPECT_EQ(CVHighway::initWithTypeString("lift"), CVHighway::unclassified());
    EXPECT_EQ(CVHighway::initWithTypeString("ELEVATOR"), CVHighway::elevator());
    EXPECT_EQ(CVHighway::initWithTypeString("Stairs"), CVHighway::stairs());
}

TEST(Highway, ListsConvertBothWays) {
    const std::vector<CVHighway> highways = {CVHighway::stairs(), CVHighway::elevator(), CVHighway::ladder()};
    const auto strings = CVHighway::highwaysAsStrings(highways);
    EXPECT_EQ(strings, (std::vector<std::string>{"steps", "elevator", "ladder"}));
    EXPECT_EQ(CVHighway::stringsAsHighways(strings), highways);
    EXPECT_TRUE(CVHighway::highwaysAsStrings({}).empty());
}

}  // namespace
}  // namespace ambrell
