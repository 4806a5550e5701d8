#include "viewmodels/DerivedGeometryFeatures.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <variant>

#include "Ambrell/CVDisplayRule.h"
#include "Ambrell/CVLocation.h"
#include "core/CVAwaitCallback.h"
#include "data/CVDerivedGeometry.h"
#include "data/CVEntrySeams.h"
#include "foundation/ColorHelpers.h"
#include "platform/Screen.h"
#include "viewmodels/CVLocationSelectability.h"
#include "viewmodels/FloorPlanFeature.h"

namespace ambrell {

namespace derived_geometry_features {
namespace {

// What tells the wall extrusion from the feature extrusion.
struct ExtrusionKind {
    bool (CVDisplayRule::*shows)(double) const;
    std::optional<platform::Color> (CVDisplayRule::*colour)() const;
    std::optional<double> (CVDisplayRule::*lightnessFactor)() const;
    std::optional<double> (CVDisplayRule::*height)() const;
    CVModelPropertyKey colourKey;
    CVModelPropertyKey heightKey;
    CVRenderedFeatureType renderedType;
    std::optional<CVViewModelFeature> ViewModel::*slot;
};

const ExtrusionKind kWalls{&CVDisplayRule::showWallExtrusionWithZoom, &CVDisplayRule::wallsColor,
                           &CVDisplayRule::wallsLightnessFactor,      &CVDisplayRule::wallsHeight,
                           CVModelPropertyKey::wallExtrusionColor,    CVModelPropertyKey::wallExtrusionHeight,
                           CVRenderedFeatureType::wallExtrusion,      &ViewModel::wallExtrusion};

const ExtrusionKind kFeatures{&CVDisplayRule::showFeatureExtrusionWithZoom, &CVDisplayRule::extrusionColor,
                              &CVDisplayRule::extrusionLightnessFactor,     &CVDisplayRule::extrusionHeight,
                              CVModelPropertyKey::featureExtrusionColor,    CVModelPropertyKey::featureExtrusionHeight,
                              CVRenderedFeatureType::featureExtrusion,      &ViewModel::featureExtrusion};

void setOrRemove(CVFeatureProperties& properties, CVModelPropertyKey key, std::optional<std::string> value) {
    if (value) {
        properties[key] = std::move(*value);
    } else {
        properties.erase(key);
    }
}

// The polygon or multipolygon as a feature of the location; none for any
// other shape or one that cannot be a feature.
std::optional<CVViewModelFeature> shapeFeature(const std::string& id, const CVGeometry* shape,
                                               const CVFeatureProperties& properties) {
    try {
        if (const auto* polygon = dynamic_cast<const CVPolygonGeometry*>(shape)) {
            return CVViewModelFeature("Feature", id, properties,
                                      CVViewModelFeatureGeometry(GeoJsonGeometryType::Polygon, *polygon));
        }
        if (const auto* multi = dynamic_cast<const CVMultiPolygonGeometry*>(shape)) {
            return CVViewModelFeature("Feature", id, properties,
                                      CVViewModelFeatureGeometry(GeoJsonGeometryType::MultiPolygon, *multi));
        }
    } catch (const std::exception&) {
        // Left out, as any feature that cannot be built.
    }
    return std::nullopt;
}

void buildExtrusion(const ExtrusionKind& kind, const CVLocation& location, const CVDisplayRule& rule, double zoom,
                    const CVDerivedGeometry& derivedGeometry, ViewModel& viewModel) {
    if (!(rule.*kind.shows)(zoom)) return;
    if (!derivedGeometry.cvGeometry) return;
    // Without a colour there is nothing sound to draw.
    const auto base = (rule.*kind.colour)();
    if (!base) return;
    const auto colour = adjustedLightness(*base, (rule.*kind.lightnessFactor)().value_or(0));

    CVFeatureProperties properties;
    setOrRemove(properties, kind.colourKey, hexString(colour, false));
    if (const auto height = (rule.*kind.height)()) properties[kind.heightKey] = *height;
    properties[CVModelPropertyKey::type] = kind.renderedType;
    properties[CVModelPropertyKey::clickable] = resolvedSelectable(location);
    if (auto feature = shapeFeature(location.getLocationId(), derivedGeometry.cvGeometry.get(), properties)) {
        viewModel.*kind.slot = std::move(*feature);
    }
}

const CVGeometry* effectiveGeometry(const CVLocationGeometry& geometry) {
    if (const auto* multi = std::get_if<std::shared_ptr<const CVMultiPolygonGeometry>>(&geometry)) return multi->get();
    if (const auto* polygon = std::get_if<std::shared_ptr<const CVPolygonGeometry>>(&geometry)) return polygon->get();
    return nullptr;
}

}  // namespace
}  // namespace derived_geometry_features

DerivedGeometrySwitches DerivedGeometrySwitches::hiding(const std::vector<CVFeatureType>& hiddenFeatures) {
    const auto hidden = [&](CVFeatureType kind) {
        return std::find(hiddenFeatures.begin(), hiddenFeatures.end(), kind) != hiddenFeatures.end();
    };
    return {!hidden(CVFeatureType::floorPlan), !hidden(CVFeatureType::walls), !hidden(CVFeatureType::extrusions)};
}

void buildDerivedGeometryFeatures(const CVLocation& location, const CVDisplayRule& rule, double zoom,
                                  DerivedGeometrySwitches switches, ViewModel& viewModel) {
    const auto entry = CVEntryObjectSeam::installed();
    if (!entry) return;
    const auto collection = entry->loadedDerivedGeometry();
    if (!collection) return;
    for (const auto& derivedGeometry : collection->getDerivedGeometriesForLocationId(location.getLocationId())) {
        if (!derivedGeometry || !derivedGeometry->type) continue;
        const std::string& kind = *derivedGeometry->type;
        if (kind == "floorplan") {
            if (switches.floorPlans) buildFloorPlan(location, zoom, *derivedGeometry, viewModel);
        } else if (kind == "wall") {
            if (switches.walls) buildWallExtrusion(location, rule, zoom, *derivedGeometry, viewModel);
        } else if (kind == "extrusion") {
            if (switches.featureExtrusions) buildFeatureExtrusion(location, rule, zoom, *derivedGeometry, viewModel);
        }
    }
}

void buildWallExtrusion(const CVLocation& location, const CVDisplayRule& rule, double zoom,
                        const CVDerivedGeometry& derivedGeometry, ViewModel& viewModel) {
    derived_geometry_features::buildExtrusion(derived_geometry_features::kWalls, location, rule, zoom, derivedGeometry,
                                              viewModel);
}

void buildFeatureExtrusion(const CVLocation& location, const CVDisplayRule& rule, double zoom,
                           const CVDerivedGeometry& derivedGeometry, ViewModel& viewModel) {
    derived_geometry_features::buildExtrusion(derived_geometry_features::kFeatures, location, rule, zoom,
                                              derivedGeometry, viewModel);
}

void buildOutlinePolygon(const CVLocation& location, const CVDisplayRule& rule, double zoom, ViewModel& viewModel) {
    if (!rule.showPolygonWithZoom(zoom)) return;
    const auto stroke = rule.polygonStrokeColor();
    if (!stroke) return;

    CVFeatureProperties properties;
    properties[CVModelPropertyKey::polygonFillOpacity] = 0.0;
    derived_geometry_features::setOrRemove(properties, CVModelPropertyKey::polygonStrokeColor,
                                           hexString(*stroke, false));
    derived_geometry_features::setOrRemove(properties, CVModelPropertyKey::polygonStrokeColorAlpha,
                                           hexString(*stroke, true));
    properties[CVModelPropertyKey::polygonStrokeOpacity] = static_cast<double>(alphaComponent(*stroke));
    if (const auto width = rule.polygonStrokeWidth()) {
        properties[CVModelPropertyKey::polygonStrokeWidth] = *width / platform::Screen::scale();
    }
    properties[CVModelPropertyKey::type] = CVRenderedFeatureType::polygon;
    properties[CVModelPropertyKey::clickable] = resolvedSelectable(location);

    const auto geometry = location.geometry();
    const CVGeometry* shape = derived_geometry_features::effectiveGeometry(geometry);
    if (shape == nullptr) return;
    properties[CVModelPropertyKey::polygonArea] = shape->area();
    if (auto feature = derived_geometry_features::shapeFeature(location.getLocationId(), shape, properties)) {
        viewModel.polygon = std::move(*feature);
    }
}

platform::Awaitable<std::optional<ViewModel>> buildingViewModel(const CVLocation& location,
                                                                std::optional<std::string> currentBuildingId,
                                                                double zoom, DerivedGeometrySwitches switches) {
    const auto entry = CVEntryObjectSeam::installed();
    if (!entry) co_return std::nullopt;

    std::shared_ptr<CVLocation> parent;
    try {
        parent = co_await awaitCallback<std::shared_ptr<CVLocation>>(
            [&entry, &location](std::function<void(std::shared_ptr<CVLocation>)> done) {
                entry->parentOfLocation(location, std::move(done));
            });
    } catch (const CallbackTimeoutError&) {
        // A look-up that never answered counts as no parent known.
    }

    bool buildingRule = false;
    if (parent) {
        buildingRule = currentBuildingId && *currentBuildingId == parent->getLocationId();
    } else {
        buildingRule = !currentBuildingId;
    }
    // Used as it is: neither the state of the location nor the rule's
    // visibility decides whether a building is drawn.
    const auto rule = buildingRule ? entry->displayRuleForDisplayRuleType(static_cast<int>(CVDisplayRuleType::building))
                                   : entry->displayRuleForLocation(location);
    if (!rule) co_return std::nullopt;

    ViewModel viewModel;
    viewModel.id = location.getLocationId();
    viewModel.isClickable = true;
    buildDerivedGeometryFeatures(location, *rule, zoom, switches, viewModel);
    if (buildingRule) buildOutlinePolygon(location, *rule, zoom, viewModel);
    co_return viewModel;
}

}  // namespace ambrell
