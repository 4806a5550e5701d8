#include "platform/runtime/Executor.h"

#include <boost/asio/io_context.hpp>

#include "platform/runtime/MainQueue.h"

namespace ambrell::platform {

SerialExecutor::SerialExecutor(Strand strand) : executor_(std::move(strand)), kind_(Kind::strand) {}

SerialExecutor SerialExecutor::mainQueue() { return {MainQueue::shared().executor(), Kind::mainQueue}; }

std::optional<SerialExecutor> SerialExecutor::from(const Executor& executor) {
    if (const auto* strand = executor.target<Strand>()) return SerialExecutor(*strand);
    if (executor == MainQueue::shared().executor()) return mainQueue();
    return std::nullopt;
}

bool SerialExecutor::runningInThisThread() const {
    if (kind_ == Kind::mainQueue) return MainQueue::shared().isCurrent();
    return executor_.target<Strand>()->running_in_this_thread();
}

}  // namespace ambrell::platform
