#include "Source/AXCommon/AXCoordinateBounds.h"
#include "Source/AXCommon/AXLocation.h"

#include <gtest/gtest.h>

namespace ambrell {
namespace {

// The factories take long runs of same-typed arguments; a swap would compile
// silently, so each argument is given a distinct value and read back.
TEST(AXRecords, LocationFactoryKeepsItsTwelveArgumentsInOrder) {
    const auto geometry = AXGeometry::GeometryWithPosition(
        AXCoordinate::CoordinateWithLat(55.1, 12.2),
        AXCoordinateBounds::CoordinateBoundsWithNortheast(AXCoordinate::CoordinateWithLat(56, 13),
                                                          AXCoordinate::CoordinateWithLat(54, 11)));
    const auto property = AXTextProperty::TextPropertyWithLanguage("en", "name", "Lobby");
    const auto location =
        AXLocation::LocationWithLocationId(1, 2, {"hall"}, {3, 4}, 5, 6, {property}, geometry, 7.5f, 8, 9, true);

    EXPECT_EQ(location.locationId, 1);
    EXPECT_EQ(location.parentId, 2);
    EXPECT_EQ(location.aliases, std::vector<std::string>{"hall"});
    EXPECT_EQ(location.groups, (std::vector<std::int32_t>{3, 4}));
    EXPECT_EQ(location.status, 5u);
    EXPECT_EQ(location.baseType, 6);
    EXPECT_EQ(location.properties.at(0).language, "en");
    EXPECT_EQ(location.properties.at(0).key, "name");
    EXPECT_EQ(location.properties.at(0).value, "Lobby");
    EXPECT_EQ(location.geometry.position.lat, 55.1);
    EXPECT_EQ(location.geometry.position.lng, 12.2);
    EXPECT_EQ(location.geometry.bounds.northeast.lat, 56);
    EXPECT_EQ(location.geometry.bounds.southwest.lng, 11);
    EXPECT_EQ(location.altitude, 7.5f);
    EXPECT_EQ(location.typeId, 8);
    EXPECT_EQ(location.sourceId, 9);
    EXPECT_TRUE(location.isIndoor);

    auto moved = location;
    moved.geometry.bounds.northeast.lat = 57;
    EXPECT_NE(moved, location);
}

}  // namespace
}  // namespace ambrell
