#include "platform/runtime/OperationQueue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/runtime/Runtime.h"
#include "tests/support/WaitFor.h"

namespace ambrell::platform {
namespace {

// Records the order in which plain operations ran.
class Journal {
public:
    void add(std::string entry) {
        std::lock_guard lock(mutex_);
        entries_.push_back(std::move(entry));
    }
    [[nodiscard]] std::vector<std::string> entries() const {
        std::lock_guard lock(mutex_);
        return entries_;
    }
    [[nodiscard]] std::size_t indexOf(const std::string& entry) const {
        const auto all = entries();
        return static_cast<std::size_t>(std::find(all.begin(), all.end(), entry) - all.begin());
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> entries_;
};

class RecordingOperation : public Operation {
public:
    RecordingOperation(Journal& journal, std::string entry) : journal_(journal), entry_(std::move(entry)) {}

protected:
    void main() override { journal_.add(entry_); }

private:
    Journal& journal_;
    std::string entry_;
};

// An asynchronous operation that holds its slot until the test finishes it,
// so no pool thread waits while the test looks at the queue.
class GatedOperation : public Operation {
public:
    explicit GatedOperation(std::atomic<int>* running = nullptr, std::atomic<int>* most = nullptr)
        : running_(running), most_(most) {}

    void start() override {
        if (isCancelled()) {
            finished_ = true;
            stateDidChange();
            return;
        }
        if (running_) {
            const int now = ++*running_;
            int seen = most_->load();
            while (now > seen && !most_->compare_exchange_weak(seen, now)) {
            }
        }
        started_ = true;
        executing_ = true;
        stateDidChange();
    }
    void finish() {
        if (running_) --*running_;
        executing_ = false;
        finished_ = true;
        stateDidChange();
    }
    [[nodiscard]] bool started() const { return started_; }
    [[nodiscard]] bool isExecuting() const override { return executing_; }
    [[nodiscard]] bool isFinished() const override { return finished_; }
    [[nodiscard]] bool isAsynchronous() const override { return true; }

private:
    std::atomic<int>* running_;
    std::atomic<int>* most_;
    std::atomic<bool> started_{false};
    std::atomic<bool> executing_{false};
    std::atomic<bool> finished_{false};
};

TEST(OperationQueue, NeverRunsMoreThanTheLimitAndEmptiesWhenAllFinished) {
    OperationQueue queue("test.limit", 3, false);
    std::atomic<int> running{0};
    std::atomic<int> most{0};
    std::atomic<int> completions{0};
    std::vector<std::shared_ptr<GatedOperation>> operations;
    for (int i = 0; i < 40; ++i) {
        auto operation = std::make_shared<GatedOperation>(&running, &most);
        operation->setCompletionBlock([&] { ++completions; });
        operations.push_back(operation);
        queue.addOperation(operation);
    }
    for (int finished = 0; finished < 40; ++finished) {
        // FIFO within one priority: the oldest waiting one is always started.
        const auto& next = operations[finished];
        ASSERT_TRUE(test::waitFor([&] { return next->started(); })) << finished;
        EXPECT_LE(queue.executingOperationCount(), 3u);
        next->finish();
    }
    EXPECT_TRUE(test::waitFor([&] { return completions == 40 && queue.operationCount() == 0; }));
    EXPECT_EQ(most, 3);
}

TEST(OperationQueue, StartsAnOperationOnlyWhenItsDependenciesAndTheirCompletionsAreDone) {
    OperationQueue queue("test.dependencies", 4, true);
    Journal journal;
    auto make = [&](const std::string& name) { return std::make_shared<RecordingOperation>(journal, name); };
    // A diamond added end first, with a cancelled operation in one branch.
    auto first = make("first");
    auto left = make("left");
    auto right = make("right");
    auto skipped = make("skipped");
    auto last = make("last");
    first->setCompletionBlock([&] { journal.add("first done"); });
    left->addDependency(first);
    right->addDependency(first);
    skipped->addDependency(right);
    last->addDependency(left);
    last->addDependency(skipped);
    skipped->cancel();
    std::atomic<bool> lastDone{false};
    last->setCompletionBlock([&] { lastDone = true; });
    queue.addOperations({last, skipped, right, left, first});
    EXPECT_EQ(queue.operationCount(), 5u);
    EXPECT_EQ(queue.executingOperationCount(), 0u);  // suspended
    queue.setSuspended(false);
    ASSERT_TRUE(test::waitFor([&] { return lastDone.load(); }));
    EXPECT_LT(journal.indexOf("first"), journal.indexOf("first done"));
    EXPECT_LT(journal.indexOf("first done"), journal.indexOf("left"));
    EXPECT_LT(journal.indexOf("first done"), journal.indexOf("right"));
    EXPECT_LT(journal.indexOf("left"), journal.indexOf("last"));
    EXPECT_EQ(journal.indexOf("skipped"), journal.entries().size());  // never ran
    // The cancelled one released "last" at once, so the queue may finish it
    // only after "last" is done.
    EXPECT_TRUE(test::waitFor([&] { return queue.operationCount() == 0; }));
    EXPECT_TRUE(skipped->isFinished());
}

TEST(OperationQueue, ReadyOperationsStartByPriorityThenInTheOrderAdded) {
    OperationQueue queue("test.priority", 1, true);
    Journal journal;
    const std::vector<std::pair<std::string, int>> added = {
        {"low", kQueuePriorityLow},
        {"high-1", kQueuePriorityHigh},
        {"normal", kQueuePriorityNormal},
        {"high-2", kQueuePriorityHigh},
        {"clamped", 100},
        {"very-low", -100},
    };
    std::atomic<int> done{0};
    for (const auto& [name, priority] : added) {
        auto operation = std::make_shared<RecordingOperation>(journal, name);
        operation->setQueuePriority(priority);
        operation->setCompletionBlock([&] { ++done; });
        queue.addOperation(operation);
    }
    EXPECT_EQ(queue.operations().front()->queuePriority(), kQueuePriorityLow);
    EXPECT_EQ(queue.operations()[4]->queuePriority(), kQueuePriorityVeryHigh);
    queue.setSuspended(false);
    ASSERT_TRUE(test::waitFor([&] { return done == 6; }));
    EXPECT_EQ(journal.entries(),
              (std::vector<std::string>{"clamped", "high-1", "high-2", "normal", "low", "very-low"}));
}

TEST(OperationQueue, SuspendingHoldsBackNewStartsButNotRunningWork) {
    OperationQueue queue("test.suspend", 2, false);
    auto running = std::make_shared<GatedOperation>();
    queue.addOperation(running);
    ASSERT_TRUE(test::waitFor([&] { return running->started(); }));
    queue.setSuspended(true);
    EXPECT_TRUE(queue.isSuspended());
    auto held = std::make_shared<GatedOperation>();
    queue.addOperation(held);
    running->finish();
    EXPECT_TRUE(test::waitFor([&] { return queue.operationCount() == 1; }));
    EXPECT_FALSE(held->started());
    EXPECT_EQ(queue.executingOperationCount(), 0u);
    queue.setSuspended(false);
    ASSERT_TRUE(test::waitFor([&] { return held->started(); }));
    held->finish();
    EXPECT_TRUE(test::waitFor([&] { return queue.operationCount() == 0; }));
}

TEST(OperationQueue, ACancelledWaitingOperationFinishesWithoutRunningAndCompletesOnce) {
    OperationQueue queue("test.cancel", 1, false);
    auto blocker = std::make_shared<GatedOperation>();
    queue.addOperation(blocker);
    ASSERT_TRUE(test::waitFor([&] { return blocker->started(); }));
    std::atomic<int> ran{0};
    std::atomic<int> completions{0};
    auto waiting = std::make_shared<GatedOperation>();
    waiting->setCompletionBlock([&] { ++completions; });
    queue.addOperation(waiting);
    queue.addOperation([&] { ++ran; });
    queue.cancelAllOperations();
    EXPECT_TRUE(blocker->isCancelled());
    blocker->finish();
    EXPECT_TRUE(test::waitFor([&] { return queue.operationCount() == 0 && completions == 1; }));
    EXPECT_FALSE(waiting->started());
    EXPECT_EQ(ran, 0);
    waiting->cancel();  // again: nothing more happens
    EXPECT_EQ(completions, 1);
}

TEST(OperationQueue, RefusesAnOperationTwiceOrInTwoQueues) {
    OperationQueue first("test.first", 1, true);
    OperationQueue second("test.second", 1, true);
    auto operation = std::make_shared<GatedOperation>();
    first.addOperation(operation);
    EXPECT_THROW(first.addOperation(operation), std::invalid_argument);
    EXPECT_THROW(second.addOperation(operation), std::invalid_argument);
    EXPECT_THROW(second.addOperation(std::shared_ptr<Operation>()), std::invalid_argument);
    EXPECT_THROW(operation->addDependency(operation), std::invalid_argument);
    auto finished = std::make_shared<GatedOperation>();
    finished->cancel();
    finished->start();
    EXPECT_NO_THROW(second.addOperation(finished));  // nothing left to do: not added
    EXPECT_EQ(first.operationCount(), 1u);
    EXPECT_EQ(second.operationCount(), 0u);
}

TEST(OperationQueue, DestroyingTheQueueFinishesWhatDidNotStart) {
    Journal journal;
    std::atomic<int> completions{0};
    {
        OperationQueue queue("test.destroy", 2, true);
        for (int i = 0; i < 5; ++i) {
            auto operation = std::make_shared<RecordingOperation>(journal, "ran");
            operation->setCompletionBlock([&] { ++completions; });
            queue.addOperation(operation);
        }
    }
    EXPECT_TRUE(test::waitFor([&] { return completions == 5; }));
    EXPECT_TRUE(journal.entries().empty());
}

class BlockOperation : public Operation {
public:
    explicit BlockOperation(std::function<void()> block) : block_(std::move(block)) {}

protected:
    void main() override { block_(); }

private:
    std::function<void()> block_;
};

TEST(OperationQueue, DependenciesAcrossQueuesHoldWithManyProducers) {
    OperationQueue upstream("test.upstream", 2, false);
    OperationQueue downstream("test.downstream", 3, false);
    constexpr int kPairs = 50;
    constexpr int kProducers = 4;
    std::atomic<int> orderBroken{0};
    std::atomic<int> downstreamDone{0};
    std::vector<std::thread> producers;
    for (int t = 0; t < kProducers; ++t) {
        producers.emplace_back([&] {
            for (int i = 0; i < kPairs; ++i) {
                auto done = std::make_shared<std::atomic<bool>>(false);
                auto before = std::make_shared<BlockOperation>([done] { *done = true; });
                auto after = std::make_shared<BlockOperation>([done, &orderBroken] {
                    if (!*done) ++orderBroken;
                });
                after->addDependency(before);
                after->setCompletionBlock([&] { ++downstreamDone; });
                // The dependant is queued first, so it waits on the other queue.
                downstream.addOperation(after);
                upstream.addOperation(before);
            }
        });
    }
    for (auto& producer : producers) producer.join();
    EXPECT_TRUE(test::waitFor([&] { return downstreamDone == kPairs * kProducers; }));
    EXPECT_EQ(orderBroken, 0);
    EXPECT_TRUE(test::waitFor([&] { return upstream.operationCount() == 0 && downstream.operationCount() == 0; }));
}

// The dependency has finished and its completion block runs when the
// dependant is added (or is just ending, every other time): the block hands
// the dependants over once it is done, and must not leave this one behind.
TEST(OperationQueue, ADependencyAddedWhileTheCompletionBlockRunsIsReleasedAfterIt) {
    constexpr int kIterations = 1000;
    OperationQueue queue("test.late-dependency", 4, false);
    for (int i = 0; i < kIterations; ++i) {
        std::promise<void> inCompletion;
        std::promise<void> dependencyAdded;
        auto added = dependencyAdded.get_future().share();
        std::atomic<bool> completionOver{false};
        auto first = std::make_shared<Operation>();
        first->setCompletionBlock([&inCompletion, &completionOver, added] {
            inCompletion.set_value();
            added.wait_for(test::kWaitBound);
            completionOver = true;
        });
        queue.addOperation(first);
        ASSERT_EQ(inCompletion.get_future().wait_for(test::kWaitBound), std::future_status::ready)
            << "iteration " << i << ": the completion block did not run";
        std::atomic<bool> secondRan{false};
        std::atomic<bool> sawTheCompletion{false};
        auto second = std::make_shared<BlockOperation>([&] {
            sawTheCompletion = completionOver.load();
            secondRan = true;
        });
        // Every other time the block is let go first, to race the adding.
        if (i % 2 == 1) dependencyAdded.set_value();
        second->addDependency(first);
        if (i % 2 == 0) dependencyAdded.set_value();
        queue.addOperation(second);
        ASSERT_TRUE(test::waitFor([&] { return secondRan.load(); }))
            << "iteration " << i << ": the dependant never started";
        EXPECT_TRUE(sawTheCompletion.load())
            << "iteration " << i << ": the dependant started before the completion block ended";
    }
}

TEST(OperationQueue, ACancelledDependencyCountsAsFinishedInNoQueueOrInASuspendedOne) {
    Journal journal;
    OperationQueue queue("test.cancelled-dependency", 2, false);
    OperationQueue held("test.held", 1, true);

    // Cancelled before it was ever queued, and never queued.
    auto neverQueued = std::make_shared<RecordingOperation>(journal, "never queued");
    neverQueued->cancel();
    auto afterNeverQueued = std::make_shared<RecordingOperation>(journal, "after the unqueued one");
    afterNeverQueued->addDependency(neverQueued);
    queue.addOperation(afterNeverQueued);

    // Cancelled while it waits in a suspended queue, after its dependant was added.
    auto suspended = std::make_shared<RecordingOperation>(journal, "suspended");
    held.addOperation(suspended);
    auto afterSuspended = std::make_shared<RecordingOperation>(journal, "after the suspended one");
    afterSuspended->addDependency(suspended);
    queue.addOperation(afterSuspended);
    EXPECT_FALSE(afterSuspended->isReady());
    suspended->cancel();

    EXPECT_TRUE(test::waitFor([&] { return journal.entries().size() == 2; }))
        << "a dependant of a cancelled operation never started";
    EXPECT_TRUE(test::waitFor([&] { return queue.operationCount() == 0; }));
    const auto entries = journal.entries();
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "after the unqueued one"), 1);
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "after the suspended one"), 1);

    // The cancelled one still finishes without running once its queue goes on.
    std::atomic<int> completions{0};
    suspended->setCompletionBlock([&] { ++completions; });
    held.setSuspended(false);
    EXPECT_TRUE(test::waitFor([&] { return completions == 1 && held.operationCount() == 0; }));
    EXPECT_EQ(journal.entries().size(), 2U);
}

// A plain operation whose flags the test reads through, so that a dependant's
// readiness check is made exactly when the operation, cancelled while its work
// runs, has returned from that work but has not finished: the check lets the
// work return and waits until it has.
class CancelledAsItEndsOperation : public Operation {
public:
    [[nodiscard]] bool isExecuting() const override {
        if (isCancelled()) {
            letEnd_ = true;
            (void)test::waitFor([this] { return !Operation::isExecuting(); });
        }
        return Operation::isExecuting();
    }
    [[nodiscard]] bool running() const { return running_; }
    void letEnd() { letEnd_ = true; }

protected:
    void main() override {
        running_ = true;
        (void)test::waitFor([this] { return letEnd_.load(); });
    }

private:
    std::atomic<bool> running_{false};
    mutable std::atomic<bool> letEnd_{false};
};

TEST(OperationQueue, AnOperationCancelledAfterItBeganHoldsItsDependantsUntilItsCompletionBlockRan) {
    OperationQueue queue("test.cancelled-as-it-ends", 2, false);
    Journal journal;
    auto dependency = std::make_shared<CancelledAsItEndsOperation>();
    std::promise<void> completionMayEnd;
    auto mayEnd = completionMayEnd.get_future().share();
    std::atomic<bool> inCompletion{false};
    dependency->setCompletionBlock([&journal, &inCompletion, mayEnd] {
        inCompletion = true;
        mayEnd.wait_for(test::kWaitBound);
        journal.add("dependency completed");
    });
    auto dependant = std::make_shared<RecordingOperation>(journal, "dependant");
    dependant->addDependency(dependency);
    queue.addOperations({dependency, dependant});
    ASSERT_TRUE(test::waitFor([&] { return dependency->running(); }));

    dependency->cancel();
    dependency->letEnd();
    ASSERT_TRUE(test::waitFor([&] { return inCompletion.load(); }));
    // The dependency has left the queue by now: what executes is the dependant.
    const bool dependantStarted = queue.executingOperationCount() > 0 || !journal.entries().empty();
    EXPECT_FALSE(dependantStarted) << "the dependant started before the dependency's completion block ran";
    completionMayEnd.set_value();

    ASSERT_TRUE(test::waitFor([&] { return queue.operationCount() == 0; }));
    EXPECT_EQ(journal.entries(), (std::vector<std::string>{"dependency completed", "dependant"}));
}

// The runtime's shutdown ends the process's runtime, so it runs in a child
// process of its own.
TEST(OperationQueueDeathTest, RuntimeShutdownFinishesWhatDidNotStartAndRefusesNewWork) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            Journal journal;
            std::atomic<int> completions{0};
            OperationQueue queue("test.shutdown", 1, true);
            auto add = [&] {
                auto operation = std::make_shared<RecordingOperation>(journal, "ran");
                operation->setCompletionBlock([&] { ++completions; });
                queue.addOperation(operation);
            };
            for (int i = 0; i < 3; ++i) add();
            Runtime::shared().shutdown();
            const bool drained = completions == 3 && queue.operationCount() == 0;
            add();  // after the shutdown: cancelled, finished, completed at once
            const bool refused = completions == 4 && queue.operationCount() == 0;
            std::exit(drained && refused && journal.entries().empty() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace ambrell::platform
