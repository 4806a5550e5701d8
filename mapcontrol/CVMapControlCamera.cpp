#include <cmath>
#include <limits>
#include <utility>

#include "Ambrell/CVLocationBaseType.h"
#include "core/CVAwaitCallback.h"
#include "mapcontrol/CVEntityGeometry.h"
#include "mapcontrol/CVFloorNumber.h"
#include "mapcontrol/CVFloorSelectorControl.h"
#include "mapcontrol/CVMapControlInternal.h"
#include "platform/Geodesy.h"
#include "platform/runtime/Actor.h"
#include "platform/runtime/MainQueue.h"
#include "platform/runtime/Task.h"

namespace ambrell {

namespace map_control_camera {
namespace {

// Metres from the box's nearest point to the coordinate; 0 inside it.
double distanceFromBounds(const CVGeoBounds& bounds, platform::CLLocationCoordinate2D point) {
    const auto clamp = [](double value, double low, double high) {
        return value < low ? low : (value > high ? high : value);
    };
    const platform::CLLocationCoordinate2D nearest{
        clamp(point.latitude, bounds.southWest().latitude, bounds.northEast().latitude),
        clamp(point.longitude, bounds.southWest().longitude, bounds.northEast().longitude)};
    return platform::geodesicDistanceMeters(nearest, point);
}

}  // namespace
}  // namespace map_control_camera

void CVMapControlInternal::cameraWillMove() {
    std::shared_ptr<CVMapControlDelegate> delegate;
    if (delegateResponds(CVMapControlDelegateMember::cameraWillMove, delegate)) delegate->cameraWillMove();
}

void CVMapControlInternal::cameraChangedPosition() {
    std::shared_ptr<CVMapControlDelegate> delegate;
    if (delegateResponds(CVMapControlDelegateMember::didChangeCameraPosition, delegate) &&
        delegate->didChangeCameraPosition()) {
        return;
    }
    bool accepted = false;
    {
        std::lock_guard lock(mutex_);
        const auto now = clock_();
        const auto elapsed = now - mapState_.lastUpdateTimestamp;
        if (std::chrono::abs(std::chrono::duration<double>(elapsed)) > kCameraThrottle) {
            mapState_.lastUpdateTimestamp = now;
            cameraChangeDropped_ = false;
            accepted = true;
        } else {
            cameraChangeDropped_ = true;
        }
    }
    if (!accepted) return;
    detectVenueAndBuilding();
    requestRender(false);
}

void CVMapControlInternal::cameraIdle() {
    std::shared_ptr<CVMapControlDelegate> delegate;
    if (delegateResponds(CVMapControlDelegateMember::cameraIdle, delegate)) delegate->cameraIdle();
    // The last changes of a move may have fallen inside the throttle: the
    // camera at rest is then followed once, so the final view is drawn.
    bool catchUp = false;
    {
        std::lock_guard lock(mutex_);
        catchUp = std::exchange(cameraChangeDropped_, false);
        if (catchUp) mapState_.lastUpdateTimestamp = clock_();
    }
    if (!catchUp) return;
    detectVenueAndBuilding();
    requestRender(false);
}

void CVMapControlInternal::onLocationsUpdate(const std::vector<std::shared_ptr<CVLocation>>& /*locations*/,
                                             const std::shared_ptr<CVLocationSource>& /*source*/) {
    requestRender(false);
}

void CVMapControlInternal::onLocationsDelete(const std::vector<std::string>& /*locationIds*/,
                                             const std::shared_ptr<CVLocationSource>& /*source*/) {
    requestRender(false);
}

void CVMapControlInternal::onStatusChange(CVLocationSourceStatus /*status*/,
                                          const std::shared_ptr<CVLocationSource>& /*source*/) {}

void CVMapControlInternal::onFloorIndexChanged(double floorIndex) {
    const auto number = floorNumber(floorIndex);
    // The map's own floor reported back while it is shown: the floor may
    // have moved on since, and taking it again would undo that.
    if (!number || isSelectorEcho(*number)) return;
    setCurrentFloorIndex(*number);
}

void CVMapControlInternal::detectVenueAndBuilding() {
    std::uint64_t number = 0;
    {
        std::lock_guard lock(mutex_);
        number = ++detectionsStarted_;
    }
    auto self = shared_from_this();
    startTracked([self, number] { return detection(self, number); });
}

bool CVMapControlInternal::applyDetectedVenue(std::uint64_t number, const std::shared_ptr<CVVenue>& venue) {
    std::shared_ptr<CVVenue> previous;
    {
        std::lock_guard lock(mutex_);
        if (number < lastAppliedDetection_) return false;
        lastAppliedDetection_ = number;
        previous = std::exchange(currentVenue_, venue);
        if (!venue) mapState_.currentSelectionBehavior = CVSelectionBehavior::defaultBehavior();
    }
    venueChanged(previous, venue);
    return true;
}

bool CVMapControlInternal::applyDetectedBuilding(std::uint64_t number, const std::shared_ptr<CVBuilding>& building) {
    std::shared_ptr<CVBuilding> previous;
    {
        std::lock_guard lock(mutex_);
        if (number < lastAppliedDetection_) return false;
        lastAppliedDetection_ = number;
        previous = std::exchange(currentBuilding_, building);
    }
    buildingChanged(previous, building);
    return true;
}

platform::Awaitable<void> CVMapControlInternal::detection(std::shared_ptr<CVMapControlInternal> self,
                                                          std::uint64_t number) {
    const auto filter = co_await visibleAreaFilter(self);
    std::optional<CVGeoBounds> bounds;
    {
        std::lock_guard lock(self->mutex_);
        bounds = filter->bounds;
    }
    if (!bounds) co_return;
    const platform::CLLocationCoordinate2D center = bounds->center();

    const auto venues = co_await awaitCallback<std::vector<std::shared_ptr<CVVenue>>>(
        [&self](auto answer) { self->entry_->venues(std::move(answer)); });
    std::shared_ptr<CVVenue> venue;
    for (const auto& candidate : venues) {
        const auto box = candidate ? candidate->boundingBox() : std::nullopt;
        if (box && box->containsCoordinate(center)) {
            venue = candidate;
            break;
        }
    }
    if (!self->applyDetectedVenue(number, venue)) co_return;

    CVFilter buildingFilter;
    buildingFilter.bounds = bounds;
    buildingFilter.ignoreSearchableStatus = true;
    const auto found = co_await self->lookUp(std::move(buildingFilter));
    std::shared_ptr<CVLocation> nearest;
    double nearestDistance = std::numeric_limits<double>::infinity();
    for (const auto& location : found) {
        if (!location || location->baseType() != CVLocationBaseType::building) continue;
        const double distance = map_control_camera::distanceFromBounds(entityBounds(*location), center);
        if (distance < nearestDistance) {
            nearestDistance = distance;
            nearest = location;
        }
    }
    if (!self->currentVenue()) co_return;

    const std::string buildingId = nearest ? nearest->getLocationId() : std::string();
    // Lambdas in these awaited expressions capture by reference: the
    // compiler destroys non-trivial temporaries of a co_await twice.
    const auto building = co_await awaitCallback<std::shared_ptr<CVBuilding>>(
        [&self, &buildingId](auto answer) { self->entry_->buildingWithId(buildingId, std::move(answer)); });
    if (!self->applyDetectedBuilding(number, building)) co_return;
    if (building) {
        co_await platform::runOn(platform::SerialExecutor::mainQueue(),
                                 [&self, &building]() -> platform::Awaitable<void> {
                                     self->floorFit(building);
                                     co_return;
                                 });
        bool hidden = false;
        {
            std::lock_guard lock(self->mutex_);
            hidden = self->hideFloorSelector_;
            if (!hidden) self->isFloorSelectorVisible_ = true;
        }
        if (!hidden) self->onMain([self] { self->floorSelectorVisibilityStep(); });
    } else {
        {
            std::lock_guard lock(self->mutex_);
            self->isFloorSelectorVisible_ = false;
        }
        self->onMain([self] { self->floorSelectorVisibilityStep(); });
    }
}

void CVMapControlInternal::floorFit(const std::shared_ptr<CVBuilding>& building) {
    const auto current = currentBuilding();
    if (current) {
        const auto floors = current->getFloors();
        const std::int64_t floorIndex = currentFloorIndex();
        bool present = false;
        for (const auto& [key, floor] : floors) {
            if (floor && floorNumber(floor->getFloorIndex()) == floorIndex) present = true;
        }
        if (!present) {
            std::optional<std::int64_t> next = floorNumber(current->getDefaultFloor());
            if (!next && !floors.empty() && floors.begin()->second) {
                next = floorNumber(floors.begin()->second->getFloorIndex());
            }
            setCurrentFloorIndex(next.value_or(0));
        }
    }
    const auto selector = floorSelector();
    if (selector) {
        showFloorOn(selector);
        selector->setBuilding(building);
    }
}

}  // namespace ambrell
