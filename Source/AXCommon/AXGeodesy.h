#pragma once

#include "Source/AXCommon/AXCoordinate.h"

namespace ambrell::axgeo {

// Mean earth radius (IUGG), the sphere every distance of the engine is on.
inline constexpr double kEarthRadiusMeters = 6371008.8;

// Great-circle distance in metres.
[[nodiscard]] double haversineMeters(AXCoordinate from, AXCoordinate to);

[[nodiscard]] bool isFinite(AXCoordinate coordinate);

}  // namespace ambrell::axgeo
