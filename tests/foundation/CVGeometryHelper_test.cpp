#include "foundation/CVGeometryHelper.h"

#include <gtest/gtest.h>

#include <limits>
#include <ostream>
#include <string>
#include <vector>

namespace ambrell {
namespace {

using Ring = std::vector<CLLocationCoordinate2D>;
using Rings = std::vector<Ring>;

// Corners of a box, counter-clockwise from the south-west.
Ring box(double south, double west, double north, double east) {
    return {{south, west}, {south, east}, {north, east}, {north, west}};
}

struct ContainsCase {
    std::string name;
    Rings rings;
    CLLocationCoordinate2D point;
    bool inside;

    friend void PrintTo(const ContainsCase& c, std::ostream* os) { *os << c.name; }
};

class BoundsContainsCoordinateTest : public ::testing::TestWithParam<ContainsCase> {};

TEST_P(BoundsContainsCoordinateTest, CountsCrossingsOverEveryRing) {
    EXPECT_EQ(CVGeometryHelper::boundsContainsCoordinate(GetParam().rings, GetParam().point), GetParam().inside);
}

const Ring greenwich = box(51.47, -0.1, 51.49, 0.1);
const Ring dateLine = {{-17.1, 179.9}, {-17.1, -179.9}, {-17.0, -179.9}, {-17.0, 179.9}};
const Ring diamond = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
const Ring courtyard = box(51.475, -0.05, 51.485, 0.05);
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Shapes, BoundsContainsCoordinateTest,
    ::testing::Values(
        ContainsCase{"GreenwichOnTheMeridian", {greenwich}, {51.48, 0}, true},
        ContainsCase{"GreenwichWest", {greenwich}, {51.48, -0.09}, true},
        ContainsCase{"GreenwichEast", {greenwich}, {51.48, 0.09}, true},
        ContainsCase{"GreenwichBeyondWest", {greenwich}, {51.48, -0.11}, false},
        ContainsCase{"GreenwichBeyondEast", {greenwich}, {51.48, 0.11}, false},
        ContainsCase{"GreenwichNorth", {greenwich}, {51.5, 0}, false},
        ContainsCase{"DateLineEast", {dateLine}, {-17.05, 179.95}, true},
        ContainsCase{"DateLineWest", {dateLine}, {-17.05, -179.95}, true},
        ContainsCase{"DateLineOn180", {dateLine}, {-17.05, 180}, true},
        ContainsCase{"DateLineOnMinus180", {dateLine}, {-17.05, -180}, true},
        ContainsCase{"DateLineBeyondEast", {dateLine}, {-17.05, 179.8}, false},
        ContainsCase{"DateLineBeyondWest", {dateLine}, {-17.05, -179.8}, false},
        ContainsCase{"DateLineFarAway", {dateLine}, {-17.05, 0}, false},
        // Level with a vertex shared by two edges: counted once.
        ContainsCase{"LevelWithVerticesInside", {diamond}, {0, -0.5}, true},
        ContainsCase{"LevelWithVerticesOutsideWest", {diamond}, {0, -1.5}, false},
        ContainsCase{"LevelWithVerticesOutsideEast", {diamond}, {0, 1.5}, false},
        ContainsCase{"LevelWithBoxCornerOutside", {box(0, 0, 1, 1)}, {1, -1}, false},
        ContainsCase{"InTheHole", {greenwich, courtyard}, {51.48, 0}, false},
        ContainsCase{"AroundTheHole", {greenwich, courtyard}, {51.48, -0.08}, true},
        ContainsCase{"NoRings", {}, {0, 0}, false},
        ContainsCase{"EmptyRings", {{}, {}}, {0, 0}, false},
        ContainsCase{"OnePointRing", {{{0, 0}}}, {0, 0}, false},
        ContainsCase{"ClosedRingRepeatingItsStart", {{{0, 0}, {0, 2}, {2, 2}, {2, 0}, {0, 0}}}, {1, 1}, true},
        ContainsCase{"NotANumber", {greenwich}, {nan, 0}, false}),
    [](const auto& info) { return info.param.name; });

struct RayCase {
    std::string name;
    CLLocationCoordinate2D p;
    CLLocationCoordinate2D a;
    CLLocationCoordinate2D b;
    bool crosses;

    friend void PrintTo(const RayCase& c, std::ostream* os) { *os << c.name; }
};

class RayCrossesSegmentTest : public ::testing::TestWithParam<RayCase> {};

TEST_P(RayCrossesSegmentTest, CastsTheRayTowardsGrowingLongitude) {
    const auto& c = GetParam();
    EXPECT_EQ(CVGeometryHelper::rayCrossesSegmentWithRayOrigin(c.p, c.a, c.b), c.crosses);
    EXPECT_EQ(CVGeometryHelper::rayCrossesSegmentWithRayOrigin(c.p, c.b, c.a), c.crosses) << "ends swapped";
}

INSTANTIATE_TEST_SUITE_P(
    Segments, RayCrossesSegmentTest,
    ::testing::Values(RayCase{"WestOfVertical", {0.5, -1}, {0, 0}, {1, 0}, true},
                      RayCase{"EastOfVertical", {0.5, 1}, {0, 0}, {1, 0}, false},
                      RayCase{"AboveSegment", {2, -1}, {0, 0}, {1, 0}, false},
                      RayCase{"BelowSegment", {-1, -1}, {0, 0}, {1, 0}, false},
                      RayCase{"WestOfSlope", {0.5, 0.2}, {0, 0}, {1, 1}, true},
                      RayCase{"EastOfSlope", {0.5, 0.8}, {0, 0}, {1, 1}, false},
                      // Planar: no longitude is shifted here.
                      RayCase{"NegativeLongitudes", {0.5, -0.2}, {0, -0.1}, {1, 0.1}, true},
                      RayCase{"LevelWithLowerEnd", {0, -1}, {0, 0}, {1, 0}, true},
                      RayCase{"LevelWithUpperEnd", {1, -1}, {0, 0}, {1, 0}, false},
                      RayCase{"Horizontal", {0, -1}, {0, 0}, {0, 1}, false}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace ambrell
