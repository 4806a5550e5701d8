#include "livedata/mqtt/ReconnectTimer.h"

#include "platform/runtime/Executor.h"

namespace ambrell {

ReconnectTimer::ReconnectTimer(double retryInterval, double maxRetryInterval, const platform::SerialExecutor& queue,
                               Action reconnectBlock, std::shared_ptr<MQTTSessionClock> clock)
    : retryInterval_(retryInterval),
      currentRetryInterval_(retryInterval),
      maxRetryInterval_(maxRetryInterval),
      queue_(std::make_unique<platform::SerialExecutor>(queue)),
      reconnectBlock_(std::move(reconnectBlock)),
      clock_(std::move(clock)) {}

ReconnectTimer::~ReconnectTimer() { stop(); }

void ReconnectTimer::schedule() {
    // A second failure before the first wait ended would otherwise start a
    // second attempt beside the first.
    stop();
    timer_ =
        clock_->scheduleTimer(GCDTimer::Interval(currentRetryInterval_), false, *queue_, [weak = weak_from_this()] {
            if (auto self = weak.lock()) self->reconnect();
        });
}

void ReconnectTimer::stop() {
    if (timer_) timer_->invalidate();
    timer_.reset();
}

void ReconnectTimer::resetRetryInterval() { currentRetryInterval_ = retryInterval_; }

void ReconnectTimer::reconnect() {
    stop();
    if (currentRetryInterval_ < maxRetryInterval_) currentRetryInterval_ *= 2;
    // The action may schedule again, or drop the last owner of this timer.
    auto action = reconnectBlock_;
    if (action) action();
}

}  // namespace ambrell
