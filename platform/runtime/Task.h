#pragma once

#include <atomic>
#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/bind_executor.hpp>
#include <boost/asio/cancellation_signal.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/post.hpp>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <vector>

#include "platform/runtime/Cancellation.h"
#include "platform/runtime/Continuation.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Guarded.h"
#include "platform/runtime/MainQueue.h"
#include "platform/runtime/Runtime.h"
#include "platform/runtime/RuntimeErrors.h"
#include "platform/runtime/TaskResult.h"
#include "platform/runtime/ThreadPool.h"

namespace ambrell::platform {

// Where a completion handler is called: on the task that did the work, or on
// the main queue.
enum class CompletionQueue { workingTask, main };

template <typename T>
using Completion = std::function<void(TaskResult<T>)>;

namespace detail {

template <typename T>
Awaitable<TaskResult<T>> captureResult(Awaitable<T> work) {
    co_await boost::asio::this_coro::throw_if_cancelled(false);
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(work);
            co_return TaskResult<void>::success();
        } else {
            co_return TaskResult<T>::success(co_await std::move(work));
        }
    } catch (...) {
        co_return TaskResult<T>::failure(std::current_exception());
    }
}

// Hands the completion its result exactly once: on the main queue when asked
// (where it ends once the main queue has closed), else on the calling thread.
template <typename T>
void deliver(Completion<T> completion, TaskResult<T> result, CompletionQueue queue) {
    if (!completion) return;
    std::function<void()> call = [completion = std::move(completion), result = std::move(result)]() mutable {
        completion(std::move(result));
    };
    if (queue == CompletionQueue::main) {
        MainQueue::shared().deliver(std::move(call));
    } else {
        runGuarded("A completion handler", call);
    }
}

class TaskStateBase : public RegisteredTask, public std::enable_shared_from_this<TaskStateBase> {
public:
    explicit TaskStateBase(Strand s) : strand(std::move(s)) {}

    void cancel() override {
        if (cancelRequested.exchange(true)) return;
        boost::asio::post(strand,
                          [self = shared_from_this()] { self->signal.emit(boost::asio::cancellation_type::terminal); });
    }

    Strand strand;
    boost::asio::cancellation_signal signal;  // touched on the strand only
    std::atomic<bool> cancelRequested{false};
    std::atomic<bool> finished{false};
};

template <typename T>
class TaskState : public TaskStateBase {
public:
    using TaskStateBase::TaskStateBase;

    // Stores the outcome for value(), wakes its waiters, calls the completion
    // and leaves the runtime's books, in that order.
    void finish(TaskResult<T> outcome, Completion<T> completion, CompletionQueue queue) {
        std::vector<std::shared_ptr<Continuation>> waiters;
        {
            std::lock_guard lock(mutex);
            if constexpr (std::is_copy_constructible_v<T> || std::is_void_v<T>) {
                stored = outcome;
            } else if (!completion) {
                stored = std::move(outcome);
            }
            waiters.swap(waiting);
            finished = true;
        }
        for (const auto& waiter : waiters) waiter->resume();
        deliver<T>(std::move(completion), std::move(outcome), queue);
        Runtime::shared().retire(this);
    }

    std::mutex mutex;
    std::optional<TaskResult<T>> stored;                 // guarded by mutex
    std::vector<std::shared_ptr<Continuation>> waiting;  // guarded by mutex
};

}  // namespace detail

template <typename T>
class TypedTask;

// A started unit of asynchronous work, running on a strand of its own. The
// handle may be dropped: the work goes on. cancel() is a request the work
// observes at its cancellation points. The runtime's shutdown cancels every
// task still running.
class Task {
public:
    // Starts the work that `work` begins when called, on a new strand of the
    // shared pool (startOn: on `strand`). The callable is kept alive, with
    // what it captured, until the work ends.
    //   Completes: the completion, if any, exactly once with the outcome, from
    //     the working task or on the main queue (where shutdown ends, once
    //     the main queue has closed). A completion that throws is logged.
    //   Errors: the work's, in the outcome; RuntimeStoppedError, without
    //     starting the work, once the runtime's shutdown has begun.
    //   Cancelling: cancel() asks the work to stop at its cancellation
    //     points; shutdown cancels every task still running.
    template <AsyncCallable F>
    static TypedTask<AwaitedBy<F>> start(F work, Completion<AwaitedBy<F>> completion = {},
                                         CompletionQueue queue = CompletionQueue::workingTask) {
        return startOn(ThreadPool::shared().makeStrand(), std::move(work), std::move(completion), queue);
    }
    template <AsyncCallable F>
    static TypedTask<AwaitedBy<F>> startOn(Strand strand, F work, Completion<AwaitedBy<F>> completion = {},
                                           CompletionQueue queue = CompletionQueue::workingTask) {
        return spawn<AwaitedBy<F>>(std::move(strand), detail::keepAlive(std::move(work)), std::move(completion), queue);
    }

    // A started awaitable is refused: the work outlives the statement that
    // starts it, and a coroutine lambda called in that statement would leave
    // its work reading the lambda's captures after they died. Pass the
    // callable (the lambda itself, or one that calls the coroutine function).
    template <typename T, typename... Rest>
    static void start(Awaitable<T> work, Rest&&... rest) = delete;
    template <typename T, typename... Rest>
    static void startOn(Strand strand, Awaitable<T> work, Rest&&... rest) = delete;

    // Asks the work to stop; thread-safe, idempotent.
    void cancel() const { state_->cancel(); }
    [[nodiscard]] bool isCancelled() const { return state_->cancelRequested; }
    [[nodiscard]] bool isFinished() const { return state_->finished; }

protected:
    explicit Task(std::shared_ptr<detail::TaskStateBase> state) : state_(std::move(state)) {}
    std::shared_ptr<detail::TaskStateBase> state_;

private:
    template <typename T>
    static TypedTask<T> spawn(Strand strand, Awaitable<T> work, Completion<T> completion, CompletionQueue queue);
};

// A task whose outcome can also be awaited.
template <typename T>
class TypedTask : public Task {
public:
    // Waits for the task to end and hands its outcome over. Not a
    // cancellation point: cancelling the waiting task does not end the wait;
    // cancel this task instead. Throws std::logic_error when the outcome
    // cannot be copied and was handed to the completion.
    Awaitable<TaskResult<T>> result() const {
        auto state = std::static_pointer_cast<detail::TaskState<T>>(state_);
        auto turn = co_await Continuation::makeForCurrentExecutor();
        {
            std::lock_guard lock(state->mutex);
            if (state->finished) {
                turn->resume();
            } else {
                state->waiting.push_back(turn);
            }
        }
        co_await turn->waitIgnoringCancellation();
        std::lock_guard lock(state->mutex);
        if (!state->stored) throw std::logic_error("This task's outcome was handed to its completion");
        if constexpr (std::is_copy_constructible_v<T> || std::is_void_v<T>) {
            co_return *state->stored;
        } else {
            co_return std::exchange(state->stored, std::nullopt).value();
        }
    }

    // The task's value, or its error rethrown.
    Awaitable<T> value() const {
        auto outcome = co_await result();
        if constexpr (std::is_void_v<T>) {
            outcome.get();
        } else {
            co_return std::move(outcome.get());
        }
    }

private:
    friend class Task;
    using Task::Task;
};

template <typename T>
TypedTask<T> Task::spawn(Strand strand, Awaitable<T> work, Completion<T> completion, CompletionQueue queue) {
    auto state = std::make_shared<detail::TaskState<T>>(std::move(strand));
    if (!Runtime::shared().admit(state)) {
        state->cancelRequested = true;
        state->finish(TaskResult<T>::failure(std::make_exception_ptr(RuntimeStoppedError())), std::move(completion),
                      queue);
        return TypedTask<T>(std::move(state));
    }
    auto finish = [state, completion = std::move(completion), queue](std::exception_ptr error,
                                                                     TaskResult<T> outcome) mutable {
        // The outcome is empty only when the runtime's own frame failed.
        if (error) outcome = TaskResult<T>::failure(std::move(error));
        state->finish(std::move(outcome), std::move(completion), queue);
    };
    boost::asio::co_spawn(state->strand, detail::captureResult<T>(std::move(work)),
                          boost::asio::bind_cancellation_slot(
                              state->signal.slot(), boost::asio::bind_executor(state->strand, std::move(finish))));
    return TypedTask<T>(std::move(state));
}

}  // namespace ambrell::platform
