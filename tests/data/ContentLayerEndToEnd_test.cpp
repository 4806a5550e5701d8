// The content layer end to end against the sample solution: the key is bound
// with the sample served on loopback and every venue's data loads through its
// handler; then the same offline, once right after a synchronisation of the
// data set and once from the bundled resources alone. The entry object, the location source and
// the route-network service live above this layer and are stand-ins here.

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <map>
#include <mutex>
#include <set>

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>

#include "Ambrell/CVDataSetCache.h"
#include "data/CVEntrySeams.h"
#include "data/CVMemoryCache.h"
#include "data/CVRouteNetworkSeams.h"
#include "data/CVVenueHandler.h"
#include "data/CVVenueInternal.h"
#include "data/CVVenueProvider.h"
#include "data/DataSetManager/CVTileCache.h"
#include "platform/FileSystem.h"
#include "tests/data/SampleServiceFixture.h"
#include "tests/support/WaitFor.h"

namespace ambrell::content_layer_end_to_end_test {
namespace {

namespace json = boost::json;
constexpr auto kBound = std::chrono::seconds(60);

class Entry : public CVEntryObjectSeam {
public:
    explicit Entry(std::string key) : key_(std::move(key)) {}
    std::shared_ptr<CVDisplayRule> displayRuleForLocation(const CVLocation& /*location*/) const override {
        return nullptr;
    }
    std::optional<std::string> apiKey() const override { return key_; }
    std::string language() const override { return "en"; }
    std::shared_ptr<CVVenueHandler> venueHandlerForVenueId(const std::string& venueId) const override {
        std::lock_guard lock(mutex_);
        const auto handler = handlers_.find(venueId);
        return handler == handlers_.end() ? nullptr : handler->second;
    }
    void add(const std::shared_ptr<CVVenueHandler>& handler) {
        std::lock_guard lock(mutex_);
        handlers_[handler->venueId()] = handler;
    }

private:
    const std::string key_;
    mutable std::mutex mutex_;
    std::map<std::string, std::shared_ptr<CVVenueHandler>> handlers_;
};

class NoLocations : public CVVenueLocationSourcing {
public:
    platform::Awaitable<void> loadLocations() override { co_return; }
};

class ContentLayerEndToEnd : public test::SampleServiceFixture {
protected:
    ContentLayerEndToEnd() {
        CVTileCache::resetDefaultTileCacheForTesting();
        AmbrellLegacy::setApiKey(std::nullopt);
        CVEntryObjectSeam::install(entry_);
        CVRouteNetworkSeams::setService(std::make_shared<test::NoRouteNetworks>());
    }
    ~ContentLayerEndToEnd() override {
        platform::MainQueue::shared().drain();
        CVEntryObjectSeam::install(nullptr);
        CVRouteNetworkSeams::resetForTesting();
        CVVenueInternal::resetForTesting();
        CVMemoryCache::clearAllCaches();
        CVTileCache::resetDefaultTileCacheForTesting();
    }

    // Binds and waits for the completion, which comes once, also offline.
    void bind() {
        auto calls = std::make_shared<std::atomic<int>>(0);
        ASSERT_TRUE(AmbrellLegacy::provideAPIKey(id(), [calls] { ++*calls; }));
        ASSERT_TRUE(test::waitFor([&] { return calls->load() > 0; }, kBound));
        platform::MainQueue::shared().drain();
        EXPECT_EQ(calls->load(), 1);
    }
    void synchronizeDataSet() {
        const auto manager = AmbrellLegacy::dataSetCacheManager();
        const auto dataSet = manager->dataSetWithId(id());
        ASSERT_TRUE(dataSet);
        auto completions = std::make_shared<std::atomic<int>>(0);
        auto failed = std::make_shared<std::atomic<bool>>(false);
        manager->synchronizeCacheItems(
            {dataSet->cacheItem()}, [completions](auto) { ++*completions; },
            [failed](const auto&, auto error) {
                if (error) *failed = true;
            });
        ASSERT_TRUE(test::waitFor([&] { return completions->load() == 1; }, kBound));
        platform::MainQueue::shared().drain();
        EXPECT_FALSE(*failed);
        EXPECT_TRUE(dataSet->isCached());
    }
    // Nothing is left in memory and nothing can be downloaded.
    void goOffline() {
        service_.stop();
        setOnline(false);
        CVModelCache::memoryCache()->clearCache();
        CVMemoryCache::clearAllCaches();
    }

    // Where the derived geometry comes from: each venue's own document, or
    // the one document of all venues (the bundle's or the data set's), which
    // names no venue and so is given whole to each.
    enum class Geometry { perVenue, whole };

    // Every venue of the solution through its own handler, each with the
    // sample's building and derived-geometry counts.
    void loadEveryVenue(Geometry geometry = Geometry::perVenue) {
        // Shared with the completions, which may come after a failed wait.
        auto listed = std::make_shared<std::promise<CVVenueProvider::Venues>>();
        provider_->getVenuesAsync(id(), "en", [listed](auto venues, auto error) {
            EXPECT_EQ(error, std::nullopt);
            listed->set_value(std::move(venues));
        });
        auto venues = listed->get_future();
        ASSERT_EQ(venues.wait_for(kBound), std::future_status::ready);
        const auto counts = json::parse(*platform::readTextFile(service_.sample() / "expected-counts.json"));
        const auto& perVenue = counts.at("perVenue").as_object();
        std::set<std::string> loaded;
        for (const auto& venue : venues.get()) {
            SCOPED_TRACE(venue->venueId);
            const auto handler =
                std::make_shared<CVVenueHandler>(id(), venue->venueId, std::make_shared<NoLocations>());
            entry_->add(handler);
            auto answered = std::make_shared<std::promise<std::optional<platform::NSError>>>();
            handler->loadVenueDataWithCompletion([answered](auto error) { answered->set_value(std::move(error)); });
            auto answer = answered->get_future();
            ASSERT_EQ(answer.wait_for(kBound), std::future_status::ready);
            const auto error = answer.get();
            EXPECT_EQ(error, std::nullopt);
            const auto& expected = perVenue.at(venue->venueId);
            EXPECT_EQ(handler->buildings().size(), expected.at("buildings").to_number<std::size_t>());
            const auto& geometries = geometry == Geometry::whole ? counts : expected;
            EXPECT_EQ(handler->derivedGeometries().size(),
                      geometries.at("derivedGeometry").at("total").to_number<std::size_t>());
            loaded.insert(venue->venueId);
        }
        EXPECT_EQ(loaded.size(), perVenue.size());
    }

    std::shared_ptr<Entry> entry_ = std::make_shared<Entry>(id());
    std::shared_ptr<CVVenueProvider> provider_ = std::make_shared<CVVenueProvider>();
    test::TempDirectory emptyResources_;
};

TEST_F(ContentLayerEndToEnd, Online) {
    bind();
    ASSERT_TRUE(AmbrellLegacy::solution());
    synchronizeDataSet();
    // The synchronisation holds the solution-wide documents; each venue's own
    // derived geometry is still downloaded.
    const auto synchronised = requestsTo("derivedGeometry");
    loadEveryVenue();
    EXPECT_EQ(requestsTo("derivedGeometry") - synchronised, 2U);
}

TEST_F(ContentLayerEndToEnd, OfflineRightAfterASynchronisation) {
    bind();
    synchronizeDataSet();
    goOffline();
    // The app carries nothing: only the solution-wide documents of the data
    // set can answer, each venue's buildings cut out of the solution's.
    platform::Paths::setResourcesFolder(emptyResources_.path());
    CVOfflineBundleHelper::resetForTesting();
    loadEveryVenue(Geometry::whole);
}

TEST_F(ContentLayerEndToEnd, OfflineInAFreshContainerFromTheBundledResources) {
    goOffline();
    bind();
    loadEveryVenue(Geometry::whole);
}

}  // namespace
}  // namespace ambrell::content_layer_end_to_end_test
