#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <utility>

#include <boost/asio/steady_timer.hpp>

#include "platform/runtime/Continuation.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/ThreadPool.h"

namespace ambrell {

// What an awaited callback that never came ends the wait with.
struct CallbackTimeoutError : std::runtime_error {
    CallbackTimeoutError() : std::runtime_error("An awaited callback did not come within its bound") {}
};

// Longer than any answer the entry object awaits can take when it comes: the
// requests behind them give up after a minute at most. Only a lost callback
// reaches it, and a turn that waited for one would hold every later load,
// reset and role change behind it for good.
inline constexpr std::chrono::minutes kAwaitCallbackBound{5};

// Awaits an operation that answers through a callback: `start` gets a
// function to call once with the answer, from any thread. The answer is kept
// apart from the awaiting frame, so a late call finds it alive (and is
// dropped once the wait has ended).
//   Completes: on the caller's executor (which must be serial), with the answer.
//   Errors: CallbackTimeoutError when no answer came within `bound`.
//   Cancelling: not a cancellation point; the wait lasts until the answer
//     comes or the bound passes.
template <typename T, typename Start>
platform::Awaitable<T> awaitCallback(Start start, std::chrono::steady_clock::duration bound = kAwaitCallbackBound) {
    struct Answer {
        std::mutex mutex;
        std::optional<T> value;
        bool timedOut = false;
        std::optional<boost::asio::steady_timer> timer;
    };
    auto answer = std::make_shared<Answer>();
    auto resumed = co_await platform::Continuation::makeForCurrentExecutor();
    {
        std::lock_guard lock(answer->mutex);
        answer->timer.emplace(platform::ThreadPool::shared().executor(), bound);
        // Holds the answer until it runs: at the bound, or at once when the
        // answer cancels it.
        answer->timer->async_wait([answer, resumed](const boost::system::error_code& error) {
            if (error) return;
            {
                std::lock_guard lock(answer->mutex);
                if (answer->value) return;
                answer->timedOut = true;
            }
            resumed->resume(std::make_exception_ptr(CallbackTimeoutError()));
        });
    }
    start([answer, resumed](T value) {
        {
            std::lock_guard lock(answer->mutex);
            if (answer->value || answer->timedOut) return;
            answer->value.emplace(std::move(value));
            answer->timer->cancel();
        }
        resumed->resume();
    });
    co_await resumed->waitIgnoringCancellation();
    std::lock_guard lock(answer->mutex);
    co_return std::move(*answer->value);
}

}  // namespace ambrell
