// The building provider and the building info cache against the sample
// solution's loopback web service, with the sample's bundle as the host app's
// resources and a data set in a temporary container.

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>

#include "data/AmbrellLegacy.h"
#include "data/CVBuildingCollection.h"
#include "data/CVBuildingInfoCache.h"
#include "data/CVBuildingProvider.h"
#include "data/CVLanguageSupport.h"
#include "data/CVModelCache.h"
#include "foundation/CVAXAPI.h"
#include "foundation/CVExtendedFileAttributes.h"
#include "platform/FileSystem.h"
#include "platform/runtime/MainQueue.h"
#include "tests/data/SampleServiceFixture.h"
#include "tests/support/AsyncTesting.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/EventRecorder.h"
#include "tests/support/WaitFor.h"

namespace ambrell::building_provider_test {
namespace {

namespace fs = std::filesystem;
using platform::NSError;

constexpr auto kBound = std::chrono::seconds(20);
constexpr std::string_view kOtherId = "other-solution";
// The sample's venues: two buildings in the first, one in the second.
const std::string kMeridian = "c4c33ed16a328b160781e953";
const std::string kHarbour = "fa9667907de4ca4e499511cb";
const std::string kMeridianNames = "Meridian Hall;Observatory Annex;";

// What a request answered: the buildings' names (in list order), or the error.
struct Answer {
    std::string names;
    std::optional<NSError> error;
    bool onMainQueue = false;
};

std::string namesOf(const CVBuildingProvider::Buildings& buildings) {
    std::string names;
    for (const auto& building : buildings) names += building->name + ";";
    return names;
}

class Recorder : public CVBuildingProviderDelegate, public test::EventRecorder {
public:
    void onBuildingsReady(const CVBuildingProvider::Buildings& buildings) override {
        record("list " + namesOf(buildings));
    }
    void onBuildingDetailsReady(const std::shared_ptr<CVBuildingInternal>& building) override {
        record("details " + building->name);
    }
    void onBuildingWithinBoundsReady(const std::shared_ptr<CVBuildingInternal>& building) override {
        record("within " + (building ? building->name : std::string("none")));
    }
};

class BuildingProvider : protected test::CapturedLog, public test::SampleServiceFixture {
protected:
    // The buildings are fetched per venue: these stand in for the fixture's per-endpoint URLs.
    static std::string url(std::string_view venueId, std::string_view solutionId = {}) {
        return CVAXAPI::sharedInstance()->buildingSyncUrlForSolutionId(solutionId, "en", venueId);
    }
    [[nodiscard]] std::string route(std::string_view venueId, std::string_view solutionId) const {
        return url(venueId, solutionId).substr(service_.baseUrl().size() - 1);
    }
    static fs::path dataSetFile(std::string_view venueId, std::string_view solutionId) {
        return *AmbrellLegacy::dataSetCacheManager()->pathForCachingUrl(url(venueId, solutionId), solutionId);
    }
    static std::size_t held() { return CVModelCache::memoryCache()->count(); }

    static Answer list(CVBuildingProvider& provider, const std::string& venueId, std::string_view solutionId) {
        auto promise = std::make_shared<std::promise<Answer>>();
        auto answered = promise->get_future();
        provider.getBuildingsAsync(venueId, std::string(solutionId), "en", [promise](auto buildings, auto error) {
            promise->set_value(Answer{namesOf(buildings), std::move(error), platform::MainQueue::shared().isCurrent()});
        });
        if (answered.wait_for(kBound) != std::future_status::ready) {
            ADD_FAILURE() << "no answer";
            return {};
        }
        auto answer = answered.get();
        EXPECT_TRUE(answer.onMainQueue);
        return answer;
    }
    Answer list(const std::string& venueId) {
        return list(*CVBuildingProvider::initWithVenueId(venueId), venueId, id());
    }
    static void expectError(const Answer& answer, std::int64_t code) {
        EXPECT_EQ(answer.names, "");
        EXPECT_EQ(answer.error, (NSError{"com.corvay.Ambrell", code, {}}));
    }
    // The sample's venue document (the solution-wide one without a venue) with
    // the first building renamed, to tell copies apart.
    [[nodiscard]] std::string marked(const std::string& venueId, std::string_view mark) const {
        auto document = service_.served(
            platform::readTextFile(service_.sample() / "service" / "sync" / venueId / "buildings_en.json")
                .value_or(""));
        const std::string name = "Meridian Hall";
        if (const auto at = document.find(name); at != std::string::npos) document.insert(at + name.size(), mark);
        return document;
    }
};

TEST_F(BuildingProvider, DownloadsTheVenuesListThenRevalidatesTheMemoryEntry) {
    EXPECT_EQ(list(kMeridian).names, kMeridianNames);
    EXPECT_EQ(list(kHarbour).names, "Harbour House;");
    EXPECT_TRUE(xattr_lastModified(dataSetFile(kMeridian, id())));
    // A 304 answers the memory entry; the file on disk is not read.
    ASSERT_FALSE(platform::writeFileAtomically(dataSetFile(kMeridian, id()), "not read"));
    xattr_setLastModified(dataSetFile(kMeridian, id()), test::httpDate(service_.lastModified()));
    EXPECT_EQ(list(kMeridian).names, kMeridianNames);
    const auto last = service_.web().lastRequest("/sync/buildings");
    ASSERT_TRUE(last);
    EXPECT_TRUE(last->header("If-Modified-Since"));
    EXPECT_EQ(service_.web().requestsTo("/sync/buildings").size(), 3U);
}

TEST_F(BuildingProvider, OfflineAnswersMemoryThenTheDataSetFilesThenTheVenuesResourceThen100410) {
    for (const bool stopped : {false, true}) {
        CVModelCache::memoryCache()->clearCache();
        if (stopped) {
            setOnline(true);
            service_.stop();
        } else {
            setOnline(false);
        }
        // The data set's copy of the URL, kept in memory afterwards.
        ASSERT_FALSE(platform::writeFileAtomically(dataSetFile(kMeridian, id()), marked(kMeridian, " (data set)")));
        EXPECT_EQ(list(kMeridian).names, "Meridian Hall (data set);Observatory Annex;");
        ASSERT_TRUE(fs::remove(dataSetFile(kMeridian, id())));
        EXPECT_EQ(list(kMeridian).names, "Meridian Hall (data set);Observatory Annex;");
        // The bundled resource holds every venue's buildings; each venue gets its own.
        CVModelCache::memoryCache()->clearCache();
        EXPECT_EQ(list(kMeridian).names, kMeridianNames);
        EXPECT_EQ(list(kHarbour).names, "Harbour House;");
        // A copy that does not read gives way to the resource.
        CVModelCache::memoryCache()->clearCache();
        ASSERT_FALSE(platform::writeFileAtomically(dataSetFile(kHarbour, id()), "{broken"));
        EXPECT_EQ(list(kHarbour).names, "Harbour House;");
        // Ahead of the resource, the data set's solution-wide copy (what a
        // synchronisation fetches), cut down to the venue like the resource.
        CVModelCache::memoryCache()->clearCache();
        const auto wide = *AmbrellLegacy::dataSetCacheManager()->pathForCachingUrl(
            CVAXAPI::sharedInstance()->buildingSyncUrlForSolutionId(id(), "en"), id());
        ASSERT_FALSE(platform::writeFileAtomically(wide, marked("", " (synchronised)")));
        EXPECT_EQ(list(kMeridian).names, "Meridian Hall (synchronised);Observatory Annex;");
        EXPECT_EQ(list(kHarbour).names, "Harbour House;");
        ASSERT_TRUE(fs::remove(wide));
        // Nothing for another solution.
        expectError(list(*CVBuildingProvider::initWithVenueId(kMeridian), kMeridian, kOtherId), 100410);
    }
}

// The request for all venues is not cut down to one: offline with nothing
// in memory, the solution-wide copy and the bundled file answer every venue's
// buildings.
TEST_F(BuildingProvider, OfflineTheRequestForAllVenuesHoldsEveryVenuesBuildings) {
    setOnline(false);
    const std::string all = "Meridian Hall;Observatory Annex;Harbour House;";
    const auto provider = CVBuildingProvider::initWithVenueId(kHarbour);
    const auto wide = *AmbrellLegacy::dataSetCacheManager()->pathForCachingUrl(
        CVAXAPI::sharedInstance()->buildingSyncUrlForSolutionId(id(), "en"), id());
    ASSERT_FALSE(platform::writeFileAtomically(wide, marked("", " (synchronised)")));
    CVModelCache::memoryCache()->clearCache();
    EXPECT_EQ(list(*provider, "all", id()).names, "Meridian Hall (synchronised);Observatory Annex;Harbour House;");

    ASSERT_TRUE(fs::remove(wide));
    CVModelCache::memoryCache()->clearCache();
    EXPECT_EQ(list(*provider, "all", id()).names, all);
    EXPECT_TRUE(service_.web().requestsTo("/sync/buildings").empty());
}

TEST_F(BuildingProvider, UnreadableDownloadsAnd304sWithNothingInMemory) {
    const auto document = marked(kMeridian, " (earlier run)");
    // A 304 with nothing in memory reads the file of an earlier run.
    service_.web().handle(route(kMeridian, kOtherId), [&](const test::RecordedRequest&) {
        EXPECT_FALSE(platform::writeFileAtomically(dataSetFile(kMeridian, kOtherId), document));
        return test::LoopbackWebService::Response{304, "", {}};
    });
    EXPECT_EQ(list(*CVBuildingProvider::initWithVenueId(kMeridian), kMeridian, kOtherId).names,
              "Meridian Hall (earlier run);Observatory Annex;");
    // A download that does not read is a failed one: the list in memory answers it and stays.
    for (const std::string body : {"{\"buildings\": ", "\xff\xfe not text"}) {
        service_.web().respond(route(kMeridian, kOtherId), {200, body, {}});
        EXPECT_EQ(list(*CVBuildingProvider::initWithVenueId(kMeridian), kMeridian, kOtherId).names,
                  "Meridian Hall (earlier run);Observatory Annex;");
        EXPECT_TRUE(logs_.sink().contains("-[CVBuildingProvider getBuildingsAsync:arg:language:completionHandler:] "));
    }
    // With nothing held it is 100310, where a transport error is 100410.
    CVModelCache::memoryCache()->clearCache();
    fs::remove(dataSetFile(kMeridian, kOtherId));
    expectError(list(*CVBuildingProvider::initWithVenueId(kMeridian), kMeridian, kOtherId), 100310);
    service_.web().respond(route(kMeridian, kOtherId), {503, "", {}});
    expectError(list(*CVBuildingProvider::initWithVenueId(kMeridian), kMeridian, kOtherId), 100410);
}

TEST_F(BuildingProvider, TheCurrentKeyFormsAskForAllVenuesAndKeepTheListUnderTheProvidersVenue) {
    service_.web().respond(route("all", id()), {200, service_.syncDocument("buildings", "en"), {}});
    const auto provider = CVBuildingProvider::initWithVenueId(kHarbour);
    const auto recorder = std::make_shared<Recorder>();
    provider->setDelegate(recorder);
    const auto events = [&](std::size_t count) {
        return test::waitFor([&] { return recorder->events().size() == count; }, kBound);
    };
    provider->getBuildingsWithCompletion(
        [&](auto buildings, auto) { recorder->record("completion " + namesOf(buildings)); });
    ASSERT_TRUE(events(2));
    const auto key = provider->buildingsCacheKeyForSolutionId(id(), "en");
    EXPECT_EQ(key, CVModelCache::cacheKeyForUrl(url(kHarbour, id())));
    EXPECT_TRUE(CVModelCache::memoryCache()->objectForKey<CVBuildingCollection>(key));
    EXPECT_EQ(held(), 1U);

    // The look-ups answer from that list.
    provider->getBuildingWithId("982f0638f6130ef7d63e485f", [&](auto building, auto error) {
        recorder->record("completion " + (building ? building->name : "none") + (error ? " error" : ""));
    });
    ASSERT_TRUE(events(4));
    provider->getBuildingWithId("unknown", [&](auto building, auto error) {
        recorder->record("unknown " + std::to_string(error->code) + (building ? " building" : ""));
    });
    ASSERT_TRUE(events(5));
    // A box touching Harbour House's east edge, and one far from every building.
    const std::pair<CVGeoBounds, std::string> boxes[] = {
        {CVGeoBounds({56.1536, 10.2139806}, {56.1540, 10.2150}), "Harbour House"},
        {CVGeoBounds({10, 10}, {11, 11}), "none"}};
    for (const auto& [box, expected] : boxes) {
        provider->getBuildingWithinBounds(box, [&](auto building, auto error) {
            recorder->record("bounds " + (building ? building->name : "none") +
                             (error == std::optional(NSError{}) ? " empty error" : ""));
        });
    }
    ASSERT_TRUE(events(9));
    EXPECT_EQ(service_.web().requestsTo("/sync/buildings").size(), 1U);
    const std::string all = "Meridian Hall;Observatory Annex;Harbour House;";
    EXPECT_EQ(recorder->events(),
              (std::vector<std::string>{"list " + all, "completion " + all, "details Observatory Annex",
                                        "completion Observatory Annex", "unknown 100300", "bounds Harbour House",
                                        "within Harbour House", "bounds none empty error", "within none"}));
}

TEST_F(BuildingProvider, LookUpsFetchAMissingListOnceAndEndSilentlyWhenItFails) {
    service_.web().respond(route("all", id()), {200, service_.syncDocument("buildings", "en"), {}});
    const auto provider = CVBuildingProvider::initWithVenueId(kMeridian);
    std::promise<std::string> found;
    provider->getBuildingDetailsAsync("e25a2ec7577c56c555f146d9", id(), "en",
                                      [&](auto building, auto) { found.set_value(building ? building->name : ""); });
    auto name = found.get_future();
    ASSERT_EQ(name.wait_for(kBound), std::future_status::ready);
    EXPECT_EQ(name.get(), "Meridian Hall");

    // The list cannot be had: neither look-up answers, and nothing is asked without a solution id.
    // A look-up that ends silently is over once the provider lets go of its completion.
    std::atomic<int> calls{0};
    auto token = std::make_shared<int>();
    const std::weak_ptr<int> released = token;
    const auto counted = [&calls, &token] { return [&calls, token](auto, auto) { ++calls; }; };
    const auto lost = CVBuildingProvider::initWithVenueId("no-such-venue");
    lost->getBuildingDetailsAsync("e25a2ec7577c56c555f146d9", std::nullopt, "en", counted());
    lost->getBuildingDetailsAsync("e25a2ec7577c56c555f146d9", std::string(kOtherId), "en", counted());
    lost->getBuildingWithinBoundsAsync(CVGeoBounds({-90, -180}, {90, 180}), std::string(kOtherId), "en", counted());
    token.reset();
    const auto asked = [&] { return service_.web().requestsTo("/sync/buildings").size(); };
    ASSERT_TRUE(test::waitFor([&] { return asked() == 3; }, kBound));
    expectError(list(*lost, "all", kOtherId), 100410);
    // No data set for an empty solution id: nothing to download into.
    expectError(list(*lost, "all", ""), 100410);
    ASSERT_TRUE(test::waitFor(
        [&] {
            platform::MainQueue::shared().drain();
            return released.expired();
        },
        kBound));
    EXPECT_EQ(calls.load(), 0);
    EXPECT_EQ(asked(), 4U);
}

// The building info cache reads the venue provider's solution-wide list.
class BuildingInfoCache : public BuildingProvider {
protected:
    static std::shared_ptr<CVBuildingInfoCache> setUp(const std::shared_ptr<CVBuildingInfoCache>& cache,
                                                      std::string_view solutionId, std::string_view language) {
        std::promise<void> done;
        cache->setupWithSolutionId(std::string(solutionId), std::string(language), [&](const auto& answered) {
            EXPECT_EQ(answered, cache);
            done.set_value();
        });
        EXPECT_EQ(done.get_future().wait_for(kBound), std::future_status::ready);
        return cache;
    }
};

TEST_F(BuildingInfoCache, NamesPerSolutionAndLanguage) {
    EXPECT_FALSE(CVBuildingInfoCache::initWithSolutionId(std::nullopt, "en"));
    std::promise<void> made;
    const auto cache = CVBuildingInfoCache::newWithSolutionId(id(), "en", [&](const auto&) { made.set_value(); });
    ASSERT_TRUE(cache);
    ASSERT_EQ(made.get_future().wait_for(kBound), std::future_status::ready);
    EXPECT_FALSE(cache->error());
    EXPECT_EQ(cache->buildingFromBuildingId()->at("harbour-house")->name, "Harbour House");
    EXPECT_EQ(cache->buildingFromBuildingId()->size(), 3U);
    EXPECT_EQ(cache->floorNameFromFloorNumber()->at(-1), "Basement");
    EXPECT_EQ(cache->floorNameFromFloorNumber()->at(1), "1st floor");
    const auto requests = service_.web().requestsTo("/sync/buildings").size();

    // The same solution and language only call back.
    setUp(cache, id(), "en");
    EXPECT_EQ(service_.web().requestsTo("/sync/buildings").size(), requests);
    // Another language fetches again, in the language bound in the core state.
    CVLanguageSupport::ax_setLanguage("da");
    setUp(cache, id(), "da");
    EXPECT_EQ(cache->language(), "da");
    EXPECT_EQ(cache->buildingFromBuildingId()->at("harbour-house")->name, "Havnehuset");
    EXPECT_EQ(cache->floorNameFromFloorNumber()->at(0), "Stueetage");
    CVLanguageSupport::ax_setLanguage(std::nullopt);
}

TEST_F(BuildingInfoCache, AFailedFetchKeepsItsErrorAndIsRetriedBySetUp) {
    AmbrellLegacy::setApiKey(std::string(kOtherId));
    const auto cache = setUp(std::make_shared<CVBuildingInfoCache>(), kOtherId, "en");
    EXPECT_TRUE(cache->error());
    EXPECT_EQ(cache->buildings(), CVBuildingInfoCache::Buildings{});
    EXPECT_EQ(cache->buildingFromBuildingId(), CVBuildingInfoCache::BuildingsById{});
    // Unbound, the venue provider refuses at once; the completion is still called.
    AmbrellLegacy::setApiKey(std::nullopt);
    EXPECT_EQ(setUp(std::make_shared<CVBuildingInfoCache>(), kOtherId, "en")->error()->code, 101200);
    AmbrellLegacy::setApiKey(id());
    setUp(cache, kOtherId, "en");
    EXPECT_FALSE(cache->error());
    EXPECT_EQ(cache->buildings()->size(), 3U);
}

TEST_F(BuildingInfoCache, FetchesAskedForWhileOneRunsWaitForItAndEachCompletionIsCalledOnce) {
    // The answer is held back until every fetch has been asked for.
    std::promise<void> release;
    auto released = release.get_future().share();
    const auto document = service_.syncDocument("buildings", "en");
    const auto solutionWide = CVAXAPI::sharedInstance()->buildingSyncUrlForSolutionId(id(), "en");
    service_.web().handle(solutionWide.substr(service_.baseUrl().size() - 1),
                          [released, document](const test::RecordedRequest&) {
                              released.wait();
                              return test::LoopbackWebService::Response{200, document, {}};
                          });
    constexpr std::size_t kFetches = 6;
    auto calls = std::make_shared<std::vector<std::atomic<int>>>(kFetches);
    const auto cache = std::make_shared<CVBuildingInfoCache>();
    cache->setupWithSolutionId(id(), "en", [calls](const auto&) { ++(*calls)[0]; });
    for (std::size_t index = 1; index < kFetches - 1; ++index) {
        cache->fetchBuildings([calls, index](const auto&) { ++(*calls)[index]; });
    }
    // Joins the running fetch rather than starting another.
    cache->setupWithSolutionId(id(), "en", [calls](const auto&) { ++(*calls)[kFetches - 1]; });
    EXPECT_EQ(cache->buildings(), CVBuildingInfoCache::Buildings{});
    release.set_value();
    ASSERT_TRUE(test::waitFor([&] { return (*calls)[kFetches - 1] == 1; }, kBound));
    platform::MainQueue::shared().drain();
    EXPECT_TRUE(test::eachCalledOnce(*calls));
    EXPECT_EQ(cache->buildings()->size(), 3U);
    EXPECT_EQ(service_.web().requestsTo("/sync/buildings").size(), 1U);
    // Loaded: a further fetch calls back at once.
    bool called = false;
    cache->fetchBuildings([&](const auto&) { called = true; });
    EXPECT_TRUE(called);
}

TEST(BuildingInfoCacheMaps, LaterBuildingsAndFloorsWinAcrossCaseAndBuildings) {
    const auto building = [](std::string id, std::string name, std::vector<std::pair<double, std::string>> floors) {
        auto made = std::make_shared<CVBuildingInternal>();
        made->administrativeId = std::move(id);
        made->name = std::move(name);
        for (auto& [index, floorName] : floors) {
            auto floor = std::make_shared<CVFloorInternal>();
            floor->floorIndex = index;
            floor->name = std::move(floorName);
            made->floors.emplace(std::to_string(made->floors.size()), std::move(floor));
        }
        return made;
    };
    CVBuildingInfoCache cache;
    EXPECT_FALSE(cache.buildingFromBuildingId());
    EXPECT_FALSE(cache.floorNameFromFloorNumber());
    cache.setBuildings(CVBuildingInfoCache::Buildings{building("North", "first", {{0, "Ground"}, {1, "One"}}),
                                                      building("NORTH", "second", {{1, "First"}})});
    EXPECT_EQ(cache.buildingFromBuildingId()->size(), 1U);
    EXPECT_EQ(cache.buildingFromBuildingId()->at("north")->name, "second");
    EXPECT_EQ(cache.floorNameFromFloorNumber(), (CVBuildingInfoCache::FloorNames{{0, "Ground"}, {1, "First"}}));
    // A new list makes new maps.
    cache.setBuildings(CVBuildingInfoCache::Buildings{building("South", "third", {})});
    EXPECT_EQ(cache.buildingFromBuildingId()->count("south"), 1U);
    EXPECT_TRUE(cache.floorNameFromFloorNumber()->empty());
}

}  // namespace
}  // namespace ambrell::building_provider_test
