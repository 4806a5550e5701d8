#pragma once

#include <functional>
#include <memory>

#include "livedata/mqtt/MQTTSessionClock.h"

namespace ambrell::platform {
class SerialExecutor;
}  // namespace ambrell::platform

namespace ambrell {

// Runs an action after a delay that doubles with each firing, for retrying a
// connection: with a first delay of 1 s and a maximum of 64 s the waits are
// 1, 2, 4, ... 64, 64 ... seconds. The doubling stops once the delay reaches
// the maximum; it is not clamped to it, so a maximum of 50 s still waits 64 s.
//
// At most one firing is pending: schedule() replaces one that is, so two
// failures in a row start one wait, not two.
//
// Threads: call everything on `queue`, where the action runs. Must be owned
// by a std::shared_ptr: the pending timer holds it weakly and does nothing
// once it is gone.
class ReconnectTimer : public std::enable_shared_from_this<ReconnectTimer> {
public:
    using Action = std::function<void()>;

    ReconnectTimer(double retryInterval, double maxRetryInterval, const platform::SerialExecutor& queue,
                   Action reconnectBlock, std::shared_ptr<MQTTSessionClock> clock = MQTTSessionClock::system());
    ~ReconnectTimer();
    ReconnectTimer(const ReconnectTimer&) = delete;
    ReconnectTimer& operator=(const ReconnectTimer&) = delete;

    // Fires reconnect() after the current delay, instead of any pending
    // firing.
    void schedule();
    // Drops the pending firing, if any; the delay is kept.
    void stop();
    // The next delay is the first one again.
    void resetRetryInterval();
    // What a firing does: stop, double the delay while below the maximum,
    // run the action.
    void reconnect();

    [[nodiscard]] bool isScheduled() const { return timer_ != nullptr; }
    // Seconds.
    [[nodiscard]] double retryInterval() const { return retryInterval_; }
    [[nodiscard]] double currentRetryInterval() const { return currentRetryInterval_; }
    [[nodiscard]] double maxRetryInterval() const { return maxRetryInterval_; }

private:
    std::unique_ptr<MQTTTimer> timer_;
    double retryInterval_;
    double currentRetryInterval_;
    double maxRetryInterval_;
    std::unique_ptr<platform::SerialExecutor> queue_;
    Action reconnectBlock_;
    std::shared_ptr<MQTTSessionClock> clock_;
};

}  // namespace ambrell
