#pragma once

#include "Source/AXCommon/AXCoordinateBounds.h"

#include <algorithm>

namespace ambrell::axgeo {

// A closed longitude/latitude box whatever corner order it was given in.
struct AXBox {
    double west = 0;
    double south = 0;
    double east = 0;
    double north = 0;

    [[nodiscard]] static AXBox fromBounds(const AXCoordinateBounds& bounds) {
        return fromEdges(bounds.northeast.lat, bounds.northeast.lng, bounds.southwest.lat, bounds.southwest.lng);
    }

    [[nodiscard]] static AXBox fromEdges(double north, double east, double south, double west) {
        return {std::min(west, east), std::min(south, north), std::max(west, east), std::max(south, north)};
    }

    // Touching counts: a box around a point on an edge must find its room.
    [[nodiscard]] bool intersects(const AXBox& other) const {
        return west <= other.east && other.west <= east && south <= other.north && other.south <= north;
    }

    friend bool operator==(const AXBox&, const AXBox&) = default;
};

}  // namespace ambrell::axgeo
