#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/runtime/Executor.h"

namespace ambrell {

// Runs asynchronous operations one at a time, in the order they were handed
// in, and refuses an operation outright when too many already wait. The map
// control's render pipeline (limit 0: one running, at most one waiting) and its
// live-data pipeline (limit 5) are built on it.
class TaskQueue {
public:
    using Operation = std::function<platform::Awaitable<void>()>;

    TaskQueue();
    // Every call still waiting for its turn fails with CancellationError; its
    // operation never runs. The running operation runs to its end.
    ~TaskQueue();
    TaskQueue(const TaskQueue&) = delete;
    TaskQueue& operator=(const TaskQueue&) = delete;

    // Waits for the turn, runs the operation on a strand of its own and waits
    // for it.
    //   Completes: on the caller's executor; true when the operation was
    //     refused because more than `dropIfQueueLengthIsOver` calls were
    //     already waiting, false once it ran to its end.
    //   Errors: CancellationError (see below), or the operation's own error.
    //   Cancelling: before the call is queued, or while it waits, throws
    //     CancellationError; a waiting call keeps its place until its turn
    //     comes, then gives the turn on at once. During the operation the
    //     request reaches the operation, which decides.
    platform::Awaitable<bool> enqueue(std::int64_t dropIfQueueLengthIsOver, Operation operation);

    // Calls waiting for their turn (the running one excluded).
    //   Completes: on the caller's executor. Errors: none.
    //   Cancelling: not a cancellation point.
    platform::Awaitable<std::size_t> waitingCount() const;

    struct State;

private:
    std::shared_ptr<State> state_;
};

}  // namespace ambrell
