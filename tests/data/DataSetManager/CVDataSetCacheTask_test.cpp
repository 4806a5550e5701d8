#include "data/DataSetManager/CVDataSetCacheTask.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "data/DataSetManager/CVDataSetCacheTrimTask.h"
#include "data/DataSetManager/CVDataSetCacheWorkScheduler.h"
#include "data/DataSetManager/NSOperationCorvay.h"
#include "platform/runtime/MainQueue.h"
#include "tests/support/WaitFor.h"

namespace ambrell {
namespace {

using Status = CVDataSetCacheTaskStatus;
using ::testing::ElementsAre;
using ::testing::MatchesRegex;

platform::NSError errorWithCode(std::int64_t code) { return platform::NSError{"test", code, {}}; }

// What the gated tasks of one test saw.
struct Probe {
    std::atomic<int> running{0};
    std::atomic<int> most{0};
    std::mutex mutex;
    std::multiset<const void*> executed;

    void entered(const void* task) {
        const int now = ++running;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {
        }
        std::lock_guard lock(mutex);
        executed.insert(task);
    }
    std::size_t timesExecuted(const void* task) {
        std::lock_guard lock(mutex);
        return executed.count(task);
    }
};

// Holds its queue slot until the test finishes it; no thread waits meanwhile.
class GatedTask : public CVDataSetCacheTask {
public:
    static std::shared_ptr<GatedTask> make(Probe& probe, const std::shared_ptr<const void>& owner = nullptr) {
        return std::shared_ptr<GatedTask>(new GatedTask(probe, owner));
    }
    void finish() {
        --probe_.running;
        setStatus(Status::finished);
    }
    [[nodiscard]] bool hasRun() const { return probe_.timesExecuted(this) > 0; }

protected:
    GatedTask(Probe& probe, const std::shared_ptr<const void>& owner)
        : CVDataSetCacheTask(owner, owner != nullptr), probe_(probe) {}
    void executeWork() override { probe_.entered(this); }

private:
    Probe& probe_;
};

// Records the delegate calls, in order.
class RecordingDelegate : public CVDataSetCacheTaskDelegate {
public:
    void workItemStarted(CVDataSetCacheTask& /*task*/) override { add("started"); }
    void workItemFinishedWithStatus(CVDataSetCacheTask& /*task*/, Status status) override {
        add("ended " + std::to_string(static_cast<unsigned>(status)));
    }
    std::vector<std::string> calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    void add(std::string call) {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
    }
    std::mutex mutex_;
    std::vector<std::string> calls_;
};

class CVDataSetCacheTaskTest : public ::testing::Test {
protected:
    ~CVDataSetCacheTaskTest() override { platform::MainQueue::shared().drain(); }

    platform::MainQueueThread mainThread_;
};

TEST_F(CVDataSetCacheTaskTest, PriorityMapsOntoTheQueuePriorityWhenScheduled) {
    const std::vector<std::pair<unsigned, int>> table = {{0, -8}, {1, -4}, {2, 0}, {3, 4}, {4, 0}, {7, 0}};
    for (const auto& [priority, queuePriority] : table) {
        EXPECT_EQ(CVDataSetCacheTask::queuePriorityForPriority(priority), queuePriority) << priority;
    }
    auto scheduler = CVDataSetCacheWorkScheduler::create();
    auto current = CVDataSetCacheTask::create();
    current->setPriority(3);
    current->setIsCurrentDataSet(true);
    auto other = CVDataSetCacheTask::createWithOwner(std::make_shared<int>(1));
    EXPECT_EQ(other->priority(), 2u);
    other->setPriority(7);
    scheduler->addWorkItems({current, other});
    EXPECT_EQ(current->queuePriority(), 4);
    EXPECT_EQ(static_cast<int>(current->qualityOfService()), 25);
    EXPECT_EQ(other->queuePriority(), 0);
    EXPECT_EQ(static_cast<int>(other->qualityOfService()), 9);
}

TEST_F(CVDataSetCacheTaskTest, OwnerIsHeldWeaklyAndComparedByIdentity) {
    auto owner = std::make_shared<int>(1);
    const void* identity = owner.get();
    auto plain = CVDataSetCacheTask::create();
    auto owned = CVDataSetCacheTask::createWithOwner(owner);
    EXPECT_EQ(plain->priority(), 0u);
    EXPECT_EQ(plain->owner(), nullptr);
    EXPECT_FALSE(plain->isOwnedBy(nullptr));
    EXPECT_EQ(owned->owner(), owner);
    owner.reset();
    EXPECT_EQ(owned->owner(), nullptr);
    EXPECT_TRUE(owned->isOwnedBy(identity));
}

TEST_F(CVDataSetCacheTaskTest, RunsThroughItsStatusesAndFinishesOnTheMainQueue) {
    auto scheduler = CVDataSetCacheWorkScheduler::create();
    auto delegate = std::make_shared<RecordingDelegate>();
    auto task = CVDataSetCacheTask::createWithOwner(delegate);
    task->setName("mark");
    task->setDelegate(delegate);
    EXPECT_EQ(task->debugStatus(), "Pending");
    task->start();  // not handed to a scheduler: nothing
    EXPECT_EQ(task->status(), Status::pending);

    std::atomic<bool> completedOnMain{false};
    cvAddMainQueueCompletionBlock(*task, [&] { completedOnMain = platform::MainQueue::shared().isCurrent(); });
    scheduler->addWorkItems({task});
    EXPECT_EQ(task->status(), Status::waiting);
    EXPECT_EQ(task->scheduler(), scheduler);
    EXPECT_EQ(task->debugStatus(), "Waiting   (           0.0mS wait)");
    EXPECT_EQ(scheduler->count(), 1u);
    EXPECT_FALSE(scheduler->started());

    scheduler->start();
    ASSERT_TRUE(test::waitFor([&] { return completedOnMain.load(); }));
    EXPECT_EQ(task->status(), Status::finished);
    EXPECT_TRUE(task->isFinished());
    EXPECT_FALSE(task->isExecuting());
    EXPECT_GE(task->duration(), 0.0);
    EXPECT_GE(task->waitingTime(), 0.0);
    EXPECT_THAT(task->debugStatus(), MatchesRegex(R"(Finished  \( *[0-9]+\.[0-9]mS, *[0-9]+\.[0-9]mS wait\))"));
    EXPECT_THAT(delegate->calls(), ElementsAre("started", "ended 4"));
    EXPECT_TRUE(test::waitFor([&] { return scheduler->count() == 0; }));
}

TEST_F(CVDataSetCacheTaskTest, ACancelledTaskIsTerminal) {
    auto delegate = std::make_shared<RecordingDelegate>();
    auto task = CVDataSetCacheTask::create();
    task->setDelegate(delegate);
    auto scheduler = CVDataSetCacheWorkScheduler::create();
    scheduler->addWorkItems({task});
    std::atomic<int> completions{0};
    cvAddCompletionBlock(*task, [&] { ++completions; });
    task->cancel();
    EXPECT_EQ(task->status(), Status::cancelled);
    EXPECT_TRUE(task->isFinished());
    EXPECT_THAT(task->debugStatus(), MatchesRegex(R"(Cancelled \( *0\.0mS, *0\.0mS wait\))"));
    // A late completion and a second cancel change nothing.
    task->setStatus(Status::finished);
    task->cancel();
    task->start();
    EXPECT_EQ(task->status(), Status::cancelled);
    EXPECT_THAT(delegate->calls(), ElementsAre("ended 3"));
    EXPECT_TRUE(test::waitFor([&] { return completions == 1 && scheduler->count() == 0; }));
    // A task that finished cannot be cancelled.
    auto finished = CVDataSetCacheTask::create();
    finished->setStatus(Status::finished);
    finished->cancel();
    EXPECT_EQ(finished->status(), Status::finished);
    EXPECT_FALSE(finished->isCancelled());
}

TEST_F(CVDataSetCacheTaskTest, AccumulatesErrorsDepthFirstOncePerPath) {
    auto top = CVDataSetCacheTask::create();
    auto left = CVDataSetCacheTask::create();
    auto right = CVDataSetCacheTask::create();
    auto shared = CVDataSetCacheTask::create();
    left->setError(errorWithCode(1));
    shared->setError(errorWithCode(2));
    cvAddDependencies(*top, {left, right});
    cvAddDependencies(*left, {shared});
    cvAddDependencies(*right, {shared});
    const auto errors = top->accumulateErrors();
    std::vector<std::int64_t> codes;
    for (const auto& error : errors) codes.push_back(error.code);
    EXPECT_THAT(codes, ElementsAre(1, 2, 2));
    top->setError(errorWithCode(0));
    EXPECT_EQ(top->accumulateErrors().front().code, 0);
    EXPECT_TRUE(right->accumulateErrors().size() == 1);
}

TEST_F(CVDataSetCacheTaskTest, DebugDescriptionNestsDependencies) {
    auto top = CVDataSetCacheTask::createWithOwner(std::make_shared<int>(0));
    top->setName("end");
    auto trim = CVDataSetCacheTrimTask::newWithDeletions({"/a", "/b"});
    cvAddDependencies(*top, {trim});
    EXPECT_EQ(top->debugDescription(),
              "<CVDataSetCacheTask: end, prio=2, Pending>\n"
              "  <CVDataSetCacheTrimTask: Trim cache: Remove 2 files and folders, prio=0, Pending>");
    EXPECT_EQ(trim->debugDescription("> "),
              "> <CVDataSetCacheTrimTask: Trim cache: Remove 2 files and folders, prio=0, Pending>");
}

TEST_F(CVDataSetCacheTaskTest, CompletionBlocksChainInOrder) {
    auto task = CVDataSetCacheTask::create();
    std::mutex mutex;
    std::vector<int> order;
    auto record = [&](int value) {
        std::lock_guard lock(mutex);
        order.push_back(value);
    };
    task->setCompletionBlock([&] { record(1); });
    cvAddCompletionBlock(*task, [&] { record(2); });
    cvAddCompletionBlock(*task, [&] { record(3); });
    task->setStatus(Status::finished);
    ASSERT_TRUE(test::waitFor([&] {
        std::lock_guard lock(mutex);
        return order.size() == 3;
    }));
    EXPECT_THAT(order, ElementsAre(1, 2, 3));
}

// MARK: - Scheduler

TEST_F(CVDataSetCacheTaskTest, SchedulerAddsDependenciesFirstAndSkipsScheduledTasks) {
    Probe probe;
    auto scheduler = CVDataSetCacheWorkScheduler::create();
    EXPECT_EQ(scheduler->workQueue().name(), "CVDataSetCacheWorkScheduler.Queue");
    EXPECT_EQ(scheduler->workQueue().maxConcurrentOperationCount(), 6);
    auto end = CVDataSetCacheTask::create();
    auto middle = CVDataSetCacheTask::create();
    auto first = CVDataSetCacheTask::create();
    cvAddDependencies(*middle, {first});
    cvAddDependencies(*end, {middle, first});
    EXPECT_TRUE(scheduler->addWorkItems({end}));
    const auto queued = scheduler->workQueue().operations();
    ASSERT_EQ(queued.size(), 3u);
    EXPECT_EQ(queued[0], first);  // depth first: dependencies before their dependants
    EXPECT_EQ(queued[1], middle);
    EXPECT_EQ(queued[2], end);

    // A scheduled task is skipped together with its dependencies, even new ones.
    auto extra = CVDataSetCacheTask::create();
    cvAddDependencies(*end, {extra});
    scheduler->addWorkItems({end, middle});
    EXPECT_EQ(scheduler->count(), 3u);
    EXPECT_EQ(extra->status(), Status::pending);
    auto other = CVDataSetCacheWorkScheduler::create();
    other->addWorkItems({end});
    EXPECT_EQ(other->count(), 0u);
    EXPECT_EQ(end->scheduler(), scheduler);

    // Without dependencies only the task itself goes in.
    auto alone = CVDataSetCacheTask::create();
    cvAddDependencies(*alone, {CVDataSetCacheTask::create()});
    other->addWorkItems({alone}, false);
    EXPECT_EQ(other->count(), 1u);

    // A scheduler that goes cancels its tasks; another one then has nothing to run.
    other.reset();
    EXPECT_EQ(alone->status(), Status::cancelled);
    EXPECT_EQ(alone->scheduler(), nullptr);
    scheduler->addWorkItems({alone}, false);
    EXPECT_EQ(scheduler->count(), 3u);
}

TEST_F(CVDataSetCacheTaskTest, SchedulerRunsAtMostSixRespectsDependenciesAndSkipsCancelledTasks) {
    Probe probe;
    auto scheduler = CVDataSetCacheWorkScheduler::create();
    std::vector<std::shared_ptr<GatedTask>> workers;
    auto last = GatedTask::make(probe);
    for (int i = 0; i < 20; ++i) {
        workers.push_back(GatedTask::make(probe));
        cvAddDependencies(*last, {workers.back()});
    }
    scheduler->addWorkItems({last});
    scheduler->addWorkItems({last, workers[3]});  // no task is scheduled twice
    EXPECT_EQ(scheduler->count(), 21u);
    const auto cancelled = workers[15];
    scheduler->removeWorkItems({cancelled});
    EXPECT_EQ(cancelled->status(), Status::cancelled);
    EXPECT_FALSE(scheduler->started());  // stays as it was

    scheduler->start();
    for (std::size_t i = 0; i < workers.size(); ++i) {
        if (workers[i] == cancelled) continue;
        ASSERT_TRUE(test::waitFor([&] { return workers[i]->hasRun(); })) << i;
        EXPECT_LE(probe.running, 6);
        EXPECT_FALSE(last->hasRun());
        workers[i]->finish();
    }
    ASSERT_TRUE(test::waitFor([&] { return last->hasRun(); }));
    last->finish();
    EXPECT_TRUE(test::waitFor([&] { return scheduler->count() == 0; }));
    EXPECT_EQ(probe.most, 6);
    EXPECT_FALSE(cancelled->hasRun());
    for (const auto& worker : workers) EXPECT_LE(probe.timesExecuted(worker.get()), 1u);
}

TEST_F(CVDataSetCacheTaskTest, CancelTasksWithOwnerCancelsOnlyThatOwnersTasks) {
    Probe probe;
    auto ownerA = std::make_shared<int>(1);
    auto ownerB = std::make_shared<int>(2);
    auto scheduler = CVDataSetCacheWorkScheduler::create();
    auto runningA = GatedTask::make(probe, ownerA);
    runningA->setPriority(3);
    scheduler->addWorkItems({runningA});
    scheduler->start();
    ASSERT_TRUE(test::waitFor([&] { return runningA->hasRun(); }));
    std::vector<std::shared_ptr<GatedTask>> tasks;
    for (int i = 0; i < 10; ++i) {
        auto blocker = GatedTask::make(probe, i % 2 == 0 ? ownerA : ownerB);
        cvAddDependencies(*blocker, {runningA});
        tasks.push_back(blocker);
    }
    scheduler->addWorkItems(std::vector<std::shared_ptr<CVDataSetCacheTask>>(tasks.begin(), tasks.end()));
    scheduler->cancelTasksWithOwner(ownerA.get());
    EXPECT_TRUE(scheduler->started());
    EXPECT_EQ(runningA->status(), Status::cancelled);
    for (int i = 0; i < 10; ++i) {
        // The other owner's tasks may start as soon as the queue resumes.
        EXPECT_EQ(tasks[i]->status() == Status::cancelled, i % 2 == 0) << i;
    }
    // The owner's running task ended at once; its late finish changes nothing.
    runningA->finish();
    EXPECT_EQ(runningA->status(), Status::cancelled);
    for (int i = 1; i < 10; i += 2) {
        ASSERT_TRUE(test::waitFor([&] { return tasks[i]->hasRun(); })) << i;
        tasks[i]->finish();
    }
    EXPECT_TRUE(test::waitFor([&] { return scheduler->count() == 0; }));
    for (int i = 0; i < 10; i += 2) EXPECT_FALSE(tasks[i]->hasRun());

    // A stopped scheduler stays stopped.
    scheduler->stop();
    scheduler->cancelTasksWithOwner(ownerB.get());
    EXPECT_FALSE(scheduler->started());
}

}  // namespace
}  // namespace ambrell
