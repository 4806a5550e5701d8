// Races with the runtime's shutdown, and a block on the host's loop that runs
// the queue within itself (a drain, a shutdown, the host's exit()). A process
// shuts its runtime down once, and its main thread is the host's, so each run
// is a child process of its own, forked afresh from the test.

#include <gtest/gtest.h>

#include <atomic>
#include <boost/asio/post.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/runtime/Actor.h"
#include "platform/runtime/DispatchQueue.h"
#include "platform/runtime/MainQueue.h"
#include "platform/runtime/OperationQueue.h"
#include "platform/runtime/RunBlocking.h"
#include "platform/runtime/Runtime.h"
#include "platform/runtime/RuntimeErrors.h"
#include "platform/runtime/Sleep.h"
#include "platform/runtime/Task.h"
#include "platform/runtime/ThreadPool.h"
#include "tests/support/ChildTest.h"
#include "tests/support/HeldPool.h"
#include "tests/support/WaitFor.h"

namespace ambrell::platform {
namespace {

using namespace std::chrono_literals;

// A run that does not end by then has hung: a correct one takes well under a
// second, even under ThreadSanitizer on two busy cores.
constexpr auto kRunBound = 20s;
// Shorter than a run's bound, so a run that lost work says how much.
constexpr auto kCompletionBound = 10s;
// A child process and a runtime of its own cost tens of milliseconds under
// the sanitizers, so each run races many events with its one shutdown.
constexpr int kShutdownRuns = 50;
// An exit also runs the leak check: fewer runs, each of which failed without
// the exit-time shutdown in the right place.
constexpr int kExitRuns = 30;
// Each of these runs holds the host's thread by design, so one would do; a
// few let the stop fall at different points of the host's blocks.
constexpr int kHeldHostRuns = 10;

int failRun(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    return 1;
}

// A function-local static, as the library has many, built only after the
// runtime: its destructor is registered later than the runtime's exit hook.
const std::vector<std::string>& wordsBuiltAfterTheRuntime() {
    static const std::vector<std::string> words(32, std::string(48, 'w'));
    return words;
}

// Pool tasks that use statics built after the runtime, until cancelled; then
// the process exits without shutting the runtime down. A sanitizer ends the
// child with its report when a static dies before the pool has stopped.
int exitWhilePoolTasksUseStatics(int /*run*/) {
    Runtime::shared();
    (void)wordsBuiltAfterTheRuntime();
    (void)LoadingActor::shared();
    constexpr int kReaders = 4;
    std::atomic<int> reading{0};
    for (int i = 0; i < kReaders; ++i) {
        Task::start([&reading]() -> Awaitable<void> {
            ++reading;
            std::size_t letters = 0;
            for (;;) {
                for (const auto& word : wordsBuiltAfterTheRuntime()) letters += word.size();
                if (LoadingActor::shared().isCurrent()) ++letters;
                co_await sleep(0ns);
            }
        });
    }
    if (!test::waitFor([&] { return reading == kReaders; })) return failRun("the reading tasks did not start");
    std::exit(0);
}

int syncFromAHostThreadDuringShutdown(int /*run*/) {
    DispatchQueue queue("test.sync-during-shutdown");
    queue.sync([] {});
    std::atomic<bool> over{false};
    std::thread shutdown([&] {
        Runtime::shared().shutdown();
        over = true;
    });
    // Every call either runs its block or is refused; one that does neither
    // hangs, and the run with it.
    while (!over) {
        try {
            queue.sync([] {});
        } catch (const RuntimeStoppedError&) {
        }
    }
    shutdown.join();
    return 0;
}

int addOperationsDuringShutdown(int /*run*/) {
    constexpr int kOperations = 400;
    OperationQueue queue("test.adding-during-shutdown", 2, false);
    std::atomic<int> completed{0};
    std::thread adder([&] {
        while (!Runtime::shared().isShuttingDown()) std::this_thread::yield();
        for (int i = 0; i < kOperations; ++i) {
            auto operation = std::make_shared<Operation>();
            operation->setCompletionBlock([&completed] { ++completed; });
            queue.addOperation(operation);
        }
    });
    Runtime::shared().shutdown();
    adder.join();
    if (!test::waitFor([&] { return completed == kOperations; }, kCompletionBound)) {
        std::fprintf(stderr, "%d of %d completion blocks ran\n", completed.load(), kOperations);
        return 1;
    }
    return 0;
}

int closeTheMainQueueWhileTheHostStopsItsLoop(int /*run*/) {
    std::atomic<bool> hostDone{false};
    std::atomic<int> loops{0};
    std::thread host([&] {
        while (!hostDone) {
            ++loops;
            MainQueue::shared().run();
        }
    });
    std::thread stopper([&] {
        while (!hostDone) {
            MainQueue::shared().stop();
            std::this_thread::yield();
        }
    });
    if (!test::waitFor([&] { return loops > 2; })) return failRun("the host's loop did not start");
    constexpr int kBlocks = 50;
    std::atomic<int> calls{0};
    for (int i = 0; i < kBlocks; ++i) MainQueue::shared().deliver([&calls] { ++calls; });
    // Bounded as any wait of a test: a busy machine may take long to catch up.
    // A shutdown that waits for the stopped loop instead runs past the run's
    // bound and is reported as hung.
    static_assert(test::kWaitBound > kRunBound);
    Runtime::shared().shutdown(test::kWaitBound);
    hostDone = true;
    host.join();
    stopper.join();
    return calls == kBlocks ? 0 : failRun("a block queued before the shutdown was not called once");
}

// The host's thread stays inside run() after its loop has ended, for as long
// as the shutdown takes, as a preempted main thread may. A chain of blocks
// that queue their successor while the host's loop runs them, as a coroutine
// busy on the main queue does, has one queued whenever the loop stops: the
// shutdown must run that one on its own thread, which ends the chain.
int closeTheMainQueueWhileTheHostIsStillInsideRun(int /*run*/) {
    auto& mainQueue = MainQueue::shared();
    std::atomic<bool> shutdownOver{false};
    // Held past the run's bound: a shutdown that waits for the thread to
    // return from run() shows as a hung run.
    static_assert(test::kWaitBound > kRunBound);
    mainQueue.setLoopEndedHookForTesting([&] { (void)test::waitFor([&] { return shutdownOver.load(); }); });
    std::thread host([&] { mainQueue.run(); });
    const auto hostThread = host.get_id();
    std::atomic<int> steps{0};
    std::atomic<bool> chainEnded{false};
    std::function<void()> step = [&] {
        ++steps;
        if (std::this_thread::get_id() == hostThread) {
            boost::asio::post(mainQueue.executor(), step);
        } else {
            chainEnded = true;
        }
    };
    boost::asio::post(mainQueue.executor(), step);
    if (!test::waitFor([&] { return steps > 2; })) return failRun("the host's loop did not start");
    Runtime::shared().shutdown(test::kWaitBound);
    shutdownOver = true;
    host.join();
    mainQueue.setLoopEndedHookForTesting({});
    return chainEnded ? 0 : failRun("a block queued while the host's loop ran was never called");
}

// Work that crosses the queues when the shutdown's deadline has passed: one
// task's file work waits behind a blocking pool held busy until that pool
// closes, when the shared pool has stopped already; another task waits for a
// turn on the main queue, which no loop runs. Each runs only once the pools
// are joined, and resumes its task on a joined pool: both tasks must still
// finish and call their completions, once.
int workCrossingTheQueuesPastTheDeadline(int /*run*/) {
    const test::PoolHeldUntilClosed held(ThreadPool::blockingIO());
    if (!held.holdsEveryThread()) return failRun("the blocking pool's threads were not all held");
    std::atomic<int> fileWorkCompletions{0};
    std::atomic<int> mainQueueCompletions{0};
    std::atomic<bool> askedForTheMainQueue{false};
    Task::start([]() -> Awaitable<void> { co_await runBlocking([] {}); },
                [&](const TaskResult<void>& /*outcome*/) { ++fileWorkCompletions; });
    Task::start(
        [&]() -> Awaitable<void> {
            askedForTheMainQueue = true;
            co_await runOn(MainQueue::shared().serialExecutor(), []() -> Awaitable<void> { co_return; });
        },
        [&](const TaskResult<void>& /*outcome*/) { ++mainQueueCompletions; });
    if (!test::waitFor([&] { return askedForTheMainQueue.load(); })) return failRun("the task did not start");
    Runtime::shared().shutdown(0ms);
    if (!test::waitFor([&] { return fileWorkCompletions > 0 && mainQueueCompletions > 0; }, kCompletionBound)) {
        return failRun(fileWorkCompletions == 0
                           ? "the task whose file work was queued past the deadline never completed"
                           : "the task whose main-queue turn came past the deadline never completed");
    }
    return fileWorkCompletions == 1 && mainQueueCompletions == 1 ? 0 : failRun("a task completed more than once");
}

// A block on the host's loop that queues two blocks, then runs the queue
// within itself. The loop runs on the process's main thread, as a host's does.
// Statics, so that an exit hook can read them; each child starts from zeros.
using Queueing = void (MainQueue::*)(std::function<void()>);
std::atomic<int> queuedCalls[2];
std::atomic<bool> blockWentOn{false};

void queueTwoBlocks(Queueing queueing) {
    for (auto& calls : queuedCalls) (MainQueue::shared().*queueing)([&calls] { ++calls; });
}

bool eachQueuedBlockRanOnce() { return queuedCalls[0] == 1 && queuedCalls[1] == 1; }

// The shutdown must return, and the host's loop after the block.
int shutDownFromAHostBlock(Queueing queueing) {
    (MainQueue::shared().*queueing)([queueing] {
        queueTwoBlocks(queueing);
        Runtime::shared().shutdown();
        blockWentOn = true;
    });
    MainQueue::shared().run();
    if (!blockWentOn) return failRun("the host's loop returned before the block that shut down had");
    return eachQueuedBlockRanOnce() ? 0 : failRun("a block queued before the shutdown was not called once");
}

void failUnlessEachQueuedBlockRanOnce() {
    if (eachQueuedBlockRanOnce()) return;
    std::fprintf(stderr, "a block queued before exit() was not called once\n");
    std::_Exit(1);
}

int exitFromAHostBlock(int /*run*/) {
    // The main thread has used the runtime, so exit() shuts the runtime down
    // before it calls this hook.
    Runtime::shared();
    std::atexit(failUnlessEachQueuedBlockRanOnce);
    MainQueue::shared().deliver([] {
        queueTwoBlocks(&MainQueue::deliver);
        std::exit(0);
    });
    MainQueue::shared().run();
    return failRun("the host's loop returned instead of the process ending");
}

int drainFromAHostBlock(int /*run*/) {
    auto& mainQueue = MainQueue::shared();
    std::atomic<bool> drainedBoth{false};
    std::atomic<bool> stopped{false};
    mainQueue.deliver([&] {
        queueTwoBlocks(&MainQueue::deliver);
        mainQueue.drain();
        drainedBoth = eachQueuedBlockRanOnce();
        mainQueue.deliver([&] {
            stopped = true;
            mainQueue.stop();
        });
    });
    mainQueue.run();
    if (!stopped) return failRun("the host's loop returned although nothing stopped it");
    return drainedBoth && eachQueuedBlockRanOnce() ? 0 : failRun("the drain did not call each queued block once");
}

TEST(RuntimeShutdownRace, ProcessExitWithoutShutdownStopsThePoolsBeforeAnyStaticDies) {
    EXPECT_EQ(test::failureOfForkedRuns(kExitRuns, kRunBound, exitWhilePoolTasksUseStatics), "")
        << "the exit-time shutdown must run before the statics built after the runtime are destroyed";
}

TEST(RuntimeShutdownRace, SyncFromAHostThreadDuringShutdownRunsOrIsRefusedNeverHangs) {
    EXPECT_EQ(test::failureOfForkedRuns(kShutdownRuns, kRunBound, syncFromAHostThreadDuringShutdown), "")
        << "DispatchQueue::sync from a host thread during the shutdown";
}

TEST(RuntimeShutdownRace, OperationsAddedDuringShutdownEachRunTheirCompletionBlock) {
    EXPECT_EQ(test::failureOfForkedRuns(kShutdownRuns, kRunBound, addOperationsDuringShutdown), "")
        << "operations added while the runtime shuts down";
}

TEST(RuntimeShutdownRace, ClosingTheMainQueueEndsWhenTheHostStopsItsLoopFirst) {
    EXPECT_EQ(test::failureOfForkedRuns(kShutdownRuns, kRunBound, closeTheMainQueueWhileTheHostStopsItsLoop), "")
        << "the shutdown waited for a main queue whose loop had stopped";
}

TEST(RuntimeShutdownRace, ClosingTheMainQueueRunsWhatIsLeftWhileTheHostIsStillInsideRun) {
    EXPECT_EQ(test::failureOfForkedRuns(kHeldHostRuns, kRunBound, closeTheMainQueueWhileTheHostIsStillInsideRun), "")
        << "the shutdown ended while the host's thread was inside run(), with a block still queued";
}

TEST(RuntimeShutdownRace, WorkCrossingTheQueuesPastTheDeadlineStillCompletesItsTasks) {
    EXPECT_EQ(test::failureOfForkedRuns(1, kRunBound, workCrossingTheQueuesPastTheDeadline), "")
        << "work left queued when the shutdown's deadline passed";
}

TEST(MainQueueFromItsOwnBlock, AShutdownAfterDeliveringBlocksReturnsAndCallsEachOnce) {
    EXPECT_EQ(test::failureOfForkedRuns(1, kRunBound, [](int) { return shutDownFromAHostBlock(&MainQueue::deliver); }),
              "");
}

TEST(MainQueueFromItsOwnBlock, AnExitAfterDeliveringBlocksEndsTheProcessAndCallsEachOnce) {
    EXPECT_EQ(test::failureOfForkedRuns(1, kRunBound, exitFromAHostBlock), "");
}

TEST(MainQueueFromItsOwnBlock, ADrainAfterDeliveringBlocksCallsEachOnceAndTheLoopGoesOnUntilStopped) {
    EXPECT_EQ(test::failureOfForkedRuns(1, kRunBound, drainFromAHostBlock), "");
}

// The shutdown waits for the blocks queued through async() that have not
// started yet: one still counted while it runs would wait for itself.
TEST(MainQueueFromItsOwnBlock, AShutdownFromABlockQueuedWithAsyncReturns) {
    EXPECT_EQ(test::failureOfForkedRuns(1, kRunBound, [](int) { return shutDownFromAHostBlock(&MainQueue::async); }),
              "");
}

}  // namespace
}  // namespace ambrell::platform
