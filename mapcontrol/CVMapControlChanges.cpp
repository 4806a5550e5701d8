#include <limits>
#include <utility>

#include "core/CVAwaitCallback.h"
#include "data/CVLocationInternal.h"
#include "data/CVVenueInternal.h"
#include "data/DataSetManager/CVTileProvider.h"
#include "mapcontrol/CVMapControlInternal.h"
#include "platform/runtime/Task.h"

namespace ambrell {

namespace map_control_changes {
namespace {

std::optional<std::string> venueKey(const std::shared_ptr<CVVenue>& venue) {
    // Venues of other kinds count as none, as the tile source needs the
    // library's own.
    if (!std::dynamic_pointer_cast<CVVenueInternal>(venue)) return std::nullopt;
    return venue->getVenueId();
}

std::optional<std::string> buildingKey(const std::shared_ptr<CVBuilding>& building) {
    if (!building || building->getBuildingId().empty()) return std::nullopt;
    return building->getBuildingId();
}

// The floor a map control is showing on its selector on this thread: the
// selector's report of it, made while it is being told, is no choice.
struct SelectorEcho {
    const CVMapControlInternal* control = nullptr;
    std::int64_t floorIndex = 0;
};
thread_local SelectorEcho selectorEcho;

// Marks the floor as being shown for as long as it lives.
class ShowingFloor {
public:
    ShowingFloor(const CVMapControlInternal* control, std::int64_t floorIndex) : outer_(selectorEcho) {
        selectorEcho = {control, floorIndex};
    }
    ~ShowingFloor() { selectorEcho = outer_; }
    ShowingFloor(const ShowingFloor&) = delete;
    ShowingFloor& operator=(const ShowingFloor&) = delete;

private:
    SelectorEcho outer_;
};

}  // namespace
}  // namespace map_control_changes

std::shared_ptr<CVVenue> CVMapControlInternal::currentVenue() const {
    std::lock_guard lock(mutex_);
    return currentVenue_;
}

void CVMapControlInternal::setCurrentVenue(std::shared_ptr<CVVenue> venue) {
    std::shared_ptr<CVVenue> previous;
    {
        std::lock_guard lock(mutex_);
        previous = std::exchange(currentVenue_, venue);
    }
    venueChanged(previous, venue);
}

void CVMapControlInternal::venueChanged(const std::shared_ptr<CVVenue>& previous,
                                        const std::shared_ptr<CVVenue>& venue) {
    if (map_control_changes::venueKey(previous) == map_control_changes::venueKey(venue)) return;
    updateLiveDataSubscriptions();
    auto self = shared_from_this();
    onMain([self] {
        self->updateTileProvider();
        std::shared_ptr<CVMapControlDelegate> delegate;
        if (self->delegateResponds(CVMapControlDelegateMember::didChangeSelectedVenue, delegate)) {
            delegate->didChangeSelectedVenue(self->currentVenue());
        }
    });
}

std::shared_ptr<CVBuilding> CVMapControlInternal::currentBuilding() const {
    std::lock_guard lock(mutex_);
    return currentBuilding_;
}

void CVMapControlInternal::setCurrentBuilding(std::shared_ptr<CVBuilding> building) {
    std::shared_ptr<CVBuilding> previous;
    {
        std::lock_guard lock(mutex_);
        previous = std::exchange(currentBuilding_, building);
    }
    buildingChanged(previous, building);
}

void CVMapControlInternal::buildingChanged(const std::shared_ptr<CVBuilding>& previous,
                                           const std::shared_ptr<CVBuilding>& building) {
    if (map_control_changes::buildingKey(previous) == map_control_changes::buildingKey(building)) return;
    auto self = shared_from_this();
    onMain([self] {
        std::shared_ptr<CVMapControlDelegate> delegate;
        if (self->delegateResponds(CVMapControlDelegateMember::didChangeSelectedBuilding, delegate)) {
            delegate->didChangeSelectedBuilding(self->currentBuilding());
        }
    });
    updateLiveDataSubscriptions();
    requestRender(true);
}

std::int64_t CVMapControlInternal::currentFloorIndex() const {
    std::lock_guard lock(mutex_);
    return currentFloorIndex_;
}

void CVMapControlInternal::setCurrentFloorIndex(std::int64_t floorIndex) {
    std::shared_ptr<CVCustomFloorSelector> selector;
    {
        std::lock_guard lock(mutex_);
        if (currentFloorIndex_ == floorIndex) return;
        currentFloorIndex_ = floorIndex;
        selector = floorSelector_;
    }
    refresh();
    auto self = shared_from_this();
    // The floor as it is when the block runs: a value captured now could
    // come back from the selector as a change after later ones.
    if (selector) onMain([self, selector] { self->showFloorOn(selector); });
    updateLiveDataSubscriptions();
    directionsFloorHook();
    onMain([self] {
        std::shared_ptr<CVMapControlDelegate> delegate;
        if (self->delegateResponds(CVMapControlDelegateMember::didChangeFloorIndex, delegate)) {
            delegate->didChangeFloorIndex(self->currentFloorIndex());
        }
    });
}

void CVMapControlInternal::showFloorOn(const std::shared_ptr<CVCustomFloorSelector>& selector) {
    const std::int64_t floorIndex = currentFloorIndex();
    const map_control_changes::ShowingFloor showing(this, floorIndex);
    selector->setFloorIndex(static_cast<double>(floorIndex));
}

bool CVMapControlInternal::isSelectorEcho(std::int64_t floorIndex) const {
    return map_control_changes::selectorEcho.control == this &&
           map_control_changes::selectorEcho.floorIndex == floorIndex;
}

void CVMapControlInternal::refresh() {
    auto self = shared_from_this();
    onMain([self] {
        self->updateTileProvider();
        self->detectVenueAndBuilding();
        self->requestRender(false);
    });
}

void CVMapControlInternal::updateTileProvider() {
    std::shared_ptr<CVVenueInternal> venue;
    std::int64_t floorIndex = 0;
    {
        std::lock_guard lock(mutex_);
        venue = std::dynamic_pointer_cast<CVVenueInternal>(currentVenue_);
        floorIndex = currentFloorIndex_;
    }
    if (venue && floorIndex >= std::numeric_limits<int>::min() && floorIndex <= std::numeric_limits<int>::max()) {
        map_->setTileProvider(std::make_shared<CVTileProvider>(*venue, static_cast<int>(floorIndex), 512));
        map_->reloadTilesForFloorChange();
    }
    requestRender(true);
}

std::shared_ptr<CVMapStyle> CVMapControlInternal::mapStyle() const {
    std::lock_guard lock(mutex_);
    return mapState_.mapStyle;
}

void CVMapControlInternal::setMapStyle(std::shared_ptr<CVMapStyle> style) {
    {
        std::lock_guard lock(mutex_);
        mapState_.mapStyle = std::move(style);
    }
    updateTileProvider();
}

std::shared_ptr<CVCustomFloorSelector> CVMapControlInternal::floorSelector() const {
    std::lock_guard lock(mutex_);
    return floorSelector_;
}

bool CVMapControlInternal::hideFloorSelector() const {
    std::lock_guard lock(mutex_);
    return hideFloorSelector_;
}

void CVMapControlInternal::setHideFloorSelector(bool hide) {
    {
        std::lock_guard lock(mutex_);
        hideFloorSelector_ = hide;
        isFloorSelectorVisible_ = hide;
    }
    auto self = shared_from_this();
    onMain([self] { self->floorSelectorVisibilityStep(); });
}

void CVMapControlInternal::floorSelectorVisibilityStep() {
    std::shared_ptr<CVCustomFloorSelector> selector;
    bool hide = false;
    bool visible = false;
    {
        std::lock_guard lock(mutex_);
        selector = floorSelector_;
        hide = hideFloorSelector_;
        visible = isFloorSelectorVisible_;
    }
    if (!selector) return;
    if (hide) {
        selector->onHide();
    } else if (visible) {
        selector->onShow();
    }
}

// Highlight and filter.

void CVMapControlInternal::clearHighlight() {
    std::vector<std::shared_ptr<CVLocation>> highlighted;
    {
        std::lock_guard lock(mutex_);
        highlighted = std::exchange(mapState_.currentHighlight, {});
        for (const auto& location : highlighted) {
            if (auto internal = std::dynamic_pointer_cast<CVLocationInternal>(location)) internal->state = 0;
        }
    }
    requestRender(false);
}

void CVMapControlInternal::setHighlight(std::vector<std::shared_ptr<CVLocation>> locations,
                                        CVHighlightBehavior behavior) {
    clearHighlight();
    {
        std::lock_guard lock(mutex_);
        mapState_.currentHighlightBehavior = behavior;
        mapState_.currentHighlight = locations;
        for (const auto& location : locations) {
            if (auto internal = std::dynamic_pointer_cast<CVLocationInternal>(location)) internal->state = 2;
        }
    }
    requestRender(true);
}

void CVMapControlInternal::setHighlight(CVFilter filter, CVHighlightBehavior behavior) {
    auto self = shared_from_this();
    startTracked([self, filter = std::move(filter), behavior]() -> platform::Awaitable<void> {
        auto locations = co_await self->lookUp(filter);
        self->setHighlight(std::move(locations), behavior);
    });
}

void CVMapControlInternal::setFilter(const std::vector<std::shared_ptr<CVLocation>>& locations,
                                     CVFilterBehavior behavior) {
    auto filter = std::make_shared<CVFilter>();
    filter->locations = std::vector<std::string>{};
    for (const auto& location : locations) {
        if (location) filter->locations->push_back(location->getLocationId());
    }
    setFilter(std::move(filter), behavior);
}

void CVMapControlInternal::setFilter(std::shared_ptr<CVFilter> filter, CVFilterBehavior behavior) {
    {
        std::lock_guard lock(mutex_);
        mapState_.currentFilterBehavior = behavior;
        mapState_.filter = filter;
    }
    if (!behavior.moveCamera) {
        requestRender(true);
        return;
    }
    moveCameraThenRender(std::move(filter));
}

void CVMapControlInternal::moveCameraThenRender(std::shared_ptr<CVFilter> filter) {
    auto self = shared_from_this();
    startTracked([self, filter = std::move(filter)]() -> platform::Awaitable<void> {
        CVFilter query;
        {
            std::lock_guard lock(self->mutex_);
            query = filter ? *filter : CVFilter{};
        }
        const auto locations = co_await self->lookUp(std::move(query));
        std::vector<platform::CLLocationCoordinate2D> coordinates;
        for (const auto& location : locations) {
            if (location) coordinates.push_back(location->getPosition().coordinate());
        }
        if (!coordinates.empty()) {
            if (auto camera = self->map_->cameraOperator()) camera->animate(CVGeoBounds(coordinates));
        }
        self->requestRender(true);
    });
}

void CVMapControlInternal::clearFilter() {
    {
        std::lock_guard lock(mutex_);
        mapState_.filter = nullptr;
    }
    requestRender(false);
}

}  // namespace ambrell
