#pragma once

#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/use_future.hpp>
#include <memory>

#include "platform/runtime/Cancellation.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/MainQueue.h"
#include "platform/runtime/Runtime.h"
#include "platform/runtime/RuntimeErrors.h"
#include "platform/runtime/ThreadPool.h"

namespace ambrell::platform {

// Runs `work` on `executor` and blocks the calling thread until it ends, for
// the few places that are called synchronously by the host. Throws
// BlockingCallError, without running the work, on a pool thread (a blocked
// pool thread starves the work it waits for) or on the executor the work
// needs; the work throws it when it needs the main queue while the main
// thread waits here. Throws RuntimeStoppedError once shutdown began.
template <typename T>
T blockingWait(SerialExecutor executor, Awaitable<T> work) {
    namespace asio = boost::asio;
    if (ThreadPool::current() != nullptr) {
        throw BlockingCallError("blockingWait on a pool thread would starve the pool; await the work instead");
    }
    if (executor.runningInThisThread()) {
        throw BlockingCallError("blockingWait on the executor it waits for would never return");
    }
    if (Runtime::shared().isShuttingDown()) throw RuntimeStoppedError();
    detail::ThreadStart start;
    if (MainQueue::shared().isCurrent()) start.chain = std::make_shared<detail::WaitChain>(detail::WaitChain{true});
    // A slot of its own names the work's thread, so that its hops can be
    // traced back to this wait.
    auto root = std::make_shared<asio::cancellation_signal>();
    start.keepAlive = root;
    auto& signal = *root;
    return asio::co_spawn(executor.executor(), detail::cooperative<T>(std::move(work), std::move(start)),
                          asio::bind_cancellation_slot(signal.slot(), asio::use_future))
        .get();
}

template <AsyncCallable F>
AwaitedBy<F> blockingWait(SerialExecutor executor, F work) {
    return blockingWait<AwaitedBy<F>>(std::move(executor), detail::keepAlive(std::move(work)));
}

}  // namespace ambrell::platform
