#include "foundation/TaskQueue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <numeric>
#include <optional>
#include <stdexcept>

#include "foundation/AsyncSemaphore.h"
#include "platform/runtime/BlockingWait.h"
#include "platform/runtime/MainQueue.h"
#include "platform/runtime/ThreadPool.h"
#include "tests/support/AsyncTesting.h"
#include "tests/support/WaitFor.h"

namespace ambrell {
namespace {

using platform::Awaitable;
using test::AsyncGate;
using test::startTask;
using test::waitFor;
using Call = test::StartedTask<bool>;

template <typename T>
T run(Awaitable<T> work) {
    return platform::blockingWait(platform::ThreadPool::shared().makeStrand(), std::move(work));
}

std::size_t waiting(const TaskQueue& queue) { return run(queue.waitingCount()); }

// Whether the work ended, waiting at most the usual bound: a lost turn or
// wake-up then fails the test with a message instead of hanging it until the
// runner's timeout.
bool endsWithinBound(Awaitable<void> work) {
    const auto outcome = startTask(std::move(work)).result();
    return outcome && outcome->hasValue();
}

// What a signal answered (whether it resumed a waiter); none when it did not end within the bound.
std::optional<bool> signalWithinBound(const std::shared_ptr<AsyncSemaphore>& semaphore) {
    auto outcome = startTask(semaphore->signal()).result();
    if (!outcome || !outcome->hasValue()) return std::nullopt;
    return outcome->get();
}

// An operation that records its start, waits at its gate, and records its end.
struct Step {
    AsyncGate gate;
    std::atomic<bool> started{false};

    TaskQueue::Operation operation() {
        return [this]() -> Awaitable<void> {
            started = true;
            co_await gate.wait();
        };
    }
};

TaskQueue::Operation flagging(std::atomic<bool>& ran) {
    return [&ran]() -> Awaitable<void> {
        ran = true;
        co_return;
    };
}

// Enqueues once `hold` opens (at once without one): the test can cancel the task before that.
Awaitable<bool> enqueue(TaskQueue& queue, std::int64_t limit, TaskQueue::Operation operation,
                        AsyncGate* hold = nullptr) {
    if (hold) co_await hold->wait();
    co_return co_await queue.enqueue(limit, std::move(operation));
}

// A call whose operation runs and holds the queue until the step's gate opens.
Call running(TaskQueue& queue, std::int64_t limit, Step& step) {
    auto call = startTask(enqueue(queue, limit, step.operation()));
    EXPECT_TRUE(waitFor([&] { return step.started.load(); }));
    return call;
}

// A call that is queued behind the others.
Call queued(TaskQueue& queue, std::int64_t limit, TaskQueue::Operation operation) {
    const auto before = waiting(queue);
    auto call = startTask(enqueue(queue, limit, std::move(operation)));
    EXPECT_TRUE(waitFor([&] { return waiting(queue) == before + 1; }));
    return call;
}

bool refused(const Call& call) {
    auto result = call.result();
    return result && result->hasValue() && result->get();
}

bool ranToItsEnd(const Call& call) {
    auto result = call.result();
    return result && result->hasValue() && !result->get();
}

TEST(TaskQueue, QueuesUpToTheLimitRunsThemOneAtATimeInCallOrderAndRefusesTheRest) {
    for (const std::int64_t limit : {0, 1, 5}) {
        SCOPED_TRACE(limit);
        TaskQueue queue;
        Step first;
        auto a = running(queue, limit, first);

        std::mutex mutex;
        std::vector<int> order;
        std::atomic<int> concurrent{0}, maxConcurrent{0};
        std::vector<Call> calls;
        // A queue as long as the limit is not over it.
        for (int i = 0; i <= limit; ++i) {
            calls.push_back(queued(queue, limit, [&, i]() -> Awaitable<void> {
                maxConcurrent = std::max(maxConcurrent.load(), ++concurrent);
                std::lock_guard lock(mutex);
                order.push_back(i);
                --concurrent;
                co_return;
            }));
        }
        std::atomic<bool> refusedRan{false};
        EXPECT_TRUE(refused(startTask(enqueue(queue, limit, flagging(refusedRan)))));
        for (const auto& call : calls) EXPECT_FALSE(call.finished());
        EXPECT_TRUE(order.empty());

        first.gate.open();
        EXPECT_TRUE(ranToItsEnd(a));
        for (const auto& call : calls) EXPECT_TRUE(ranToItsEnd(call));
        std::vector<int> expected(static_cast<std::size_t>(limit) + 1);
        std::iota(expected.begin(), expected.end(), 0);
        EXPECT_EQ(order, expected);
        EXPECT_EQ(maxConcurrent, 1);
        EXPECT_FALSE(refusedRan);
    }
}

TEST(TaskQueue, CancellationBeforeQueueingOrWhileWaitingAndErrorsReachTheirCaller) {
    TaskQueue queue;
    AsyncGate failLater;
    auto failing = startTask(enqueue(queue, 5, [&]() -> Awaitable<void> {
        co_await failLater.wait();
        throw std::runtime_error("operation failed");
    }));
    ASSERT_TRUE(waitFor([&] { return failLater.arrivals() == 1; }));
    std::atomic<bool> cancelledRan{false}, unqueuedRan{false};
    // On a strand the test holds: a cancellation travels through it to the
    // queue, and the test waits for it there before the turn can come.
    const auto cancelledStrand = platform::ThreadPool::shared().makeStrand();
    auto cancelledOutcome = std::make_shared<std::promise<platform::TaskResult<bool>>>();
    Call cancelled{platform::Task::startOn(
                       cancelledStrand, [&queue, &cancelledRan] { return enqueue(queue, 5, flagging(cancelledRan)); },
                       [cancelledOutcome](auto result) { cancelledOutcome->set_value(std::move(result)); }),
                   cancelledOutcome->get_future().share()};
    ASSERT_TRUE(waitFor([&] { return waiting(queue) == 1u; }));
    Step later;
    auto after = queued(queue, 5, later.operation());

    // Cancelled before they reach the queue: the refusal comes before the cancellation check.
    AsyncGate hold;
    auto overLimit = startTask(enqueue(queue, 0, flagging(unqueuedRan), &hold));
    auto withRoom = startTask(enqueue(queue, 5, flagging(unqueuedRan), &hold));
    ASSERT_TRUE(waitFor([&] { return hold.arrivals() == 2; }));
    overLimit.task.cancel();
    withRoom.task.cancel();
    hold.open();
    EXPECT_TRUE(refused(overLimit));
    EXPECT_TRUE(test::failedWith<platform::CancellationError>(withRoom.result()));

    // Cancelled while waiting: the call is not thrown out of the line. The
    // request reaches the call's strand first, then the queue's, where the
    // count is taken after it.
    cancelled.task.cancel();
    platform::blockingWait(cancelledStrand, []() -> Awaitable<void> { co_return; });
    EXPECT_EQ(waiting(queue), 2u);
    EXPECT_FALSE(cancelled.finished());

    failLater.open();
    EXPECT_TRUE(test::failedWith<std::runtime_error>(failing.result()));
    EXPECT_TRUE(test::failedWith<platform::CancellationError>(cancelled.result()));
    ASSERT_TRUE(waitFor([&] { return later.started.load(); }));
    later.gate.open();
    EXPECT_TRUE(ranToItsEnd(after));
    EXPECT_FALSE(cancelledRan || unqueuedRan);
}

TEST(TaskQueue, DestructionFailsEveryWaitingCallWithoutRunningIt) {
    Step first;
    std::atomic<bool> waiterRan{false};
    std::optional<Call> a, b;
    {
        TaskQueue queue;
        a = running(queue, 5, first);
        b = queued(queue, 5, flagging(waiterRan));
    }
    EXPECT_TRUE(test::failedWith<platform::CancellationError>(b->result()));
    first.gate.open();
    EXPECT_TRUE(ranToItsEnd(*a));
    EXPECT_FALSE(waiterRan);
}

TEST(AsyncSemaphore, ValueOneLetsOneThroughAndResumesTheSecondOnSignal) {
    platform::MainQueueThread mainThread;
    auto semaphore = AsyncSemaphore::make(1);
    ASSERT_TRUE(endsWithinBound(semaphore->wait())) << "the first wait on a semaphore of value one did not go through";
    EXPECT_EQ(semaphore->value(), 0);

    auto second = startTask(semaphore->wait());
    ASSERT_TRUE(waitFor([&] { return semaphore->value() == -1; }));
    EXPECT_FALSE(second.finished());
    EXPECT_EQ(signalWithinBound(semaphore), true);
    EXPECT_EQ(semaphore->value(), 0);
    ASSERT_TRUE(second.result()) << "the signal did not resume the second waiter";

    // Signals without waiters raise the value without bound.
    EXPECT_EQ(signalWithinBound(semaphore), false);
    EXPECT_EQ(signalWithinBound(semaphore), false);
    EXPECT_EQ(semaphore->value(), 2);
}

TEST(AsyncSemaphore, WaitersResumeInTheOrderTheyBeganToWaitAndACancelledOneKeepsItsTurn) {
    platform::MainQueueThread mainThread;
    auto semaphore = AsyncSemaphore::make(0);
    std::mutex mutex;
    std::vector<char> resumed;
    std::vector<test::StartedTask<void>> waiters;
    for (char name : {'A', 'B', 'C'}) {
        waiters.push_back(startTask(
            [](std::shared_ptr<AsyncSemaphore> s, char n, std::mutex& m, std::vector<char>& out) -> Awaitable<void> {
                co_await s->wait();
                std::lock_guard lock(m);
                out.push_back(n);
            }(semaphore, name, mutex, resumed)));
        const auto expected = -static_cast<std::int64_t>(waiters.size());
        ASSERT_TRUE(waitFor([&] { return semaphore->value() == expected; }));
    }
    waiters[1].task.cancel();
    EXPECT_FALSE(waiters[1].result(std::chrono::milliseconds(50)));

    for (std::size_t i = 0; i < waiters.size(); ++i) {
        EXPECT_EQ(signalWithinBound(semaphore), true);
        const auto outcome = waiters[i].result();
        ASSERT_TRUE(outcome) << "waiter " << i << " was not resumed by its signal";
        EXPECT_TRUE(outcome->hasValue());
        std::lock_guard lock(mutex);
        EXPECT_EQ(resumed.size(), i + 1);
    }
    EXPECT_EQ(resumed, (std::vector<char>{'A', 'B', 'C'}));
}

// Cancellations that race turns and signals, many times over: each call's
// completion runs exactly once, and the queue and the semaphore come back to
// where they started.
constexpr int kRaceIterations = 1000;

TEST(TaskQueueRace, CancellationsRacingTurnsLoseNoTurnAndCompleteEveryCall) {
    TaskQueue queue;
    std::vector<std::atomic<int>> calls(kRaceIterations);
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    for (int i = 0; i < kRaceIterations; ++i) {
        auto task = platform::Task::start(
            [&queue, &running, &overlapped, i]() -> Awaitable<bool> {
                co_return co_await queue.enqueue(kRaceIterations, [&running, &overlapped, i]() -> Awaitable<void> {
                    if (++running > 1) overlapped = true;
                    test::spinFor(i);
                    --running;
                    co_return;
                });
            },
            [&calls, i](platform::TaskResult<bool>) { ++calls[i]; });
        test::spinFor(i);
        if (i % 3 != 0) task.cancel();
    }
    ASSERT_TRUE(test::eachCalledOnce(calls));
    EXPECT_FALSE(overlapped);
    // The queue still takes turns: nothing was left holding one.
    EXPECT_EQ(waiting(queue), 0u);
    auto ran = std::make_shared<std::atomic<bool>>(false);
    auto last = startTask(queue.enqueue(0, [ran]() -> Awaitable<void> {
        *ran = true;
        co_return;
    }));
    auto outcome = last.result();
    ASSERT_TRUE(outcome) << "a call after the race never got its turn";
    ASSERT_TRUE(outcome->hasValue());
    EXPECT_FALSE(outcome->get());
    EXPECT_TRUE(*ran);
}

TEST(AsyncSemaphoreRace, WaitsAndSignalsWithCancellationsRestoreTheCount) {
    platform::MainQueueThread mainThread;
    auto semaphore = AsyncSemaphore::make(1);
    std::vector<std::atomic<int>> calls(kRaceIterations);
    for (int i = 0; i < kRaceIterations; ++i) {
        auto task = platform::Task::start(
            [semaphore, i]() -> Awaitable<void> {
                co_await semaphore->wait();
                test::spinFor(i);
                co_await semaphore->signal();
            },
            [&calls, i](platform::TaskResult<void>) { ++calls[i]; });
        if (i % 2 == 0) task.cancel();
    }
    ASSERT_TRUE(test::eachCalledOnce(calls));
    EXPECT_EQ(semaphore->value(), 1);
}

}  // namespace
}  // namespace ambrell
