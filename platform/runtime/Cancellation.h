#pragma once

#include <boost/asio/cancellation_signal.hpp>
#include <boost/asio/this_coro.hpp>
#include <memory>
#include <optional>
#include <type_traits>

#include "platform/Error.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/WaitChain.h"

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

// What a callable that starts asynchronous work yields.
template <typename F>
using AwaitedBy = typename std::invoke_result_t<F&>::value_type;

template <typename F>
concept AsyncCallable = std::invocable<F&> && requires {
    typename AwaitedBy<F>;
};

namespace detail {

// How a coroutine thread the runtime starts begins.
struct ThreadStart {
    // The chain of blocked waits the work belongs to, if any.
    std::shared_ptr<const WaitChain> chain;
    // A cancellation to deliver before the work begins: the starting task was
    // cancelled already, and a request is sticky.
    boost::asio::cancellation_signal* cancelNow = nullptr;
    // What must outlive the thread: the signal its cancellation comes from.
    std::shared_ptr<void> keepAlive;
};

// Every coroutine thread the runtime starts begins here. Asio would otherwise
// throw from any co_await once a cancellation was requested, which would make
// every await a cancellation point.
template <typename T>
Awaitable<T> cooperative(Awaitable<T> work, ThreadStart start = {}) {
    co_await boost::asio::this_coro::throw_if_cancelled(false);
    if (start.cancelNow) start.cancelNow->emit(boost::asio::cancellation_type::terminal);
    std::optional<ChainMembership> membership;
    if (start.chain) {
        auto state = co_await boost::asio::this_coro::cancellation_state;
        membership.emplace(state.slot(), start.chain);
    }
    co_return co_await std::move(work);
}

// Calls `f` inside a coroutine frame of its own, so the callable, and what it
// captured, live as long as the work it started.
template <AsyncCallable F>
Awaitable<AwaitedBy<F>> keepAlive(F f) {
    co_return co_await f();
}

// Carries a cancellation from an awaiting task to the work it runs on another
// executor. Both sides share it, and it is emitted on the work's executor
// only, so neither side ending first leaves the other a dangling pointer.
struct CancellationLink {
    boost::asio::cancellation_signal signal;
};

}  // namespace detail

}  // namespace ambrell::platform
