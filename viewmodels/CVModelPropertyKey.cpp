#include "viewmodels/CVModelPropertyKey.h"

#include <array>
#include <string>
#include <unordered_map>

namespace ambrell {

namespace model_property_key {
namespace {

constexpr std::array<std::string_view, CVModelPropertyKeyCount> rawStrings = {
    "polygonFillcolor",
    "polygonFillcolorAlpha",
    "polygonFillOpacity",
    "polygonStrokeColor",
    "polygonStrokeColorAlpha",
    "polygonStrokeOpacity",
    "polygonStrokeWidth",
    "polygonArea",
    "markerLabel",
    "markerLabelInfoWindow",
    "markerId",
    "markerIconPlacement",
    "locationName",
    "markerGeometryArea",
    "hasImage",
    "isCollidable",
    "isClusterable",
    "labelFont",
    "labelSize",
    "labelOffset",
    "labelAnchor",
    "labelMaxWidth",
    "labelColor",
    "labelHaloColor",
    "labelOpacity",
    "labelHaloWidth",
    "labelHaloBlur",
    "labelBearing",
    "labelType",
    "model2dId",
    "model2dBearing",
    "model2DWidth",
    "model2DHeight",
    "model2DScale",
    "model3dId",
    "model3dUri",
    "model3DRotation",
    "model3DScale",
    "wallExtrusionHeight",
    "wallExtrusionColor",
    "featureExtrusionHeight",
    "featureExtrusionColor",
    "floorPlanStrokeColor",
    "floorPlanStrokeColorAlpha",
    "floorPlanStrokeWidth",
    "floorPlanStrokeOpacity",
    "floorPlanFillColor",
    "floorPlanFillColorAlpha",
    "floorPlanFillOpacity",
    "type",
    "axType",
    "clickable",
};

// Keys are parsed for every property an adapter reads back, so the table is
// indexed once rather than searched each time. Built on first use, which
// C++ makes thread-safe.
const std::unordered_map<std::string_view, CVModelPropertyKey>& lookUpCache() {
    static const auto cache = [] {
        std::unordered_map<std::string_view, CVModelPropertyKey> keys;
        for (std::size_t index = 0; index < rawStrings.size(); ++index) {
            keys.emplace(rawStrings[index], static_cast<CVModelPropertyKey>(index));
        }
        return keys;
    }();
    return cache;
}

}  // namespace
}  // namespace model_property_key

std::string_view rawValue(CVModelPropertyKey key) noexcept {
    const auto index = static_cast<std::size_t>(key);
    return index < model_property_key::rawStrings.size() ? model_property_key::rawStrings[index] : std::string_view();
}

std::optional<CVModelPropertyKey> modelPropertyKeyFromRawValue(std::string_view rawValue) noexcept {
    const auto& cache = model_property_key::lookUpCache();
    const auto found = cache.find(rawValue);
    if (found == cache.end()) return std::nullopt;
    return found->second;
}

}  // namespace ambrell
