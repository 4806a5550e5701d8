#include "platform/runtime/DispatchQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/runtime/MainQueue.h"
#include "tests/support/WaitFor.h"

namespace ambrell::platform {
namespace {

TEST(DispatchQueue, RunsBlocksOneAtATimeInQueueOrder) {
    DispatchQueue queue("com.ambrell.test");
    std::vector<int> order;
    std::vector<int> expected;
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    for (int i = 0; i < 100; ++i) {
        expected.push_back(i);
        queue.async([&, i] {
            if (++inside > 1) overlapped = true;
            order.push_back(i);
            --inside;
        });
    }
    queue.sync([] {});
    EXPECT_FALSE(overlapped);
    EXPECT_EQ(order, expected);
}

TEST(DispatchQueue, SyncReturnsOrRethrowsAndRunsInlineWhenAlreadyOnTheQueue) {
    DispatchQueue queue("com.ambrell.test");
    EXPECT_FALSE(queue.isCurrent());
    const int value = queue.sync([&] {
        EXPECT_TRUE(queue.isCurrent());
        // A nested sync on the same queue would wait for itself if it were queued.
        return queue.sync([] { return 41; }) + 1;
    });
    EXPECT_EQ(value, 42);
    EXPECT_THROW(queue.sync([]() -> int { throw std::runtime_error("inside"); }), std::runtime_error);
    // The queue goes on after a failed block.
    EXPECT_EQ(queue.sync([] { return 1; }), 1);
}

TEST(DispatchQueue, BlocksQueuedBeforeDestructionStillRun) {
    std::atomic<int> ran{0};
    {
        DispatchQueue queue("com.ambrell.test");
        for (int i = 0; i < 10; ++i) queue.asyncBarrier([&] { ++ran; });
    }
    EXPECT_TRUE(test::waitFor([&] { return ran == 10; }));
}

TEST(DispatchQueue, SyncFromManyThreadsIsSerialised) {
    DispatchQueue queue("com.ambrell.test");
    int counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) queue.sync([&] { ++counter; });
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(queue.sync([&] { return counter; }), 4000);
}

TEST(MainQueue, RunsAgainAfterAStopAndDrainWaitsForEverythingPostedBefore) {
    { MainQueueThread first; }
    // The second run is on a thread of the test's own, not a MainQueueThread:
    // that one, like drain(), waits for the loop without a bound, so a loop
    // that cannot run again would hang the test instead of failing it.
    auto returned = std::make_shared<std::atomic<bool>>(false);
    std::thread second([returned] {
        MainQueue::shared().run();
        *returned = true;
    });
    // Stops until the run has returned: a stop that comes before the run
    // began would otherwise be missed.
    const auto stopSecond = [&] {
        EXPECT_TRUE(test::waitFor([&] {
            MainQueue::shared().stop();
            return returned->load();
        }));
        second.join();
    };
    // Shared, because the block may still run after a failed wait.
    auto probed = std::make_shared<std::atomic<bool>>(false);
    MainQueue::shared().async([probed] { *probed = true; });
    if (!test::waitFor([&] { return probed->load(); })) {
        stopSecond();
        FAIL() << "the main queue did not run again after a stop";
    }

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
    stopSecond();
}

}  // namespace
}  // namespace ambrell::platform
