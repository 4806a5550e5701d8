#pragma once

#include "platform/Coordinate.h"

namespace ambrell::platform {

// Mean earth radius (IUGG): every geodesic distance of the library is taken on
// this sphere, so the search engine and the routing graph measure alike.
inline constexpr double kEarthRadiusMeters = 6371008.8;

// Great-circle (haversine) distance in metres between two coordinates in
// degrees. Within half a percent of the ellipsoidal distance the location
// services of the mobile platform answer. A non-finite input gives NaN.
[[nodiscard]] double geodesicDistanceMeters(CLLocationCoordinate2D from, CLLocationCoordinate2D to);

}  // namespace ambrell::platform
