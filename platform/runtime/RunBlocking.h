#pragma once

#include <boost/asio/post.hpp>
#include <memory>
#include <optional>
#include <type_traits>

#include "platform/runtime/Continuation.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/TaskResult.h"
#include "platform/runtime/ThreadPool.h"

namespace ambrell::platform {

// Runs `work`, a plain function that may block (file-system calls), on the
// blocking I/O pool.
//   Completes: on the caller's executor, with the function's value.
//   Errors: whatever the function throws.
//   Cancelling: not a cancellation point; blocking work cannot be
//     interrupted, so the caller waits for it to end.
template <typename F>
Awaitable<std::invoke_result_t<F&>> runBlocking(F work) {
    using T = std::invoke_result_t<F&>;
    auto turn = co_await Continuation::makeForCurrentExecutor();
    auto outcome = std::make_shared<TaskResult<T>>();
    boost::asio::post(ThreadPool::blockingIO().executor(), [turn, outcome, work = std::move(work)]() mutable {
        try {
            if constexpr (std::is_void_v<T>) {
                work();
                *outcome = TaskResult<T>::success();
            } else {
                *outcome = TaskResult<T>::success(work());
            }
        } catch (...) {
            *outcome = TaskResult<T>::failure(std::current_exception());
        }
        turn->resume();
    });
    co_await turn->waitIgnoringCancellation();
    if constexpr (std::is_void_v<T>) {
        outcome->get();
    } else {
        co_return std::move(outcome->get());
    }
}

}  // namespace ambrell::platform
