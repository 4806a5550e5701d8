// The route-network service against the sample solution on the loopback web
// service, with a data set in a temporary folder and the main queue on a
// thread of its own: where each answer comes from, how failures are told, and
// that every request is answered exactly once, on the main queue.

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <regex>
#include <thread>

#include "data/AmbrellLegacy.h"
#include "data/CVDataSetSeams.h"
#include "data/CVMemoryCache.h"
#include "data/CVModelCache.h"
#include "data/CVOfflineBundleHelper.h"
#include "data/CVRouteNetworkSeams.h"
#include "data/CVVenueInternal.h"
#include "data/DataSetManager/CVDataSetCacheManagerInternal.h"
#include "foundation/CVAXAPI.h"
#include "foundation/CVExtendedFileAttributes.h"
#include "foundation/CVNetworkReachabilityManager.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/runtime/MainQueue.h"
#include "routing/CVRouteNetwork.h"
#include "routing/CVRouteNetworkData.h"
#include "routing/CVRouteNetworkService.h"
#include "tests/routing/TempDataSet.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/SampleSolutionService.h"
#include "tests/support/TempDirectory.h"
#include "tests/support/WaitFor.h"

namespace ambrell {
namespace {

namespace fs = std::filesystem;
using DataPtr = std::shared_ptr<CVRouteNetworkData>;

constexpr std::string_view kMeridian = "c4c33ed16a328b160781e953";
constexpr std::string_view kHarbour = "fa9667907de4ca4e499511cb";

using test::TempDataSet;

// Every call of one request's completion.
struct Calls {
    struct Call {
        DataPtr data;
        std::optional<platform::NSError> error;
        bool onMainQueue = false;
    };

    CVRouteNetworkService::Completion completion() {
        return [this](DataPtr data, std::optional<platform::NSError> error) {
            std::lock_guard lock(mutex);
            calls.push_back(Call{std::move(data), std::move(error), platform::MainQueue::shared().isCurrent()});
        };
    }
    [[nodiscard]] std::size_t count() const {
        std::lock_guard lock(mutex);
        return calls.size();
    }
    // The first call, once it came.
    [[nodiscard]] Call first() const {
        EXPECT_TRUE(test::waitFor([this] { return count() > 0; }, std::chrono::seconds(20)));
        std::lock_guard lock(mutex);
        return calls.empty() ? Call{} : calls.front();
    }

    mutable std::mutex mutex;
    std::vector<Call> calls;
};

std::size_t networkCount(const Calls::Call& call) { return call.data ? call.data->networks().size() : 0; }

class RouteNetworkService : public test::ContainerFixture {
protected:
    RouteNetworkService() {
        ::setenv("AMBRELL_API", service_.baseUrl().c_str(), 1);
        CVAXAPI::resetSharedForTesting();
        CVModelCache::resetMemoryCacheForTesting();
        CVOfflineBundleHelper::resetForTesting();
        CVAXAPI::sharedInstance()->setSessionToken("session-token");
        CVDataSetSeams::setCachedFiles(std::make_shared<TempDataSet>(dataSets_.path()));
        platform::Paths::setResourcesFolder(noResources_.path());
        setOnline(true);
    }
    ~RouteNetworkService() override {
        platform::MainQueue::shared().drain();
        CVRouteNetworkSeams::resetForTesting();
        CVDataSetSeams::resetForTesting();
        CVNetworkReachabilityManager::resetSharedManagerForTesting();
        CVMemoryCache::venueCache().removeAll();
        CVModelCache::resetMemoryCacheForTesting();
        CVOfflineBundleHelper::resetForTesting();
        AmbrellLegacy::resetForTesting();
        CVAXAPI::resetSharedForTesting();
        ::unsetenv("AMBRELL_API");
    }

    static void setOnline(bool online) {
        CVNetworkReachabilityManager::setForcedStatusForTesting(online ? CVNetworkReachabilityStatusReachableViaWiFi
                                                                       : CVNetworkReachabilityStatusNotReachable);
    }
    void bundleResources() { platform::Paths::setResourcesFolder(service_.sample() / "bundle"); }

    [[nodiscard]] const std::string& id() const { return service_.solutionId(); }
    [[nodiscard]] std::string url(std::optional<std::string_view> venueId = std::nullopt) const {
        return venueId ? CVRouteNetworkService::cacheKeyForSolutionIdAndVenueId(id(), venueId)
                       : CVRouteNetworkService::cacheKeyForSolutionId(id());
    }
    // The route of the URL on the loopback service.
    [[nodiscard]] std::string route(std::optional<std::string_view> venueId = std::nullopt) const {
        return url(venueId).substr(service_.baseUrl().size() - 1);
    }
    [[nodiscard]] fs::path dataSetFile(std::optional<std::string_view> venueId = std::nullopt) const {
        return *CVDataSetSeams::pathForCachingUrl(url(venueId), id());
    }
    void storeInDataSet(std::string_view text, std::optional<std::string_view> venueId = std::nullopt) const {
        const auto file = dataSetFile(venueId);
        fs::create_directories(file.parent_path());
        ASSERT_FALSE(platform::writeFileAtomically(file, text));
    }
    // The sample's document of one venue, or of all.
    [[nodiscard]] std::string sampleDocument(std::optional<std::string_view> venueId = std::nullopt) const {
        const auto file = venueId ? service_.sample() / "service" / "sync" / std::string(*venueId) / "graph_en.json"
                                  : service_.sample() / "service" / "sync" / "graph_en.json";
        const auto bytes = platform::readFile(file);
        return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
    }
    // Waits until the request's refresh has ended, then until the main queue
    // has run what it queued: no answer can come after this.
    void waitForRefreshEnd(std::optional<std::string_view> venueId = std::nullopt) {
        const auto line = "Refresh of " + url(venueId) + " ended";
        ASSERT_TRUE(test::waitFor([&] { return logs_.sink().contains(line); }, std::chrono::seconds(20)));
        platform::MainQueue::shared().drain();
    }

    test::ScopedLogCapture logs_;
    test::TempDirectory dataSets_;
    test::TempDirectory noResources_;
    test::SampleSolutionService service_;
    platform::MainQueueThread mainThread_;
};

TEST_F(RouteNetworkService, DownloadsIntoTheDataSetAndTheMemoryCache) {
    EXPECT_FALSE(CVRouteNetworkService::isCachedDataAvailableForSolutionId(id()));
    Calls calls;
    CVRouteNetworkService::getRouteNetworkForSolution(id(), calls.completion());
    const auto call = calls.first();
    EXPECT_TRUE(call.onMainQueue);
    EXPECT_FALSE(call.error);
    EXPECT_EQ(networkCount(call), 2u);
    waitForRefreshEnd();
    EXPECT_EQ(calls.count(), 1u);
    EXPECT_EQ(CVModelCache::memoryCache()->objectForKey<CVRouteNetworkData>(url()), call.data);
    EXPECT_TRUE(CVRouteNetworkService::isCachedDataAvailableForSolutionId(id()));
}

// Requests from several threads at once, solution-wide and per venue: each
// is answered once, on the main queue.
TEST_F(RouteNetworkService, AnswersEveryOneOfManyRequestsOnce) {
    constexpr int kPerThread = 5;
    std::vector<Calls> calls(4 * kPerThread);
    std::vector<std::thread> threads;
    for (int thread = 0; thread < 4; ++thread) {
        threads.emplace_back([&, thread] {
            for (int i = 0; i < kPerThread; ++i) {
                auto& mine = calls[static_cast<std::size_t>(thread * kPerThread + i)];
                if (thread % 2 == 0) {
                    CVRouteNetworkService::getRouteNetworkForSolution(id(), mine.completion());
                } else {
                    CVRouteNetworkService::getRouteNetworkForSolutionAsync(id(), std::string(kMeridian),
                                                                           mine.completion());
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (const auto& each : calls) {
        const auto call = each.first();
        EXPECT_TRUE(call.onMainQueue);
        EXPECT_FALSE(call.error);
        EXPECT_GE(networkCount(call), 1u);
    }
    ASSERT_TRUE(test::waitFor([&] { return service_.web().requests().size() >= calls.size(); }));
    ASSERT_TRUE(test::waitFor([&] {
        const auto messages = logs_.sink().messages();
        return std::ranges::count_if(messages, [](const auto& entry) {
                   return entry.message.find("[CVRouteNetworkService] Refresh of") != std::string::npos;
               }) >= static_cast<std::ptrdiff_t>(calls.size());
    }));
    platform::MainQueue::shared().drain();
    for (const auto& each : calls) EXPECT_EQ(each.count(), 1u);
}

// The memory answers while the web service still holds the download; the
// refresh then fails, and the caller hears nothing more.
TEST_F(RouteNetworkService, AnswersFromMemoryBeforeTheDownloadEnds) {
    const auto held = std::make_shared<CVRouteNetworkData>();
    CVModelCache::memoryCache()->setObject(held, url());
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    service_.web().handle(route(), [&](const test::RecordedRequest&) {
        std::unique_lock lock(mutex);
        released.wait(lock, [&] { return release; });
        return test::LoopbackWebService::Response{500, "", {}};
    });
    Calls calls;
    CVRouteNetworkService::getRouteNetworkForSolution(id(), calls.completion());
    const auto call = calls.first();
    EXPECT_EQ(call.data, held);
    EXPECT_TRUE(call.onMainQueue);
    EXPECT_TRUE(service_.web().waitForRequests(1));
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    released.notify_all();
    waitForRefreshEnd();
    EXPECT_EQ(calls.count(), 1u);
    EXPECT_EQ(CVModelCache::memoryCache()->objectForKey<CVRouteNetworkData>(url()), held);
}

TEST_F(RouteNetworkService, OfflineWithNothingOnTheDeviceFails) {
    setOnline(false);
    Calls calls;
    CVRouteNetworkService::getRouteNetworkForSolution(id(), calls.completion());
    const auto call = calls.first();
    ASSERT_TRUE(call.error);
    EXPECT_EQ(call.error->domain, "com.corvay.Ambrell");
    EXPECT_EQ(call.error->code, 101400);
    EXPECT_TRUE(call.error->userInfo.empty());
    EXPECT_FALSE(call.data);
    EXPECT_TRUE(call.onMainQueue);
    waitForRefreshEnd();
    EXPECT_EQ(calls.count(), 1u);
}

// Offline, the data set's copy comes before the app's resource, which comes
// before nothing.
TEST_F(RouteNetworkService, ReadsTheDataSetBeforeTheResourceCopy) {
    setOnline(false);
    bundleResources();
    storeInDataSet(sampleDocument(kMeridian));
    Calls fromDataSet;
    CVRouteNetworkService::getRouteNetworkForSolution(id(), fromDataSet.completion());
    const auto first = fromDataSet.first();
    ASSERT_EQ(networkCount(first), 1u);
    EXPECT_EQ(first.data->networks()[0]->graphId(), "MERIDIAN");
    waitForRefreshEnd();
    EXPECT_EQ(fromDataSet.count(), 1u);

    CVModelCache::resetMemoryCacheForTesting();
    fs::remove(dataSetFile());
    Calls fromResource;
    CVRouteNetworkService::getRouteNetworkForSolution(id(), fromResource.completion());
    EXPECT_EQ(networkCount(fromResource.first()), 2u);
}

// A stored copy that does not parse is answered with an error after a 304,
// and the next download, unconditional, heals it.
TEST_F(RouteNetworkService, HealsACorruptCopyAfterA304) {
    storeInDataSet("[{\"graphId\": ", kMeridian);
    ASSERT_TRUE(xattr_setLastModified(dataSetFile(kMeridian), test::httpDate(service_.lastModified())));
    Calls corrupt;
    ASSERT_TRUE(CVRouteNetworkService::getRouteNetworkForSolution(id(), std::string(kMeridian), corrupt.completion()));
    const auto failed = corrupt.first();
    ASSERT_TRUE(failed.error);
    EXPECT_EQ(failed.error->code, 101400);
    EXPECT_EQ(service_.web().lastRequest("/sync/graph")->header("If-Modified-Since"),
              test::httpDate(service_.lastModified()));

    Calls healed;
    ASSERT_TRUE(CVRouteNetworkService::getRouteNetworkForSolution(id(), std::string(kMeridian), healed.completion()));
    const auto answer = healed.first();
    EXPECT_FALSE(answer.error);
    ASSERT_EQ(networkCount(answer), 1u);
    EXPECT_FALSE(service_.web().lastRequest("/sync/graph")->header("If-Modified-Since"));
    EXPECT_EQ(CVModelCache::memoryCache()->objectForKey<CVRouteNetworkData>(url(kMeridian)), answer.data);

    // The solution-wide copy that does not parse is passed over at once.
    storeInDataSet("not json");
    Calls wide;
    CVRouteNetworkService::getRouteNetworkForSolution(id(), wide.completion());
    EXPECT_EQ(networkCount(wide.first()), 2u);
    waitForRefreshEnd();
    EXPECT_EQ(wide.count(), 1u);
}

// A download that is no route-network document, an error page or an object
// that merely parses, never takes the place of the stored networks: not on
// disk for the next start without the network, not in memory. It is a failed
// download for the caller too: a venue load that waits for it gets what the
// device holds, and the error only when the device holds nothing.
TEST_F(RouteNetworkService, AnAnswerThatIsNoRouteNetworkLeavesTheStoredOne) {
    storeInDataSet(sampleDocument());
    storeInDataSet(sampleDocument(kMeridian), kMeridian);
    const auto refreshesEnded = [&](std::optional<std::string_view> venueId) {
        const auto line = "Refresh of " + url(venueId) + " ended";
        return std::ranges::count_if(logs_.sink().messages(),
                                     [&](const auto& entry) { return entry.message.find(line) != std::string::npos; });
    };
    const auto waitForNextRefreshEnd = [&](std::optional<std::string_view> venueId, std::ptrdiff_t before) {
        ASSERT_TRUE(test::waitFor([&] { return refreshesEnded(venueId) > before; }, std::chrono::seconds(20)));
        platform::MainQueue::shared().drain();
    };
    for (const std::string body : {"<html><body>Please sign in</body></html>", R"({"not": "a graph"})"}) {
        SCOPED_TRACE(body);
        service_.web().respond(route(), {200, body, {}});
        service_.web().respond(route(kMeridian), {200, body, {}});
        service_.web().respond(route(kHarbour), {200, body, {}});
        setOnline(true);

        auto before = refreshesEnded(std::nullopt);
        Calls wide;
        CVRouteNetworkService::getRouteNetworkForSolution(id(), wide.completion());
        const auto answer = wide.first();
        EXPECT_EQ(networkCount(answer), 2u);
        waitForNextRefreshEnd(std::nullopt, before);
        EXPECT_EQ(wide.count(), 1u);
        EXPECT_EQ(CVModelCache::memoryCache()->objectForKey<CVRouteNetworkData>(url()), answer.data);

        before = refreshesEnded(kMeridian);
        Calls venue;
        CVRouteNetworkService::getRouteNetworkForSolutionAsync(id(), std::string(kMeridian), venue.completion());
        EXPECT_EQ(networkCount(venue.first()), 1u);
        waitForNextRefreshEnd(kMeridian, before);
        Calls nothingStored;
        CVRouteNetworkService::getRouteNetworkForSolutionAsync(id(), std::string(kHarbour), nothingStored.completion());
        const auto refused = nothingStored.first();
        EXPECT_FALSE(refused.data);
        ASSERT_TRUE(refused.error);
        EXPECT_EQ(refused.error->code, 101400);

        // The next start, without the network, finds the stored networks.
        setOnline(false);
        CVModelCache::resetMemoryCacheForTesting();
        Calls offline;
        CVRouteNetworkService::getRouteNetworkForSolution(id(), offline.completion());
        EXPECT_EQ(networkCount(offline.first()), 2u);
        Calls offlineVenue;
        CVRouteNetworkService::getRouteNetworkForSolutionAsync(id(), std::string(kMeridian), offlineVenue.completion());
        EXPECT_EQ(networkCount(offlineVenue.first()), 1u);
    }
    // Nothing of the downloads is left beside the stored copies.
    for (const auto& entry : fs::recursive_directory_iterator(dataSets_.path())) {
        EXPECT_EQ(entry.path().filename().string().find(".incoming-"), std::string::npos) << entry.path();
    }
}

TEST_F(RouteNetworkService, RefusesVenueRequestsWithoutSolution) {
    const std::regex message(
        R"(Invalid parameter not satisfying: (solutionId(\.length)?) in \+\[CVRouteNetworkService )"
        R"(getRouteNetworkForSolution:venueId:completion:\] \(CVRouteNetworkService\.cpp:\d+\)\.)");
    for (const auto& solutionId : {std::optional<std::string>(), std::optional<std::string>("")}) {
        std::optional<platform::NSError> error;
        int calls = 0;
        const bool started = CVRouteNetworkService::getRouteNetworkForSolution(
            solutionId, std::string(kMeridian), [&](DataPtr data, std::optional<platform::NSError> refusal) {
                ++calls;
                EXPECT_FALSE(data);
                error = std::move(refusal);
            });
        EXPECT_FALSE(started);
        ASSERT_EQ(calls, 1) << "synchronously, on the caller's thread";
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, 101200);
        std::smatch match;
        const auto text = error->stringForKey("msg").value_or("");
        ASSERT_TRUE(std::regex_match(text, match, message)) << text;
        EXPECT_EQ(match[1], solutionId ? "solutionId.length" : "solutionId");
        EXPECT_TRUE(logs_.sink().contains(text));
    }
    EXPECT_FALSE(CVRouteNetworkService::getRouteNetworkForSolution(id(), std::string(kMeridian), nullptr));
    EXPECT_TRUE(logs_.sink().contains("Invalid parameter not satisfying: completion"));
    EXPECT_TRUE(service_.web().requests().empty());
}

// Offline, a venue request answers from the venue's copy in the data set, else
// from the app's bundled network of every venue, else with an error.
TEST_F(RouteNetworkService, AnswersAnOfflineVenueRequestFromTheDevice) {
    setOnline(false);
    storeInDataSet(sampleDocument(kMeridian), kMeridian);
    Calls fromDataSet;
    CVRouteNetworkService::getRouteNetworkForSolutionAsync(id(), std::string(kMeridian), fromDataSet.completion());
    ASSERT_EQ(networkCount(fromDataSet.first()), 1u);
    EXPECT_TRUE(fromDataSet.first().onMainQueue);

    fs::remove(dataSetFile(kMeridian));
    Calls nothing;
    CVRouteNetworkService::getRouteNetworkForSolutionAsync(id(), std::string(kMeridian), nothing.completion());
    ASSERT_TRUE(nothing.first().error);
    EXPECT_EQ(nothing.first().error->code, 101400);

    bundleResources();
    auto venue = std::make_shared<CVVenueInternal>();
    venue->graphId = "Meridian";
    CVMemoryCache::venueCache().setValue(venue, std::string(kMeridian));
    Calls fromBundle;
    CVRouteNetworkService::getRouteNetworkForSolutionAsync(id(), std::string(kMeridian), fromBundle.completion());
    const auto bundled = fromBundle.first();
    ASSERT_EQ(networkCount(bundled), 1u);
    EXPECT_EQ(bundled.data->networks()[0]->graphId(), "MERIDIAN");
    waitForRefreshEnd(kMeridian);
    EXPECT_EQ(fromDataSet.count() + nothing.count() + fromBundle.count(), 3u);
}

TEST_F(RouteNetworkService, ARedirectLeftUnfollowedFails) {
    service_.web().respond(route(), test::LoopbackWebService::Response{302, "", {}});
    Calls calls;
    CVRouteNetworkService::getRouteNetworkForSolution(id(), calls.completion());
    const auto call = calls.first();
    ASSERT_TRUE(call.error);
    EXPECT_EQ(call.error->code, 101400);
    waitForRefreshEnd();
    EXPECT_EQ(calls.count(), 1u);
    EXPECT_TRUE(logs_.sink().contains(url() + " ended: status 302"));
}

// The content layer's view: the installed service loads, counts and merges.
TEST_F(RouteNetworkService, ServesTheContentLayerOnceInstalled) {
    CVRouteNetworkService::install();
    storeInDataSet(sampleDocument());
    EXPECT_TRUE(CVRouteNetworkSeams::isCachedDataAvailableForSolutionId(id()));
    Calls calls;
    CVRouteNetworkSeams::getRouteNetworkForSolutionAsync(id(), std::string(kMeridian), calls.completion());
    const auto venue = calls.first();
    ASSERT_EQ(CVRouteNetworkSeams::networkCount(venue.data), 1u);

    const auto all = CVRouteNetworkData::initWithData(platform::readFile(dataSetFile()).value());
    const auto merged = CVRouteNetworkSeams::mergeRouteNetworks({all, nullptr, venue.data});
    ASSERT_EQ(CVRouteNetworkSeams::networkCount(merged), 3u);
    // The later network of an id stands for it.
    EXPECT_EQ(merged->networkForGraphId("meridian"), venue.data->networks()[0]);
}

// The data-set cache manager answers where the service downloads to, once it exists.
TEST_F(RouteNetworkService, TheDataSetManagerTellsWhereToCache) {
    CVDataSetCacheManagerInternal::resetSharedInstanceForTesting();
    const auto manager = AmbrellLegacy::dataSetCacheManager();
    ASSERT_TRUE(manager->addDataSet(id()));
    const auto path = CVDataSetSeams::pathForCachingUrl(url(), id());
    ASSERT_TRUE(path);
    EXPECT_EQ(path, manager->pathForCachingUrl(url(), id()));
    EXPECT_FALSE(CVDataSetSeams::pathForCachedUrl(url(), id()));
    CVDataSetCacheManagerInternal::resetSharedInstanceForTesting();
}

}  // namespace
}  // namespace ambrell
