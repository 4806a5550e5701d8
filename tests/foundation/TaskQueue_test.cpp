#include "foundation/TaskQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "platform/runtime/BlockingWait.h"
#include "platform/runtime/ThreadPool.h"
#include "tests/support/AsyncTesting.h"
#include "tests/support/WaitFor.h"

namespace ambrell {
namespace {

using platform::Awaitable;
using test::AsyncGate;
using test::startTask;
using test::waitFor;

std::size_t waiting(const TaskQueue& queue) {
    return platform::blockingWait(platform::ThreadPool::shared().makeStrand(), queue.waitingCount());
}

// An operation that records its start, waits at its gate, and records its end.
struct Step {
    AsyncGate gate;
    std::atomic<bool> started{false};
    std::atomic<bool> ended{false};

    TaskQueue::Operation operation() {
        return [this]() -> Awaitable<void> {
            started = true;
            co_await gate.wait();
            ended = true;
        };
    }
};

Awaitable<bool> enqueueOn(TaskQueue& queue, std::int64_t limit, TaskQueue::Operation operation) {
    co_return co_await queue.enqueue(limit, std::move(operation));
}

// Enqueues once the gate opens: the test can cancel the task before that.
Awaitable<bool> enqueueAfter(AsyncGate& gate, TaskQueue& queue, std::int64_t limit, TaskQueue::Operation operation) {
    co_await gate.wait();
    co_return co_await queue.enqueue(limit, std::move(operation));
}

TEST(TaskQueue, LimitZeroRunsOneQueuesOneAndRefusesTheRest) {
    TaskQueue queue;
    Step first, second, third;

    auto a = startTask(enqueueOn(queue, 0, first.operation()));
    ASSERT_TRUE(waitFor([&] { return first.started.load(); }));

    auto b = startTask(enqueueOn(queue, 0, second.operation()));
    ASSERT_TRUE(waitFor([&] { return waiting(queue) == 1; }));
    EXPECT_FALSE(second.started);

    auto c = startTask(enqueueOn(queue, 0, third.operation()));
    auto refused = c.result();
    ASSERT_TRUE(refused && refused->hasValue());
    EXPECT_TRUE(refused->get());

    first.gate.open();
    auto ranFirst = a.result();
    ASSERT_TRUE(ranFirst && ranFirst->hasValue());
    EXPECT_FALSE(ranFirst->get());

    ASSERT_TRUE(waitFor([&] { return second.started.load(); }));
    second.gate.open();
    auto ranSecond = b.result();
    ASSERT_TRUE(ranSecond);
    EXPECT_FALSE(ranSecond->get());
    EXPECT_FALSE(third.started);
}

TEST(TaskQueue, LimitFiveQueuesSixAndRefusesTheSeventh) {
    TaskQueue queue;
    Step running;
    auto first = startTask(enqueueOn(queue, 5, running.operation()));
    ASSERT_TRUE(waitFor([&] { return running.started.load(); }));

    std::vector<test::StartedTask<bool>> waiters;
    for (int i = 0; i < 6; ++i) {
        waiters.push_back(startTask(enqueueOn(queue, 5, [] () -> Awaitable<void> { co_return; })));
        ASSERT_TRUE(waitFor([&] { return waiting(queue) == static_cast<std::size_t>(i + 1); }));
    }
    std::atomic<bool> seventhRan{false};
    auto seventh = startTask(enqueueOn(queue, 5, [&]() -> Awaitable<void> {
        seventhRan = true;
        co_return;
    }));
    auto refused = seventh.result();
    ASSERT_TRUE(refused);
    EXPECT_TRUE(refused->get());

    running.gate.open();
    for (auto& w : waiters) {
        auto r = w.result();
        ASSERT_TRUE(r);
        EXPECT_FALSE(r->get());
    }
    EXPECT_FALSE(seventhRan);
}

TEST(TaskQueue, WaitingCallsRunInCallOrderEachAfterThePrevious) {
    TaskQueue queue;
    Step blocker;
    auto first = startTask(enqueueOn(queue, 10, blocker.operation()));
    ASSERT_TRUE(waitFor([&] { return blocker.started.load(); }));

    std::mutex mutex;
    std::vector<int> order;
    std::atomic<int> concurrent{0};
    std::atomic<int> maxConcurrent{0};
    std::vector<test::StartedTask<bool>> calls;
    for (int i = 0; i < 4; ++i) {
        calls.push_back(startTask(enqueueOn(queue, 10, [&, i]() -> Awaitable<void> {
            maxConcurrent = std::max(maxConcurrent.load(), ++concurrent);
            {
                std::lock_guard lock(mutex);
                order.push_back(i);
            }
            --concurrent;
            co_return;
        })));
        ASSERT_TRUE(waitFor([&] { return waiting(queue) == static_cast<std::size_t>(i + 1); }));
    }
    blocker.gate.open();
    for (auto& c : calls) ASSERT_TRUE(c.result());
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(maxConcurrent, 1);
}

TEST(TaskQueue, QueueLengthEqualToTheLimitIsNotOverIt) {
    TaskQueue queue;
    Step running, queued;
    auto a = startTask(enqueueOn(queue, 1, running.operation()));
    ASSERT_TRUE(waitFor([&] { return running.started.load(); }));
    auto b = startTask(enqueueOn(queue, 1, queued.operation()));
    ASSERT_TRUE(waitFor([&] { return waiting(queue) == 1; }));
    // One waits and the limit is 1: this call is queued, not refused.
    auto c = startTask(enqueueOn(queue, 1, [] () -> Awaitable<void> { co_return; }));
    ASSERT_TRUE(waitFor([&] { return waiting(queue) == 2; }));
    EXPECT_FALSE(c.finished());

    running.gate.open();
    queued.gate.open();
    auto r = c.result();
    ASSERT_TRUE(r);
    EXPECT_FALSE(r->get());
}

TEST(TaskQueue, AlreadyCancelledCallerFailsWithoutBeingQueued) {
    TaskQueue queue;
    Step running;
    auto a = startTask(enqueueOn(queue, 5, running.operation()));
    ASSERT_TRUE(waitFor([&] { return running.started.load(); }));

    AsyncGate hold;
    std::atomic<bool> ran{false};
    auto cancelled = startTask(enqueueAfter(hold, queue, 5, [&]() -> Awaitable<void> {
        ran = true;
        co_return;
    }));
    ASSERT_TRUE(waitFor([&] { return hold.arrivals() == 1; }));
    cancelled.task.cancel();
    hold.open();

    EXPECT_TRUE(test::failedWith<platform::CancellationError>(cancelled.result()));
    EXPECT_EQ(waiting(queue), 0u);
    running.gate.open();
    ASSERT_TRUE(a.result());
    EXPECT_FALSE(ran);
}

TEST(TaskQueue, RefusalComesBeforeTheCancellationCheck) {
    TaskQueue queue;
    Step running, queued;
    auto a = startTask(enqueueOn(queue, 0, running.operation()));
    ASSERT_TRUE(waitFor([&] { return running.started.load(); }));
    auto b = startTask(enqueueOn(queue, 0, queued.operation()));
    ASSERT_TRUE(waitFor([&] { return waiting(queue) == 1; }));

    AsyncGate hold;
    auto c = startTask(enqueueAfter(hold, queue, 0, []() -> Awaitable<void> { co_return; }));
    ASSERT_TRUE(waitFor([&] { return hold.arrivals() == 1; }));
    c.task.cancel();
    hold.open();
    auto refused = c.result();
    ASSERT_TRUE(refused && refused->hasValue());
    EXPECT_TRUE(refused->get());

    running.gate.open();
    queued.gate.open();
    ASSERT_TRUE(a.result());
    ASSERT_TRUE(b.result());
}

TEST(TaskQueue, CallCancelledWhileWaitingKeepsItsPlaceThenHandsTheTurnOn) {
    TaskQueue queue;
    Step running, later;
    auto a = startTask(enqueueOn(queue, 5, running.operation()));
    ASSERT_TRUE(waitFor([&] { return running.started.load(); }));

    std::atomic<bool> cancelledRan{false};
    auto b = startTask(enqueueOn(queue, 5, [&]() -> Awaitable<void> {
        cancelledRan = true;
        co_return;
    }));
    ASSERT_TRUE(waitFor([&] { return waiting(queue) == 1; }));
    auto c = startTask(enqueueOn(queue, 5, later.operation()));
    ASSERT_TRUE(waitFor([&] { return waiting(queue) == 2; }));

    b.task.cancel();
    // Still waiting: the cancelled call is not thrown out of the line.
    EXPECT_EQ(waiting(queue), 2u);
    EXPECT_FALSE(b.finished());

    running.gate.open();
    EXPECT_TRUE(test::failedWith<platform::CancellationError>(b.result()));
    EXPECT_FALSE(cancelledRan);
    ASSERT_TRUE(waitFor([&] { return later.started.load(); }));
    later.gate.open();
    ASSERT_TRUE(c.result());
}

TEST(TaskQueue, OperationErrorReachesItsCallerAndTheNextCallRuns) {
    TaskQueue queue;
    Step next;
    AsyncGate failLater;
    auto failing = startTask(enqueueOn(queue, 5, [&]() -> Awaitable<void> {
        co_await failLater.wait();
        throw std::runtime_error("operation failed");
    }));
    ASSERT_TRUE(waitFor([&] { return failLater.arrivals() == 1; }));
    auto after = startTask(enqueueOn(queue, 5, next.operation()));
    ASSERT_TRUE(waitFor([&] { return waiting(queue) == 1; }));

    failLater.open();
    EXPECT_TRUE(test::failedWith<std::runtime_error>(failing.result()));
    ASSERT_TRUE(waitFor([&] { return next.started.load(); }));
    next.gate.open();
    auto r = after.result();
    ASSERT_TRUE(r);
    EXPECT_FALSE(r->get());
}

TEST(TaskQueue, DestructionFailsEveryWaitingCallWithoutRunningIt) {
    Step running;
    std::atomic<bool> waiterRan{false};
    std::optional<test::StartedTask<bool>> first, second;
    {
        TaskQueue queue;
        first = startTask(enqueueOn(queue, 5, running.operation()));
        ASSERT_TRUE(waitFor([&] { return running.started.load(); }));
        second = startTask(enqueueOn(queue, 5, [&]() -> Awaitable<void> {
            waiterRan = true;
            co_return;
        }));
        ASSERT_TRUE(waitFor([&] { return waiting(queue) == 1; }));
    }
    EXPECT_TRUE(test::failedWith<platform::CancellationError>(second->result()));
    running.gate.open();
    auto r = first->result();
    ASSERT_TRUE(r);
    EXPECT_FALSE(r->get());
    EXPECT_FALSE(waiterRan);
}

}  // namespace
}  // namespace ambrell
