#include "platform/runtime/DispatchQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "tests/support/WaitFor.h"

namespace ambrell::platform {
namespace {

TEST(DispatchQueue, RunsBlocksOneAtATimeInQueueOrder) {
    DispatchQueue queue("com.ambrell.test");
    EXPECT_EQ(queue.label(), "com.ambrell.test");
    std::vector<int> order;
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    for (int i = 0; i < 100; ++i) {
        queue.async([&, i] {
            if (++inside > 1) overlapped = true;
            order.push_back(i);
            --inside;
        });
    }
    queue.sync([] {});
    EXPECT_FALSE(overlapped);
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(order[i], i);
}

TEST(DispatchQueue, SyncReturnsTheValueAndRunsInlineWhenAlreadyOnTheQueue) {
    DispatchQueue queue("com.ambrell.test");
    EXPECT_FALSE(queue.isCurrent());
    const int value = queue.sync([&] {
        EXPECT_TRUE(queue.isCurrent());
        // A nested sync on the same queue would wait for itself if it were queued.
        return queue.sync([] { return 41; }) + 1;
    });
    EXPECT_EQ(value, 42);
}

TEST(DispatchQueue, SyncRethrowsTheBlocksException) {
    DispatchQueue queue("com.ambrell.test");
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

}  // namespace
}  // namespace ambrell::platform
