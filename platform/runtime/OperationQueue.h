#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace ambrell::platform {

class ThreadPool;

namespace detail {
class OperationQueueCore;
}

// How urgent an operation's work is. Recorded for the host's benefit; the
// queue orders ready operations by queue priority alone.
enum class QualityOfService : int {
    userInteractive = 0x21,
    userInitiated = 0x19,
    utility = 0x11,
    background = 0x09,
    defaultService = -1,
};

inline constexpr int kQueuePriorityVeryLow = -8;
inline constexpr int kQueuePriorityLow = -4;
inline constexpr int kQueuePriorityNormal = 0;
inline constexpr int kQueuePriorityHigh = 4;
inline constexpr int kQueuePriorityVeryHigh = 8;

// A unit of work for an OperationQueue. Always owned by a shared_ptr (make it
// with std::make_shared or a subclass's factory).
//
// A plain operation runs main() on a queue thread and is finished when main()
// returns. An asynchronous subclass overrides start(), isExecuting(),
// isFinished() and isAsynchronous(), keeps its own flags, and calls
// stateDidChange() after each change of them; the queue learns of the finish
// only through that call.
//
// Finishing (once): the operation leaves its queue, its completion block runs
// once on a thread of the pool the queue uses (the blocking I/O pool when it
// has no queue), and then its dependants in any queue become ready.
//
// Cancelling marks the operation cancelled. One that has not started is ready
// at once, whatever its dependencies, and its start() finishes it without
// running main(); its dependants need not wait for it. One that began is only
// told (main() may check isCancelled()), and its dependants wait for it as for
// any other that began: until it finished and its completion block ran.
class Operation : public std::enable_shared_from_this<Operation> {
public:
    Operation();
    virtual ~Operation();
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

    [[nodiscard]] std::string name() const;
    void setName(std::string name);

    // The operation starts only when every dependency is finished and its
    // completion block has run. One cancelled before it began counts as
    // finished at once, whether or not a queue holds it; one that began,
    // cancelled or not, counts only then. A dependency that finished already,
    // even one whose completion block is still running, is waited for as any
    // other. Dependencies are held strongly until removed. Adding the
    // operation itself is refused with std::invalid_argument.
    void addDependency(const std::shared_ptr<Operation>& operation);
    void removeDependency(const std::shared_ptr<Operation>& operation);
    [[nodiscard]] std::vector<std::shared_ptr<Operation>> dependencies() const;

    // Runs once after the operation finished; released afterwards, so it may
    // capture the operation. Setting it after the finish has no effect.
    [[nodiscard]] std::function<void()> completionBlock() const;
    void setCompletionBlock(std::function<void()> block);
    // Makes the completion block run `block` after what it ran so far, in
    // one step, so that concurrent callers lose nothing.
    void appendCompletionBlock(std::function<void()> block);

    // -8 (very low) to 8 (very high); values outside are clamped. Among ready
    // operations of a queue the higher priority starts first, equal
    // priorities in the order they were added.
    [[nodiscard]] int queuePriority() const;
    void setQueuePriority(int priority);
    [[nodiscard]] QualityOfService qualityOfService() const;
    void setQualityOfService(QualityOfService quality);

    virtual void cancel();
    [[nodiscard]] bool isCancelled() const;
    [[nodiscard]] virtual bool isExecuting() const;
    [[nodiscard]] virtual bool isFinished() const;
    [[nodiscard]] virtual bool isAsynchronous() const;
    // Every dependency that began (the base start() was called, or it
    // executes) is finished and its completion block has run, even when it
    // was cancelled after it began; every other one was cancelled. Or the
    // operation itself is cancelled.
    [[nodiscard]] bool isReady() const;

    // Called by the queue on one of its threads. The base runs main() unless
    // cancelled, then finishes; a second call does nothing.
    virtual void start();

protected:
    // The work of a plain operation. An exception it throws is logged and the
    // operation still finishes.
    virtual void main() {}

    // For subclasses that keep their own flags: call after isExecuting(),
    // isFinished() or the readiness changed, with no lock of yours held (the
    // queue asks the operation for its flags in the call).
    void stateDidChange();

private:
    friend class detail::OperationQueueCore;

    void notifyFinished();
    void runCompletionBlock(std::function<void()> block);
    bool attachToQueue(const std::shared_ptr<detail::OperationQueueCore>& queue);
    std::shared_ptr<detail::OperationQueueCore> attachedQueue() const;

    mutable std::mutex mutex_;
    std::string name_;
    std::vector<std::shared_ptr<Operation>> dependencies_;
    std::vector<std::weak_ptr<Operation>> dependants_;
    std::function<void()> completionBlock_;
    std::weak_ptr<detail::OperationQueueCore> queue_;
    bool attached_ = false;
    std::atomic<int> queuePriority_{kQueuePriorityNormal};
    std::atomic<QualityOfService> qualityOfService_{QualityOfService::defaultService};
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> started_{false};
    std::atomic<bool> executing_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> finishObserved_{false};
    // The completion block has run: dependants may start.
    std::atomic<bool> completed_{false};
};

// Runs operations on a thread pool: at most maxConcurrentOperationCount at
// once, each when its dependencies are finished, the ready ones by queue
// priority. Never blocks a pool thread: starts and finishes are events.
//
// Thread-safe. A suspended queue starts nothing new; what runs goes on. The
// runtime's shutdown (Runtime.h) and the queue's destruction cancel every
// operation it still holds; those that did not start then finish without
// running their work, and their completion blocks still run once.
class OperationQueue {
public:
    static constexpr int kDefaultMaxConcurrentOperationCount = -1;  // one per pool thread

    // Operations run on `pool`; the blocking I/O pool by default, since an
    // operation's work usually waits on the disk or blocks.
    OperationQueue(std::string name, int maxConcurrentOperationCount, bool suspended);
    OperationQueue(std::string name, int maxConcurrentOperationCount, bool suspended, ThreadPool& pool);
    ~OperationQueue();
    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;

    [[nodiscard]] const std::string& name() const;
    [[nodiscard]] int maxConcurrentOperationCount() const;
    void setMaxConcurrentOperationCount(int count);

    // Throws std::invalid_argument when the operation is null, is in a queue
    // already, or has started. One that is finished already is not added.
    // After the runtime's shutdown the operation is cancelled and finishes
    // without running.
    void addOperation(const std::shared_ptr<Operation>& operation);
    void addOperations(const std::vector<std::shared_ptr<Operation>>& operations);
    // Convenience: a plain operation running `block`.
    void addOperation(std::function<void()> block);

    void setSuspended(bool suspended);
    [[nodiscard]] bool isSuspended() const;

    // Operations not finished yet, in the order they were added.
    [[nodiscard]] std::size_t operationCount() const;
    [[nodiscard]] std::vector<std::shared_ptr<Operation>> operations() const;
    // Operations whose start() was called and that did not finish yet.
    [[nodiscard]] std::size_t executingOperationCount() const;

    void cancelAllOperations();

private:
    std::shared_ptr<detail::OperationQueueCore> core_;
    struct Registration;
    std::unique_ptr<Registration> registration_;
};

}  // namespace ambrell::platform
