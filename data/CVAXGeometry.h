#pragma once

#include "Ambrell/CVPoint.h"
#include "Source/AXCommon/AXGeometry.h"

namespace ambrell {

// A point as the search engine's geometry: its position, with both bounds
// corners on it.
[[nodiscard]] inline AXGeometry axGeometry(const CVPoint& point) {
    const auto position = AXCoordinate::CoordinateWithLat(point.latitude(), point.longitude());
    return AXGeometry::GeometryWithPosition(position,
                                            AXCoordinateBounds::CoordinateBoundsWithNortheast(position, position));
}

// The geometry of a point at latitude 0, longitude 0.
[[nodiscard]] inline AXGeometry AXGeometryZero() { return axGeometry(CVPoint(0, 0)); }

}  // namespace ambrell
