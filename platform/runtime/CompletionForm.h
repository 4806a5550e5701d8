#pragma once

#include <exception>
#include <type_traits>
#include <utility>

#include "platform/runtime/Task.h"

namespace ambrell::platform {

// The completion-handler form of an awaitable operation: runs `operation` in
// a task of its own and calls `onValue` with its value, or `onError` with its
// error, exactly once, on `queue` (at shutdown, where it ends; see Task).
// A handler that throws is logged. Cancelling the returned task cancels the
// operation; its handler then gets the operation's cancellation error.
// `operation` comes from a coroutine function or method, whose frame holds its
// arguments; never from a coroutine lambda with captures (see Task::start).
template <typename T, typename OnValue, typename OnError>
Task completeOn(CompletionQueue queue, Awaitable<T> operation, OnValue onValue, OnError onError) {
    return Task::start([operation = std::move(operation)]() mutable { return std::move(operation); },
                       [onValue = std::move(onValue), onError = std::move(onError)](TaskResult<T> outcome) mutable {
                           if (outcome.error()) {
                               onError(outcome.error());
                           } else if constexpr (std::is_void_v<T>) {
                               onValue();
                           } else {
                               onValue(std::move(outcome.get()));
                           }
                       },
                       queue);
}

}  // namespace ambrell::platform
