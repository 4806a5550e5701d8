#include "platform/runtime/OperationQueue.h"

#include <algorithm>
#include <exception>
#include <map>
#include <stdexcept>
#include <unordered_map>
#include <utility>

#include "platform/Logger.h"
#include "platform/runtime/Runtime.h"
#include "platform/runtime/ThreadPool.h"

namespace ambrell::platform {

namespace {

const Logger& operationQueueLogger() {
    static const Logger log("runtime");
    return log;
}

void runOperationStep(const std::function<void()>& block, std::string_view what, const std::string& name) {
    try {
        block();
    } catch (const std::exception& e) {
        operationQueueLogger().error("The {} of operation '{}' threw: {}", what, name, e.what());
    } catch (...) {
        operationQueueLogger().error("The {} of operation '{}' threw", what, name);
    }
}

// Once the pool has stopped it refuses the work; running it here keeps the
// promise that every finish and completion block happens once.
void runOnOperationPool(ThreadPool& pool, std::function<void()> work) {
    if (!pool.tryPost(pool.executor(), work)) work();
}

}  // namespace

namespace detail {

// The state of one queue, shared with the work it posted and referred to
// weakly by its operations, so that a late finish finds it or nothing.
class OperationQueueCore : public std::enable_shared_from_this<OperationQueueCore> {
public:
    OperationQueueCore(std::string name, int maxConcurrent, bool suspended, ThreadPool& pool)
        : name_(std::move(name)), pool_(pool), maxConcurrent_(maxConcurrent), suspended_(suspended) {}

    const std::string& name() const { return name_; }
    ThreadPool& pool() const { return pool_; }

    void add(const std::shared_ptr<Operation>& operation) {
        if (!operation) throw std::invalid_argument("OperationQueue: a null operation cannot be added");
        // Nothing is left to do for it (a task cancelled before it was queued).
        if (operation->isFinished()) return;
        if (operation->isExecuting() || operation->started_) {
            throw std::invalid_argument("OperationQueue: operation '" + operation->name() +
                                        "' has started and cannot be added");
        }
        if (!operation->attachToQueue(shared_from_this())) {
            throw std::invalid_argument("OperationQueue: operation '" + operation->name() + "' is in a queue already");
        }
        // Asked outside the lock: the runtime's shutdown takes it while stopping the queue.
        bool stopped = Runtime::shared().isShuttingDown();
        {
            std::lock_guard lock(mutex_);
            entries_.emplace(operation.get(), Entry{operation, nextSequence_++, 0, Phase::waiting});
            stopped = stopped || stopped_;
        }
        if (stopped) operation->cancel();
        // Also observes an operation that was finished before it came here.
        operation->stateDidChange();
    }

    // Re-reads the operation's flags: a finished one leaves, a waiting one
    // may have become ready or changed its priority. Then starts what may.
    void update(const Operation* operation) {
        std::vector<std::shared_ptr<Operation>> toStart;
        {
            std::lock_guard lock(mutex_);
            auto it = entries_.find(operation);
            if (it == entries_.end()) return;
            Entry& entry = it->second;
            if (operation->isFinished()) {
                if (entry.phase == Phase::started) --executing_;
                if (entry.phase == Phase::ready) ready_.erase(readyKey(entry));
                entries_.erase(it);
            } else if (entry.phase != Phase::started) {
                if (entry.phase == Phase::ready) ready_.erase(readyKey(entry));
                entry.priority = operation->queuePriority();
                entry.phase = operation->isReady() ? Phase::ready : Phase::waiting;
                if (entry.phase == Phase::ready) ready_.emplace(readyKey(entry), entry.operation);
            }
            collectStartable(toStart);
        }
        dispatch(toStart);
    }

    void pump() {
        std::vector<std::shared_ptr<Operation>> toStart;
        {
            std::lock_guard lock(mutex_);
            collectStartable(toStart);
        }
        dispatch(toStart);
    }

    void setSuspended(bool suspended) {
        {
            std::lock_guard lock(mutex_);
            suspended_ = suspended;
        }
        pump();
    }

    bool isSuspended() const {
        std::lock_guard lock(mutex_);
        return suspended_;
    }

    int maxConcurrent() const {
        std::lock_guard lock(mutex_);
        return maxConcurrent_;
    }

    void setMaxConcurrent(int count) {
        {
            std::lock_guard lock(mutex_);
            maxConcurrent_ = count;
        }
        pump();
    }

    std::vector<std::shared_ptr<Operation>> operations() const {
        std::vector<std::pair<std::uint64_t, std::shared_ptr<Operation>>> ordered;
        {
            std::lock_guard lock(mutex_);
            ordered.reserve(entries_.size());
            for (const auto& [key, entry] : entries_) ordered.emplace_back(entry.sequence, entry.operation);
        }
        std::sort(ordered.begin(), ordered.end(),
                  [](const auto& lhs, const auto& rhs) { return lhs.first < rhs.first; });
        std::vector<std::shared_ptr<Operation>> result;
        result.reserve(ordered.size());
        for (auto& [sequence, operation] : ordered) result.push_back(std::move(operation));
        return result;
    }

    std::size_t count() const {
        std::lock_guard lock(mutex_);
        return entries_.size();
    }

    std::size_t executingCount() const {
        std::lock_guard lock(mutex_);
        return static_cast<std::size_t>(executing_);
    }

    void cancelAll() const {
        for (const auto& operation : operations()) operation->cancel();
    }

    // The runtime's shutdown or the queue's end: nothing new runs; what did
    // not start is cancelled and finishes, whatever the limit and suspension.
    void shutdown() {
        {
            std::lock_guard lock(mutex_);
            stopped_ = true;
        }
        cancelAll();
        pump();
    }

private:
    enum class Phase { waiting, ready, started };
    struct Entry {
        std::shared_ptr<Operation> operation;
        std::uint64_t sequence;
        int priority;
        Phase phase;
    };
    // Higher priority first, then the order of adding.
    using ReadyKey = std::pair<int, std::uint64_t>;
    static ReadyKey readyKey(const Entry& entry) { return {-entry.priority, entry.sequence}; }

    int limit() const { return maxConcurrent_ < 0 ? static_cast<int>(pool_.threadCount()) : maxConcurrent_; }

    void collectStartable(std::vector<std::shared_ptr<Operation>>& toStart) {
        if (stopped_) {
            // Only to let cancelled operations finish, whatever the limit.
            for (auto it = ready_.begin(); it != ready_.end();) {
                if (it->second->isCancelled()) {
                    markStarted(it->second, toStart);
                    it = ready_.erase(it);
                } else {
                    ++it;
                }
            }
            return;
        }
        if (suspended_) return;
        while (!ready_.empty() && executing_ < limit()) {
            auto first = ready_.begin();
            markStarted(first->second, toStart);
            ready_.erase(first);
        }
    }

    void markStarted(const std::shared_ptr<Operation>& operation, std::vector<std::shared_ptr<Operation>>& toStart) {
        entries_.at(operation.get()).phase = Phase::started;
        ++executing_;
        toStart.push_back(operation);
    }

    void dispatch(std::vector<std::shared_ptr<Operation>>& toStart) {
        for (auto& operation : toStart) {
            runOnOperationPool(pool_, [core = shared_from_this(), operation = std::move(operation)] {
                runOperationStep([&operation] { operation->start(); }, "start", operation->name());
                // A plain operation is finished now; an asynchronous one tells
                // the queue itself later.
                operation->stateDidChange();
            });
        }
        toStart.clear();
    }

    const std::string name_;
    ThreadPool& pool_;
    mutable std::mutex mutex_;
    int maxConcurrent_;
    bool suspended_;
    bool stopped_ = false;
    int executing_ = 0;
    std::uint64_t nextSequence_ = 0;
    std::unordered_map<const Operation*, Entry> entries_;
    std::map<ReadyKey, std::shared_ptr<Operation>> ready_;
};

}  // namespace detail

// ---------------------------------------------------------------- Operation

Operation::Operation() = default;
Operation::~Operation() = default;

std::string Operation::name() const {
    std::lock_guard lock(mutex_);
    return name_;
}

void Operation::setName(std::string name) {
    std::lock_guard lock(mutex_);
    name_ = std::move(name);
}

void Operation::addDependency(const std::shared_ptr<Operation>& operation) {
    if (!operation) throw std::invalid_argument("Operation: a null dependency cannot be added");
    if (operation.get() == this) throw std::invalid_argument("Operation: an operation cannot depend on itself");
    {
        std::lock_guard lock(mutex_);
        if (std::find(dependencies_.begin(), dependencies_.end(), operation) != dependencies_.end()) return;
        dependencies_.push_back(operation);
    }
    {
        // Under the dependency's lock, which its completion takes to mark
        // itself completed and hand its dependants over: either this
        // operation is handed over then, or it sees the completion below.
        std::lock_guard lock(operation->mutex_);
        if (!operation->completed_) operation->dependants_.push_back(weak_from_this());
    }
    stateDidChange();
}

void Operation::removeDependency(const std::shared_ptr<Operation>& operation) {
    {
        std::lock_guard lock(mutex_);
        auto it = std::find(dependencies_.begin(), dependencies_.end(), operation);
        if (it == dependencies_.end()) return;
        dependencies_.erase(it);
    }
    stateDidChange();
}

std::vector<std::shared_ptr<Operation>> Operation::dependencies() const {
    std::lock_guard lock(mutex_);
    return dependencies_;
}

std::function<void()> Operation::completionBlock() const {
    std::lock_guard lock(mutex_);
    return completionBlock_;
}

void Operation::setCompletionBlock(std::function<void()> block) {
    std::lock_guard lock(mutex_);
    if (!finishObserved_) completionBlock_ = std::move(block);
}

void Operation::appendCompletionBlock(std::function<void()> block) {
    if (!block) return;
    std::lock_guard lock(mutex_);
    if (finishObserved_) return;
    if (!completionBlock_) {
        completionBlock_ = std::move(block);
        return;
    }
    completionBlock_ = [first = std::move(completionBlock_), then = std::move(block)] {
        first();
        then();
    };
}

int Operation::queuePriority() const { return queuePriority_; }

void Operation::setQueuePriority(int priority) {
    priority = std::clamp(priority, kQueuePriorityVeryLow, kQueuePriorityVeryHigh);
    if (queuePriority_.exchange(priority) != priority) stateDidChange();
}

QualityOfService Operation::qualityOfService() const { return qualityOfService_; }

void Operation::setQualityOfService(QualityOfService quality) { qualityOfService_ = quality; }

void Operation::cancel() {
    if (cancelled_.exchange(true)) return;
    stateDidChange();
    // A cancelled dependency that does not run counts as finished; its
    // dependants may be ready now, in whatever queue, even in none.
    std::vector<std::weak_ptr<Operation>> dependants;
    {
        std::lock_guard lock(mutex_);
        dependants = dependants_;
    }
    for (const auto& weak : dependants) {
        if (auto dependant = weak.lock()) dependant->stateDidChange();
    }
}

bool Operation::isCancelled() const { return cancelled_; }
bool Operation::isExecuting() const { return executing_; }
bool Operation::isFinished() const { return finished_; }
bool Operation::isAsynchronous() const { return false; }

bool Operation::isReady() const {
    if (isCancelled()) return true;
    const auto dependencies = this->dependencies();
    return std::all_of(dependencies.begin(), dependencies.end(), [](const auto& dependency) {
        if (dependency->isFinished()) return dependency->completed_.load();
        // One cancelled before it began never runs its work: it counts as
        // finished at once, even when no queue will ever start it. One that
        // began is waited for until it finished and its completion block ran,
        // also when it is cancelled between its cancel check and its work or
        // between the end of its work and its finish. Cancelled is read
        // first: start() marks itself begun before it checks, so a cancel
        // seen here before the mark is one that start() sees too.
        return dependency->isCancelled() && !dependency->started_ && !dependency->isExecuting();
    });
}

void Operation::start() {
    if (started_.exchange(true)) return;
    if (!isCancelled()) {
        executing_ = true;
        stateDidChange();
        runOperationStep([this] { main(); }, "work", name());
        executing_ = false;
    }
    finished_ = true;
    stateDidChange();
}

void Operation::stateDidChange() {
    if (isFinished() && !finishObserved_.exchange(true)) {
        notifyFinished();
        return;
    }
    if (auto queue = attachedQueue()) queue->update(this);
}

void Operation::notifyFinished() {
    std::function<void()> block;
    {
        std::lock_guard lock(mutex_);
        block = std::exchange(completionBlock_, nullptr);
    }
    auto queue = attachedQueue();
    if (queue) queue->update(this);
    // The completion block runs before dependants may start, so they see
    // what it did. The dependants are taken only afterwards, with the mark,
    // so that one added while the block runs is not left behind.
    runOnOperationPool(queue ? queue->pool() : ThreadPool::blockingIO(),
                       [self = shared_from_this(), block = std::move(block)] {
                           if (block) runOperationStep(block, "completion block", self->name());
                           std::vector<std::weak_ptr<Operation>> dependants;
                           {
                               std::lock_guard lock(self->mutex_);
                               self->completed_ = true;
                               dependants = std::exchange(self->dependants_, {});
                           }
                           for (const auto& weak : dependants) {
                               if (auto dependant = weak.lock()) dependant->stateDidChange();
                           }
                       });
}

bool Operation::attachToQueue(const std::shared_ptr<detail::OperationQueueCore>& queue) {
    std::lock_guard lock(mutex_);
    if (attached_) return false;
    attached_ = true;
    queue_ = queue;
    return true;
}

std::shared_ptr<detail::OperationQueueCore> Operation::attachedQueue() const {
    std::lock_guard lock(mutex_);
    return queue_.lock();
}

// ----------------------------------------------------------- OperationQueue

struct OperationQueue::Registration {
    Runtime::ServiceRegistration registration;
};

OperationQueue::OperationQueue(std::string name, int maxConcurrentOperationCount, bool suspended)
    : OperationQueue(std::move(name), maxConcurrentOperationCount, suspended, ThreadPool::blockingIO()) {}

OperationQueue::OperationQueue(std::string name, int maxConcurrentOperationCount, bool suspended, ThreadPool& pool)
    : core_(
          std::make_shared<detail::OperationQueueCore>(std::move(name), maxConcurrentOperationCount, suspended, pool)),
      registration_(
          std::make_unique<Registration>(Registration{Runtime::shared().registerService([core = std::weak_ptr(core_)] {
              if (auto running = core.lock()) running->shutdown();
          })})) {}

OperationQueue::~OperationQueue() {
    registration_.reset();
    core_->shutdown();
}

const std::string& OperationQueue::name() const { return core_->name(); }
int OperationQueue::maxConcurrentOperationCount() const { return core_->maxConcurrent(); }
void OperationQueue::setMaxConcurrentOperationCount(int count) { core_->setMaxConcurrent(count); }

void OperationQueue::addOperation(const std::shared_ptr<Operation>& operation) { core_->add(operation); }

void OperationQueue::addOperations(const std::vector<std::shared_ptr<Operation>>& operations) {
    for (const auto& operation : operations) core_->add(operation);
}

namespace {
class QueuedBlockOperation : public Operation {
public:
    explicit QueuedBlockOperation(std::function<void()> block) : block_(std::move(block)) {}

protected:
    void main() override {
        if (block_) block_();
    }

private:
    std::function<void()> block_;
};
}  // namespace

void OperationQueue::addOperation(std::function<void()> block) {
    core_->add(std::make_shared<QueuedBlockOperation>(std::move(block)));
}

void OperationQueue::setSuspended(bool suspended) { core_->setSuspended(suspended); }
bool OperationQueue::isSuspended() const { return core_->isSuspended(); }
std::size_t OperationQueue::operationCount() const { return core_->count(); }
std::vector<std::shared_ptr<Operation>> OperationQueue::operations() const { return core_->operations(); }
std::size_t OperationQueue::executingOperationCount() const { return core_->executingCount(); }
void OperationQueue::cancelAllOperations() { core_->cancelAll(); }

}  // namespace ambrell::platform
