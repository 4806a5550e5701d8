#include "platform/Geodesy.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace ambrell::platform {

double geodesicDistanceMeters(CLLocationCoordinate2D from, CLLocationCoordinate2D to) {
    constexpr double kRadiansPerDegree = std::numbers::pi / 180.0;
    const double lat1 = from.latitude * kRadiansPerDegree;
    const double lat2 = to.latitude * kRadiansPerDegree;
    const double sinHalfLat = std::sin((lat2 - lat1) / 2);
    const double sinHalfLng = std::sin((to.longitude - from.longitude) * kRadiansPerDegree / 2);
    const double h = sinHalfLat * sinHalfLat + std::cos(lat1) * std::cos(lat2) * sinHalfLng * sinHalfLng;
    if (std::isnan(h)) return h;
    // Rounding can push h a hair past 1 for antipodal points; asin would answer NaN.
    return 2 * kEarthRadiusMeters * std::asin(std::sqrt(std::clamp(h, 0.0, 1.0)));
}

}  // namespace ambrell::platform
