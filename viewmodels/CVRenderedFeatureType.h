#pragma once

#include <optional>
#include <string_view>

#include <boost/json/fwd.hpp>

namespace ambrell {

// The kind of feature that was drawn: the value of a feature's "type"
// property, and what a tap on the map reports back.
enum class CVRenderedFeatureType {
    undefined,
    marker,
    polygon,
    model2d,
    model3d,
    floorplan,
    featureExtrusion,
    wallExtrusion,
};

// "undefined" ... "wallExtrusion"; the kind is written to JSON as this text.
[[nodiscard]] std::string_view rawValue(CVRenderedFeatureType type) noexcept;

// The kind whose raw string is exactly `rawValue`; none otherwise
// ("floorPlan" included).
[[nodiscard]] std::optional<CVRenderedFeatureType> renderedFeatureTypeFromRawValue(std::string_view rawValue) noexcept;

// Decodes a JSON string by raw value; none for an unknown text or a value that
// is not a string, which the caller reports as its decoding error.
[[nodiscard]] std::optional<CVRenderedFeatureType> renderedFeatureTypeFromJson(const boost::json::value& json) noexcept;

}  // namespace ambrell
