#include "platform/runtime/MainQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "platform/runtime/Task.h"
#include "tests/support/AsyncTesting.h"

namespace ambrell::platform {
namespace {

TEST(MainQueue, DrainWaitsForEverythingPostedBefore) {
    MainQueueThread mainThread;
    std::atomic<int> ran{0};
    std::atomic<bool> allOnMain{true};
    for (int i = 0; i < 50; ++i) {
        MainQueue::shared().async([&] {
            if (!MainQueue::shared().isCurrent()) allOnMain = false;
            ++ran;
        });
    }
    MainQueue::shared().drain();
    EXPECT_EQ(ran, 50);
    EXPECT_TRUE(allOnMain);
    EXPECT_FALSE(MainQueue::shared().isCurrent());
}

TEST(MainQueue, CompletionPromisedOnTheMainQueueIsCalledThereExactlyOnce) {
    MainQueueThread mainThread;
    std::atomic<int> calls{0};
    std::promise<bool> onMain;
    Task::start<int>(
        []() -> Awaitable<int> { co_return 7; }(),
        [&](TaskResult<int> result) {
            ++calls;
            onMain.set_value(MainQueue::shared().isCurrent() && result.get() == 7);
        },
        CompletionQueue::main);
    auto future = onMain.get_future();
    ASSERT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(future.get());
    MainQueue::shared().drain();
    EXPECT_EQ(calls, 1);
}

TEST(MainQueue, CanRunAgainAfterStop) {
    { MainQueueThread first; }
    MainQueueThread second;
    std::atomic<bool> ran{false};
    MainQueue::shared().async([&] { ran = true; });
    MainQueue::shared().drain();
    EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace ambrell::platform
