#include "platform/runtime/TaskGroup.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

#include "platform/runtime/Actor.h"
#include "platform/runtime/Sleep.h"
#include "tests/support/AsyncTesting.h"
#include "tests/support/WaitFor.h"

namespace ambrell::platform {
namespace {

using namespace std::chrono_literals;

TEST(TaskGroup, ResultsComeBackInTheChildrensOrder) {
    std::vector<ChildTask<int>> children;
    for (int i = 0; i < 16; ++i) {
        children.push_back([i]() -> Awaitable<int> {
            // Later children finish first.
            co_await sleep(std::chrono::microseconds(16 - i) * 100);
            co_return i * i;
        });
    }
    auto group = test::startTask(runTaskGroup<int>(std::move(children)));
    auto result = group.result();
    ASSERT_TRUE(result);
    std::vector<int> expected;
    for (int i = 0; i < 16; ++i) expected.push_back(i * i);
    EXPECT_EQ(result->get(), expected);
}

TEST(TaskGroup, EmptyGroupEndsAtOnce) {
    auto group = test::startTask(runTaskGroup<int>({}));
    auto result = group.result();
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->get().empty());
}

TEST(TaskGroup, FirstErrorCancelsTheSiblingsAndTheGroupWaitsForAll) {
    std::atomic<int> siblingsSleeping{0};
    std::atomic<int> siblingsCancelled{0};
    std::atomic<int> siblingsEnded{0};
    test::AsyncGate failNow;
    std::vector<ChildTask<void>> children;
    for (int i = 0; i < 4; ++i) {
        children.push_back([&]() -> Awaitable<void> {
            try {
                ++siblingsSleeping;
                co_await sleep(1h);
            } catch (const CancellationError&) {
                ++siblingsCancelled;
            }
            // Work after the cancellation still finishes before the group ends.
            co_await runOn<void>(ThreadPool::shared().makeStrand(), []() -> Awaitable<void> { co_return; }());
            ++siblingsEnded;
        });
    }
    children.push_back([&]() -> Awaitable<void> {
        co_await failNow.wait();
        throw std::runtime_error("child failed");
    });

    auto group = test::startTask(runTaskGroup<void>(std::move(children)));
    ASSERT_TRUE(test::waitFor([&] { return siblingsSleeping == 4; }));
    failNow.open();
    auto result = group.result();
    EXPECT_TRUE(test::failedWith<std::runtime_error>(result));
    EXPECT_EQ(siblingsCancelled, 4);
    EXPECT_EQ(siblingsEnded, 4);
}

TEST(TaskGroup, CancellingTheCallerCancelsEveryChild) {
    std::atomic<int> started{0};
    std::atomic<int> cancelled{0};
    std::vector<ChildTask<int>> children;
    for (int i = 0; i < 3; ++i) {
        children.push_back([&]() -> Awaitable<int> {
            ++started;
            try {
                co_await sleep(1h);
            } catch (const CancellationError&) {
                ++cancelled;
                throw;
            }
            co_return 0;
        });
    }
    auto group = test::startTask(runTaskGroup<int>(std::move(children)));
    ASSERT_TRUE(test::waitFor([&] { return started == 3; }));
    group.task.cancel();
    EXPECT_TRUE(test::failedWith<CancellationError>(group.result()));
    EXPECT_EQ(cancelled, 3);
}

}  // namespace
}  // namespace ambrell::platform
