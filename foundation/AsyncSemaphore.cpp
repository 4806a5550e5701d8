#include "foundation/AsyncSemaphore.h"

#include "platform/runtime/Actor.h"
#include "platform/runtime/Continuation.h"
#include "platform/runtime/MainQueue.h"

namespace ambrell {

using platform::Awaitable;
using platform::MainQueue;

std::shared_ptr<AsyncSemaphore> AsyncSemaphore::make(std::int64_t value) {
    return std::shared_ptr<AsyncSemaphore>(new AsyncSemaphore(value));
}

std::int64_t AsyncSemaphore::value() const {
    std::lock_guard guard(lock_);
    return value_;
}

// Neither operation is a cancellation point: a cancelled caller still waits
// for its turn, and still hands it on.
Awaitable<void> AsyncSemaphore::wait() {
    return platform::runOn<void>(platform::SerialExecutor::mainQueue(), waitOnMain(shared_from_this()));
}

Awaitable<bool> AsyncSemaphore::signal() {
    return platform::runOn<bool>(platform::SerialExecutor::mainQueue(), signalOnMain(shared_from_this()));
}

Awaitable<void> AsyncSemaphore::waitOnMain(std::shared_ptr<AsyncSemaphore> self) {
    std::shared_ptr<platform::Continuation> continuation;
    {
        std::lock_guard guard(self->lock_);
        if (--self->value_ >= 0) co_return;
        continuation = platform::Continuation::make(platform::SerialExecutor::mainQueue());
        self->waiters_.push_back(continuation);
    }
    co_await continuation->waitIgnoringCancellation();
}

Awaitable<bool> AsyncSemaphore::signalOnMain(std::shared_ptr<AsyncSemaphore> self) {
    std::shared_ptr<platform::Continuation> continuation;
    {
        std::lock_guard guard(self->lock_);
        ++self->value_;
        if (self->waiters_.empty()) co_return false;
        continuation = std::move(self->waiters_.front());
        self->waiters_.pop_front();
    }
    continuation->resume();
    co_return true;
}

}  // namespace ambrell
