#include "platform/runtime/Task.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <stdexcept>
#include <thread>

#include "platform/runtime/Actor.h"
#include "platform/runtime/BlockingWait.h"
#include "platform/runtime/Cancellation.h"
#include "platform/runtime/Sleep.h"
#include "platform/runtime/TaskGroup.h"
#include "tests/support/AsyncTesting.h"
#include "tests/support/WaitFor.h"

namespace ambrell::platform {
namespace {

using namespace std::chrono_literals;

TEST(Task, CompletionIsCalledOnceOnTheQueuePromised) {
    MainQueueThread mainThread;
    const auto strand = ThreadPool::shared().makeStrand();
    for (const auto queue : {CompletionQueue::workingTask, CompletionQueue::main}) {
        SCOPED_TRACE(queue == CompletionQueue::main ? "main queue" : "working task");
        std::atomic<int> calls{0};
        std::atomic<bool> rightQueueAndValue{false};
        Task::startOn(
            strand, []() -> Awaitable<int> { co_return 42; },
            [&](TaskResult<int> result) {
                const bool onQueue =
                    queue == CompletionQueue::main ? MainQueue::shared().isCurrent() : strand.running_in_this_thread();
                rightQueueAndValue = onQueue && result.get() == 42;
                ++calls;
            },
            queue);
        ASSERT_TRUE(test::waitFor([&] { return calls > 0; }));
        MainQueue::shared().drain();
        EXPECT_EQ(calls, 1);
        EXPECT_TRUE(rightQueueAndValue);
    }
}

TEST(Task, ErrorsReachTheCompletionAndBlockingWaitRethrowsThem) {
    const auto broken = []() -> Awaitable<int> {
        throw std::logic_error("broken");
        co_return 0;
    };
    EXPECT_TRUE(test::failedWith<std::logic_error>(test::startTask(broken()).result()));
    const auto strand = ThreadPool::shared().makeStrand();
    EXPECT_EQ(blockingWait(strand, []() -> Awaitable<int> { co_return 5; }()), 5);
    EXPECT_THROW(blockingWait(strand, broken()), std::logic_error);
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
    EXPECT_TRUE(task.task.isCancelled());
    EXPECT_TRUE(test::failedWith<CancellationError>(task.result()));
}

// Like the platform's actors, work on an actor may interleave at its awaits;
// between them it runs alone.
TEST(Task, ActorsRunTheirWorkOneAtATimeBetweenAwaits) {
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    std::vector<test::StartedTask<void>> tasks;
    for (int i = 0; i < 20; ++i) {
        tasks.push_back(test::startTask(
            LoadingActor::shared().run<void>([](std::atomic<int>& in, std::atomic<bool>& over) -> Awaitable<void> {
                if (++in > 1) over = true;
                std::this_thread::yield();
                --in;
                co_return;
            }(inside, overlapped))));
    }
    for (auto& t : tasks) ASSERT_TRUE(t.result());
    EXPECT_FALSE(overlapped);
}

// An actor's answer must not keep the caller inside the actor's turn, where
// it would hold the actor while it goes on with its own work.
TEST(Task, TheCallerResumesOutsideTheActorsTurn) {
    auto task = test::startTask([]() -> Awaitable<int> {
        auto& actor = LoadingActor::shared();
        int insideAfterwards = 0;
        const int answer = co_await actor.run<int>([]() -> Awaitable<int> { co_return 1; }());
        if (actor.isCurrent()) ++insideAfterwards;
        try {
            co_await actor.run<void>([]() -> Awaitable<void> {
                throw std::runtime_error("refused");
                co_return;
            }());
        } catch (const std::runtime_error&) {
            if (actor.isCurrent()) ++insideAfterwards;
        }
        co_return answer + 10 * insideAfterwards;
    }());
    auto result = task.result();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->get(), 1);
}

TEST(TaskGroup, ResultsComeBackInTheChildrensOrder) {
    std::vector<ChildTask<int>> children;
    std::vector<int> expected;
    for (int i = 0; i < 16; ++i) {
        expected.push_back(i * i);
        children.push_back([i]() -> Awaitable<int> {
            // Later children finish first.
            co_await sleep(std::chrono::microseconds(16 - i) * 100);
            co_return i* i;
        });
    }
    auto result = test::startTask(runTaskGroup<int>(std::move(children))).result();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->get(), expected);
    // An empty group ends at once.
    EXPECT_EQ(test::startTask(runTaskGroup<int>({})).result().value().get(), std::vector<int>());
}

TEST(TaskGroup, FirstErrorCancelsTheSiblingsAndTheGroupWaitsForAll) {
    std::atomic<int> siblingsSleeping{0};
    std::atomic<int> siblingsCancelled{0};
    std::atomic<int> siblingsEnded{0};
    test::AsyncGate failNow;
    std::vector<ChildTask<void>> children(4, [&]() -> Awaitable<void> {
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
    children.push_back([&]() -> Awaitable<void> {
        co_await failNow.wait();
        throw std::runtime_error("child failed");
    });
    auto group = test::startTask(runTaskGroup<void>(std::move(children)));
    ASSERT_TRUE(test::waitFor([&] { return siblingsSleeping == 4; }));
    failNow.open();
    EXPECT_TRUE(test::failedWith<std::runtime_error>(group.result()));
    EXPECT_EQ(siblingsCancelled, 4);
    EXPECT_EQ(siblingsEnded, 4);
}

TEST(TaskGroup, CancellingTheCallerCancelsEveryChild) {
    std::atomic<int> started{0};
    std::atomic<int> cancelled{0};
    std::vector<ChildTask<int>> children(3, [&]() -> Awaitable<int> {
        ++started;
        try {
            co_await sleep(1h);
        } catch (const CancellationError&) {
            ++cancelled;
            throw;
        }
        co_return 0;
    });
    auto group = test::startTask(runTaskGroup<int>(std::move(children)));
    ASSERT_TRUE(test::waitFor([&] { return started == 3; }));
    group.task.cancel();
    EXPECT_TRUE(test::failedWith<CancellationError>(group.result()));
    EXPECT_EQ(cancelled, 3);
}

TEST(Task, CanBeAwaitedForItsOutcomeAndKeepsItsCallableAlive) {
    const auto strand = ThreadPool::shared().makeStrand();
    auto captured = std::make_shared<int>(20);
    // The callable is a temporary: what it captured must live as long as the work.
    auto task = Task::start([captured]() -> Awaitable<int> {
        co_await sleep(1ms);
        co_return *captured + 1;
    });
    captured.reset();
    EXPECT_EQ(blockingWait(strand, [&task]() -> Awaitable<int> { co_return co_await task.value(); }), 21);
    // A task that already ended hands its outcome over at once, as often as asked.
    EXPECT_EQ(blockingWait(strand, [&task]() -> Awaitable<int> { co_return co_await task.value(); }), 21);

    auto failing = Task::start([]() -> Awaitable<void> {
        throw std::logic_error("broken");
        co_return;
    });
    EXPECT_THROW(blockingWait(strand, [&failing]() -> Awaitable<void> { co_await failing.value(); }), std::logic_error);
}

template <typename Work>
concept StartableAsTask = requires(Work work) {
    Task::start(std::move(work));
};
template <typename Work>
concept StartableOnAStrand = requires(Work work, Strand strand) {
    Task::startOn(strand, std::move(work));
};

// An awaitable already begun would outlive a coroutine lambda called in the
// starting statement, and read its captures after they died: only the
// callable that begins the work is taken, and kept alive with the work.
TEST(Task, StartsTheCallableThatBeginsTheWorkNeverAnAwaitable) {
    const auto begin = []() -> Awaitable<int> { co_return 1; };
    static_assert(StartableAsTask<decltype(begin)>);
    static_assert(StartableOnAStrand<decltype(begin)>);
    static_assert(!StartableAsTask<Awaitable<int>>);
    static_assert(!StartableOnAStrand<Awaitable<int>>);
    static_assert(!StartableAsTask<Awaitable<void>>);
    const auto strand = ThreadPool::shared().makeStrand();
    EXPECT_EQ(
        blockingWait(strand,
                     [task = Task::startOn(strand, begin)]() -> Awaitable<int> { co_return co_await task.value(); }),
        1);
}

TEST(TaskResult, AnEmptyResultSaysSoWhenRead) {
    TaskResult<int> empty;
    EXPECT_FALSE(empty.hasValue());
    EXPECT_THROW(empty.get(), std::logic_error);
    EXPECT_THROW(TaskResult<void>().get(), std::logic_error);
    EXPECT_NO_THROW(TaskResult<void>::success().get());
}

TEST(TaskGroup, RefusesToRunOnTheParallelPoolExecutor) {
    std::promise<bool> refused;
    boost::asio::co_spawn(
        ThreadPool::shared().executor(), []() -> Awaitable<void> { co_await runTaskGroup<void>({}); }(),
        [&](std::exception_ptr error) { refused.set_value(error != nullptr); });
    EXPECT_TRUE(refused.get_future().get());
}

}  // namespace
}  // namespace ambrell::platform
