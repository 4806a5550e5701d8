#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Ambrell/CVMapConfig.h"
#include "data/CVBuildingInternal.h"
#include "data/CVFloorInternal.h"
#include "data/CVLocationInternal.h"
#include "data/CVVenueInternal.h"
#include "mapcontrol/CVMapConfigMapProvider.h"
#include "mapcontrol/CVMapControlEntry.h"
#include "mapcontrol/CVMapControlInternal.h"
#include "platform/runtime/MainQueue.h"
#include "tests/support/RecordingMapAdapter.h"
#include "tests/support/WaitFor.h"

namespace ambrell::test {

// A steady clock the test moves by hand.
class ManualClock {
public:
    void advance(std::chrono::nanoseconds step) { now_ += step.count(); }
    [[nodiscard]] CVMapControlInternal::Clock clock() {
        return [this] { return std::chrono::steady_clock::time_point(std::chrono::nanoseconds(now_.load())); };
    }

private:
    std::atomic<std::int64_t> now_{1'000'000'000};
};

// The entry object as the map control sees it: venues, buildings and
// locations given by the test; look-ups can be held until the test lets them
// go, one at a time, newest or oldest first.
class FakeMapEntry : public CVMapControlEntry {
public:
    std::vector<std::shared_ptr<CVVenue>> venueList;
    std::vector<std::shared_ptr<CVBuilding>> buildings;
    std::vector<std::shared_ptr<CVLocation>> locations;
    std::optional<CVSolutionConfig> config;

    void venues(std::function<void(std::vector<std::shared_ptr<CVVenue>>)> completion) const override {
        completion(venueList);
    }
    void buildingWithId(std::string buildingId,
                        std::function<void(std::shared_ptr<CVBuilding>)> completion) const override {
        for (const auto& building : buildings) {
            if (building->getBuildingId() == buildingId) return completion(building);
        }
        completion(nullptr);
    }
    void lookUpLocations(CVFilter filter, std::function<void(Locations)> completion) const override {
        Locations found;
        for (const auto& location : locations) {
            if (filter.locations && std::find(filter.locations->begin(), filter.locations->end(),
                                              location->getLocationId()) == filter.locations->end()) {
                continue;
            }
            found.push_back(location);
        }
        {
            std::lock_guard lock(mutex_);
            filters_.push_back(filter);
            if (holdLookUps_) {
                held_.push_back([completion = std::move(completion), found] { completion(found); });
                return;
            }
        }
        completion(std::move(found));
    }
    [[nodiscard]] std::optional<CVSolutionConfig> solutionConfig() const override { return config; }
    void setActiveMapControl(const std::shared_ptr<CVMapControlling>& mapControl) const override {
        std::lock_guard lock(mutex_);
        active_ = mapControl;
    }

    [[nodiscard]] std::shared_ptr<CVLocation> locationWithId(const std::string& locationId) const override {
        for (const auto& location : locations) {
            if (location->getLocationId() == locationId) return location;
        }
        return nullptr;
    }
    // The location's own rule.
    [[nodiscard]] std::shared_ptr<CVDisplayRule> displayRuleForLocation(const CVLocation& location) const override {
        return location.getDisplayRule();
    }

    void holdLookUps(bool hold) {
        std::lock_guard lock(mutex_);
        holdLookUps_ = hold;
    }
    [[nodiscard]] std::size_t heldLookUps() const {
        std::lock_guard lock(mutex_);
        return held_.size();
    }
    // Answers the held look-up at `index` (in arrival order).
    void release(std::size_t index) {
        std::function<void()> answer;
        {
            std::lock_guard lock(mutex_);
            answer = std::move(held_.at(index));
            held_.erase(held_.begin() + static_cast<std::ptrdiff_t>(index));
        }
        answer();
    }
    [[nodiscard]] std::vector<CVFilter> filters() const {
        std::lock_guard lock(mutex_);
        return filters_;
    }
    [[nodiscard]] std::shared_ptr<CVMapControlling> active() const {
        std::lock_guard lock(mutex_);
        return active_.lock();
    }

private:
    mutable std::mutex mutex_;
    bool holdLookUps_ = false;
    mutable std::vector<std::function<void()>> held_;
    mutable std::vector<CVFilter> filters_;
    mutable std::weak_ptr<CVMapControlling> active_;
};

// A host delegate that answers every member and writes down what it heard.
class RecordingMapDelegate : public CVMapControlDelegate {
public:
    bool takesCameraChanges = false;

    [[nodiscard]] bool respondsTo(CVMapControlDelegateMember /*member*/) const override { return true; }
    void cameraWillMove() override { note("cameraWillMove"); }
    bool didChangeCameraPosition() override {
        note("didChangeCameraPosition");
        return takesCameraChanges;
    }
    void cameraIdle() override { note("cameraIdle"); }
    void didChangeSelectedVenue(const std::shared_ptr<CVVenue>& venue) override {
        note("venue " + (venue ? venue->getVenueId() : std::string("none")));
    }
    void didChangeSelectedBuilding(const std::shared_ptr<CVBuilding>& building) override {
        note("building " + (building ? building->getBuildingId() : std::string("none")));
    }
    void didChangeFloorIndex(std::int64_t floorIndex) override { note("floor " + std::to_string(floorIndex)); }

    [[nodiscard]] std::vector<std::string> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }

private:
    void note(std::string event) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
};

inline std::shared_ptr<CVVenueInternal> makeVenue(std::string id, std::vector<double> bbox) {
    auto venue = std::make_shared<CVVenueInternal>();
    venue->venueId = std::move(id);
    venue->bbox = std::move(bbox);
    return venue;
}

inline std::shared_ptr<CVFloorInternal> makeFloor(std::optional<double> index) {
    auto floor = std::make_shared<CVFloorInternal>();
    floor->floorIndex = index;
    return floor;
}

// A building location: a point at the coordinate.
inline std::shared_ptr<CVLocationInternal> makeBuildingLocation(std::string id, double latitude, double longitude) {
    auto location = std::make_shared<CVLocationInternal>(CVPoint(latitude, longitude), id);
    location->locationId = std::move(id);
    location->locationBaseTypeString = "building";
    return location;
}

// Lets every task of the map control and every block it queued on the main
// queue run out.
inline bool settleMapControl(const CVMapControlInternal& control) {
    return waitFor([&] {
        platform::MainQueue::shared().drain();
        if (control.tasksInFlight() != 0) return false;
        platform::MainQueue::shared().drain();
        return control.tasksInFlight() == 0;
    });
}

// Settles the map control and lets it go. The tasks' frames release it after
// their last step, and it must be gone before the fakes it uses are. Its
// last owner may still be in its destructor, which queues the blocks that
// take its views off the adapter's: they must have run before the adapter
// goes, so this waits until the adapter's view holds none.
inline bool releaseMapControl(std::shared_ptr<CVMapControlInternal>& control, RecordingMapAdapter& adapter) {
    if (!control) return true;
    const bool settled = settleMapControl(*control);
    std::weak_ptr<CVMapControlInternal> gone = std::exchange(control, nullptr);
    adapter.setDelegate({});
    const bool released = waitFor([&] { return gone.expired(); });
    const auto view = adapter.view();
    const bool viewsRemoved = waitFor([&] {
        bool none = true;
        platform::MainQueue::shared().async([&] { none = !view || view->subviews().empty(); });
        platform::MainQueue::shared().drain();
        return none;
    });
    return settled && released && viewsRemoved;
}

}  // namespace ambrell::test
