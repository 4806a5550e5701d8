#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

#include "platform/runtime/Executor.h"

namespace ambrell {

namespace platform {
class Continuation;
}

// A counting semaphore whose waiters suspend instead of blocking a thread and
// resume strictly in the order they began to wait. Both operations run on the
// main queue, which must be running. Pair every wait() with one signal().
class AsyncSemaphore : public std::enable_shared_from_this<AsyncSemaphore> {
public:
    static std::shared_ptr<AsyncSemaphore> make(std::int64_t value);

    // Returns when the caller may go on.
    //   Completes: on the caller's executor, after a hop to the main queue.
    //   Errors: none; BlockingCallError when the main thread is blocked in
    //     blockingWait for the caller, which could never be resumed.
    //   Cancelling: not a cancellation point; a cancelled waiter keeps its
    //     turn, and must still signal.
    platform::Awaitable<void> wait();
    // Returns true when it resumed a waiter.
    //   Completes, Errors, Cancelling: as wait().
    platform::Awaitable<bool> signal();

    // The count; when negative, its magnitude is the number of suspended waiters.
    [[nodiscard]] std::int64_t value() const;

private:
    explicit AsyncSemaphore(std::int64_t value) : value_(value) {}

    static platform::Awaitable<void> waitOnMain(std::shared_ptr<AsyncSemaphore> self);
    static platform::Awaitable<bool> signalOnMain(std::shared_ptr<AsyncSemaphore> self);

    mutable std::mutex lock_;
    std::int64_t value_;
    std::deque<std::shared_ptr<platform::Continuation>> waiters_;  // oldest first
};

}  // namespace ambrell
