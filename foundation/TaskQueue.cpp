#include "foundation/TaskQueue.h"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <deque>

#include "platform/Error.h"
#include "platform/runtime/Actor.h"
#include "platform/runtime/Cancellation.h"
#include "platform/runtime/Continuation.h"
#include "platform/runtime/ThreadPool.h"

namespace ambrell {

using platform::Awaitable;
using platform::CancellationError;
using platform::Continuation;

// The queue's bookkeeping. It is touched only on `strand`, the queue's own
// serial executor; calls hop there. Calls in progress hold the state, so it
// outlives the TaskQueue object that owned it.
struct TaskQueue::State {
    const std::int64_t concurrency = 1;
    std::int64_t running = 0;
    std::deque<std::shared_ptr<Continuation>> queue;  // waiting calls, oldest first
    platform::Strand strand = platform::ThreadPool::shared().makeStrand();

    void runNext() {
        if (queue.empty() || running >= concurrency) return;
        ++running;
        auto next = std::move(queue.front());
        queue.pop_front();
        next->resume();
    }
};

namespace {

Awaitable<bool> enqueueOnQueue(std::shared_ptr<TaskQueue::State> state, std::int64_t limit,
                               TaskQueue::Operation operation, bool callerWasCancelled) {
    if (static_cast<std::int64_t>(state->queue.size()) > limit) co_return true;
    const bool cancelledSinceTheCall = co_await platform::isCancelled();
    if (callerWasCancelled || cancelledSinceTheCall) throw CancellationError();

    auto turn = Continuation::make(state->strand);
    state->queue.push_back(turn);
    state->runNext();
    // Resumed with an error only when the queue is destroyed; then the turn
    // was never taken, so `running` is not ours to touch.
    co_await turn->waitIgnoringCancellation();

    const bool cancelledWhileWaiting = co_await platform::isCancelled();
    if (cancelledWhileWaiting) {
        --state->running;
        state->runNext();
        throw CancellationError();
    }

    std::exception_ptr failure;
    try {
        co_await platform::runOn<void>(platform::ThreadPool::shared().makeStrand(), operation());
    } catch (...) {
        failure = std::current_exception();
    }
    --state->running;
    state->runNext();
    if (failure) std::rethrow_exception(failure);
    co_return false;
}

Awaitable<bool> enqueueFromCaller(std::shared_ptr<TaskQueue::State> state, std::int64_t limit,
                                  TaskQueue::Operation operation) {
    // The caller's cancellation is sticky on its own state; a request that came
    // before this call would not travel into the hop to the queue.
    const bool cancelled = co_await platform::isCancelled();
    co_return co_await platform::runOn<bool>(state->strand,
                                             enqueueOnQueue(state, limit, std::move(operation), cancelled));
}

}  // namespace

TaskQueue::TaskQueue() : state_(std::make_shared<State>()) {}

TaskQueue::~TaskQueue() {
    boost::asio::post(state_->strand, [state = state_] {
        auto waiting = std::move(state->queue);
        state->queue.clear();
        for (auto& turn : waiting) turn->resume(std::make_exception_ptr(CancellationError()));
    });
}

Awaitable<bool> TaskQueue::enqueue(std::int64_t dropIfQueueLengthIsOver, Operation operation) {
    return enqueueFromCaller(state_, dropIfQueueLengthIsOver, std::move(operation));
}

Awaitable<std::size_t> TaskQueue::waitingCount() const {
    auto state = state_;
    co_return co_await platform::runOn<std::size_t>(
        state->strand, [](std::shared_ptr<State> s) -> Awaitable<std::size_t> { co_return s->queue.size(); }(state));
}

}  // namespace ambrell
