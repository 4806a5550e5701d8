#include "data/DataSetManager/CVDataSetCacheWorkScheduler.h"

namespace ambrell {

// Holds the queue still while tasks are cancelled, so that none of them starts
// in between; resumes it only when it ran before.
class CVDataSetCacheWorkScheduler::HoldStill {
public:
    explicit HoldStill(CVDataSetCacheWorkScheduler& scheduler)
        : lock_(scheduler.holdMutex_), queue_(scheduler.workQueue_), wasRunning_(!queue_.isSuspended()) {
        if (wasRunning_) queue_.setSuspended(true);
    }
    ~HoldStill() {
        if (wasRunning_) queue_.setSuspended(false);
    }
    HoldStill(const HoldStill&) = delete;
    HoldStill& operator=(const HoldStill&) = delete;

private:
    std::lock_guard<std::recursive_mutex> lock_;
    platform::OperationQueue& queue_;
    bool wasRunning_;
};

CVDataSetCacheWorkScheduler::CVDataSetCacheWorkScheduler() : workQueue_(kQueueName, kMaxConcurrentTasks, true) {}

std::shared_ptr<CVDataSetCacheWorkScheduler> CVDataSetCacheWorkScheduler::create() {
    return std::shared_ptr<CVDataSetCacheWorkScheduler>(new CVDataSetCacheWorkScheduler());
}

std::size_t CVDataSetCacheWorkScheduler::count() const { return workQueue_.operationCount(); }

bool CVDataSetCacheWorkScheduler::started() const { return !workQueue_.isSuspended(); }

void CVDataSetCacheWorkScheduler::start() { workQueue_.setSuspended(false); }

void CVDataSetCacheWorkScheduler::stop() { workQueue_.setSuspended(true); }

bool CVDataSetCacheWorkScheduler::addWorkItems(const std::vector<std::shared_ptr<CVDataSetCacheTask>>& tasks,
                                               bool includeDependencies) {
    for (const auto& task : tasks) {
        if (task) addWorkItem(task, includeDependencies);
    }
    return true;
}

void CVDataSetCacheWorkScheduler::addWorkItem(const std::shared_ptr<CVDataSetCacheTask>& task,
                                              bool includeDependencies) {
    // The scheduler is a task's mark of having been handed over: a shared
    // dependency reached again along another path is not added twice.
    {
        std::lock_guard lock(addMutex_);
        if (task->scheduler()) return;
        task->setScheduler(shared_from_this());
    }
    if (includeDependencies) {
        for (const auto& dependency : task->dependencies()) {
            if (auto dependencyTask = std::dynamic_pointer_cast<CVDataSetCacheTask>(dependency)) {
                addWorkItem(dependencyTask, true);
            }
        }
    }
    workQueue_.addOperation(task);
}

bool CVDataSetCacheWorkScheduler::removeWorkItems(const std::vector<std::shared_ptr<CVDataSetCacheTask>>& tasks) {
    HoldStill hold(*this);
    for (const auto& task : tasks) {
        if (task) task->cancel();
    }
    return false;
}

void CVDataSetCacheWorkScheduler::cancelTasksWithOwner(const void* owner) {
    HoldStill hold(*this);
    for (const auto& operation : workQueue_.operations()) {
        auto* task = dynamic_cast<CVDataSetCacheTask*>(operation.get());
        if (task != nullptr && task->isOwnedBy(owner)) task->cancel();
    }
}

}  // namespace ambrell
