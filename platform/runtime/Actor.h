#pragma once

#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <exception>
#include <type_traits>

#include "platform/runtime/Cancellation.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/RuntimeErrors.h"
#include "platform/runtime/TaskResult.h"

namespace ambrell::platform {

// Runs `work` on `target`.
//   Completes: on the caller's executor, never inside the target's turn,
//     with the work's value.
//   Errors: the work's; BlockingCallError, without running it, when the work
//     needs the main queue while the main thread is blocked waiting for the
//     caller.
//   Cancelling: a cancellation of the caller, before or during the call,
//     reaches the work, which decides.
template <typename T>
Awaitable<T> runOn(SerialExecutor target, Awaitable<T> work) {
    namespace asio = boost::asio;
    auto state = co_await asio::this_coro::cancellation_state;
    detail::ThreadStart start;
    start.chain = detail::chainOf(state.slot());
    if (start.chain && start.chain->blocksMainQueue && target.isMainQueue()) {
        throw BlockingCallError("This work needs the main queue, whose thread is blocked waiting for it");
    }
    auto link = std::make_shared<detail::CancellationLink>();
    start.keepAlive = link;
    if (state.cancelled() != asio::cancellation_type::none) {
        start.cancelNow = &link->signal;
    } else if (auto slot = state.slot(); slot.is_connected()) {
        // Called on the caller's executor; the emit itself runs on the target's.
        slot.assign([link, executor = target.executor()](asio::cancellation_type type) {
            asio::post(executor, [link, type] { link->signal.emit(type); });
        });
    }
    auto& signal = link->signal;
    TaskResult<T> outcome;
    try {
        if constexpr (std::is_void_v<T>) {
            co_await asio::co_spawn(target.executor(), detail::cooperative<T>(std::move(work), std::move(start)),
                                    asio::bind_cancellation_slot(signal.slot(), asio::use_awaitable));
            outcome = TaskResult<T>::success();
        } else {
            outcome = TaskResult<T>::success(
                co_await asio::co_spawn(target.executor(), detail::cooperative<T>(std::move(work), std::move(start)),
                                        asio::bind_cancellation_slot(signal.slot(), asio::use_awaitable)));
        }
    } catch (...) {
        outcome = TaskResult<T>::failure(std::current_exception());
    }
    // The outcome is handed over on the target's thread, often inside the
    // target's turn: the caller moves back to its own executor first, so it
    // never runs on in another executor's turn and keeps it from its next work.
    co_await asio::post(asio::use_awaitable);
    if constexpr (std::is_void_v<T>) {
        outcome.get();
    } else {
        co_return std::move(outcome.get());
    }
}

// The same for a callable that starts the work; it is kept alive until the
// work ends.
template <AsyncCallable F>
Awaitable<AwaitedBy<F>> runOn(SerialExecutor target, F work) {
    return runOn<AwaitedBy<F>>(std::move(target), detail::keepAlive(std::move(work)));
}

// A serial executor whose state only its own work touches: a strand of the
// shared pool.
class Actor {
public:
    Actor();

    [[nodiscard]] const Strand& executor() const { return strand_; }
    [[nodiscard]] bool isCurrent() const { return strand_.running_in_this_thread(); }

    template <typename T>
    Awaitable<T> run(Awaitable<T> work) const {
        return runOn<T>(strand_, std::move(work));
    }
    template <AsyncCallable F>
    Awaitable<AwaitedBy<F>> run(F work) const {
        return runOn(strand_, std::move(work));
    }

private:
    Strand strand_;
};

// Global serial executors of the library.
struct LocationServiceActor {
    static Actor& shared();
};

struct LoadingActor {
    static Actor& shared();
};

}  // namespace ambrell::platform
