#include "Source/AXCommon/AXGeodesy.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace ambrell::axgeo {

double haversineMeters(AXCoordinate from, AXCoordinate to) {
    constexpr double kRadiansPerDegree = std::numbers::pi / 180.0;
    const double lat1 = from.lat * kRadiansPerDegree;
    const double lat2 = to.lat * kRadiansPerDegree;
    const double sinHalfLat = std::sin((lat2 - lat1) / 2);
    const double sinHalfLng = std::sin((to.lng - from.lng) * kRadiansPerDegree / 2);
    const double h = sinHalfLat * sinHalfLat + std::cos(lat1) * std::cos(lat2) * sinHalfLng * sinHalfLng;
    // Rounding can push h a hair past 1 for antipodal points; asin would answer NaN.
    return 2 * kEarthRadiusMeters * std::asin(std::sqrt(std::clamp(h, 0.0, 1.0)));
}

bool isFinite(AXCoordinate coordinate) { return std::isfinite(coordinate.lat) && std::isfinite(coordinate.lng); }

}  // namespace ambrell::axgeo
