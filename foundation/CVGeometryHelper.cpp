#include "foundation/CVGeometryHelper.h"

#include "Ambrell/CVGeometryUtils.h"
#include "platform/Geodesy.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <mutex>
#include <numbers>
#include <utility>

namespace ambrell {

namespace {

// Stands in for the infinite slope of a vertical segment.
constexpr double kVerticalSlope = 9999999999999.9;

bool crossesAntimeridian(const std::vector<CLLocationCoordinate2D>& ring) {
    for (std::size_t i = 0; i < ring.size(); ++i) {
        const auto& from = ring[i];
        const auto& to = ring[(i + 1) % ring.size()];
        if (std::fabs(to.longitude - from.longitude) > 180) return true;
    }
    return false;
}

CLLocationCoordinate2D eastOfGreenwich(CLLocationCoordinate2D c) {
    if (c.longitude < 0) c.longitude += 360;
    return c;
}

std::size_t crossingsOfRing(const std::vector<CLLocationCoordinate2D>& ring, CLLocationCoordinate2D p) {
    std::size_t crossings = 0;
    for (std::size_t i = 0; i < ring.size(); ++i) {
        if (CVGeometryHelper::rayCrossesSegmentWithRayOrigin(p, ring[i], ring[(i + 1) % ring.size()])) ++crossings;
    }
    return crossings;
}

constexpr double kDegreesPerRadian = 57.29577951308232;
constexpr double kRadiansPerDegree = 0.017453292519943295;

CVGeometryHelper::ProjectionState projectionAtZoom(double zoom) {
    const double size = std::exp2(zoom) * 256;
    return {size / 360, size / (2 * std::numbers::pi), {size / 2, size / 2}};
}

std::mutex& projectionMutex() {
    static std::mutex mutex;
    return mutex;
}

CVGeometryHelper::ProjectionState& sharedProjection() {
    static CVGeometryHelper::ProjectionState state;
    return state;
}

using PointList = std::vector<std::shared_ptr<const CVPoint>>;

template <typename Key>
PointList orderedByKey(PointList points, Key key) {
    std::vector<std::pair<double, std::size_t>> keyed;
    keyed.reserve(points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        // A missing point sorts last rather than being dropped.
        keyed.emplace_back(points[i] ? key(*points[i]) : std::numeric_limits<double>::infinity(), i);
    }
    // NaN keys would break the strict weak order; they go last too.
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
        if (std::isnan(a.first)) return false;
        if (std::isnan(b.first)) return true;
        return a.first < b.first;
    });
    PointList ordered;
    ordered.reserve(points.size());
    for (const auto& entry : keyed) ordered.push_back(std::move(points[entry.second]));
    return ordered;
}

}  // namespace

double CVGeometryHelper::coordinateToLineDistance(CLLocationCoordinate2D p, CLLocationCoordinate2D v,
                                                  CLLocationCoordinate2D w) {
    return std::sqrt(coordinateToLineDistanceSquared(p, v, w));
}

double CVGeometryHelper::coordinateToLineDistanceSquared(CLLocationCoordinate2D p, CLLocationCoordinate2D v,
                                                         CLLocationCoordinate2D w) {
    const double deltaLat = w.latitude - v.latitude;
    const double deltaLng = w.longitude - v.longitude;
    CLLocationCoordinate2D nearest = v;
    // A degenerate segment is tested before dividing by its zero length.
    if (deltaLat != 0 || deltaLng != 0) {
        const double t = ((p.latitude - v.latitude) * deltaLat + (p.longitude - v.longitude) * deltaLng) /
                         (deltaLat * deltaLat + deltaLng * deltaLng);
        if (t > 1) {
            nearest = w;
        } else if (t >= 0) {
            nearest = {v.latitude + t * deltaLat, v.longitude + t * deltaLng};
        }
    }
    const double dLat = p.latitude - nearest.latitude;
    const double dLng = p.longitude - nearest.longitude;
    return dLat * dLat + dLng * dLng;
}

CLLocationCoordinate2D CVGeometryHelper::closestCoordinateOnLineSegment(CLLocationCoordinate2D p,
                                                                        CLLocationCoordinate2D u,
                                                                        CLLocationCoordinate2D v) {
    return CVGeometryUtils::closestPointOnLineSegmentWithPoint(p, u, v);
}

double CVGeometryHelper::distanceFromCoordinate(CLLocationCoordinate2D a, CLLocationCoordinate2D b) {
    return platform::geodesicDistanceMeters(a, b);
}

bool CVGeometryHelper::coordinate(CLLocationCoordinate2D a, CLLocationCoordinate2D isEqualToCoordinate) {
    constexpr double kEpsilon = std::numeric_limits<double>::epsilon();
    return std::fabs(a.latitude - isEqualToCoordinate.latitude) <= kEpsilon &&
           std::fabs(a.longitude - isEqualToCoordinate.longitude) <= kEpsilon;
}

double CVGeometryHelper::angleFromCoordinate(CLLocationCoordinate2D a, CLLocationCoordinate2D b) {
    const double lat1 = a.latitude * kRadiansPerDegree;
    const double lat2 = b.latitude * kRadiansPerDegree;
    const double deltaLng = (b.longitude - a.longitude) * kRadiansPerDegree;
    const double theta =
        std::atan2(std::sin(deltaLng) * std::cos(lat2),
                   std::cos(lat1) * std::sin(lat2) - std::sin(lat1) * std::cos(lat2) * std::cos(deltaLng));
    return theta * kDegreesPerRadian;
}

std::vector<std::shared_ptr<const CVPoint>> CVGeometryHelper::orderPoints(
    std::vector<std::shared_ptr<const CVPoint>> points, const CVPoint& v, const CVPoint& w) {
    return orderedByKey(std::move(points), [&](const CVPoint& point) {
        return coordinateToLineDistanceSquared(point.coordinate(), v.coordinate(), w.coordinate());
    });
}

std::vector<std::shared_ptr<const CVPoint>> CVGeometryHelper::orderPoints(
    std::vector<std::shared_ptr<const CVPoint>> points, const CVPoint& point) {
    return orderedByKey(std::move(points), [&](const CVPoint& candidate) {
        return distanceFromCoordinate(candidate.coordinate(), point.coordinate());
    });
}

void CVGeometryHelper::googleMapsAPIProjection(double zoom) {
    const auto state = projectionAtZoom(zoom);
    const std::lock_guard lock(projectionMutex());
    sharedProjection() = state;
}

CVGeometryHelper::ProjectionState CVGeometryHelper::projectionState() {
    const std::lock_guard lock(projectionMutex());
    return sharedProjection();
}

CGPoint CVGeometryHelper::fromCoordinatesToPixel(CLLocationCoordinate2D coordinate, double zoom) {
    googleMapsAPIProjection(zoom);
    // Computed from this call's own ratios: another thread may project at
    // another zoom meanwhile.
    const auto projection = projectionAtZoom(zoom);
    const double x = projection.pixelGlobeCenter.x + coordinate.longitude * projection.xPixelsToDegreesRatio;
    const double f = std::clamp(std::sin(coordinate.latitude * kRadiansPerDegree), -0.9999, 0.9999);
    const double y =
        projection.pixelGlobeCenter.y - 0.5 * std::log((1 + f) / (1 - f)) * projection.yPixelsToRadiansRatio;
    return {std::round(x), std::round(y)};
}

CGPoint CVGeometryHelper::interpolate(CGPoint a, CGPoint b, float t) {
    const double factor = t;
    return {a.x + (b.x - a.x) * factor, a.y + (b.y - a.y) * factor};
}

CGPoint CVGeometryHelper::pointInQuadCurve(CGPoint p0, CGPoint p1, CGPoint p2, float t) {
    return interpolate(interpolate(p0, p1, t), interpolate(p1, p2, t), t);
}

bool CVGeometryHelper::rayCrossesSegmentWithRayOrigin(CLLocationCoordinate2D p, CLLocationCoordinate2D a,
                                                      CLLocationCoordinate2D b) {
    const CLLocationCoordinate2D& lower = a.latitude > b.latitude ? b : a;
    const CLLocationCoordinate2D& upper = a.latitude > b.latitude ? a : b;

    if (p.latitude == lower.latitude || p.latitude == upper.latitude) p.latitude += 1e-8;

    if (p.latitude > upper.latitude || p.latitude < lower.latitude ||
        p.longitude > std::max(lower.longitude, upper.longitude)) {
        return false;
    }
    if (p.longitude < std::min(lower.longitude, upper.longitude)) return true;

    const double red = lower.longitude != upper.longitude
                           ? (upper.latitude - lower.latitude) / (upper.longitude - lower.longitude)
                           : kVerticalSlope;
    const double blue = lower.longitude != p.longitude ? (p.latitude - lower.latitude) / (p.longitude - lower.longitude)
                                                       : kVerticalSlope;
    return blue >= red;
}

bool CVGeometryHelper::boundsContainsCoordinate(std::span<const std::vector<CLLocationCoordinate2D>> rings,
                                                CLLocationCoordinate2D coordinate) {
    if (!std::isfinite(coordinate.latitude) || !std::isfinite(coordinate.longitude)) return false;
    std::size_t crossings = 0;
    for (const auto& ring : rings) {
        if (!crossesAntimeridian(ring)) {
            crossings += crossingsOfRing(ring, coordinate);
            continue;
        }
        std::vector<CLLocationCoordinate2D> shifted(ring.size());
        std::transform(ring.begin(), ring.end(), shifted.begin(), eastOfGreenwich);
        crossings += crossingsOfRing(shifted, eastOfGreenwich(coordinate));
    }
    return crossings % 2 == 1;
}

}  // namespace ambrell
