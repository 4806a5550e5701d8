#pragma once

#include <optional>
#include <string_view>

namespace ambrell {

// The keys of a feature's properties, shared with the map-provider adapters,
// which look properties up by their raw strings. The case order is part of
// that interface: features write their properties in it.
enum class CVModelPropertyKey {
    polygonFillcolor,
    polygonFillcolorAlpha,
    polygonFillOpacity,
    polygonStrokeColor,
    polygonStrokeColorAlpha,
    polygonStrokeOpacity,
    polygonStrokeWidth,
    polygonArea,
    markerLabel,
    markerLabelInfoWindow,
    markerId,
    markerIconPlacement,
    locationName,
    markerGeometryArea,
    hasImage,
    isCollidable,
    isClusterable,
    labelFont,
    labelSize,
    labelOffset,
    labelAnchor,
    labelMaxWidth,
    labelColor,
    labelHaloColor,
    labelOpacity,
    labelHaloWidth,
    labelHaloBlur,
    labelBearing,
    labelType,
    model2dId,
    model2dBearing,
    model2DWidth,
    model2DHeight,
    model2DScale,
    model3dId,
    model3dUri,
    model3DRotation,
    model3DScale,
    wallExtrusionHeight,
    wallExtrusionColor,
    featureExtrusionHeight,
    featureExtrusionColor,
    floorPlanStrokeColor,
    floorPlanStrokeColorAlpha,
    floorPlanStrokeWidth,
    floorPlanStrokeOpacity,
    floorPlanFillColor,
    floorPlanFillColorAlpha,
    floorPlanFillOpacity,
    type,
    axType,
    clickable,
};

inline constexpr int CVModelPropertyKeyCount = 52;

// The key's raw string, which is also its case name ("polygonFillcolor").
[[nodiscard]] std::string_view rawValue(CVModelPropertyKey key) noexcept;

// The key whose raw string is exactly `rawValue` (case-sensitive); none for
// any other text.
[[nodiscard]] std::optional<CVModelPropertyKey> modelPropertyKeyFromRawValue(std::string_view rawValue) noexcept;

}  // namespace ambrell
