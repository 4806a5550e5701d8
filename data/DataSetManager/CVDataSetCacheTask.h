#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Error.h"
#include "platform/runtime/OperationQueue.h"

namespace ambrell {

enum class CVDataSetCacheTaskStatus : unsigned {
    pending = 0,  // created, not yet handed to a scheduler
    waiting = 1,  // handed to a scheduler
    executing = 2,
    cancelled = 3,
    finished = 4,  // also when the task met an error: see error()
    failed = 5,
};

class CVDataSetCacheTask;
class CVDataSetCacheWorkScheduler;

// Told of a task's start and end, on the thread that changes its status (a
// queue thread, the main queue, or whoever cancels).
class CVDataSetCacheTaskDelegate {
public:
    virtual ~CVDataSetCacheTaskDelegate() = default;
    virtual void workItemStarted(CVDataSetCacheTask& /*task*/) {}
    virtual void workItemFinishedWithStatus(CVDataSetCacheTask& /*task*/, CVDataSetCacheTaskStatus /*status*/) {}
};

// One step of a data set's synchronisation: an asynchronous operation with an
// explicit status. The plain task does no work and finishes on the main queue
// (it marks the start or the end of a sync); subclasses do theirs in
// executeWork().
//
// Lifecycle: pending -> waiting (setScheduler) -> executing (the queue starts
// it) -> finished. cancel() from pending, waiting or executing makes it
// cancelled at once; cancelled, finished and failed are terminal, so work that
// completes after a cancel does not finish the task again. A cancelled task
// counts as finished for its queue and its dependants.
class CVDataSetCacheTask : public platform::Operation {
public:
    static std::shared_ptr<CVDataSetCacheTask> create();  // no owner, priority 0
    // The owner is held weakly; priority 2.
    static std::shared_ptr<CVDataSetCacheTask> createWithOwner(const std::shared_ptr<const void>& owner);

    [[nodiscard]] std::shared_ptr<const void> owner() const;
    [[nodiscard]] bool isOwnedBy(const void* owner) const;

    [[nodiscard]] CVDataSetCacheTaskStatus status() const;
    void setStatus(CVDataSetCacheTaskStatus status);

    // 0 lowest to 3 highest; mapped onto the queue priority when the task is
    // handed to a scheduler (4 and more count as normal).
    [[nodiscard]] unsigned priority() const;
    void setPriority(unsigned priority);
    [[nodiscard]] bool isCurrentDataSet() const;
    void setIsCurrentDataSet(bool isCurrent);

    [[nodiscard]] std::optional<platform::NSError> error() const;
    void setError(std::optional<platform::NSError> error);
    // The task's own error, then those of its task dependencies, depth first;
    // a task reached along several paths counts once per path.
    [[nodiscard]] std::vector<platform::NSError> accumulateErrors() const;
    void accumulateErrorsIntoArray(std::vector<platform::NSError>& errors) const;

    // Seconds from start to finish or cancel, and from being handed to a
    // scheduler to the start.
    [[nodiscard]] double duration() const;
    [[nodiscard]] double waitingTime() const;

    [[nodiscard]] std::shared_ptr<CVDataSetCacheWorkScheduler> scheduler() const;
    // A different scheduler is stored (weakly) and the task becomes waiting.
    void setScheduler(const std::shared_ptr<CVDataSetCacheWorkScheduler>& scheduler);
    void setDelegate(std::weak_ptr<CVDataSetCacheTaskDelegate> delegate);

    // The queue priority and quality of service the priority and
    // isCurrentDataSet stand for.
    void configurePriorityAndQualityOfService();
    [[nodiscard]] static int queuePriorityForPriority(unsigned priority);

    [[nodiscard]] std::string debugStatus() const;
    [[nodiscard]] std::string debugDescription(std::string_view indent = {}) const;
    void debugLog(std::string_view text) const;

    // Operation
    void start() override;
    void cancel() override;
    [[nodiscard]] bool isExecuting() const override;
    [[nodiscard]] bool isFinished() const override;
    [[nodiscard]] bool isAsynchronous() const override { return true; }

protected:
    explicit CVDataSetCacheTask(const std::shared_ptr<const void>& owner, bool hasOwner);

    // The work, on a queue thread. The base queues a step on the main queue
    // that finishes the task while it still executes; subclasses that call it
    // last finish that way.
    virtual void executeWork();
    // Called when the task is cancelled, before the operation is.
    virtual void cancelWork() {}
    [[nodiscard]] virtual std::string_view className() const { return "CVDataSetCacheTask"; }

    void completeOperation();
    void cancelOperation();

private:
    using Clock = std::chrono::steady_clock;

    void becomeExecuting();
    std::shared_ptr<CVDataSetCacheTaskDelegate> delegate() const;

    mutable std::mutex mutex_;
    std::weak_ptr<const void> owner_;
    const void* ownerIdentity_ = nullptr;
    std::weak_ptr<CVDataSetCacheWorkScheduler> scheduler_;
    std::weak_ptr<CVDataSetCacheTaskDelegate> delegate_;
    std::optional<platform::NSError> error_;
    std::optional<Clock::time_point> tQueue_;
    std::optional<Clock::time_point> tStart_;
    double duration_ = 0;
    double waitingTime_ = 0;
    std::atomic<CVDataSetCacheTaskStatus> status_{CVDataSetCacheTaskStatus::pending};
    std::atomic<unsigned> priority_{0};
    std::atomic<bool> isCurrentDataSet_{false};
    std::atomic<bool> executingFlag_{false};
    std::atomic<bool> finishedFlag_{false};
};

}  // namespace ambrell
