#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/runtime/Continuation.h"
#include "platform/runtime/Executor.h"

namespace ambrell {

// Awaits an operation that answers through a callback: `start` gets a
// function to call once with the answer, from any thread. The answer is kept
// apart from the awaiting frame, so a late call finds it alive.
//   Completes: on the caller's executor (which must be serial), with the answer.
//   Errors: none of its own. Cancelling: not a cancellation point; the wait
//     lasts until the answer comes.
template <typename T, typename Start>
platform::Awaitable<T> awaitCallback(Start start) {
    struct Answer {
        std::mutex mutex;
        std::optional<T> value;
    };
    auto answer = std::make_shared<Answer>();
    auto resumed = co_await platform::Continuation::makeForCurrentExecutor();
    start([answer, resumed](T value) {
        {
            std::lock_guard lock(answer->mutex);
            if (answer->value) return;
            answer->value.emplace(std::move(value));
        }
        resumed->resume();
    });
    co_await resumed->waitIgnoringCancellation();
    std::lock_guard lock(answer->mutex);
    co_return std::move(*answer->value);
}

}  // namespace ambrell
