#pragma once

#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/bind_executor.hpp>
#include <boost/asio/cancellation_signal.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/post.hpp>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/Error.h"
#include "platform/runtime/Cancellation.h"
#include "platform/runtime/Continuation.h"
#include "platform/runtime/Task.h"
#include "platform/runtime/TaskResult.h"
#include "platform/runtime/ThreadPool.h"

namespace ambrell::platform {

template <typename T>
using ChildTask = std::function<Awaitable<T>()>;

namespace detail {

// One child of a group: its strand, and the signal that cancels it. Both the
// start and the cancellation run on the child's strand, so a cancellation
// requested before the child started is not lost: the child then never runs.
struct GroupChild {
    explicit GroupChild(Strand s) : strand(std::move(s)) {}
    Strand strand;
    boost::asio::cancellation_signal signal;
    bool cancelRequested = false;
    bool started = false;
};

template <typename T>
struct GroupState {
    using Stored = std::conditional_t<std::is_void_v<T>, bool, T>;

    std::mutex mutex;
    std::size_t remaining = 0;
    std::vector<std::optional<Stored>> results;
    std::exception_ptr firstError;
    bool cancelling = false;
    std::vector<std::shared_ptr<GroupChild>> children;
    std::shared_ptr<Continuation> allDone;

    void cancelAll() {
        {
            std::lock_guard lock(mutex);
            if (cancelling) return;
            cancelling = true;
        }
        for (auto& child : children) {
            boost::asio::post(child->strand, [child] {
                child->cancelRequested = true;
                if (child->started) child->signal.emit(boost::asio::cancellation_type::terminal);
            });
        }
    }

    void finish(std::size_t index, TaskResult<T> result) {
        bool failedFirst = false;
        bool last = false;
        {
            std::lock_guard lock(mutex);
            if (result.error()) {
                if (!firstError) {
                    firstError = result.error();
                    failedFirst = true;
                }
            } else if constexpr (std::is_void_v<T>) {
                results[index].emplace(true);
            } else {
                results[index].emplace(std::move(result.get()));
            }
            last = --remaining == 0;
        }
        if (failedFirst) cancelAll();
        if (last) allDone->resume();
    }
};

}  // namespace detail

template <typename T>
using GroupResult = std::conditional_t<std::is_void_v<T>, void, std::vector<T>>;

namespace detail {

template <typename T>
Awaitable<GroupResult<T>> runGroup(std::vector<ChildTask<T>> tasks) {
    auto state = std::make_shared<GroupState<T>>();
    // Throws when the caller runs on a parallel executor: the group's
    // bookkeeping would race.
    state->allDone = co_await Continuation::makeForCurrentExecutor();
    ThreadStart start;
    auto cancellationState = co_await boost::asio::this_coro::cancellation_state;
    start.chain = chainOf(cancellationState.slot());
    state->remaining = tasks.size();
    state->results.resize(tasks.size());
    for (std::size_t i = 0; i < tasks.size(); ++i) {
        state->children.push_back(std::make_shared<GroupChild>(ThreadPool::shared().makeStrand()));
    }
    const bool cancelledBeforeStart = co_await isCancelled();
    if (cancelledBeforeStart) state->cancelAll();

    for (std::size_t i = 0; i < tasks.size(); ++i) {
        auto child = state->children[i];
        boost::asio::post(child->strand, [state, child, i, start, task = std::move(tasks[i])]() mutable {
            if (child->cancelRequested) {
                state->finish(i, TaskResult<T>::failure(std::make_exception_ptr(CancellationError())));
                return;
            }
            child->started = true;
            auto onFinish = [state, i](std::exception_ptr error, TaskResult<T> result) {
                if (error) result = TaskResult<T>::failure(std::move(error));
                state->finish(i, std::move(result));
            };
            boost::asio::co_spawn(child->strand, captureResult<T>(cooperative<T>(keepAlive(std::move(task)), start)),
                                  boost::asio::bind_cancellation_slot(
                                      child->signal.slot(), boost::asio::bind_executor(child->strand, onFinish)));
        });
    }

    bool allEnded = true;
    if (!tasks.empty()) allEnded = co_await state->allDone->waitInterruptibly();
    if (!allEnded) {
        // The caller was cancelled: pass it on, and still wait for every child.
        state->cancelAll();
        co_await state->allDone->waitIgnoringCancellation();
    }

    if (state->firstError) std::rethrow_exception(state->firstError);
    if constexpr (!std::is_void_v<T>) {
        std::vector<T> values;
        values.reserve(state->results.size());
        for (auto& result : state->results) values.push_back(std::move(*result));
        co_return values;
    }
}

}  // namespace detail

// Runs every child concurrently, each on a strand of its own (its callable
// kept alive until it ends), and waits for all of them. The caller must run
// on a serial executor (std::logic_error otherwise).
//   Completes: on the caller's executor, once every child ended; results in
//     the children's order.
//   Errors: the first child's error; the first child to fail cancels the
//     others, and the group still waits for every child.
//   Cancelling: cancels every child, then waits for all of them.
template <typename T>
Awaitable<GroupResult<T>> runTaskGroup(std::vector<ChildTask<T>> tasks) {
    return detail::runGroup<T>(std::move(tasks));
}

}  // namespace ambrell::platform
