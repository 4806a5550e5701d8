#include "platform/Geodesy.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

namespace ambrell::platform {
namespace {

TEST(Geodesy, MeasuresGreatCircleDistances) {
    // The ellipsoid's lengths of a degree: 111 319.49 m along the equator,
    // 110 574.4 m along a meridian at the equator, 111 694.0 m near the pole.
    // The sphere is furthest from the ellipsoid along the equator's meridians.
    const std::tuple<const char*, CLLocationCoordinate2D, CLLocationCoordinate2D, double, double> cases[] = {
        {"EquatorDegree", {0, 0}, {0, 1}, 111319.49, 0.005},
        {"MeridianDegree", {0, 0}, {1, 0}, 110574.4, 0.006},
        {"PolarDegree", {88, 0}, {89, 0}, 111694.0, 0.005},
        {"CopenhagenToLondon", {55.6761, 12.5683}, {51.5072, -0.1276}, 955000, 0.005},
    };
    for (const auto& [name, from, to, metres, tolerance] : cases) {
        EXPECT_NEAR(geodesicDistanceMeters(from, to), metres, metres * tolerance) << name;
        EXPECT_DOUBLE_EQ(geodesicDistanceMeters(from, to), geodesicDistanceMeters(to, from)) << name;
    }
    EXPECT_EQ(geodesicDistanceMeters({55, 12}, {55, 12}), 0);
    // Antipodes: half the circumference, not NaN from rounding.
    EXPECT_NEAR(geodesicDistanceMeters({0, 0}, {0, 180}), std::numbers::pi * kEarthRadiusMeters, 1e-6);
    EXPECT_TRUE(std::isnan(geodesicDistanceMeters({std::numeric_limits<double>::quiet_NaN(), 0}, {0, 0})));
}

}  // namespace
}  // namespace ambrell::platform
