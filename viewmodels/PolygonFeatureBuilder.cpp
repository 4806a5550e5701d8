#include "viewmodels/PolygonFeatureBuilder.h"

#include <optional>
#include <string>
#include <utility>

#include "data/CVLocationInternal.h"
#include "foundation/ColorHelpers.h"
#include "platform/Screen.h"
#include "viewmodels/CVLocationSelectability.h"
#include "viewmodels/CVModelError.h"
#include "viewmodels/FeatureNumbers.h"

namespace ambrell {

namespace polygon_feature_builder {
namespace {

void writeHex(CVFeatureProperties& properties, CVModelPropertyKey key, const platform::Color& color,
              bool includingAlpha) {
    if (auto hex = hexString(color, includingAlpha)) {
        properties[key] = std::move(*hex);
    } else {
        properties.erase(key);
    }
}

// The outline's geometry and area, or none for a location without one.
std::optional<std::pair<CVViewModelFeatureGeometry, double>> outline(const CVLocationInternal& location) {
    const auto geometry = location.cv_effectiveGeometry();
    try {
        if (const auto* polygon = dynamic_cast<const CVPolygonGeometry*>(geometry.get())) {
            return std::pair{CVViewModelFeatureGeometry(GeoJsonGeometryType::Polygon, *polygon), polygon->area()};
        }
        if (const auto* multiPolygon = dynamic_cast<const CVMultiPolygonGeometry*>(geometry.get())) {
            return std::pair{CVViewModelFeatureGeometry(GeoJsonGeometryType::MultiPolygon, *multiPolygon),
                             multiPolygon->area()};
        }
    } catch (const CVModelError&) {
        // An outline the feature cannot carry draws nothing, like no outline.
    }
    return std::nullopt;
}

}  // namespace
}  // namespace polygon_feature_builder

void buildPolygonFeature(const CVLocation& location, const CVDisplayRule& rule, double zoom, ViewModel& viewModel) {
    using namespace polygon_feature_builder;
    if (!rule.showPolygonWithZoom(zoom)) return;

    CVFeatureProperties properties;
    // A rule chain without a colour says nothing about it: the adapter keeps
    // its own default rather than being told an opacity of nothing.
    if (const auto fill = rule.polygonFillColor()) {
        const platform::Color adjusted = adjustedLightness(*fill, rule.polygonLightnessFactor().value_or(0));
        writeHex(properties, CVModelPropertyKey::polygonFillcolor, adjusted, false);
        writeHex(properties, CVModelPropertyKey::polygonFillcolorAlpha, adjusted, true);
        properties[CVModelPropertyKey::polygonFillOpacity] = singlePrecisionValue(alphaComponent(*fill));
    }
    if (const auto stroke = rule.polygonStrokeColor()) {
        writeHex(properties, CVModelPropertyKey::polygonStrokeColor, *stroke, false);
        writeHex(properties, CVModelPropertyKey::polygonStrokeColorAlpha, *stroke, true);
        properties[CVModelPropertyKey::polygonStrokeOpacity] = singlePrecisionValue(alphaComponent(*stroke));
    }
    properties[CVModelPropertyKey::polygonStrokeWidth] =
        rule.polygonStrokeWidth().value_or(0) / platform::Screen::scale();
    properties[CVModelPropertyKey::type] = CVRenderedFeatureType::polygon;
    properties[CVModelPropertyKey::clickable] = resolvedSelectable(location);

    const auto* internal = dynamic_cast<const CVLocationInternal*>(&location);
    if (internal == nullptr) return;
    auto shape = outline(*internal);
    if (!shape) return;
    properties[CVModelPropertyKey::polygonArea] = shape->second;
    viewModel.polygon =
        CVViewModelFeature("Feature", internal->locationId, std::move(properties), std::move(shape->first));
}

}  // namespace ambrell
