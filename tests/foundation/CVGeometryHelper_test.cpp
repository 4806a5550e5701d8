#include "foundation/CVGeometryHelper.h"

#include <gtest/gtest.h>

#include <limits>

namespace ambrell {
namespace {

using Ring = std::vector<CLLocationCoordinate2D>;
using Rings = std::vector<Ring>;

// Corners of a box, counter-clockwise from the south-west.
Ring box(double south, double west, double north, double east) {
    return {{south, west}, {south, east}, {north, east}, {north, west}};
}

TEST(CVGeometryHelper, BoundsContainCoordinateByCountingCrossingsOverEveryRing) {
    const Ring greenwich = box(51.47, -0.1, 51.49, 0.1);
    const Ring dateLine = {{-17.1, 179.9}, {-17.1, -179.9}, {-17.0, -179.9}, {-17.0, 179.9}};
    const Ring diamond = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
    const Ring courtyard = box(51.475, -0.05, 51.485, 0.05);
    constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
    const std::tuple<const char*, Rings, CLLocationCoordinate2D, bool> cases[] = {
        // Across the prime meridian.
        {"OnTheMeridian", {greenwich}, {51.48, 0}, true},
        {"North", {greenwich}, {51.5, 0}, false},
        {"West", {greenwich}, {51.48, -0.09}, true},
        {"BeyondWest", {greenwich}, {51.48, -0.11}, false},
        {"East", {greenwich}, {51.48, 0.09}, true},
        {"BeyondEast", {greenwich}, {51.48, 0.11}, false},
        // Across the date line.
        {"EastOf180", {dateLine}, {-17.05, 179.95}, true},
        {"BeyondEastOf180", {dateLine}, {-17.05, 179.8}, false},
        {"WestOf180", {dateLine}, {-17.05, -179.95}, true},
        {"BeyondWestOf180", {dateLine}, {-17.05, -179.8}, false},
        {"On180", {dateLine}, {-17.05, 180}, true},
        {"OnMinus180", {dateLine}, {-17.05, -180}, true},
        {"FarFrom180", {dateLine}, {-17.05, 0}, false},
        // Level with a vertex shared by two edges: counted once.
        {"LevelWithVerticesInside", {diamond}, {0, -0.5}, true},
        {"LevelWithVerticesWest", {diamond}, {0, -1.5}, false},
        {"LevelWithVerticesEast", {diamond}, {0, 1.5}, false},
        {"LevelWithBoxCornerOutside", {box(0, 0, 1, 1)}, {1, -1}, false},
        {"InTheHole", {greenwich, courtyard}, {51.48, 0}, false},
        {"AroundTheHole", {greenwich, courtyard}, {51.48, -0.08}, true},
        {"NoRings", {}, {0, 0}, false},
        {"EmptyRings", {{}, {}}, {0, 0}, false},
        {"OnePointRing", {{{0, 0}}}, {0, 0}, false},
        {"NotANumber", {greenwich}, {kNan, 0}, false},
        {"ClosedRingRepeatingItsStart", {{{0, 0}, {0, 2}, {2, 2}, {2, 0}, {0, 0}}}, {1, 1}, true},
    };
    for (const auto& [name, rings, point, inside] : cases) {
        EXPECT_EQ(CVGeometryHelper::boundsContainsCoordinate(rings, point), inside) << name;
    }
}

TEST(CVGeometryHelper, RayTowardsGrowingLongitudeCrossesSegment) {
    const std::tuple<const char*, CLLocationCoordinate2D, CLLocationCoordinate2D, CLLocationCoordinate2D, bool>
        cases[] = {
            {"WestOfVertical", {0.5, -1}, {0, 0}, {1, 0}, true},
            {"EastOfVertical", {0.5, 1}, {0, 0}, {1, 0}, false},
            {"AboveSegment", {2, -1}, {0, 0}, {1, 0}, false},
            {"BelowSegment", {-1, -1}, {0, 0}, {1, 0}, false},
            {"WestOfSlope", {0.5, 0.2}, {0, 0}, {1, 1}, true},
            {"EastOfSlope", {0.5, 0.8}, {0, 0}, {1, 1}, false},
            // Planar: no longitude is shifted here.
            {"NegativeLongitudes", {0.5, -0.2}, {0, -0.1}, {1, 0.1}, true},
            {"LevelWithLowerEnd", {0, -1}, {0, 0}, {1, 0}, true},
            {"LevelWithUpperEnd", {1, -1}, {0, 0}, {1, 0}, false},
            {"Horizontal", {0, -1}, {0, 0}, {0, 1}, false},
        };
    for (const auto& [name, p, a, b, crosses] : cases) {
        EXPECT_EQ(CVGeometryHelper::rayCrossesSegmentWithRayOrigin(p, a, b), crosses) << name;
        EXPECT_EQ(CVGeometryHelper::rayCrossesSegmentWithRayOrigin(p, b, a), crosses) << name << ", ends swapped";
    }
}

}  // namespace
}  // namespace ambrell
