#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "data/CVBuildingInternal.h"
#include "data/CVFloorInternal.h"
#include "data/CVLocationInternal.h"
#include "data/CVVenueInternal.h"
#include "mapcontrol/CVEntityGeometry.h"

namespace ambrell::entity_geometry_test {
namespace {

using Ring = CVPolygonGeometry::Ring;

std::shared_ptr<CVPolygonGeometry> polygon(std::vector<Ring> rings) {
    return std::make_shared<CVPolygonGeometry>(std::move(rings));
}

// A closed square ring from (south, west) with sides of `size` degrees.
Ring square(double south, double west, double size) {
    return {{south, west}, {south, west + size}, {south + size, west + size}, {south + size, west}, {south, west}};
}

void expectBounds(const std::optional<CVGeoBounds>& bounds, CLLocationCoordinate2D southWest,
                  CLLocationCoordinate2D northEast) {
    ASSERT_TRUE(bounds.has_value());
    EXPECT_DOUBLE_EQ(bounds->southWest().latitude, southWest.latitude);
    EXPECT_DOUBLE_EQ(bounds->southWest().longitude, southWest.longitude);
    EXPECT_DOUBLE_EQ(bounds->northEast().latitude, northEast.latitude);
    EXPECT_DOUBLE_EQ(bounds->northEast().longitude, northEast.longitude);
}

TEST(EntityGeometry, AVenueAnswersItsAnchorEvenOutsideItsBox) {
    CVVenueInternal venue;
    venue.bbox = std::vector<double>{12.0, 55.0, 12.5, 55.5};
    venue.anchor = CVPoint(60, 20, 3);
    expectBounds(entityBounds(venue), {55.0, 12.0}, {55.5, 12.5});
    EXPECT_EQ(entityPosition(venue), CVPoint(60, 20, 3));
    EXPECT_FALSE(entityIsPoint(venue));
}

TEST(EntityGeometry, AVenueWithoutAnchorAnswersTheCentreOfItsBox) {
    CVVenueInternal venue;
    venue.bbox = std::vector<double>{12.0, 55.0, 12.5, 55.5};
    const auto position = entityPosition(venue);
    ASSERT_TRUE(position.has_value());
    EXPECT_DOUBLE_EQ(position->latitude(), 55.25);
    EXPECT_DOUBLE_EQ(position->longitude(), 12.25);
    EXPECT_EQ(position->z(), 0);
}

TEST(EntityGeometry, AVenueWithoutBoxHasNoBoundsAndNoPositionUnlessAnchored) {
    CVVenueInternal venue;
    EXPECT_FALSE(entityBounds(venue).has_value());
    EXPECT_FALSE(entityPosition(venue).has_value());
    venue.anchor = CVPoint(1, 2);
    EXPECT_EQ(entityPosition(venue), CVPoint(1, 2));
}

TEST(EntityGeometry, ABuildingIsBoundedByEveryRingOfItsPolygon) {
    CVBuildingInternal building;
    building.cv_setPolygon(polygon({square(55.0, 12.0, 0.1), square(54.9, 12.05, 0.02)}));
    expectBounds(entityBounds(building), {54.9, 12.0}, {55.1, 12.1});
    const auto centre = entityPosition(building);
    ASSERT_TRUE(centre.has_value());
    EXPECT_DOUBLE_EQ(centre->latitude(), 55.0);
    EXPECT_DOUBLE_EQ(centre->longitude(), 12.05);
    EXPECT_FALSE(entityIsPoint(building));

    CVBuildingInternal anchored;
    anchored.cv_setPolygon(polygon({square(55.0, 12.0, 0.1)}));
    anchored.anchor = CVPoint(40, 40, 2);
    EXPECT_EQ(entityPosition(anchored), CVPoint(40, 40, 2));
}

TEST(EntityGeometry, ABuildingWithoutPolygonHasNoBounds) {
    CVBuildingInternal building;
    EXPECT_FALSE(entityBounds(building).has_value());
    EXPECT_FALSE(entityPosition(building).has_value());
}

TEST(EntityGeometry, AFloorPrefersItsMultipolygonAndReadsOuterRings) {
    CVFloorInternal floor;
    floor.cv_setPolygon(polygon({square(10, 10, 1)}));
    floor.cv_setMultiPolygon(std::make_shared<CVMultiPolygonGeometry>(std::vector<CVPolygonGeometry>{
        CVPolygonGeometry({square(55.0, 12.0, 0.1), square(50.0, 0.0, 1)}),  // the hole lies far out: not read
        CVPolygonGeometry({square(55.2, 12.2, 0.1)}),
    }));
    expectBounds(entityBounds(floor), {55.0, 12.0}, {55.3, 12.3});
    const auto centre = entityPosition(floor);
    ASSERT_TRUE(centre.has_value());
    EXPECT_DOUBLE_EQ(centre->latitude(), 55.15);
    EXPECT_DOUBLE_EQ(centre->longitude(), 12.15);
    EXPECT_FALSE(entityIsPoint(floor));
}

TEST(EntityGeometry, AFloorWithAPolygonAloneUsesIt) {
    CVFloorInternal floor;
    floor.cv_setPolygon(polygon({square(10, 20, 2)}));
    expectBounds(entityBounds(floor), {10, 20}, {12, 22});
}

TEST(EntityGeometry, AFloorWithoutOutlineHasNoBounds) {
    CVFloorInternal bare;
    EXPECT_FALSE(entityBounds(bare).has_value());
    EXPECT_FALSE(entityPosition(bare).has_value());

    CVFloorInternal emptyRing;
    emptyRing.cv_setPolygon(polygon({Ring{}}));
    EXPECT_FALSE(entityBounds(emptyRing).has_value());
}

TEST(EntityGeometry, ALocationWithoutShapeIsAPointBoxAtItsPosition) {
    const CVLocationInternal location(CVPoint(55.5, 12.5, 2), "Desk");
    const auto bounds = entityBounds(location);
    expectBounds(bounds, {55.5, 12.5}, {55.5, 12.5});
    EXPECT_EQ(entityPosition(location), CVPoint(55.5, 12.5, 2));
    EXPECT_EQ(entityPosition(location).zIndex(), 2);
    EXPECT_TRUE(entityIsPoint(location));
}

TEST(EntityGeometry, ALocationWithAnAreaIsNoPoint) {
    CVLocationInternal room(CVPoint(55.05, 12.05, 1), "Room");
    room.cv_setPolygon(polygon({square(55.0, 12.0, 0.1)}));
    expectBounds(entityBounds(room), {55.0, 12.0}, {55.1, 12.1});
    EXPECT_FALSE(entityIsPoint(room));
    EXPECT_EQ(entityPosition(room).zIndex(), 1);

    // A shape flat in one direction has no area either.
    CVLocationInternal line(CVPoint(1, 1), "Line");
    line.cv_setPolygon(polygon({Ring{{1, 1}, {1, 2}, {1, 1}}}));
    EXPECT_TRUE(entityIsPoint(line));
}

}  // namespace
}  // namespace ambrell::entity_geometry_test
