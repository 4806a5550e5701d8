#include "foundation/CVGeometryHelper.h"

#include <gtest/gtest.h>

#include <barrier>
#include <cmath>
#include <limits>
#include <thread>

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

TEST(CVGeometryHelper, MeasuresPlanarDistancesToSegments) {
    const std::tuple<const char*, CLLocationCoordinate2D, CLLocationCoordinate2D, CLLocationCoordinate2D, double>
        cases[] = {
            {"BeyondTheEnd", {0, 2}, {0, 0}, {0, 1}, 1},    {"DegenerateSegment", {0, 2}, {0, 0}, {0, 0}, 2},
            {"BeforeTheStart", {0, -3}, {0, 0}, {0, 1}, 3}, {"Beside", {2, 0.5}, {0, 0}, {0, 1}, 2},
            {"OnTheSegment", {0, 0.25}, {0, 0}, {0, 1}, 0},
        };
    for (const auto& [name, p, v, w, distance] : cases) {
        EXPECT_DOUBLE_EQ(CVGeometryHelper::coordinateToLineDistance(p, v, w), distance) << name;
        EXPECT_DOUBLE_EQ(CVGeometryHelper::coordinateToLineDistanceSquared(p, v, w), distance * distance) << name;
    }
    EXPECT_EQ(CVGeometryHelper::closestCoordinateOnLineSegment({2, 0.5}, {0, 0}, {0, 1}),
              (CLLocationCoordinate2D{0, 0.5}));
    EXPECT_EQ(CVGeometryHelper::closestCoordinateOnLineSegment({0, 5}, {0, 0}, {0, 1}), (CLLocationCoordinate2D{0, 1}));
    EXPECT_EQ(CVGeometryHelper::closestCoordinateOnLineSegment({3, 3}, {1, 1}, {1, 1}), (CLLocationCoordinate2D{1, 1}));
}

TEST(CVGeometryHelper, ComparesCoordinatesToTheDoubleEpsilon) {
    EXPECT_TRUE(CVGeometryHelper::coordinate({55.1, 12.2}, {55.1, 12.2}));
    EXPECT_FALSE(CVGeometryHelper::coordinate({0, 0}, {1e-12, 0}));
    EXPECT_FALSE(CVGeometryHelper::coordinate({0, 0}, {0, 1e-12}));
    EXPECT_TRUE(CVGeometryHelper::coordinate({0, 0}, {1e-17, 0}));
}

TEST(CVGeometryHelper, BearingAndGeodesicDistance) {
    const std::tuple<CLLocationCoordinate2D, CLLocationCoordinate2D, double> bearings[] = {
        {{0, 0}, {0, 1}, 90}, {{0, 0}, {1, 0}, 0}, {{0, 0}, {0, -1}, -90}, {{0, 0}, {-1, 0}, 180}};
    for (const auto& [from, to, degrees] : bearings) {
        EXPECT_NEAR(CVGeometryHelper::angleFromCoordinate(from, to), degrees, 1e-9)
            << to.latitude << "," << to.longitude;
    }
    // One degree of longitude on the equator is 111 319.49 m on the ellipsoid.
    EXPECT_NEAR(CVGeometryHelper::distanceFromCoordinate({0, 0}, {0, 1}), 111319.49, 111319.49 * 0.005);
    EXPECT_DOUBLE_EQ(CVGeometryHelper::distanceFromCoordinate({55, 12}, {55.5, 12.5}),
                     CVGeometryHelper::distanceFromCoordinate({55.5, 12.5}, {55, 12}));
    EXPECT_EQ(CVGeometryHelper::distanceFromCoordinate({55, 12}, {55, 12}), 0);
}

TEST(CVGeometryHelper, SquareRingContainsItsCentreOnly) {
    const Rings square = {{{0, 0}, {0, 1}, {1, 1}, {1, 0}}};
    EXPECT_TRUE(CVGeometryHelper::boundsContainsCoordinate(square, {0.5, 0.5}));
    for (const CLLocationCoordinate2D outside :
         {CLLocationCoordinate2D{1.5, 0.5}, CLLocationCoordinate2D{0.5, 1.5}, CLLocationCoordinate2D{0.5, -0.5}}) {
        EXPECT_FALSE(CVGeometryHelper::boundsContainsCoordinate(square, outside))
            << outside.latitude << "," << outside.longitude;
    }
}

TEST(CVGeometryHelper, OrdersPointsNearestFirst) {
    using Points = std::vector<std::shared_ptr<const CVPoint>>;
    const auto far = std::make_shared<const CVPoint>(0, 3);
    const auto near = std::make_shared<const CVPoint>(0, 1);
    const auto middle = std::make_shared<const CVPoint>(0, 2);
    const auto alsoNear = std::make_shared<const CVPoint>(0, -1);
    EXPECT_EQ(CVGeometryHelper::orderPoints(Points{far, near, middle, alsoNear}, CVPoint(0, 0)),
              (Points{near, alsoNear, middle, far}));
    // To the segment (1, 0)-(1, 1): planar distances 2.2, 1, 1.4 and 1.4; the
    // tie keeps the given order.
    EXPECT_EQ(CVGeometryHelper::orderPoints(Points{far, near, middle, alsoNear}, CVPoint(1, 0), CVPoint(1, 1)),
              (Points{near, middle, alsoNear, far}));
    EXPECT_TRUE(CVGeometryHelper::orderPoints(Points{}, CVPoint(0, 0)).empty());
}

TEST(CVGeometryHelper, ProjectsToWebMercatorPixels) {
    const std::tuple<CLLocationCoordinate2D, double, CGPoint> cases[] = {
        {{0, 0}, 0, {128, 128}},
        {{0, 180}, 0, {256, 128}},
        {{0, -180}, 0, {0, 128}},
        {{0, 90}, 1, {384, 256}},
        // The sine of the latitude is held to +-0.9999, so the poles stay finite.
        {{90, 0}, 0, {128, -74}},
        {{-90, 0}, 0, {128, 330}},
        {{0, 0.0007}, 20, {134218250, 134217728}},
    };
    for (const auto& [coordinate, zoom, pixel] : cases) {
        EXPECT_EQ(CVGeometryHelper::fromCoordinatesToPixel(coordinate, zoom), pixel)
            << coordinate.latitude << "," << coordinate.longitude << " @" << zoom;
    }
    CVGeometryHelper::googleMapsAPIProjection(1);
    const auto state = CVGeometryHelper::projectionState();
    EXPECT_DOUBLE_EQ(state.xPixelsToDegreesRatio, 512.0 / 360);
    EXPECT_DOUBLE_EQ(state.pixelGlobeCenter.x, 256);
}

TEST(CVGeometryHelper, ThreadsProjectingAtTwoZoomsGetTheirOwnAnswers) {
    constexpr int kRounds = 2000;
    std::barrier start(2);
    const auto project = [&](double zoom, double expectedX, int& wrong) {
        start.arrive_and_wait();
        for (int i = 0; i < kRounds; ++i) {
            if (CVGeometryHelper::fromCoordinatesToPixel({0, 90}, zoom).x != expectedX) ++wrong;
        }
    };
    int wrongAtOne = 0;
    int wrongAtThree = 0;
    std::thread one(project, 1.0, 384.0, std::ref(wrongAtOne));
    std::thread three(project, 3.0, 1536.0, std::ref(wrongAtThree));
    one.join();
    three.join();
    EXPECT_EQ(wrongAtOne, 0);
    EXPECT_EQ(wrongAtThree, 0);
}

TEST(CVGeometryHelper, InterpolatesAlongQuadraticCurves) {
    const CGPoint p0{0, 0};
    const CGPoint p1{10, 20};
    const CGPoint p2{20, 0};
    EXPECT_EQ(CVGeometryHelper::pointInQuadCurve(p0, p1, p2, 0), p0);
    EXPECT_EQ(CVGeometryHelper::pointInQuadCurve(p0, p1, p2, 1), p2);
    EXPECT_EQ(CVGeometryHelper::pointInQuadCurve(p0, p1, p2, 0.5F), (CGPoint{10, 10}));
    EXPECT_EQ(CVGeometryHelper::interpolate({1, 2}, {3, 6}, 0.25F), (CGPoint{1.5, 3}));
}

}  // namespace
}  // namespace ambrell
