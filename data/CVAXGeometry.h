#pragma once

#include "Ambrell/CVGeometry.h"
#include "Ambrell/CVPoint.h"
#include "Source/AXCommon/AXGeometry.h"
#include "Source/AXCommon/AXPolygon.h"

#include <vector>

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

// A polygon as the search engine's room: its first ring outside, the others
// as holes, each coordinate as given. No rings give the empty outer ring.
[[nodiscard]] inline AXPolygon axPolygon(const CVPolygonGeometry& polygon) {
    const auto path = [](const CVPolygonGeometry::Ring& ring) {
        std::vector<AXCoordinate> coordinates;
        coordinates.reserve(ring.size());
        for (const auto& c : ring) coordinates.push_back(AXCoordinate::CoordinateWithLat(c.latitude, c.longitude));
        return AXPath::PathWithCoordinates(std::move(coordinates));
    };
    const auto& rings = polygon.coordinates();
    if (rings.empty()) return {};
    std::vector<AXPath> holes;
    holes.reserve(rings.size() - 1);
    for (std::size_t i = 1; i < rings.size(); ++i) holes.push_back(path(rings[i]));
    return AXPolygon::PolygonWithOuterRing(path(rings.front()), std::move(holes));
}

}  // namespace ambrell
