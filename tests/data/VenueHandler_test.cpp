// The venue handler against the sample solution's loopback web service (the
// building and derived-geometry providers are real), with recording fakes of
// the entry object, the venue's location source and the route-network
// service, which live above the content layer.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <future>
#include <map>
#include <mutex>
#include <thread>

#include "Ambrell/CVError.h"
#include "Ambrell/ErrorObjects.h"
#include "data/CVBuildingCollection.h"
#include "data/CVBuildingProvider.h"
#include "data/CVEntrySeams.h"
#include "data/CVMemoryCache.h"
#include "data/CVModelCache.h"
#include "data/CVRouteNetworkSeams.h"
#include "data/CVVenueHandler.h"
#include "data/CVVenueInternal.h"
#include "data/CVVenueProvider.h"
#include "platform/Paths.h"
#include "tests/data/SampleServiceFixture.h"
#include "tests/support/AsyncTesting.h"
#include "tests/support/EventRecorder.h"
#include "tests/support/TempDirectory.h"
#include "tests/support/WaitFor.h"

namespace ambrell::venue_handler_test {
namespace {

constexpr auto kBound = std::chrono::seconds(20);
// The sample's venues: two buildings in the first, one in the second.
const std::string kMeridian = "c4c33ed16a328b160781e953";
const std::string kHarbour = "fa9667907de4ca4e499511cb";
const std::string kMeridianNames = "Meridian Hall;Observatory Annex;";
const std::string kHarbourNames = "Harbour House;";
constexpr std::size_t kMeridianGeometries = 237;

std::string namesOf(const CVVenueHandler::Buildings& buildings) {
    std::string names;
    for (const auto& building : buildings) names += building->name + ";";
    return names;
}

// What the fakes were asked, in order.
using Journal = test::EventRecorder;

class FakeEntry : public CVEntryObjectSeam {
public:
    std::shared_ptr<CVDisplayRule> displayRuleForLocation(const CVLocation& /*location*/) const override {
        return nullptr;
    }
    std::optional<std::string> apiKey() const override {
        std::lock_guard lock(mutex_);
        return key_;
    }
    std::string language() const override { return "en"; }
    std::shared_ptr<CVVenueHandler> venueHandlerForVenueId(const std::string& venueId) const override {
        std::lock_guard lock(mutex_);
        const auto handler = handlers_.find(venueId);
        return handler == handlers_.end() ? nullptr : handler->second;
    }

    void setKey(std::optional<std::string> key) {
        std::lock_guard lock(mutex_);
        key_ = std::move(key);
    }
    void add(const std::shared_ptr<CVVenueHandler>& handler) {
        std::lock_guard lock(mutex_);
        handlers_[handler->venueId()] = handler;
    }

private:
    mutable std::mutex mutex_;
    std::optional<std::string> key_;
    std::map<std::string, std::shared_ptr<CVVenueHandler>> handlers_;
};

// Notes what the handler had loaded when it was asked for the locations.
class FakeLocationSource : public CVVenueLocationSourcing {
public:
    FakeLocationSource(std::shared_ptr<Journal> journal, std::optional<CVErrorCase> failure)
        : journal_(std::move(journal)), failure_(failure) {}

    platform::Awaitable<void> loadLocations() override {
        const auto handler = owner.lock();
        journal_->add("locations " + handler->venueId() + " after " + std::to_string(handler->buildings().size()) +
                      " buildings, " + std::to_string(handler->derivedGeometries().size()) + " geometries");
        if (failure_) throw CVError(*failure_);
        co_return;
    }

    std::weak_ptr<CVVenueHandler> owner;

private:
    std::shared_ptr<Journal> journal_;
    std::optional<CVErrorCase> failure_;
};

// Its route-network data is a stand-in that only it looks into: the number of
// networks.
class FakeRouteService : public CVRouteNetworkServicing {
public:
    enum class Answer { networks, error, neither };

    explicit FakeRouteService(std::shared_ptr<Journal> journal) : journal_(std::move(journal)) {}

    bool isCachedDataAvailableForSolutionId(std::string_view /*solutionId*/) const override { return false; }
    void getRouteNetworkForSolutionAsync(std::string solutionId, std::string venueId, Completion completion) override {
        journal_->add("graph " + solutionId + " " + venueId);
        switch (answer) {
            case Answer::networks: return completion(dataWith(networks), std::nullopt);
            case Answer::error: return completion(nullptr, CVRouteNetworkSeams::routeNetworkUnavailableError());
            case Answer::neither: return completion(nullptr, std::nullopt);
        }
    }
    std::size_t networkCount(const CVRouteNetworkData& data) const override {
        return *reinterpret_cast<const std::size_t*>(&data);
    }
    std::shared_ptr<CVRouteNetworkData> mergeRouteNetworks(
        const std::vector<std::shared_ptr<CVRouteNetworkData>>& /*graphs*/) const override {
        return nullptr;
    }
    static std::shared_ptr<CVRouteNetworkData> dataWith(std::size_t count) {
        auto owner = std::make_shared<std::size_t>(count);
        return {owner, reinterpret_cast<CVRouteNetworkData*>(owner.get())};
    }

    // Set before any load.
    Answer answer = Answer::networks;
    std::size_t networks = 1;

private:
    std::shared_ptr<Journal> journal_;
};

class VenueHandler : public test::SampleServiceFixture {
protected:
    VenueHandler() {
        entry_->setKey(service_.solutionId());
        CVEntryObjectSeam::install(entry_);
        CVRouteNetworkSeams::setService(routes_);
    }
    ~VenueHandler() override {
        platform::MainQueue::shared().drain();
        CVEntryObjectSeam::install(nullptr);
        CVRouteNetworkSeams::resetForTesting();
        CVVenueInternal::resetForTesting();
        CVMemoryCache::clearAllCaches();
        CVVenueHandler::setBuildingListObserverForTesting(nullptr);
    }

    std::shared_ptr<CVVenueHandler> makeHandler(const std::string& venueId,
                                                std::optional<CVErrorCase> locationFailure = std::nullopt) {
        auto source = std::make_shared<FakeLocationSource>(journal_, locationFailure);
        auto handler = std::make_shared<CVVenueHandler>(service_.solutionId(), venueId, source);
        source->owner = handler;
        entry_->add(handler);
        return handler;
    }
    static std::shared_ptr<CVVenueInternal> cacheVenue(const std::string& venueId) {
        auto venue = std::make_shared<CVVenueInternal>();
        venue->venueId = venueId;
        CVMemoryCache::venueCache().setValue(venue, venueId);
        return venue;
    }
    // None when it succeeded, else the error object of what it threw. The
    // completion form reads the error where it was thrown.
    static std::optional<platform::NSError> load(const std::shared_ptr<CVVenueHandler>& handler) {
        auto answered = std::make_shared<std::promise<std::optional<platform::NSError>>>();
        handler->loadVenueDataWithCompletion([answered](auto error) { answered->set_value(std::move(error)); });
        auto answer = answered->get_future();
        if (answer.wait_for(kBound) != std::future_status::ready) return platform::NSError{"no answer", 0, {}};
        return answer.get();
    }
    // The names of the solution-wide building list the venue provider answers from.
    std::string solutionBuildings() const {
        const auto key = CVVenueProvider::buildingsCacheKeyForSolutionId(service_.solutionId(), "en");
        const auto collection = CVModelCache::memoryCache()->objectForKey<CVBuildingCollection>(key);
        return collection ? namesOf(collection->buildings) : "none";
    }
    std::vector<std::string> requestedPaths() {
        std::vector<std::string> paths;
        for (const auto& request : service_.web().requests()) paths.push_back(request.path);
        return paths;
    }

    std::shared_ptr<Journal> journal_ = std::make_shared<Journal>();
    std::shared_ptr<FakeEntry> entry_ = std::make_shared<FakeEntry>();
    std::shared_ptr<FakeRouteService> routes_ = std::make_shared<FakeRouteService>(journal_);
};

TEST_F(VenueHandler, LoadsBuildingsDerivedGeometryLocationsAndRouteNetworkInThatOrder) {
    const auto venue = cacheVenue(kMeridian);
    const auto handler = makeHandler(kMeridian);
    EXPECT_FALSE(venue->hasGraph()) << "before the load";
    EXPECT_EQ(load(handler), std::nullopt);

    EXPECT_EQ(requestedPaths(), (std::vector<std::string>{"/sync/buildings", "/sync/derivedGeometry"}));
    EXPECT_EQ(journal_->events(),
              (std::vector<std::string>{"locations " + kMeridian + " after 2 buildings, 237 geometries",
                                        "graph " + service_.solutionId() + " " + kMeridian}));
    EXPECT_EQ(namesOf(handler->buildings()), kMeridianNames);
    EXPECT_EQ(handler->derivedGeometries().size(), kMeridianGeometries);
    // A new venue object carries them; the one handed out before is left as it was.
    const auto published = CVMemoryCache::venueCache().getValue(kMeridian).value_or(nullptr);
    ASSERT_NE(published, nullptr);
    EXPECT_NE(published, venue);
    EXPECT_EQ(published->buildings, handler->buildings());
    EXPECT_EQ(published->venueId, kMeridian);
    EXPECT_TRUE(venue->buildings.empty());
    EXPECT_EQ(solutionBuildings(), kMeridianNames) << "a new collection when none was held";
    EXPECT_TRUE(venue->hasGraph());
    EXPECT_TRUE(published->hasGraph());
}

// The cached venue is read on other threads (by its location source, by the
// route networks) while venues load: the load never writes to it.
TEST_F(VenueHandler, TheVenuesBuildingsArePublishedWithoutWritingToTheCachedVenue) {
    const auto venue = cacheVenue(kMeridian);
    std::atomic<bool> loaded{false};
    std::atomic<int> reads{0};
    std::size_t seen = 0;
    // Reads the venue it was handed, as a reader that got it earlier does,
    // with nothing that orders its reads after the load's.
    std::thread reader([&] {
        while (!loaded) {
            seen = std::max(seen, venue->buildings.size());
            ++reads;
            std::this_thread::yield();
        }
    });
    EXPECT_TRUE(test::waitFor([&] { return reads.load() > 0; }, kBound));
    const auto handler = makeHandler(kMeridian);
    EXPECT_EQ(load(handler), std::nullopt);
    loaded = true;
    reader.join();
    EXPECT_EQ(seen, 0U) << "the venue handed out stays as it was";
    const auto published = CVMemoryCache::venueCache().getValue(kMeridian).value_or(nullptr);
    ASSERT_NE(published, nullptr);
    EXPECT_EQ(published->buildings, handler->buildings());
}

// A venue whose load failed after its buildings were shared takes them back,
// so loading it again does not list them twice.
TEST_F(VenueHandler, WithdrawnBuildingsLeaveTheSolutionWideListOnce) {
    const auto failed = makeHandler(kMeridian, CVErrorCase::dataUnavailable);
    EXPECT_NE(load(failed), std::nullopt);
    EXPECT_EQ(solutionBuildings(), kMeridianNames);
    EXPECT_EQ(load(makeHandler(kHarbour)), std::nullopt);
    failed->withdrawBuildings();
    EXPECT_EQ(solutionBuildings(), kHarbourNames);
    failed->withdrawBuildings();
    EXPECT_EQ(solutionBuildings(), kHarbourNames) << "once";
    EXPECT_EQ(load(makeHandler(kMeridian)), std::nullopt);
    EXPECT_EQ(solutionBuildings(), kHarbourNames + kMeridianNames);
}

TEST_F(VenueHandler, EachLoadedVenueGrowsTheSolutionWideBuildingList) {
    EXPECT_EQ(load(makeHandler(kMeridian)), std::nullopt);
    // Harbour is not in the venue cache: nothing to update, the load goes on.
    const auto harbour = makeHandler(kHarbour);
    EXPECT_EQ(load(harbour), std::nullopt);
    EXPECT_EQ(namesOf(harbour->buildings()), kHarbourNames);
    EXPECT_EQ(solutionBuildings(), kMeridianNames + kHarbourNames);
    EXPECT_FALSE(CVMemoryCache::venueCache().getValue(kHarbour));
}

TEST_F(VenueHandler, TheFailingStepsErrorEndsTheLoadUnchangedKeepingWhatWasLoaded) {
    struct Case {
        std::string name;
        std::function<void()> arrange;
        std::optional<CVErrorCase> locationFailure;
        std::string domain;
        std::int64_t code;
        // What the handler holds afterwards, and what the fakes were asked.
        bool buildings, geometries, locations, graph;
    };
    // Nothing on the device answers for the venue's derived geometry, and its download does not read.
    const test::TempDirectory noResources;
    const auto derivedGeometryRoute = [this, &noResources] {
        const auto url =
            CVAXAPI::sharedInstance()->derivedGeometrySyncUrlForSolutionId(service_.solutionId(), "en", kMeridian);
        platform::Paths::setResourcesFolder(noResources.path());
        CVOfflineBundleHelper::resetForTesting();
        if (const auto copy = AmbrellLegacy::dataSetCacheManager()->pathForCachingUrl(url, service_.solutionId())) {
            std::filesystem::remove(*copy);
        }
        service_.web().respond(url.substr(service_.baseUrl().size() - 1), {200, "[", {}});
    };
    const std::vector<Case> cases = {
        {"no API key", [this] { entry_->setKey(std::nullopt); }, {}, "Ambrell.CVError", 0, false, false, false, false},
        {"buildings",
         [this] { entry_->setKey("other-solution"); },
         {},
         "com.corvay.Ambrell",
         100410,
         false,
         false,
         false,
         false},
        {"locations", {}, CVErrorCase::dataUnavailable, "Ambrell.CVError", 10, true, true, true, false},
        {"route network",
         [this] { routes_->answer = FakeRouteService::Answer::error; },
         {},
         "com.corvay.Ambrell",
         101400,
         true,
         true,
         true,
         true},
        // Last: the venue's derived geometry stays unusable.
        {"derived geometry", derivedGeometryRoute, {}, "com.corvay.Ambrell", 100920, true, false, false, false},
    };
    for (const auto& step : cases) {
        SCOPED_TRACE(step.name);
        CVModelCache::memoryCache()->clearCache();
        entry_->setKey(service_.solutionId());
        routes_->answer = FakeRouteService::Answer::networks;
        if (step.arrange) step.arrange();
        const auto before = journal_->events().size();
        const auto handler = makeHandler(kMeridian, step.locationFailure);
        const auto error = load(handler);
        ASSERT_TRUE(error);
        EXPECT_EQ(std::tie(error->domain, error->code), std::tie(step.domain, step.code));
        EXPECT_EQ(handler->buildings().size(), step.buildings ? 2U : 0U);
        EXPECT_EQ(handler->derivedGeometries().size(), step.geometries ? kMeridianGeometries : 0U);
        EXPECT_EQ(handler->graph(), nullptr);
        EXPECT_EQ(journal_->events().size() - before, static_cast<std::size_t>(step.locations) + step.graph);
    }
}

TEST_F(VenueHandler, HasGraphWhenTheEntryObjectsHandlerHoldsARouteNetwork) {
    const auto venue = cacheVenue(kMeridian);
    const auto other = cacheVenue("no-handler");
    const auto handler = makeHandler(kMeridian);
    // Neither a network nor an error: no graph, and the venue still loads.
    routes_->answer = FakeRouteService::Answer::neither;
    EXPECT_EQ(load(handler), std::nullopt);
    EXPECT_EQ(handler->graph(), nullptr);
    EXPECT_FALSE(venue->hasGraph());

    routes_->answer = FakeRouteService::Answer::networks;
    for (const std::size_t networks : {0U, 2U}) {
        routes_->networks = networks;
        const auto reloaded = makeHandler(kMeridian);
        EXPECT_EQ(load(reloaded), std::nullopt);
        EXPECT_NE(reloaded->graph(), nullptr);
        EXPECT_EQ(venue->hasGraph(), networks > 0) << networks;
    }
    EXPECT_FALSE(other->hasGraph()) << "no handler";
    EXPECT_FALSE(CVVenueInternal().hasGraph()) << "no venue id";
    CVEntryObjectSeam::install(nullptr);
    EXPECT_FALSE(venue->hasGraph()) << "no entry object";
}

TEST_F(VenueHandler, CancellingWhileTheBuildingsLoadEndsTheLoadAndDropsTheLateAnswer) {
    const auto cancelled = makeHandler(kMeridian);
    // The provider's queue is held so that the request is still running.
    std::promise<void> release;
    CVBuildingProvider::queue().async([gate = release.get_future().share()] { gate.wait(); });
    auto cancelledWithCancellation = std::make_shared<std::promise<bool>>();
    const auto task = platform::Task::start(
        [cancelled] { return cancelled->loadVenueData(); },
        [cancelledWithCancellation](platform::TaskResult<void> outcome) {
            cancelledWithCancellation->set_value(test::failedWith<platform::CancellationError>(std::optional(outcome)));
        });
    task.cancel();
    auto answer = cancelledWithCancellation->get_future();
    const bool ended = answer.wait_for(kBound) == std::future_status::ready;
    release.set_value();
    ASSERT_TRUE(ended);
    EXPECT_TRUE(answer.get());

    EXPECT_EQ(load(makeHandler(kMeridian)), std::nullopt);
    EXPECT_TRUE(cancelled->buildings().empty());
    EXPECT_EQ(solutionBuildings(), kMeridianNames) << "the late answer added nothing";
    EXPECT_EQ(journal_->events().size(), 2U);
}

TEST_F(VenueHandler, OverlappingLoadsAppendToTheSolutionWideBuildingListOneAtATime) {
    constexpr int kLoads = 6;
    // The first load to have read the list holds there, before it stores the
    // list grown, until another load comes to the list too: waiting for it,
    // or, were the loads not one at a time, having read the same list.
    std::atomic<int> aboutToStore{0};
    std::atomic<int> waiting{0};
    std::atomic<bool> anotherCame{false};
    CVVenueHandler::setBuildingListObserverForTesting([&](CVVenueHandler::BuildingListStep step) {
        if (step == CVVenueHandler::BuildingListStep::waitingForAnotherLoad) {
            ++waiting;
            return;
        }
        if (++aboutToStore == 1) anotherCame = test::waitFor([&] { return waiting > 0 || aboutToStore > 1; });
    });
    std::vector<std::shared_ptr<CVVenueHandler>> handlers;
    std::vector<test::StartedTask<void>> loads;
    for (int k = 0; k < kLoads; ++k) {
        handlers.push_back(makeHandler(k % 2 == 0 ? kMeridian : kHarbour));
        loads.push_back(test::startTask(handlers.back()->loadVenueData()));
    }
    for (const auto& started : loads) {
        const auto result = started.result(kBound);
        ASSERT_TRUE(result && !result->error());
    }
    const std::string names = solutionBuildings();
    const auto count = [&names](const std::string& name) {
        std::size_t found = 0;
        for (auto at = names.find(name); at != std::string::npos; at = names.find(name, at + 1)) ++found;
        return found;
    };
    EXPECT_EQ(count("Meridian Hall;"), kLoads / 2U);
    EXPECT_EQ(count("Observatory Annex;"), kLoads / 2U);
    EXPECT_EQ(count(kHarbourNames), kLoads / 2U);
    EXPECT_TRUE(anotherCame) << "no other load came to the list while the first held it";
}

}  // namespace
}  // namespace ambrell::venue_handler_test
