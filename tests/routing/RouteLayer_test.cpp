// The route layer: reading obstacle documents, finding the obstacles of given
// rooms, and the service against the sample solution on the loopback web
// service, with a data set in a temporary folder and the main queue on a
// thread of its own.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>

#include <boost/json/parse.hpp>

#include "data/AmbrellLegacy.h"
#include "data/CVDataSetSeams.h"
#include "data/CVModelCache.h"
#include "foundation/CVAXAPI.h"
#include "foundation/CVExtendedFileAttributes.h"
#include "foundation/CVNetworkReachabilityManager.h"
#include "platform/FileSystem.h"
#include "platform/runtime/MainQueue.h"
#include "platform/runtime/Runtime.h"
#include "platform/runtime/ThreadPool.h"
#include "routing/CVRouteLayerService.h"
#include "tests/routing/TempDataSet.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/ChildTest.h"
#include "tests/support/HeldPool.h"
#include "tests/support/SampleSolutionService.h"
#include "tests/support/TempDirectory.h"
#include "tests/support/WaitFor.h"

namespace ambrell::route_layer_test {
namespace {

namespace fs = std::filesystem;
using Obstacles = CVRouteObstacleSource::Obstacles;

std::vector<std::uint8_t> bytesOf(std::string_view text) { return {text.begin(), text.end()}; }

constexpr std::string_view kSquare =
    R"({"type": "Polygon", "coordinates": [[[12, 55], [12.0001, 55], [12.0001, 55.0001], [12, 55]]]})";

std::string obstacleText(std::string_view members) {
    return std::string("{") + std::string(members) + (members.empty() ? "" : ", ") +
           "\"geometry\": " + std::string(kSquare) + "}";
}

TEST(CVRouteObstacle, ReadsEachMemberOrItsDefault) {
    struct Case {
        const char* name;
        std::string document;
        bool accepted;
        std::string id;
        std::vector<std::string> rooms;
        std::string graph;
        std::vector<std::string> restrictions;
        bool geometry;
    };
    const Case cases[] = {
        {"Full",
         obstacleText(R"("id": "t1", "roomIdList": ["r1", "r2"], "graphId": "MERIDIAN", "restrictions": ["staff"])"),
         true,
         "t1",
         {"r1", "r2"},
         "MERIDIAN",
         {"staff"},
         true},
        {"NoId", obstacleText(R"("roomIdList": ["r1"])"), true, "", {"r1"}, "", {}, true},
        {"WrongTypes",
         obstacleText(R"("id": 5, "roomIdList": "r1", "graphId": [], "restrictions": {"a": 1})"),
         true,
         "",
         {},
         "",
         {},
         true},
        {"NonTextRooms", obstacleText(R"("roomIdList": ["r1", 7, null, "r2"])"), true, "", {"r1", "r2"}, "", {}, true},
        {"NoGeometry", R"({"id": "t2", "roomIdList": ["r1"]})", false, "", {}, "", {}, false},
        {"GeometryNotAnObject", R"({"id": "t3", "geometry": "Polygon"})", false, "", {}, "", {}, false},
        {"UnreadablePolygon",
         R"({"id": "t4", "geometry": {"type": "Point", "coordinates": [12, 55]}})",
         true,
         "t4",
         {},
         "",
         {},
         false},
        {"NotAnObject", R"(["id"])", false, "", {}, "", {}, false},
    };
    for (const auto& each : cases) {
        const auto obstacle = CVRouteObstacle::initWithDictionary(boost::json::parse(each.document));
        ASSERT_EQ(obstacle != nullptr, each.accepted) << each.name;
        if (!obstacle) continue;
        EXPECT_EQ(obstacle->elementId(), each.id) << each.name;
        EXPECT_EQ(obstacle->roomIdList(), each.rooms) << each.name;
        EXPECT_EQ(obstacle->graphId(), each.graph) << each.name;
        EXPECT_EQ(obstacle->restrictions(), each.restrictions) << each.name;
        EXPECT_EQ(obstacle->geometry() != nullptr, each.geometry) << each.name;
    }
}

TEST(CVRouteLayerService, ReadsDocumentsThatAreArraysOfObstacles) {
    const auto document =
        "[" + obstacleText(R"("id": "a")") + R"(, 5, "text", {"id": "dropped"}, )" + obstacleText(R"("id": "b")") + "]";
    const auto layer = CVRouteLayerService::readRouteLayer(bytesOf(document));
    ASSERT_TRUE(layer);
    ASSERT_EQ(layer->size(), 2U);
    EXPECT_EQ((*layer)[0]->elementId(), "a");
    EXPECT_EQ((*layer)[1]->elementId(), "b");
    EXPECT_EQ(CVRouteLayerService::routeLayerFromData(bytesOf(document)).size(), 2U);

    const auto empty = CVRouteLayerService::readRouteLayer(bytesOf("[]"));
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());
    for (const std::string_view garbage : {"", "{}", "not json", "[1, 2", "\"[]\"", "null"}) {
        EXPECT_FALSE(CVRouteLayerService::readRouteLayer(bytesOf(garbage))) << garbage;
        EXPECT_TRUE(CVRouteLayerService::routeLayerFromData(bytesOf(garbage)).empty()) << garbage;
    }
}

TEST(CVRouteLayerService, AnswersTheObstaclesOfGivenRoomsOnceInTheirOrder) {
    const auto layer = CVRouteLayerService::routeLayerFromData(
        bytesOf("[" + obstacleText(R"("id": "pillar", "roomIdList": ["r1", "r2"])") + ", " +
                obstacleText(R"("id": "table", "roomIdList": ["r3"])") + ", " +
                obstacleText(R"("id": "desk", "roomIdList": ["r2"])") + "]"));
    ASSERT_EQ(layer.size(), 3U);
    const auto ids = [](const Obstacles& obstacles) {
        std::vector<std::string> found;
        for (const auto& obstacle : obstacles) found.push_back(obstacle->elementId());
        return found;
    };
    EXPECT_EQ(ids(CVRouteLayerService::filterObstacles(layer, {"r2", "r1"})),
              (std::vector<std::string>{"pillar", "desk"}));
    EXPECT_EQ(ids(CVRouteLayerService::filterObstacles(layer, {"r3", "r2", "r2"})),
              (std::vector<std::string>{"pillar", "table", "desk"}));
    EXPECT_TRUE(CVRouteLayerService::filterObstacles(layer, {"R1", "r"}).empty());
    EXPECT_TRUE(CVRouteLayerService::filterObstacles(layer, {}).empty());

    CVRouteLayerService service;
    EXPECT_EQ(service.allObstacles(), nullptr);
    EXPECT_TRUE(service.obstaclesForLocationsWithIds({"r1"}).empty());
    service.setAllObstacles(std::make_shared<const Obstacles>(layer));
    EXPECT_EQ(ids(service.obstaclesForLocationsWithIds({"r1", "r2"})), (std::vector<std::string>{"pillar", "desk"}));
}

// Every call of one synchronisation's completion.
struct LayerCalls {
    struct Call {
        std::optional<platform::NSError> error;
        bool onMainQueue = false;
    };

    CVRouteLayerService::Completion completion() {
        return [this](std::optional<platform::NSError> error) {
            std::lock_guard lock(mutex);
            calls.push_back(Call{std::move(error), platform::MainQueue::shared().isCurrent()});
        };
    }
    [[nodiscard]] std::size_t count() const {
        std::lock_guard lock(mutex);
        return calls.size();
    }
    [[nodiscard]] Call first() const {
        EXPECT_TRUE(test::waitFor([this] { return count() > 0; }));
        std::lock_guard lock(mutex);
        return calls.empty() ? Call{} : calls.front();
    }

    mutable std::mutex mutex;
    std::vector<Call> calls;
};

class RouteLayerService : public test::ContainerFixture {
protected:
    RouteLayerService() {
        ::setenv("AMBRELL_API", service_.baseUrl().c_str(), 1);
        CVAXAPI::resetSharedForTesting();
        CVModelCache::resetMemoryCacheForTesting();
        CVAXAPI::sharedInstance()->setSessionToken("session-token");
        CVDataSetSeams::setCachedFiles(std::make_shared<test::TempDataSet>(dataSets_.path()));
        AmbrellLegacy::setApiKey(service_.solutionId());
        setOnline(true);
    }
    ~RouteLayerService() override {
        platform::MainQueue::shared().drain();
        CVDataSetSeams::resetForTesting();
        CVNetworkReachabilityManager::resetSharedManagerForTesting();
        CVModelCache::resetMemoryCacheForTesting();
        AmbrellLegacy::resetForTesting();
        CVAXAPI::resetSharedForTesting();
        ::unsetenv("AMBRELL_API");
    }

    static void setOnline(bool online) {
        CVNetworkReachabilityManager::setForcedStatusForTesting(online ? CVNetworkReachabilityStatusReachableViaWiFi
                                                                       : CVNetworkReachabilityStatusNotReachable);
    }
    [[nodiscard]] std::string url() const {
        return CVRouteLayerService::urlForFetchingRouteLayer(service_.solutionId(), "en");
    }
    [[nodiscard]] std::string key() const { return CVModelCache::cacheKeyForUrl(url()); }
    [[nodiscard]] std::string route() const { return url().substr(service_.baseUrl().size() - 1); }
    [[nodiscard]] fs::path dataSetFile() const {
        return *CVDataSetSeams::pathForCachingUrl(url(), service_.solutionId());
    }
    void storeInDataSet(std::string_view text) const {
        const auto file = dataSetFile();
        fs::create_directories(file.parent_path());
        ASSERT_FALSE(platform::writeFileAtomically(file, text));
    }
    [[nodiscard]] std::string sampleDocument() const { return service_.syncDocument("routelayer", "en"); }
    [[nodiscard]] std::size_t sampleCount() const {
        return CVRouteLayerService::routeLayerFromData(bytesOf(sampleDocument())).size();
    }
    // Waits until the call's refresh has ended and the main queue has run
    // what it queued: no answer can come after this.
    void waitForRefreshEnd(std::size_t refreshes = 1) {
        const auto line = "[CVRouteLayerService] Refresh of " + url() + " ended";
        ASSERT_TRUE(test::waitFor([&] {
            const auto messages = logs_.sink().messages();
            return static_cast<std::size_t>(std::ranges::count_if(messages, [&](const auto& entry) {
                       return entry.message.find(line) != std::string::npos;
                   })) >= refreshes;
        }));
        platform::MainQueue::shared().drain();
    }
    [[nodiscard]] static Obstacles heldObstacles() {
        return CVRouteLayerService::routeLayerFromData(bytesOf("[" + obstacleText(R"("id": "held")") + "]"));
    }

    test::ScopedLogCapture logs_;
    test::TempDirectory dataSets_;
    test::SampleSolutionService service_;
    platform::MainQueueThread mainThread_;
    CVRouteLayerService layer_;
};

TEST_F(RouteLayerService, DownloadsIntoTheDataSetAndTheMemoryCache) {
    LayerCalls calls;
    layer_.synchronizeObstacles(calls.completion());
    const auto call = calls.first();
    EXPECT_FALSE(call.error);
    EXPECT_TRUE(call.onMainQueue);
    const auto obstacles = layer_.allObstacles();
    ASSERT_TRUE(obstacles);
    EXPECT_EQ(obstacles->size(), sampleCount());
    EXPECT_GT(obstacles->size(), 2U);
    waitForRefreshEnd();
    EXPECT_EQ(calls.count(), 1U);
    EXPECT_EQ(CVModelCache::memoryCache()->objectForKey<const Obstacles>(key()), obstacles);
    EXPECT_TRUE(fs::exists(dataSetFile()));
    EXPECT_EQ(service_.web().lastRequest("/sync/routelayer")->header("If-Modified-Since"), std::nullopt);
}

// The memory answers while the web service still holds the download; the
// refresh then fails, and the caller hears nothing more.
TEST_F(RouteLayerService, AnswersFromMemoryBeforeAFailingRefresh) {
    const auto held = std::make_shared<const Obstacles>(heldObstacles());
    CVModelCache::memoryCache()->setObject(held, key());
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    service_.web().handle(route(), [&](const test::RecordedRequest&) {
        std::unique_lock lock(mutex);
        released.wait(lock, [&] { return release; });
        return test::LoopbackWebService::Response{500, "", {}};
    });
    LayerCalls calls;
    layer_.synchronizeObstacles(calls.completion());
    const auto call = calls.first();
    EXPECT_FALSE(call.error);
    EXPECT_TRUE(call.onMainQueue);
    EXPECT_EQ(layer_.allObstacles(), held);
    EXPECT_TRUE(service_.web().waitForRequests(1));
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    released.notify_all();
    waitForRefreshEnd();
    EXPECT_EQ(calls.count(), 1U);
    EXPECT_EQ(layer_.allObstacles(), held);
}

TEST_F(RouteLayerService, OfflineWithNothingOnTheDeviceFails) {
    setOnline(false);
    LayerCalls calls;
    layer_.synchronizeObstacles(calls.completion());
    const auto call = calls.first();
    ASSERT_TRUE(call.error);
    EXPECT_EQ(call.error->domain, "com.corvay.Ambrell");
    EXPECT_EQ(call.error->code, 103010);
    EXPECT_TRUE(call.error->userInfo.empty());
    EXPECT_TRUE(call.onMainQueue);
    waitForRefreshEnd();
    EXPECT_EQ(calls.count(), 1U);
    EXPECT_EQ(layer_.allObstacles(), nullptr);
}

// The data set answers; the web service finds it current, and nothing changes.
TEST_F(RouteLayerService, A304AfterTheDataSetAnsweredChangesNothing) {
    storeInDataSet(sampleDocument());
    ASSERT_TRUE(xattr_setLastModified(dataSetFile(), test::httpDate(service_.lastModified())));
    LayerCalls calls;
    layer_.synchronizeObstacles(calls.completion());
    EXPECT_FALSE(calls.first().error);
    const auto fromDataSet = layer_.allObstacles();
    ASSERT_TRUE(fromDataSet);
    EXPECT_EQ(fromDataSet->size(), sampleCount());
    waitForRefreshEnd();
    EXPECT_TRUE(logs_.sink().contains(url() + " ended: status 304"));
    EXPECT_EQ(service_.web().lastRequest("/sync/routelayer")->header("If-Modified-Since"),
              test::httpDate(service_.lastModified()));
    EXPECT_EQ(calls.count(), 1U);
    EXPECT_EQ(layer_.allObstacles(), fromDataSet);
    EXPECT_EQ(CVModelCache::memoryCache()->objectForKey<const Obstacles>(key()), fromDataSet);
}

// A 304 to a call nothing answered yet: the stored file answers, or nothing does.
TEST_F(RouteLayerService, A304WithNothingAnsweredReadsTheStoredFile) {
    service_.web().respond(route(), test::LoopbackWebService::Response{304, "", {}});
    LayerCalls without;
    layer_.synchronizeObstacles(without.completion());
    ASSERT_TRUE(without.first().error);
    EXPECT_EQ(without.first().error->code, 103010);
    waitForRefreshEnd();
    EXPECT_EQ(without.count(), 1U);
    EXPECT_EQ(layer_.allObstacles(), nullptr);

    // The file appears while the request is on its way.
    service_.web().handle(route(), [&](const test::RecordedRequest&) {
        storeInDataSet(sampleDocument());
        return test::LoopbackWebService::Response{304, "", {}};
    });
    LayerCalls with;
    layer_.synchronizeObstacles(with.completion());
    EXPECT_FALSE(with.first().error);
    waitForRefreshEnd(2);
    EXPECT_EQ(with.count(), 1U);
    ASSERT_TRUE(layer_.allObstacles());
    EXPECT_EQ(layer_.allObstacles()->size(), sampleCount());
    EXPECT_EQ(CVModelCache::memoryCache()->objectForKey<const Obstacles>(key()), layer_.allObstacles());
}

// A failed status or a body that is no layer keeps the obstacles there were;
// unanswered, the call gets the error.
TEST_F(RouteLayerService, FailuresKeepTheObstacles) {
    const struct {
        const char* name;
        test::LoopbackWebService::Response response;
    } failures[] = {
        {"ServerError", {500, "", {}}},
        {"Redirect", {302, "", {}}},
        {"Garbage", {200, "{\"not\": \"a layer\"}", {{"Last-Modified", test::httpDate(service_.lastModified())}}}},
    };
    std::size_t refreshes = 0;
    for (const auto& failure : failures) {
        SCOPED_TRACE(failure.name);
        CVModelCache::resetMemoryCacheForTesting();
        fs::remove(dataSetFile());
        service_.web().respond(route(), failure.response);
        layer_.setAllObstacles(nullptr);
        LayerCalls unanswered;
        layer_.synchronizeObstacles(unanswered.completion());
        ASSERT_TRUE(unanswered.first().error);
        EXPECT_EQ(unanswered.first().error->code, 103010);

        const auto held = std::make_shared<const Obstacles>(heldObstacles());
        CVModelCache::memoryCache()->setObject(held, key());
        LayerCalls answered;
        layer_.synchronizeObstacles(answered.completion());
        EXPECT_FALSE(answered.first().error);
        platform::MainQueue::shared().drain();
        ASSERT_TRUE(test::waitFor([&] { return service_.web().requests().size() >= 2; }));
        refreshes += 2;
        waitForRefreshEnd(refreshes);
        service_.web().clearRequests();
        EXPECT_EQ(unanswered.count(), 1U);
        EXPECT_EQ(answered.count(), 1U);
        EXPECT_EQ(layer_.allObstacles(), held);
        EXPECT_EQ(CVModelCache::memoryCache()->objectForKey<const Obstacles>(key()), held);
    }
    // Nothing of the garbage was kept, nor a date to revalidate against: the
    // next download is unconditional.
    EXPECT_EQ(xattr_lastModified(dataSetFile()), std::nullopt);
}

// A 200 whose body is no layer leaves the stored copy and its date as they
// were: the next start without the network still has its obstacles.
TEST_F(RouteLayerService, AGarbageAnswerLeavesTheStoredLayer) {
    storeInDataSet(sampleDocument());
    const auto storedDate = test::httpDate(service_.lastModified());
    ASSERT_TRUE(xattr_setLastModified(dataSetFile(), storedDate));
    const auto laterDate = test::httpDate(service_.lastModified() + std::chrono::hours(1));
    service_.web().respond(
        route(), test::LoopbackWebService::Response{200, "{\"not\": \"a layer\"}", {{"Last-Modified", laterDate}}});
    LayerCalls calls;
    layer_.synchronizeObstacles(calls.completion());
    EXPECT_FALSE(calls.first().error);
    waitForRefreshEnd();
    EXPECT_TRUE(logs_.sink().contains(url() + " ended: status 200, no route layer"));
    EXPECT_EQ(service_.web().lastRequest("/sync/routelayer")->header("If-Modified-Since"), storedDate);
    EXPECT_TRUE(platform::readTextFile(dataSetFile()) == sampleDocument()) << "the stored layer was replaced";
    EXPECT_EQ(xattr_lastModified(dataSetFile()), storedDate);
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(dataSetFile().parent_path())) files.push_back(entry.path());
    EXPECT_EQ(files, std::vector<fs::path>{dataSetFile()}) << "nothing of the answer is left beside it";

    CVModelCache::resetMemoryCacheForTesting();
    setOnline(false);
    CVRouteLayerService nextStart;
    LayerCalls offline;
    nextStart.synchronizeObstacles(offline.completion());
    EXPECT_FALSE(offline.first().error);
    ASSERT_TRUE(nextStart.allObstacles());
    EXPECT_EQ(nextStart.allObstacles()->size(), sampleCount());
    waitForRefreshEnd(2);
    EXPECT_EQ(offline.count(), 1U);
}

TEST_F(RouteLayerService, AnEmptyLayerEmptiesTheObstacles) {
    CVModelCache::memoryCache()->setObject(std::make_shared<const Obstacles>(heldObstacles()), key());
    service_.web().respond(route(), test::LoopbackWebService::Response{200, "[]", {}});
    LayerCalls calls;
    layer_.synchronizeObstacles(calls.completion());
    EXPECT_FALSE(calls.first().error);
    waitForRefreshEnd();
    EXPECT_EQ(calls.count(), 1U);
    ASSERT_TRUE(layer_.allObstacles());
    EXPECT_TRUE(layer_.allObstacles()->empty());
    EXPECT_EQ(CVModelCache::memoryCache()->objectForKey<const Obstacles>(key()), layer_.allObstacles());
}

// Calls from several threads at once, while readers take snapshots: each call
// is answered once, on the main queue.
TEST_F(RouteLayerService, AnswersEveryOneOfManyCallsOnce) {
    constexpr int kThreads = 4;
    constexpr int kPerThread = 5;
    std::vector<LayerCalls> calls(kThreads * kPerThread);
    std::vector<std::thread> threads;
    for (int thread = 0; thread < kThreads; ++thread) {
        threads.emplace_back([&, thread] {
            for (int i = 0; i < kPerThread; ++i) {
                layer_.synchronizeObstacles(calls[static_cast<std::size_t>(thread * kPerThread + i)].completion());
                (void)layer_.obstaclesForLocationsWithIds({"none"});
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (const auto& each : calls) {
        const auto call = each.first();
        EXPECT_FALSE(call.error);
        EXPECT_TRUE(call.onMainQueue);
    }
    waitForRefreshEnd(calls.size());
    for (const auto& each : calls) EXPECT_EQ(each.count(), 1U);
    EXPECT_EQ(layer_.allObstacles()->size(), sampleCount());
}

// Counts the blocks of the service's queue that ran (each ends its refresh
// with a line) and the posts the queue refused.
class QueueCounts final : public platform::LogSink {
public:
    void write(platform::LogLevel /*level*/, std::string_view /*channel*/, std::string_view message) override {
        if (message.find("[CVRouteLayerService] Refresh of") != std::string_view::npos) ++ran;
        if (message.find("queue com.ambrell.CVRouteLayerService was refused") != std::string_view::npos) ++refused;
    }
    std::atomic<int> ran{0};
    std::atomic<int> refused{0};
};

// Callers that ask while the runtime shuts down, a few calls at a time so
// that the queue runs dry and the pool stops with them still asking: the
// calls made as it stops meet it between the service's look at the runtime
// and its post, and each must still be answered once. The calls are bounded,
// so the pool runs dry before the shutdown's deadline.
int synchronizeAcrossTheShutdown(int /*run*/) {
    const auto counts = std::make_shared<QueueCounts>();
    const auto previousSink = platform::Logger::sink();
    platform::Logger::setSink(counts);
    constexpr int kCallers = 4;
    constexpr int kCallsWhileStopping = 200;
    constexpr int kCallsOnceStopped = 8;
    CVRouteLayerService layer;
    std::atomic<int> calls{0};
    std::atomic<int> posted{0};
    std::atomic<int> answers{0};
    const auto ask = [&] {
        ++calls;
        layer.synchronizeObstacles([&answers](const std::optional<platform::NSError>&) { ++answers; });
    };
    std::atomic<int> asking{0};
    std::vector<std::thread> callers;
    for (int i = 0; i < kCallers; ++i) {
        callers.emplace_back([&] {
            ++asking;
            while (!platform::Runtime::shared().isShuttingDown()) std::this_thread::yield();
            for (int made = 0; made < kCallsWhileStopping && !platform::ThreadPool::shared().isStopped();) {
                // No more than one call per caller waits on the queue.
                if (posted - counts->ran - counts->refused >= kCallers) {
                    std::this_thread::yield();
                    continue;
                }
                ++posted;
                ++made;
                ask();
            }
            while (!platform::ThreadPool::shared().isStopped()) std::this_thread::yield();
            for (int call = 0; call < kCallsOnceStopped; ++call) ask();
        });
    }
    int code = 0;
    if (!test::waitFor([&] { return asking == kCallers; })) code = 2;
    platform::Runtime::shared().shutdown(std::chrono::seconds(20));
    for (auto& caller : callers) caller.join();
    // Shorter than the run's bound, so that a run that lost an answer says so.
    if (code == 0 && !test::waitFor([&] { return answers >= calls; }, std::chrono::seconds(10))) {
        std::fprintf(stderr, "%d of %d calls were answered; %d posts were refused\n", answers.load(), calls.load(),
                     counts->refused.load());
        code = 1;
    } else if (code == 0 && answers != calls) {
        std::fprintf(stderr, "%d answers to %d calls\n", answers.load(), calls.load());
        code = 1;
    }
    platform::Logger::setSink(previousSink);
    return code;
}

TEST(CVRouteLayerServiceShutdown, EveryCallIsAnsweredOnceAcrossTheRuntimesShutdown) {
    using namespace std::chrono_literals;
    EXPECT_EQ(test::failureOfForkedRuns(50, 45s, synchronizeAcrossTheShutdown), "")
        << "a call to synchronizeObstacles went unanswered while the runtime shut down";
}

// Every pool thread is held by a block until the pool has closed, so the
// call's block waits in the queue when a shutdown without time to spare
// passes its deadline: it must still run, or its call is never answered.
int synchronizeBehindABusyPoolPastTheDeadline(int /*run*/) {
    const test::PoolHeldUntilClosed held(platform::ThreadPool::shared());
    if (!held.holdsEveryThread()) return 2;
    CVRouteLayerService layer;
    std::atomic<int> answers{0};
    layer.synchronizeObstacles([&answers](const std::optional<platform::NSError>&) { ++answers; });
    platform::Runtime::shared().shutdown(std::chrono::milliseconds(0));
    if (!test::waitFor([&] { return answers > 0; }, std::chrono::seconds(10))) {
        std::fprintf(stderr, "the call queued behind the busy pool was not answered\n");
        return 1;
    }
    if (answers != 1) {
        std::fprintf(stderr, "%d answers to one call\n", answers.load());
        return 1;
    }
    return 0;
}

TEST(CVRouteLayerServiceShutdown, ACallQueuedBehindABusyPoolIsAnsweredOncePastTheDeadline) {
    using namespace std::chrono_literals;
    EXPECT_EQ(test::failureOfForkedRuns(1, 45s, synchronizeBehindABusyPoolPastTheDeadline), "");
}

}  // namespace
}  // namespace ambrell::route_layer_test
