#include "Source/AXCommon/AXGeodesy.h"

#include "platform/Geodesy.h"

#include <cmath>

namespace ambrell::axgeo {

static_assert(kEarthRadiusMeters == platform::kEarthRadiusMeters);

double haversineMeters(AXCoordinate from, AXCoordinate to) {
    return platform::geodesicDistanceMeters({from.lat, from.lng}, {to.lat, to.lng});
}

bool isFinite(AXCoordinate coordinate) { return std::isfinite(coordinate.lat) && std::isfinite(coordinate.lng); }

}  // namespace ambrell::axgeo
