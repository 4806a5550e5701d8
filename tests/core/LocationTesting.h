#pragma once

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "Ambrell/CVLocationSource.h"
#include "data/CVLocationInternal.h"
#include "foundation/CVWeakRef.h"
#include "platform/runtime/Task.h"
#include "tests/support/AsyncTesting.h"
#include "tests/support/EventRecorder.h"

namespace ambrell::test {

// Runs the work in a task of its own and waits, bounded, for its value; its
// error is rethrown.
template <typename T>
T awaited(platform::Awaitable<T> work) {
    auto outcome = startTask<T>(std::move(work)).result(std::chrono::seconds(30));
    if (!outcome) throw std::runtime_error("the work did not end");
    if constexpr (std::is_void_v<T>) {
        outcome->get();
    } else {
        return std::move(outcome->get());
    }
}

// An outdoor point of interest, active and searchable.
inline std::shared_ptr<CVLocationInternal> pointOfInterest(std::string id, std::string name, double latitude = 55.6,
                                                           double longitude = 12.5) {
    auto location = std::make_shared<CVLocationInternal>();
    location->locationId = std::move(id);
    location->name = std::move(name);
    location->type = "Kiosk";
    location->setPosition(CVPoint(latitude, longitude, 0));
    return location;
}

inline std::string idsOf(const std::vector<std::shared_ptr<CVLocation>>& locations) {
    std::string ids;
    for (const auto& location : locations) ids += (ids.empty() ? "" : ",") + location->getLocationId();
    return ids;
}

inline std::string joined(const std::vector<std::string>& ids) {
    std::string text;
    for (const auto& id : ids) text += (text.empty() ? "" : ",") + id;
    return text;
}

// Notes each call as "update a,b", "delete a" or "status 4".
class RecordingObserver : public CVLocationsObserver {
public:
    void onLocationsUpdate(const std::vector<std::shared_ptr<CVLocation>>& locations,
                           const std::shared_ptr<CVLocationSource>& /*source*/) override {
        events.add("update " + idsOf(locations));
    }
    void onLocationsDelete(const std::vector<std::string>& locationIds,
                           const std::shared_ptr<CVLocationSource>& /*source*/) override {
        events.add("delete " + joined(locationIds));
    }
    void onStatusChange(CVLocationSourceStatus status, const std::shared_ptr<CVLocationSource>& /*source*/) override {
        events.add("status " + std::to_string(static_cast<int>(status)));
    }

    EventRecorder events;
};

// A host's own location source, pushed by the test.
class HostSource : public CVLocationSource, public std::enable_shared_from_this<HostSource> {
public:
    explicit HostSource(std::vector<std::shared_ptr<CVLocation>> locations = {}) : locations_(std::move(locations)) {}

    std::vector<std::shared_ptr<CVLocation>> getLocations() const override {
        std::lock_guard lock(mutex_);
        return locations_;
    }
    CVLocationSourceStatus getStatus() const override { return CVLocationSourceStatus::available; }
    void addLocationsObserver(const std::shared_ptr<CVLocationsObserver>& observer) override {
        std::lock_guard lock(mutex_);
        observers_.emplace_back(observer);
    }
    void removeLocationsObserver(const std::shared_ptr<CVLocationsObserver>& observer) override {
        std::lock_guard lock(mutex_);
        std::erase_if(observers_, [&](const auto& entry) { return entry.value() == observer; });
    }
    [[nodiscard]] std::size_t observerCount() const {
        std::lock_guard lock(mutex_);
        return observers_.size();
    }

    void update(const std::vector<std::shared_ptr<CVLocation>>& locations) {
        for (const auto& observer : observers()) observer->onLocationsUpdate(locations, shared_from_this());
    }
    void remove(const std::vector<std::string>& ids) {
        for (const auto& observer : observers()) observer->onLocationsDelete(ids, shared_from_this());
    }
    void status(CVLocationSourceStatus status) {
        for (const auto& observer : observers()) observer->onStatusChange(status, shared_from_this());
    }

private:
    std::vector<std::shared_ptr<CVLocationsObserver>> observers() const {
        std::lock_guard lock(mutex_);
        std::vector<std::shared_ptr<CVLocationsObserver>> alive;
        for (const auto& entry : observers_) {
            if (auto observer = entry.value()) alive.push_back(std::move(observer));
        }
        return alive;
    }

    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<CVLocation>> locations_;
    std::vector<CVWeakRef<CVLocationsObserver>> observers_;
};

}  // namespace ambrell::test
