#include <array>
#include <charconv>
#include <cmath>
#include <string_view>
#include <utility>
#include <vector>

#include "Ambrell/CVLocationState.h"
#include "data/CVFloorInternal.h"
#include "data/CVLocationInternal.h"
#include "foundation/CVLogger.h"
#include "mapcontrol/CVEntityGeometry.h"
#include "mapcontrol/CVMapControlInternal.h"
#include "platform/runtime/Task.h"
#include "viewmodels/CVLocationSelectability.h"

namespace ambrell {

namespace map_control_selection {
namespace {

constexpr std::string_view kClusterPrefix = "CVCluster+";

// The shortest text that reads back as the same number; a whole number keeps
// one decimal place ("55.0"), as the usage log has always shown them.
std::string coordinateText(double value) {
    std::array<char, 64> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    std::string text(buffer.data(), result.ptr);
    if (std::isfinite(value) && text.find_first_of(".e") == std::string::npos) text += ".0";
    return text;
}

std::optional<std::string> locationKey(const std::shared_ptr<CVLocation>& location) {
    if (!location) return std::nullopt;
    return location->getLocationId();
}

void setDrawingState(const std::shared_ptr<CVLocation>& location, CVLocationState state) {
    if (auto internal = std::dynamic_pointer_cast<CVLocationInternal>(location)) {
        internal->state = static_cast<std::int64_t>(state);
    }
}

// Whether the rule draws the tapped kind of feature at the zoom, so that the
// user can have meant the location.
bool ruleShows(const CVDisplayRule& rule, CVRenderedFeatureType type, double zoom) {
    switch (type) {
        case CVRenderedFeatureType::marker:
            return rule.showIconWithZoom(zoom) || rule.showLabelWithZoom(zoom) || rule.showBadgeWithZoom(zoom);
        case CVRenderedFeatureType::polygon: return rule.showPolygonWithZoom(zoom);
        case CVRenderedFeatureType::model2d: return rule.showModel2DWithZoom(zoom);
        case CVRenderedFeatureType::model3d: return rule.showModel3DWithZoom(zoom);
        case CVRenderedFeatureType::featureExtrusion: return rule.showFeatureExtrusionWithZoom(zoom);
        case CVRenderedFeatureType::wallExtrusion: return rule.showWallExtrusionWithZoom(zoom);
        case CVRenderedFeatureType::undefined:
        case CVRenderedFeatureType::floorplan: return false;
    }
    return false;
}

void recordTap(std::optional<CVLogEntry::Parameters> parameters = std::nullopt) {
    CVLogger::event(CVLogEvent::mapClicked, CVLogDomain::map, std::move(parameters));
}

}  // namespace
}  // namespace map_control_selection

std::shared_ptr<CVLocation> CVMapControlInternal::selectedLocation() const {
    std::lock_guard lock(mutex_);
    return selectedLocation_;
}

void CVMapControlInternal::setSelectedLocation(std::shared_ptr<CVLocation> location) {
    std::shared_ptr<CVLocation> previous;
    {
        std::lock_guard lock(mutex_);
        previous = std::exchange(selectedLocation_, location);
        // Previous first: selecting the same object again leaves it selected.
        map_control_selection::setDrawingState(previous, CVLocationState::normal);
        map_control_selection::setDrawingState(location, CVLocationState::selected);
    }
    if (map_control_selection::locationKey(previous) == map_control_selection::locationKey(location)) return;
    auto self = shared_from_this();
    onMain([self] {
        std::shared_ptr<CVMapControlDelegate> delegate;
        if (self->delegateResponds(CVMapControlDelegateMember::didChangeSelectedLocation, delegate)) {
            delegate->didChangeSelectedLocation(self->selectedLocation());
        }
    });
}

void CVMapControlInternal::setShowInfoWindowOnClickedLocation(bool show) {
    std::lock_guard lock(mutex_);
    showInfoWindowOnClickedLocation_ = show;
}

void CVMapControlInternal::selectWithLocation(std::shared_ptr<CVLocation> location, CVSelectionBehavior behavior) {
    if (!location || !resolvedSelectable(*location)) {
        setSelectedLocation(nullptr);
        return;
    }
    setSelectedLocation(location);
    {
        std::lock_guard lock(mutex_);
        mapState_.currentSelectionBehavior = behavior;
    }
    selectionCameraMove(entityBounds(*location), entityPosition(*location), behavior);
}

void CVMapControlInternal::selectWithBuilding(std::shared_ptr<CVBuilding> building, CVSelectionBehavior behavior) {
    setCurrentBuilding(building);
    {
        std::lock_guard lock(mutex_);
        mapState_.currentSelectionBehavior = behavior;
    }
    if (building) selectionCameraMove(entityBounds(*building), entityPosition(*building), behavior);
}

void CVMapControlInternal::selectWithVenue(std::shared_ptr<CVVenue> venue, CVSelectionBehavior behavior) {
    setCurrentVenue(venue);
    {
        std::lock_guard lock(mutex_);
        mapState_.currentSelectionBehavior = behavior;
    }
    if (venue) selectionCameraMove(entityBounds(*venue), entityPosition(*venue), behavior);
}

void CVMapControlInternal::selectionCameraMove(const std::optional<CVGeoBounds>& bounds,
                                               const std::optional<CVPoint>& position,
                                               const CVSelectionBehavior& behavior) {
    if (behavior.moveCamera && behavior.zoomToFit) {
        fitCamera(bounds, position);
        return;
    }
    if (!behavior.moveCamera || !position) return;
    // Centring keeps the floor; it runs off the caller's thread.
    auto self = shared_from_this();
    startTracked([self, target = position->coordinate()]() -> platform::Awaitable<void> {
        if (auto camera = self->map_->cameraOperator()) camera->animate(target, std::nullopt);
        co_return;
    });
}

void CVMapControlInternal::fitCamera(const std::optional<CVGeoBounds>& bounds, const std::optional<CVPoint>& position) {
    if (bounds) {
        if (auto camera = map_->cameraOperator()) camera->animate(*bounds);
    }
    if (position) setCurrentFloorIndex(position->zIndex());
}

void CVMapControlInternal::goToEntity(const CVVenue& venue) { fitCamera(entityBounds(venue), entityPosition(venue)); }

void CVMapControlInternal::goToEntity(const CVBuilding& building) {
    fitCamera(entityBounds(building), entityPosition(building));
}

void CVMapControlInternal::goToEntity(const CVFloor& floor) {
    // Only the library's floors carry an outline to fit to.
    if (const auto* internal = dynamic_cast<const CVFloorInternal*>(&floor)) {
        fitCamera(entityBounds(*internal), entityPosition(*internal));
    }
}

void CVMapControlInternal::goToEntity(const CVLocation& location) {
    fitCamera(entityBounds(location), entityPosition(location));
}

void CVMapControlInternal::didTap(platform::CLLocationCoordinate2D coordinate) {
    map_control_selection::recordTap(
        CVLogEntry::Parameters{{"at_coordinate", map_control_selection::coordinateText(coordinate.latitude) + ":" +
                                                     map_control_selection::coordinateText(coordinate.longitude)}});
    std::shared_ptr<CVMapControlDelegate> delegate;
    if (delegateResponds(CVMapControlDelegateMember::didTapWithCoordinate, delegate) &&
        delegate->didTapWithCoordinate(CVPoint(coordinate.latitude, coordinate.longitude))) {
        return;
    }
    setSelectedLocation(nullptr);
}

bool CVMapControlInternal::didTap(const std::string& locationId, CVRenderedFeatureType type) {
    const auto location = entry_->locationWithId(locationId);
    const auto rule = location ? entry_->displayRuleForLocation(*location) : nullptr;
    if (!location || !rule) {
        // Clusters are drawn under an id of their own, which names their
        // members.
        if (std::string_view(locationId).starts_with(map_control_selection::kClusterPrefix)) {
            zoomToCluster(locationId);
        } else {
            map_control_selection::recordTap();
        }
        return false;
    }
    if (!map_control_selection::ruleShows(*rule, type, cameraPosition().zoom)) {
        map_control_selection::recordTap();
        return false;
    }
    map_control_selection::recordTap(CVLogEntry::Parameters{{"location_type", location->getType()}});
    std::shared_ptr<CVMapControlDelegate> delegate;
    if (delegateResponds(CVMapControlDelegateMember::didTapIconWithLocation, delegate) &&
        delegate->didTapIconWithLocation(location)) {
        return true;
    }
    selectWithLocation(location, CVSelectionBehavior::defaultBehavior());
    return false;
}

void CVMapControlInternal::zoomToCluster(const std::string& clusterId) const {
    std::vector<platform::CLLocationCoordinate2D> points;
    std::string_view rest(clusterId);
    rest.remove_prefix(map_control_selection::kClusterPrefix.size());
    while (!rest.empty()) {
        const auto end = rest.find('+');
        const std::string_view id = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (id.empty()) continue;
        if (const auto member = entry_->locationWithId(std::string(id))) {
            points.push_back(member->getPosition().coordinate());
        }
    }
    // Bounds over no points would send the camera to 0°, 0°.
    if (points.empty()) return;
    if (auto camera = map_->cameraOperator()) camera->animate(CVGeoBounds(points));
}

bool CVMapControlInternal::didTapInfoWindowOf(const std::string& locationId) {
    const auto location = entry_->locationWithId(locationId);
    std::shared_ptr<CVMapControlDelegate> delegate;
    if (!location || !delegateResponds(CVMapControlDelegateMember::didTapInfoWindowWithLocation, delegate)) {
        return false;
    }
    return delegate->didTapInfoWindowWithLocation(location);
}

}  // namespace ambrell
