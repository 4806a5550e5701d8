// Cancellations that arrive while the awaited work is running or just ending:
// where use-after-free and lost completions hide. Each runs many times so the
// sanitizers see the interleavings.

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "platform/runtime/Actor.h"
#include "platform/runtime/Task.h"
#include "platform/runtime/TaskGroup.h"
#include "tests/support/AsyncTesting.h"
#include "tests/support/WaitFor.h"

namespace ambrell::platform {
namespace {

constexpr int kIterations = 1000;

TEST(CancellationRace, TaskCancelledWhileAwaitingAnotherActorCompletesOnce) {
    Actor actor;
    std::vector<std::atomic<int>> calls(kIterations);
    for (int i = 0; i < kIterations; ++i) {
        auto task = Task::start(
            [&actor, i]() -> Awaitable<int> {
                co_return co_await actor.run([i]() -> Awaitable<int> {
                    test::spinFor(i);
                    co_return i;
                });
            },
            [&calls, i](TaskResult<int>) { ++calls[i]; });
        test::spinFor(i + 1);
        task.cancel();
    }
    EXPECT_TRUE(test::eachCalledOnce(calls));
}

TEST(CancellationRace, ARequestMadeBeforeAHopTravelsThroughNestedActors) {
    Actor outer;
    Actor inner;
    std::atomic<int> observed{0};
    std::atomic<int> done{0};
    for (int i = 0; i < kIterations; ++i) {
        auto gate = std::make_shared<test::AsyncGate>();
        auto task = Task::start(
            [&, gate]() -> Awaitable<void> {
                co_await gate->wait();
                co_await outer.run([&]() -> Awaitable<void> {
                    co_await inner.run([&]() -> Awaitable<void> {
                        if (co_await isCancelled()) ++observed;
                    });
                });
            },
            [&](TaskResult<void>) { ++done; });
        task.cancel();
        gate->open();
    }
    ASSERT_TRUE(test::waitFor([&] { return done == kIterations; }));
    EXPECT_EQ(observed.load(), kIterations);
}

TEST(CancellationRace, GroupCancelledWhileItsChildrenEndCompletesOnce) {
    std::vector<std::atomic<int>> calls(kIterations);
    for (int i = 0; i < kIterations; ++i) {
        auto task = Task::start(
            [i]() -> Awaitable<void> {
                std::vector<ChildTask<void>> children;
                for (int c = 0; c < 3; ++c) {
                    children.push_back([i, c]() -> Awaitable<void> {
                        test::spinFor(i + c);
                        co_return;
                    });
                }
                co_await runTaskGroup<void>(std::move(children));
            },
            [&calls, i](TaskResult<void>) { ++calls[i]; });
        test::spinFor(i);
        task.cancel();
    }
    EXPECT_TRUE(test::eachCalledOnce(calls));
}

}  // namespace
}  // namespace ambrell::platform
