#include "data/DataSetManager/CVDataSetCacheTask.h"

#include <fmt/format.h>

#include "data/DataSetManager/CVDataSetCacheWorkScheduler.h"
#include "data/DataSetManager/DataSetManagerLog.h"
#include "platform/Logger.h"
#include "platform/runtime/MainQueue.h"

namespace ambrell {

namespace {

using Status = CVDataSetCacheTaskStatus;

bool isTerminal(Status status) {
    return status == Status::cancelled || status == Status::finished || status == Status::failed;
}

double secondsBetween(std::chrono::steady_clock::time_point from, std::chrono::steady_clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

std::string milliseconds(double seconds) { return fmt::format("{:.1f}mS", seconds * 1000.0); }

}  // namespace

CVDataSetCacheTask::CVDataSetCacheTask(const std::shared_ptr<const void>& owner, bool hasOwner)
    : owner_(owner), ownerIdentity_(owner.get()), priority_(hasOwner ? 2U : 0U) {}

std::shared_ptr<CVDataSetCacheTask> CVDataSetCacheTask::create() {
    return std::shared_ptr<CVDataSetCacheTask>(new CVDataSetCacheTask(nullptr, false));
}

std::shared_ptr<CVDataSetCacheTask> CVDataSetCacheTask::createWithOwner(const std::shared_ptr<const void>& owner) {
    return std::shared_ptr<CVDataSetCacheTask>(new CVDataSetCacheTask(owner, true));
}

std::shared_ptr<const void> CVDataSetCacheTask::owner() const {
    std::lock_guard lock(mutex_);
    return owner_.lock();
}

bool CVDataSetCacheTask::isOwnedBy(const void* owner) const {
    std::lock_guard lock(mutex_);
    return owner != nullptr && owner == ownerIdentity_;
}

CVDataSetCacheTaskStatus CVDataSetCacheTask::status() const { return status_; }

void CVDataSetCacheTask::setStatus(CVDataSetCacheTaskStatus status) {
    // One thread wins each change; the losers see the new value and stop. A
    // task that ended stays ended, whatever completes late.
    auto current = status_.load();
    do {
        if (current == status || isTerminal(current)) return;
    } while (!status_.compare_exchange_weak(current, status));

    switch (status) {
        case Status::waiting: {
            {
                std::lock_guard lock(mutex_);
                tQueue_ = Clock::now();
            }
            configurePriorityAndQualityOfService();
            break;
        }
        case Status::executing: becomeExecuting(); break;
        case Status::cancelled:
            cancelOperation();
            if (auto delegate = this->delegate()) delegate->workItemFinishedWithStatus(*this, Status::cancelled);
            break;
        case Status::finished:
        case Status::failed:
            completeOperation();
            if (auto delegate = this->delegate()) delegate->workItemFinishedWithStatus(*this, status);
            break;
        default: break;
    }
}

void CVDataSetCacheTask::becomeExecuting() {
    {
        std::lock_guard lock(mutex_);
        const auto now = Clock::now();
        tStart_ = now;
        waitingTime_ = tQueue_ ? secondsBetween(*tQueue_, now) : 0.0;
    }
    if (isCancelled()) {
        setStatus(Status::cancelled);
        return;
    }
    if (auto delegate = this->delegate()) delegate->workItemStarted(*this);
    {
        // A cancel that came in meanwhile has ended the task already.
        std::lock_guard lock(mutex_);
        if (status_ != Status::executing) return;
        executingFlag_ = true;
    }
    stateDidChange();
    executeWork();
}

unsigned CVDataSetCacheTask::priority() const { return priority_; }
void CVDataSetCacheTask::setPriority(unsigned priority) { priority_ = priority; }
bool CVDataSetCacheTask::isCurrentDataSet() const { return isCurrentDataSet_; }
void CVDataSetCacheTask::setIsCurrentDataSet(bool isCurrent) { isCurrentDataSet_ = isCurrent; }

std::optional<platform::NSError> CVDataSetCacheTask::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

void CVDataSetCacheTask::setError(std::optional<platform::NSError> error) {
    std::lock_guard lock(mutex_);
    error_ = std::move(error);
}

std::vector<platform::NSError> CVDataSetCacheTask::accumulateErrors() const {
    std::vector<platform::NSError> errors;
    accumulateErrorsIntoArray(errors);
    return errors;
}

void CVDataSetCacheTask::accumulateErrorsIntoArray(std::vector<platform::NSError>& errors) const {
    if (auto own = error()) errors.push_back(std::move(*own));
    for (const auto& dependency : dependencies()) {
        if (const auto* task = dynamic_cast<const CVDataSetCacheTask*>(dependency.get())) {
            task->accumulateErrorsIntoArray(errors);
        }
    }
}

double CVDataSetCacheTask::duration() const {
    std::lock_guard lock(mutex_);
    return duration_;
}

double CVDataSetCacheTask::waitingTime() const {
    std::lock_guard lock(mutex_);
    return waitingTime_;
}

std::shared_ptr<CVDataSetCacheWorkScheduler> CVDataSetCacheTask::scheduler() const {
    std::lock_guard lock(mutex_);
    return scheduler_.lock();
}

void CVDataSetCacheTask::setScheduler(const std::shared_ptr<CVDataSetCacheWorkScheduler>& scheduler) {
    {
        std::lock_guard lock(mutex_);
        if (scheduler_.lock() == scheduler) return;
        scheduler_ = scheduler;
    }
    setStatus(Status::waiting);
}

void CVDataSetCacheTask::setDelegate(std::weak_ptr<CVDataSetCacheTaskDelegate> delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<CVDataSetCacheTaskDelegate> CVDataSetCacheTask::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}

int CVDataSetCacheTask::queuePriorityForPriority(unsigned priority) {
    return priority <= 3 ? static_cast<int>(priority) * 4 - 8 : platform::kQueuePriorityNormal;
}

void CVDataSetCacheTask::configurePriorityAndQualityOfService() {
    setQueuePriority(queuePriorityForPriority(priority()));
    setQualityOfService(isCurrentDataSet() ? platform::QualityOfService::userInitiated
                                           : platform::QualityOfService::background);
}

std::string CVDataSetCacheTask::debugStatus() const {
    const double wait = waitingTime();
    const double took = duration();
    switch (status()) {
        case Status::pending: return "Pending";
        case Status::waiting: return fmt::format("Waiting   (         {:>7} wait)", milliseconds(wait));
        case Status::executing: return fmt::format("Executing (         {:>7} wait)", milliseconds(wait));
        case Status::cancelled:
            return fmt::format("Cancelled ({:>7}, {:>7} wait)", milliseconds(took), milliseconds(wait));
        case Status::finished:
            return fmt::format("Finished  ({:>7}, {:>7} wait)", milliseconds(took), milliseconds(wait));
        case Status::failed:
            return fmt::format("Failed    ({:>7}, {:>7} wait)", milliseconds(took), milliseconds(wait));
    }
    return fmt::format("Status {}", static_cast<unsigned>(status()));
}

std::string CVDataSetCacheTask::debugDescription(std::string_view indent) const {
    std::string text = fmt::format("{}<{}: {}, prio={}, {}>", indent, className(), name(), priority(), debugStatus());
    const std::string inner = std::string(indent) + "  ";
    for (const auto& dependency : dependencies()) {
        text += '\n';
        if (const auto* task = dynamic_cast<const CVDataSetCacheTask*>(dependency.get())) {
            text += task->debugDescription(inner);
        } else {
            text += fmt::format("{}<Operation: {}>", inner, dependency->name());
        }
    }
    return text;
}

void CVDataSetCacheTask::debugLog(std::string_view text) const {
    dataSetManagerLog().debug("[DSM] {} {} {}", name(), debugStatus(), text);
}

void CVDataSetCacheTask::start() {
    if (status() == Status::waiting) setStatus(Status::executing);
}

void CVDataSetCacheTask::cancel() {
    const auto current = status();
    if (current == Status::pending || current == Status::waiting || current == Status::executing) {
        setStatus(Status::cancelled);
    }
}

bool CVDataSetCacheTask::isExecuting() const { return executingFlag_; }

bool CVDataSetCacheTask::isFinished() const { return finishedFlag_ || isCancelled(); }

void CVDataSetCacheTask::executeWork() {
    // Delivered even after the main queue closed, so the task still ends once.
    platform::MainQueue::shared().deliver([self = std::static_pointer_cast<CVDataSetCacheTask>(shared_from_this())] {
        if (self->status() == Status::executing) self->setStatus(Status::finished);
    });
}

void CVDataSetCacheTask::completeOperation() {
    {
        std::lock_guard lock(mutex_);
        duration_ = tStart_ ? secondsBetween(*tStart_, Clock::now()) : 0.0;
        executingFlag_ = false;
        finishedFlag_ = true;
    }
    stateDidChange();
}

void CVDataSetCacheTask::cancelOperation() {
    cancelWork();
    {
        std::lock_guard lock(mutex_);
        duration_ = tStart_ ? secondsBetween(*tStart_, Clock::now()) : 0.0;
    }
    platform::Operation::cancel();
    bool changed = false;
    {
        std::lock_guard lock(mutex_);
        if (executingFlag_) {
            executingFlag_ = false;
            finishedFlag_ = true;
            changed = true;
        }
    }
    if (changed) stateDidChange();
}

}  // namespace ambrell
