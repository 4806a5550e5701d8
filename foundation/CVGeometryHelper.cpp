#include "foundation/CVGeometryHelper.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

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

}  // namespace

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
