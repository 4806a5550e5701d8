#pragma once

#include <exception>
#include <memory>

#include "platform/runtime/Executor.h"

namespace ambrell::platform {

// A one-shot point at which one coroutine suspends until another party
// resumes it, normally or with an error. resume() may be called from any
// thread; the waiter must run on `executor`, which must be serial (a strand or
// the main queue): the resumption is delivered through it.
class Continuation : public std::enable_shared_from_this<Continuation> {
public:
    static std::shared_ptr<Continuation> make(Executor executor);
    ~Continuation();

    // Later calls after the first are ignored.
    void resume();
    void resume(std::exception_ptr error);

    // Suspends until resumed, whatever cancellation the waiting task receives
    // meanwhile; rethrows the error it was resumed with.
    Awaitable<void> wait();
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
