#pragma once

#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/AmbrellInternal.h"
#include "core/CVLocationService.h"
#include "core/CVSubsystemSeams.h"
#include "core/CVVenueLocationSource.h"
#include "data/CVEntrySeams.h"
#include "data/CVLocationSourceIndex.h"
#include "data/CVMemoryCache.h"
#include "data/CVRouteNetworkSeams.h"
#include "data/CVVenueHandler.h"
#include "data/CVVenueInternal.h"
#include "data/DataSetManager/CVTileCache.h"
#include "foundation/CVContentContext.h"
#include "foundation/CVLogger.h"
#include "platform/runtime/Actor.h"
#include "platform/runtime/BlockingWait.h"
#include "platform/runtime/ThreadPool.h"
#include "tests/core/LocationTesting.h"
#include "tests/data/SampleServiceFixture.h"
#include "tests/support/AsyncTesting.h"
#include "tests/support/WaitFor.h"

namespace ambrell::test {

inline const std::string kMeridian = "c4c33ed16a328b160781e953";
inline const std::string kHarbour = "fa9667907de4ca4e499511cb";
constexpr auto kBound = std::chrono::seconds(60);

// Route networks as tokens: each venue's network is its id, and a merge is
// the ids it was given. The entry object never looks inside them.
class TokenRouteNetworks : public CVRouteNetworkServicing {
public:
    static std::shared_ptr<CVRouteNetworkData> token(std::string text) {
        auto holder = std::make_shared<std::string>(std::move(text));
        return {holder, reinterpret_cast<CVRouteNetworkData*>(holder.get())};
    }
    static std::string textOf(const std::shared_ptr<CVRouteNetworkData>& data) {
        return data ? *reinterpret_cast<const std::string*>(data.get()) : "none";
    }

    bool isCachedDataAvailableForSolutionId(std::string_view /*solutionId*/) const override { return true; }
    void getRouteNetworkForSolutionAsync(std::string /*solutionId*/, std::string venueId,
                                         Completion completion) override {
        completion(token(venueId), std::nullopt);
    }
    std::size_t networkCount(const CVRouteNetworkData& /*data*/) const override { return 1; }
    std::shared_ptr<CVRouteNetworkData> mergeRouteNetworks(
        const std::vector<std::shared_ptr<CVRouteNetworkData>>& graphs) const override {
        std::string merged = "merged:";
        for (std::size_t index = 0; index < graphs.size(); ++index) {
            merged += (index ? "," : "") + textOf(graphs[index]);
        }
        return token(merged);
    }
};

// Keeps what it is told; rules are stored per location id, type and fixed type.
class FakeDisplayRules : public CVDisplayRuleManaging {
public:
    platform::Awaitable<void> updateTypeRules() override {
        events.add("types");
        co_return;
    }
    platform::Awaitable<void> updateLocationRules(std::vector<std::shared_ptr<CVLocation>> locations) override {
        std::lock_guard lock(mutex_);
        for (const auto& location : locations) ruled_.insert(location->getLocationId());
        co_return;
    }
    platform::Awaitable<void> removeLocationRules(std::vector<std::string> locationIds) override {
        std::lock_guard lock(mutex_);
        for (const auto& id : locationIds) {
            ruled_.erase(id);
            removed_.push_back(id);
        }
        co_return;
    }
    std::shared_ptr<CVDisplayRule> locationRule(const std::string& locationId) const override {
        std::lock_guard lock(mutex_);
        const auto rule = rules_.find("location " + locationId);
        return rule == rules_.end() ? nullptr : rule->second;
    }
    std::shared_ptr<CVDisplayRule> typeRule(const std::string& lowerCasedTypeName) const override {
        std::lock_guard lock(mutex_);
        const auto rule = rules_.find("type " + lowerCasedTypeName);
        return rule == rules_.end() ? nullptr : rule->second;
    }
    std::shared_ptr<CVDisplayRule> fixedRule(CVDisplayRuleType type) const override {
        std::lock_guard lock(mutex_);
        const auto rule = rules_.find("fixed " + std::to_string(static_cast<int>(type)));
        return rule == rules_.end() ? nullptr : rule->second;
    }
    void setLocationRule(std::shared_ptr<CVDisplayRule> rule, const std::string& locationId) override {
        setRule("location " + locationId, std::move(rule));
    }

    void setRule(const std::string& key, std::shared_ptr<CVDisplayRule> rule) {
        std::lock_guard lock(mutex_);
        rules_[key] = std::move(rule);
    }
    [[nodiscard]] bool hasRulesFor(const std::string& locationId) const {
        std::lock_guard lock(mutex_);
        return ruled_.contains(locationId);
    }
    [[nodiscard]] std::size_t ruledCount() const {
        std::lock_guard lock(mutex_);
        return ruled_.size();
    }
    [[nodiscard]] std::vector<std::string> removed() const {
        std::lock_guard lock(mutex_);
        return removed_;
    }

    EventRecorder events;

private:
    mutable std::mutex mutex_;
    std::set<std::string> ruled_;
    std::vector<std::string> removed_;
    std::map<std::string, std::shared_ptr<CVDisplayRule>> rules_;
};

// Unsubscribing lasts until the test opens the gate.
class FakeLiveData : public CVLiveDataManaging {
public:
    platform::Awaitable<void> unsubscribeAll() override {
        ++calls;
        co_await gate.wait();
        ++ended;
    }
    std::atomic<int> calls{0};
    std::atomic<int> ended{0};
    AsyncGate gate;
};

// Counts refreshes and, per source, the updates it is told.
class FakeMapControl : public CVMapControlling {
public:
    void onLocationsUpdate(const std::vector<std::shared_ptr<CVLocation>>& /*locations*/,
                           const std::shared_ptr<CVLocationSource>& source) override {
        std::lock_guard lock(mutex_);
        ++updates_[source.get()];
    }
    void onLocationsDelete(const std::vector<std::string>& /*locationIds*/,
                           const std::shared_ptr<CVLocationSource>& /*source*/) override {}
    void onStatusChange(CVLocationSourceStatus /*status*/,
                        const std::shared_ptr<CVLocationSource>& /*source*/) override {}
    void refresh() override { ++refreshes; }
    void setPositionProvider(std::shared_ptr<CVPositionProvider> provider) override {
        std::lock_guard lock(mutex_);
        positionProvider_ = std::move(provider);
    }

    void clearUpdates() {
        std::lock_guard lock(mutex_);
        updates_.clear();
    }
    [[nodiscard]] std::map<const CVLocationSource*, int> updates() const {
        std::lock_guard lock(mutex_);
        return updates_;
    }
    [[nodiscard]] std::shared_ptr<CVPositionProvider> positionProvider() const {
        std::lock_guard lock(mutex_);
        return positionProvider_;
    }

    std::atomic<int> refreshes{0};

private:
    mutable std::mutex mutex_;
    std::map<const CVLocationSource*, int> updates_;
    std::shared_ptr<CVPositionProvider> positionProvider_;
};

// The entry object on the sample solution's loopback web service, with the
// subsystems above it faked: a fresh entry object per test, nothing bound.
class EntryFixture : public CapturedLog, public SampleServiceFixture {
protected:
    EntryFixture() {
        CVTileCache::resetDefaultTileCacheForTesting();
        CVLogger::resetSharedForTesting();
        AmbrellLegacy::setApiKey(std::nullopt);
        CVRouteNetworkSeams::setService(std::make_shared<TokenRouteNetworks>());
        CVSubsystemSeams::setDisplayRuleManagerFactory([this](auto /*solution*/) {
            auto manager = std::make_shared<FakeDisplayRules>();
            std::lock_guard lock(mutex_);
            managers_.push_back(manager);
            return manager;
        });
        CVSubsystemSeams::setLiveDataManager(liveData_);
        std::weak_ptr<AmbrellInternal> entry = entry_;
        CVSubsystemSeams::setMapControlFactory([this, entry](auto /*config*/) {
            auto mapControl = std::make_shared<FakeMapControl>();
            // As a real map control does on its creation.
            if (const auto owner = entry.lock()) owner->setActiveMapControlInstance(mapControl);
            std::lock_guard lock(mutex_);
            mapControls_.push_back(mapControl);
            return mapControl;
        });
    }
    ~EntryFixture() override {
        liveData_->gate.open();
        // Changes the sources told the location service are still taken in
        // on its actor; a call queued behind them ends after them.
        if (const auto service = entry_->locationService()) {
            for (int round = 0; round < 2; ++round) (void)awaited(service->locationSources());
        }
        platform::MainQueue::shared().drain();
        CVEntryObjectSeam::install(nullptr);
        CVContentContext::resetForTesting();
        CVSubsystemSeams::resetForTesting();
        CVRouteNetworkSeams::resetForTesting();
        CVVenueInternal::resetForTesting();
        CVLocationSourceIndex::clear();
        CVMemoryCache::clearAllCaches();
        CVTileCache::resetDefaultTileCacheForTesting();
        CVLogger::resetSharedForTesting();
    }

    // Runs the operation and waits for its one completion.
    template <typename Start>
    static std::optional<platform::NSError> completed(Start start) {
        auto answered = std::make_shared<std::promise<std::optional<platform::NSError>>>();
        auto calls = std::make_shared<std::atomic<int>>(0);
        auto held = std::make_shared<std::atomic<bool>>(false);
        start([answered, calls, held](std::optional<platform::NSError> error) {
            // Never called where it could hold the SDK up.
            *held = platform::MainQueue::shared().isCurrent() || platform::LocationServiceActor::shared().isCurrent() ||
                    platform::LoadingActor::shared().isCurrent();
            if (++*calls == 1) answered->set_value(std::move(error));
        });
        auto answer = answered->get_future();
        if (answer.wait_for(kBound) != std::future_status::ready) {
            ADD_FAILURE() << "no completion";
            return platform::NSError{"test", -2, {}};
        }
        platform::MainQueue::shared().drain();
        EXPECT_EQ(calls->load(), 1);
        EXPECT_FALSE(held->load());
        return answer.get();
    }
    std::optional<platform::NSError> load(std::optional<std::string> key,
                                          std::optional<std::vector<std::string>> venueIds = std::nullopt) {
        return completed([&](auto done) { entry_->load(key, venueIds, done); });
    }
    std::optional<platform::NSError> loadSample() { return load(id()); }
    std::vector<std::shared_ptr<CVLocation>> search(std::optional<CVQuery> query, CVFilter filter = {},
                                                    bool internal = false) const {
        auto answered = std::make_shared<std::promise<std::vector<std::shared_ptr<CVLocation>>>>();
        auto done = [answered](auto locations) { answered->set_value(std::move(locations)); };
        if (internal) {
            entry_->internalLocationsLookupWithQuery(std::move(query), std::move(filter), done);
        } else {
            entry_->locationsWithQuery(std::move(query), std::move(filter), done);
        }
        auto answer = answered->get_future();
        if (answer.wait_for(kBound) != std::future_status::ready) ADD_FAILURE() << "no search answer";
        return answer.get();
    }
    // Every location of the loaded venue sources.
    [[nodiscard]] std::vector<std::shared_ptr<CVLocation>> venueLocations() const {
        std::vector<std::shared_ptr<CVLocation>> all;
        for (const auto& source : venueSources()) {
            const auto own = source->getLocations();
            all.insert(all.end(), own.begin(), own.end());
        }
        return all;
    }
    [[nodiscard]] std::vector<std::shared_ptr<CVVenueLocationSource>> venueSources() const {
        std::vector<std::shared_ptr<CVVenueLocationSource>> sources;
        for (const auto& venueId : {kMeridian, kHarbour}) {
            if (const auto handler = entry_->venueHandlerForVenueId(venueId)) {
                sources.push_back(std::dynamic_pointer_cast<CVVenueLocationSource>(handler->locationSource()));
            }
        }
        return sources;
    }
    [[nodiscard]] std::shared_ptr<FakeDisplayRules> manager() const {
        return std::dynamic_pointer_cast<FakeDisplayRules>(entry_->displayRuleManager());
    }
    [[nodiscard]] std::size_t managersMade() const {
        std::lock_guard lock(mutex_);
        return managers_.size();
    }
    static std::size_t countOf(const std::vector<std::string>& events, const std::string& event) {
        return static_cast<std::size_t>(std::count(events.begin(), events.end(), event));
    }
    [[nodiscard]] std::size_t requestsToKeyCheck() { return service_.web().requestsTo(keyCheckPath()).size(); }
    [[nodiscard]] std::string keyCheckPath() const { return "/" + id() + "/api/validateapikey"; }

    std::shared_ptr<AmbrellInternal> entry_ = AmbrellInternal::create();
    std::shared_ptr<FakeLiveData> liveData_ = std::make_shared<FakeLiveData>();
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<FakeDisplayRules>> managers_;
    std::vector<std::shared_ptr<FakeMapControl>> mapControls_;
};

}  // namespace ambrell::test
