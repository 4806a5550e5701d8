#pragma once

#include <optional>
#include <string_view>

namespace ambrell {

// The GeoJSON geometry types a feature can have.
enum class GeoJsonGeometryType {
    Point,
    MultiPoint,
    LineString,
    MultiLineString,
    Polygon,
    MultiPolygon,
};

// "Point" ... "MultiPolygon", capitalised as GeoJSON writes them.
[[nodiscard]] std::string_view rawValue(GeoJsonGeometryType type) noexcept;

// The type whose raw string is exactly `rawValue`; none otherwise ("polygon"
// included).
[[nodiscard]] std::optional<GeoJsonGeometryType> geoJsonGeometryTypeFromRawValue(std::string_view rawValue) noexcept;

}  // namespace ambrell
