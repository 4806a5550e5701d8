// The entry object's load while other threads start session refreshes of
// their own: the load's continuation is never lost among them.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

#include "core/CVAwaitCallback.h"
#include "data/AmbrellLegacy.h"
#include "foundation/CVAXAPI.h"
#include "platform/runtime/BlockingWait.h"
#include "platform/runtime/ThreadPool.h"
#include "tests/core/EntryTesting.h"

namespace ambrell {
namespace {

class EntrySessionRefresh : public test::EntryFixture {};

// The first caller of the core state's data-set manager refreshes the session
// when there is no token; the image provider or the host may be that caller,
// on another thread, while the load's binding refreshes too.
TEST_F(EntrySessionRefresh, ALoadCompletesWhenAnotherThreadReachesTheDataSetManagerFirst) {
    const auto gateway = "/" + id() + "/api";
    service_.web().respond(gateway, {200, R"({"sessionToken":"gateway-token"})", {}});
    // Both refreshes are under way before either is answered.
    service_.web().delay(gateway, std::chrono::milliseconds(20));
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE(round);
        CVAXAPI::sharedInstance()->setSessionToken(std::nullopt);
        // The manager is bound again by whoever asks for it next.
        AmbrellLegacy::resetForTesting();
        std::atomic<bool> go{false};
        std::thread other([&go, round] {
            (void)test::waitFor([&go] { return go.load(); });
            test::spinFor(round * 7);
            (void)AmbrellLegacy::dataSetCacheManager();
        });
        const auto error = completed([&](auto done) {
            go = true;
            entry_->load(id(), std::nullopt, done);
        });
        other.join();
        ASSERT_EQ(error, std::nullopt);
        EXPECT_TRUE(entry_->ready());
    }
    EXPECT_EQ(CVAXAPI::sharedInstance()->sessionToken(), "gateway-token");
}

// Another caller refreshes while the load's own refresh waits for its answer:
// the load still goes on once the gateway has answered.
TEST_F(EntrySessionRefresh, ALoadCompletesWhenAnotherCallerRefreshesWhileItsRefreshRuns) {
    std::atomic<int> answered{0};
    service_.web().handle("/" + id() + "/api", [&answered](const test::RecordedRequest&) {
        // On the server's thread, before the load's refresh is answered.
        if (answered++ == 0) CVAXAPI::sharedInstance()->refreshSessionWithCompletion([] {});
        return test::LoopbackWebService::Response{200, R"({"sessionToken":"gateway-token"})", {}};
    });
    EXPECT_EQ(loadSample(), std::nullopt);
    EXPECT_TRUE(entry_->ready());
    EXPECT_EQ(CVAXAPI::sharedInstance()->sessionToken(), "gateway-token");
}

// What a turn awaits through a callback ends at its bound when the callback
// is lost; a late call then finds nothing to resume, and one in time answers.
TEST(AwaitCallback, ALostCallbackEndsTheWaitAtItsBoundAndALateOneIsDropped) {
    const auto strand = platform::ThreadPool::shared().makeStrand();
    std::function<void(int)> kept;
    std::mutex mutex;
    const auto lost = [&]() -> platform::Awaitable<int> {
        co_return co_await awaitCallback<int>(
            [&](auto answer) {
                std::lock_guard lock(mutex);
                kept = answer;
            },
            std::chrono::milliseconds(50));
    };
    EXPECT_THROW(platform::blockingWait(strand, lost()), CallbackTimeoutError);
    {
        std::lock_guard lock(mutex);
        ASSERT_TRUE(kept);
        kept(7);
    }

    std::thread answerer;
    const auto answered = [&]() -> platform::Awaitable<int> {
        co_return co_await awaitCallback<int>([&](auto answer) { answerer = std::thread([answer] { answer(42); }); });
    };
    EXPECT_EQ(platform::blockingWait(strand, answered()), 42);
    answerer.join();
}

}  // namespace
}  // namespace ambrell
