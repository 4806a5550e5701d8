#include "foundation/AsyncSemaphore.h"

#include <gtest/gtest.h>

#include <mutex>

#include "platform/runtime/BlockingWait.h"
#include "platform/runtime/MainQueue.h"
#include "platform/runtime/ThreadPool.h"
#include "tests/support/AsyncTesting.h"
#include "tests/support/WaitFor.h"

namespace ambrell {
namespace {

using platform::Awaitable;

class AsyncSemaphoreTest : public ::testing::Test {
protected:
    template <typename T>
    T run(Awaitable<T> work) {
        return platform::blockingWait(platform::ThreadPool::shared().makeStrand(), std::move(work));
    }

    platform::MainQueueThread mainThread;
};

TEST_F(AsyncSemaphoreTest, ValueOneLetsOneThroughAndResumesTheSecondOnSignal) {
    auto semaphore = AsyncSemaphore::make(1);
    run(semaphore->wait());
    EXPECT_EQ(semaphore->value(), 0);

    auto second = test::startTask(semaphore->wait());
    ASSERT_TRUE(test::waitFor([&] { return semaphore->value() == -1; }));
    EXPECT_FALSE(second.finished());
    EXPECT_TRUE(run(semaphore->signal()));
    EXPECT_EQ(semaphore->value(), 0);
    ASSERT_TRUE(second.result());

    // Signals without waiters raise the value without bound.
    EXPECT_FALSE(run(semaphore->signal()));
    EXPECT_FALSE(run(semaphore->signal()));
    EXPECT_EQ(semaphore->value(), 2);
}

TEST_F(AsyncSemaphoreTest, WaitersResumeInTheOrderTheyBeganToWait) {
    auto semaphore = AsyncSemaphore::make(0);
    std::mutex mutex;
    std::vector<char> resumed;
    std::vector<test::StartedTask<void>> waiters;
    for (char name : {'A', 'B', 'C'}) {
        waiters.push_back(test::startTask([](std::shared_ptr<AsyncSemaphore> s, char n, std::mutex& m,
                                             std::vector<char>& out) -> Awaitable<void> {
            co_await s->wait();
            std::lock_guard lock(m);
            out.push_back(n);
        }(semaphore, name, mutex, resumed)));
        const auto expected = -static_cast<std::int64_t>(waiters.size());
        ASSERT_TRUE(test::waitFor([&] { return semaphore->value() == expected; }));
    }

    for (std::size_t i = 0; i < waiters.size(); ++i) {
        EXPECT_TRUE(run(semaphore->signal()));
        ASSERT_TRUE(waiters[i].result());
        std::lock_guard lock(mutex);
        EXPECT_EQ(resumed.size(), i + 1);
    }
    EXPECT_EQ(resumed, (std::vector<char>{'A', 'B', 'C'}));
}

TEST_F(AsyncSemaphoreTest, ACancelledWaiterStillWaitsForItsTurn) {
    auto semaphore = AsyncSemaphore::make(0);
    auto waiter = test::startTask(semaphore->wait());
    ASSERT_TRUE(test::waitFor([&] { return semaphore->value() == -1; }));
    waiter.task.cancel();
    EXPECT_FALSE(waiter.result(std::chrono::milliseconds(50)));

    EXPECT_TRUE(run(semaphore->signal()));
    auto outcome = waiter.result();
    ASSERT_TRUE(outcome);
    EXPECT_TRUE(outcome->hasValue());
}

}  // namespace
}  // namespace ambrell
