#include "platform/runtime/Task.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "platform/runtime/Actor.h"
#include "platform/runtime/BlockingWait.h"
#include "platform/runtime/Cancellation.h"
#include "platform/runtime/Sleep.h"
#include "tests/support/AsyncTesting.h"
#include "tests/support/WaitFor.h"

namespace ambrell::platform {
namespace {

using namespace std::chrono_literals;

TEST(Task, CompletionFromTheWorkingTaskGetsTheValueOnce) {
    std::atomic<int> calls{0};
    std::atomic<bool> onWorkingStrand{false};
    auto strand = ThreadPool::shared().makeStrand();
    std::promise<int> value;
    Task::startOn<int>(
        strand, []() -> Awaitable<int> { co_return 42; }(),
        [&](TaskResult<int> result) {
            ++calls;
            onWorkingStrand = strand.running_in_this_thread();
            value.set_value(result.get());
        });
    EXPECT_EQ(value.get_future().get(), 42);
    EXPECT_TRUE(onWorkingStrand);
    EXPECT_EQ(calls, 1);
}

TEST(Task, ErrorsReachTheCompletion) {
    auto task = test::startTask([]() -> Awaitable<void> {
        throw std::runtime_error("broken");
        co_return;
    }());
    EXPECT_TRUE(test::failedWith<std::runtime_error>(task.result()));
}

TEST(Task, CancelInterruptsASleep) {
    auto task = test::startTask(sleep(1h));
    task.task.cancel();
    EXPECT_TRUE(task.task.isCancelled());
    EXPECT_TRUE(test::failedWith<CancellationError>(task.result()));
}

TEST(Task, CancellationIsStickyAndObservedOnlyWhereChecked) {
    test::AsyncGate gate;
    std::atomic<bool> reachedEnd{false};
    auto task = test::startTask([](test::AsyncGate& g, std::atomic<bool>& end) -> Awaitable<void> {
        co_await g.wait();
        // Awaiting is no cancellation point of its own...
        co_await runOn<int>(LoadingActor::shared().executor(), []() -> Awaitable<int> { co_return 1; }());
        end = true;
        // ...checking is.
        co_await checkCancellation();
    }(gate, reachedEnd));
    ASSERT_TRUE(test::waitFor([&] { return gate.arrivals() == 1; }));
    task.task.cancel();
    gate.open();
    EXPECT_TRUE(test::failedWith<CancellationError>(task.result()));
    EXPECT_TRUE(reachedEnd);
}

TEST(Task, CancellationReachesWorkRunningOnAnActor) {
    test::AsyncGate started;
    auto task = test::startTask(LocationServiceActor::shared().run<void>([](test::AsyncGate& g) -> Awaitable<void> {
        EXPECT_TRUE(LocationServiceActor::shared().isCurrent());
        // Arrive at the gate without waiting, then sleep until cancelled.
        g.open();
        co_await g.wait();
        co_await sleep(1h);
    }(started)));
    ASSERT_TRUE(test::waitFor([&] { return started.arrivals() == 1; }));
    task.task.cancel();
    EXPECT_TRUE(test::failedWith<CancellationError>(task.result()));
}

TEST(Task, BlockingWaitReturnsTheResultAndRethrows) {
    auto strand = ThreadPool::shared().makeStrand();
    EXPECT_EQ(blockingWait(strand, []() -> Awaitable<int> { co_return 5; }()), 5);
    EXPECT_THROW(blockingWait(strand,
                              []() -> Awaitable<int> {
                                  throw std::logic_error("no");
                                  co_return 0;
                              }()),
                 std::logic_error);
}

// Like the platform's actors, work on an actor may interleave at its awaits;
// between them it runs alone.
TEST(Task, ActorsRunTheirWorkOneAtATimeBetweenAwaits) {
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    std::vector<test::StartedTask<void>> tasks;
    for (int i = 0; i < 20; ++i) {
        tasks.push_back(test::startTask(LoadingActor::shared().run<void>(
            [](std::atomic<int>& in, std::atomic<bool>& over) -> Awaitable<void> {
                if (++in > 1) over = true;
                std::this_thread::yield();
                --in;
                co_return;
            }(inside, overlapped))));
    }
    for (auto& t : tasks) ASSERT_TRUE(t.result());
    EXPECT_FALSE(overlapped);
}

}  // namespace
}  // namespace ambrell::platform
