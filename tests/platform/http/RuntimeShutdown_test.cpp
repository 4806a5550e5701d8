// The runtime's shutdown with real work in flight: downloads from a loopback
// web service, tasks waiting on actors, completions waiting for the main queue.

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <filesystem>

#include "platform/http/HttpSession.h"
#include "platform/runtime/Actor.h"
#include "platform/runtime/BlockingWait.h"
#include "platform/runtime/DispatchQueue.h"
#include "platform/runtime/Runtime.h"
#include "platform/runtime/RuntimeErrors.h"
#include "platform/runtime/Sleep.h"
#include "platform/runtime/Task.h"
#include "tests/platform/http/HttpTestSupport.h"
#include "tests/support/LoopbackWebService.h"
#include "tests/support/TempDirectory.h"

namespace ambrell::platform {
namespace {

using namespace std::chrono_literals;

constexpr int kDownloads = 10;

Awaitable<int> one() { co_return 1; }

bool refusedAsStopped(const TaskResult<int>& result) {
    if (!result.error()) return false;
    try {
        std::rethrow_exception(result.error());
    } catch (const RuntimeStoppedError&) {
        return true;
    } catch (...) {
        return false;
    }
}

void endEverythingInFlightAndRefuseWhatComesAfter() {
    test::TempDirectory downloads;
    test::LoopbackWebService service;
    // An answer that takes far longer than the test: the downloads are in flight.
    service.serveChunks("/slow", std::vector<std::string>(100, std::string(1024, 'x')), 100ms);
    HttpSession session;

    std::array<std::atomic<int>, kDownloads> downloadCalls{};
    for (int i = 0; i < kDownloads; ++i) {
        auto request = requestFor(service.url("/slow"));
        if (i % 2 == 0) {
            session.download(request, downloads.path(),
                             [&downloadCalls, i](TaskResult<HttpDownloadResult>) { ++downloadCalls[i]; });
        } else {
            Task::start(
                [&session, request, folder = downloads.path()]() -> Awaitable<HttpDownloadResult> {
                    co_return co_await session.download(request, folder);
                },
                [&downloadCalls, i](TaskResult<HttpDownloadResult>) { ++downloadCalls[i]; });
        }
    }
    ASSERT_TRUE(service.waitForRequests(kDownloads));

    // Tasks suspended in work on an actor that would otherwise sleep for an hour.
    Actor actor;
    std::array<std::atomic<int>, 3> actorCalls{};
    for (std::size_t i = 0; i < actorCalls.size(); ++i) {
        Task::start(
            [&actor]() -> Awaitable<void> { co_await actor.run([]() -> Awaitable<void> { co_await sleep(1h); }); },
            [&actorCalls, i](TaskResult<void>) { ++actorCalls[i]; });
    }
    // Completions for a main queue that no thread runs.
    std::array<std::atomic<int>, 3> mainCalls{};
    for (std::size_t i = 0; i < mainCalls.size(); ++i) {
        Task::start(
            one, [&mainCalls, i](TaskResult<int>) { ++mainCalls[i]; }, CompletionQueue::main);
    }

    Runtime::shared().shutdown(5s);

    for (const auto& calls : downloadCalls) EXPECT_EQ(calls.load(), 1);
    for (const auto& calls : actorCalls) EXPECT_EQ(calls.load(), 1);
    for (const auto& calls : mainCalls) EXPECT_EQ(calls.load(), 1);
    EXPECT_TRUE(std::filesystem::is_empty(downloads.path())) << "a partial download was left behind";
    EXPECT_TRUE(ThreadPool::shared().isStopped());

    // A second shutdown does nothing.
    Runtime::shared().shutdown();

    // New work is refused, and a refused task's completion still runs once.
    std::atomic<int> refusedCalls{0};
    bool stopped = false;
    Task::start(one, [&](TaskResult<int> result) {
        ++refusedCalls;
        stopped = refusedAsStopped(result);
    });
    EXPECT_EQ(refusedCalls.load(), 1);
    EXPECT_TRUE(stopped);
    std::atomic<bool> refusedBlockRan{false};
    DispatchQueue queue("com.ambrell.test");
    queue.async([&] { refusedBlockRan = true; });
    MainQueue::shared().async([&] { refusedBlockRan = true; });
    EXPECT_THROW(queue.sync([] {}), RuntimeStoppedError);
    EXPECT_FALSE(refusedBlockRan);
    // A completion for the closed main queue is still called, once, here.
    int lateCompletion = 0;
    MainQueue::shared().deliver([&] { ++lateCompletion; });
    EXPECT_EQ(lateCompletion, 1);
    EXPECT_THROW(blockingWait(actor.executor(), one()), RuntimeStoppedError);
    std::atomic<int> lateDownload{0};
    session.download(requestFor(service.url("/slow")), downloads.path(),
                     [&](TaskResult<HttpDownloadResult> result) { lateDownload += result.error() ? 1 : 100; });
    EXPECT_EQ(lateDownload.load(), 1);
}

// The shutdown ends the process's runtime for good, so it runs in a child
// process of its own: the tests that run after it in this process need theirs.
TEST(RuntimeShutdown, EndsEverythingInFlightCallingEachCompletionOnceAndRefusesWhatComesAfter) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            endEverythingInFlightAndRefuseWhatComesAfter();
            std::exit(::testing::Test::HasFailure() ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace ambrell::platform
