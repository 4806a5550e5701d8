#pragma once

#include <atomic>
#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/bind_executor.hpp>
#include <boost/asio/cancellation_signal.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/post.hpp>
#include <functional>
#include <memory>

#include "platform/runtime/Cancellation.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/MainQueue.h"
#include "platform/runtime/TaskResult.h"
#include "platform/runtime/ThreadPool.h"

namespace ambrell::platform {

// Where a completion handler is called: on the task that did the work, or on
// the main queue.
enum class CompletionQueue { workingTask, main };

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

}  // namespace detail

// A started unit of asynchronous work, running on a strand of its own. The
// handle may be dropped: the work goes on. cancel() is a request the work
// observes at its cancellation points.
class Task {
public:
    template <typename T>
    using Completion = std::function<void(TaskResult<T>)>;

    // Starts `work` on a new strand of the shared pool (startOn: on `strand`).
    // The completion, if any, is called exactly once with the outcome, from
    // the working task or on the main queue.
    template <typename T>
    static Task start(Awaitable<T> work, Completion<T> completion = {},
                      CompletionQueue queue = CompletionQueue::workingTask) {
        return startOn(ThreadPool::shared().makeStrand(), std::move(work), std::move(completion), queue);
    }

    template <typename T>
    static Task startOn(Strand strand, Awaitable<T> work, Completion<T> completion = {},
                        CompletionQueue queue = CompletionQueue::workingTask) {
        auto state = std::make_shared<State>(std::move(strand));
        auto finish = [state, completion = std::move(completion), queue](std::exception_ptr,
                                                                          TaskResult<T> result) mutable {
            state->finished = true;
            if (!completion) return;
            if (queue == CompletionQueue::main) {
                MainQueue::shared().async(
                    [completion = std::move(completion), result = std::move(result)]() mutable {
                        completion(std::move(result));
                    });
            } else {
                completion(std::move(result));
            }
        };
        boost::asio::co_spawn(state->strand, detail::captureResult<T>(std::move(work)),
                              boost::asio::bind_cancellation_slot(
                                  state->signal.slot(), boost::asio::bind_executor(state->strand, std::move(finish))));
        return Task(std::move(state));
    }

    // Asks the work to stop; thread-safe, idempotent.
    void cancel() const {
        if (state_->cancelRequested.exchange(true)) return;
        boost::asio::post(state_->strand,
                          [state = state_] { state->signal.emit(boost::asio::cancellation_type::terminal); });
    }
    [[nodiscard]] bool isCancelled() const { return state_->cancelRequested; }
    [[nodiscard]] bool isFinished() const { return state_->finished; }

private:
    struct State {
        explicit State(Strand s) : strand(std::move(s)) {}
        Strand strand;
        boost::asio::cancellation_signal signal;  // touched on the strand only
        std::atomic<bool> cancelRequested{false};
        std::atomic<bool> finished{false};
    };

    explicit Task(std::shared_ptr<State> state) : state_(std::move(state)) {}
    std::shared_ptr<State> state_;
};

}  // namespace ambrell::platform
