#pragma once

#include <exception>
#include <memory>

#include "platform/runtime/Executor.h"

namespace ambrell::platform {

// A one-shot point at which one coroutine suspends until another party
// resumes it, normally or with an error. resume() may be called from any
// thread; the waiter runs on `executor`, through which the resumption is
// delivered.
class Continuation : public std::enable_shared_from_this<Continuation> {
public:
    static std::shared_ptr<Continuation> make(SerialExecutor executor);
    // For the executor the calling coroutine runs on; throws std::logic_error
    // when that executor is not serial.
    static Awaitable<std::shared_ptr<Continuation>> makeForCurrentExecutor();
    ~Continuation();

    // Later calls after the first are ignored.
    void resume();
    void resume(std::exception_ptr error);

    // Suspends until resumed, and rethrows the error it was resumed with.
    // Throws CancellationError when the waiting task is cancelled first; a
    // later resume() then finds no one.
    Awaitable<void> wait();
    // Suspends until resumed, whatever cancellation the waiting task receives
    // meanwhile: for a turn that must not be given up half way.
    Awaitable<void> waitIgnoringCancellation();
    // Suspends until resumed (true) or until the waiting task is cancelled
    // (false); an error it was resumed with is rethrown. May be called again
    // after an interruption.
    Awaitable<bool> waitInterruptibly();

private:
    explicit Continuation(Executor executor);
    void deliver(std::exception_ptr error);

    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace ambrell::platform
