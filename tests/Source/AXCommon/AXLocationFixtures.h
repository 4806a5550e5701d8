#pragma once

#include "Source/AXCommon/AXLocation.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace ambrell::testing {

// A point location named `name` at (lat, lng), active and searchable, with
// its bounds the degenerate box at its position, as the location model makes
// for points.
inline AXLocation pointLocation(std::int32_t id, std::string name, double lat = 55.0, double lng = 12.0) {
    AXLocation location;
    location.locationId = id;
    location.status = 3;
    location.properties = {AXTextProperty::TextPropertyWithLanguage("en", "name", std::move(name))};
    const auto position = AXCoordinate::CoordinateWithLat(lat, lng);
    const auto bounds = AXCoordinateBounds::CoordinateBoundsWithNortheast(position, position);
    location.geometry = AXGeometry::GeometryWithPosition(position, bounds);
    return location;
}

// An area whose anchor (position) sits in its south-west corner, far from
// most of its interior.
inline AXLocation areaLocation(std::int32_t id, std::string name, double south, double west, double north,
                               double east) {
    auto location = pointLocation(id, std::move(name), south, west);
    location.geometry.bounds = AXCoordinateBounds::CoordinateBoundsWithNortheast(
        AXCoordinate::CoordinateWithLat(north, east), AXCoordinate::CoordinateWithLat(south, west));
    return location;
}

inline AXLocation withProperty(AXLocation location, std::string key, std::string value) {
    location.properties.push_back(AXTextProperty::TextPropertyWithLanguage("en", std::move(key), std::move(value)));
    return location;
}

}  // namespace ambrell::testing
