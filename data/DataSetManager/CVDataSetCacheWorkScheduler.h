#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "data/DataSetManager/CVDataSetCacheTask.h"
#include "platform/runtime/OperationQueue.h"

namespace ambrell {

// Runs data-set cache tasks on one operation queue,
// "CVDataSetCacheWorkScheduler.Queue": at most six at once, each when the
// tasks it depends on are finished, the ready ones by priority. The queue is
// created suspended; start() lets it run. Thread-safe.
class CVDataSetCacheWorkScheduler : public std::enable_shared_from_this<CVDataSetCacheWorkScheduler> {
public:
    static constexpr int kMaxConcurrentTasks = 6;
    static constexpr const char* kQueueName = "CVDataSetCacheWorkScheduler.Queue";

    static std::shared_ptr<CVDataSetCacheWorkScheduler> create();

    // Tasks in the queue that did not finish yet.
    [[nodiscard]] std::size_t count() const;
    [[nodiscard]] bool started() const;
    void start();
    void stop();

    // Hands each task that has no scheduler yet to this one (it becomes
    // waiting), with its task dependencies first (depth first) when
    // `includeDependencies`. A task that has a scheduler already is skipped
    // together with its dependencies. Returns true.
    bool addWorkItems(const std::vector<std::shared_ptr<CVDataSetCacheTask>>& tasks, bool includeDependencies = true);
    // Cancels the tasks, with the queue held still meanwhile. Returns false.
    bool removeWorkItems(const std::vector<std::shared_ptr<CVDataSetCacheTask>>& tasks);
    // Cancels every queued task of that owner (compared by identity), with the
    // queue held still meanwhile so that none of them starts in between.
    void cancelTasksWithOwner(const void* owner);

    [[nodiscard]] platform::OperationQueue& workQueue() { return workQueue_; }

    CVDataSetCacheWorkScheduler(const CVDataSetCacheWorkScheduler&) = delete;
    CVDataSetCacheWorkScheduler& operator=(const CVDataSetCacheWorkScheduler&) = delete;

private:
    CVDataSetCacheWorkScheduler();
    void addWorkItem(const std::shared_ptr<CVDataSetCacheTask>& task, bool includeDependencies);
    // Suspends the queue for the life of the object when it ran.
    class HoldStill;

    // Serialises the suspend-cancel-resume steps, so that one cannot resume
    // the queue while another still cancels. Recursive: a delegate told of a
    // cancel may cancel more.
    std::recursive_mutex holdMutex_;
    // Makes checking and setting a task's scheduler one step.
    std::mutex addMutex_;
    platform::OperationQueue workQueue_;
};

}  // namespace ambrell
