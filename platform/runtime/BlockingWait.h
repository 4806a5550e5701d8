#pragma once

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/use_future.hpp>
#include <stdexcept>

#include "platform/runtime/Cancellation.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/MainQueue.h"

namespace ambrell::platform {

// Runs `work` on `executor` and blocks the calling thread until it ends, for
// the few places that are called synchronously. Must not be called from the
// executor the work needs: that would wait for itself.
template <typename T>
T blockingWait(Executor executor, Awaitable<T> work) {
    if (MainQueue::shared().isCurrent() && executor == MainQueue::shared().executor()) {
        throw std::logic_error("blockingWait on the main queue from the main queue would never return");
    }
    return boost::asio::co_spawn(std::move(executor), detail::cooperative<T>(std::move(work)), boost::asio::use_future).get();
}

}  // namespace ambrell::platform
