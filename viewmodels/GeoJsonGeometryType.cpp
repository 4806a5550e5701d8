#include "viewmodels/GeoJsonGeometryType.h"

#include <array>

namespace ambrell {

namespace geojson_geometry_type {
namespace {

constexpr std::array<std::string_view, 6> rawStrings = {
    "Point", "MultiPoint", "LineString", "MultiLineString", "Polygon", "MultiPolygon",
};

}  // namespace
}  // namespace geojson_geometry_type

std::string_view rawValue(GeoJsonGeometryType type) noexcept {
    const auto index = static_cast<std::size_t>(type);
    return index < geojson_geometry_type::rawStrings.size() ? geojson_geometry_type::rawStrings[index]
                                                            : std::string_view();
}

std::optional<GeoJsonGeometryType> geoJsonGeometryTypeFromRawValue(std::string_view rawValue) noexcept {
    for (std::size_t index = 0; index < geojson_geometry_type::rawStrings.size(); ++index) {
        if (geojson_geometry_type::rawStrings[index] == rawValue) return static_cast<GeoJsonGeometryType>(index);
    }
    return std::nullopt;
}

}  // namespace ambrell
