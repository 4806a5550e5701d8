#pragma once

#include <boost/asio/this_coro.hpp>

#include "platform/Error.h"
#include "platform/runtime/Executor.h"

namespace ambrell::platform {

// Cancellation follows the platform's task model: a sticky request that a task
// observes at cancellation points of its own choosing (checkCancellation(),
// sleep(), the queue primitives). Asio's cancellation state records the
// request; these read it.
inline Awaitable<bool> isCancelled() {
    auto state = co_await boost::asio::this_coro::cancellation_state;
    co_return state.cancelled() != boost::asio::cancellation_type::none;
}

inline Awaitable<void> checkCancellation() {
    const bool cancelled = co_await isCancelled();
    if (cancelled) throw CancellationError();
}

namespace detail {

// Every coroutine thread the runtime starts begins here. Asio would otherwise
// throw from any co_await once a cancellation was requested, which would make
// every await a cancellation point.
template <typename T>
Awaitable<T> cooperative(Awaitable<T> work) {
    co_await boost::asio::this_coro::throw_if_cancelled(false);
    co_return co_await std::move(work);
}

}  // namespace detail

}  // namespace ambrell::platform
