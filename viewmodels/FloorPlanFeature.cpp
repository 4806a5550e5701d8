#include "viewmodels/FloorPlanFeature.h"

#include "Ambrell/CVLocation.h"
#include "data/CVDerivedGeometry.h"
#include "foundation/ColorHelpers.h"

namespace ambrell {

namespace floor_plan_feature {
namespace {

platform::Color fixedColour(std::string_view hex) {
    return platform::Color::fromHex(hex).value_or(platform::Color::fromRGBA(0, 0, 0, 0));
}

void setHex(CVFeatureProperties& properties, CVModelPropertyKey key, const platform::Color& colour, bool alpha) {
    if (auto text = hexString(colour, alpha)) {
        properties[key] = std::move(*text);
    } else {
        properties.erase(key);
    }
}

}  // namespace
}  // namespace floor_plan_feature

void buildFloorPlan(const CVLocation& location, double zoom, const CVDerivedGeometry& derivedGeometry,
                    ViewModel& viewModel) {
    if (!(zoom >= 15.0 && zoom <= 999.0)) return;
    if (!derivedGeometry.cvGeometry) return;

    const auto fill = floor_plan_feature::fixedColour("#FFFFFF");
    const auto stroke = floor_plan_feature::fixedColour("#6B7280");
    CVFeatureProperties properties;
    floor_plan_feature::setHex(properties, CVModelPropertyKey::floorPlanFillColor, fill, false);
    floor_plan_feature::setHex(properties, CVModelPropertyKey::floorPlanFillColorAlpha, fill, true);
    properties[CVModelPropertyKey::floorPlanFillOpacity] = 1.0;
    floor_plan_feature::setHex(properties, CVModelPropertyKey::floorPlanStrokeColor, stroke, false);
    floor_plan_feature::setHex(properties, CVModelPropertyKey::floorPlanStrokeColorAlpha, stroke, true);
    properties[CVModelPropertyKey::floorPlanStrokeWidth] = 1.0;
    properties[CVModelPropertyKey::floorPlanStrokeOpacity] = 1.0;
    properties[CVModelPropertyKey::type] = CVRenderedFeatureType::floorplan;
    properties[CVModelPropertyKey::clickable] = false;

    try {
        if (const auto* polygon = dynamic_cast<const CVPolygonGeometry*>(derivedGeometry.cvGeometry.get())) {
            viewModel.floorPlanExtrusion =
                CVViewModelFeature("Feature", location.getLocationId(), properties,
                                   CVViewModelFeatureGeometry(GeoJsonGeometryType::Polygon, *polygon));
        }
        if (const auto* multi = dynamic_cast<const CVMultiPolygonGeometry*>(derivedGeometry.cvGeometry.get())) {
            viewModel.floorPlanExtrusion =
                CVViewModelFeature("Feature", location.getLocationId(), properties,
                                   CVViewModelFeatureGeometry(GeoJsonGeometryType::MultiPolygon, *multi));
        }
    } catch (const std::exception&) {
        // A geometry that cannot be a feature leaves the slot as it was.
    }
}

}  // namespace ambrell
