#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/runtime/MainQueue.h"

namespace ambrell::test {

// The events a fake delegate or service saw, in order, from any thread.
class EventRecorder {
public:
    void add(std::string event) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }
    // As add(), marking an event that did not arrive on the main queue, where
    // delegates are promised their calls.
    void record(std::string event) {
        if (!platform::MainQueue::shared().isCurrent()) event += " (off the main queue)";
        add(std::move(event));
    }
    [[nodiscard]] std::vector<std::string> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
};

}  // namespace ambrell::test
