#include "livedata/mqtt/MQTTSessionClock.h"

namespace ambrell {

namespace {

class SystemClock final : public MQTTSessionClock {
public:
    [[nodiscard]] Date now() const override { return std::chrono::system_clock::now(); }
    [[nodiscard]] std::unique_ptr<MQTTTimer> scheduleTimer(Interval interval, bool repeats,
                                                           const platform::SerialExecutor& queue,
                                                           std::function<void()> block) override {
        return GCDTimer::scheduledTimerWithTimeInterval(interval, repeats, queue, std::move(block));
    }
};

}  // namespace

std::shared_ptr<MQTTSessionClock> MQTTSessionClock::system() {
    static const auto clock = std::make_shared<SystemClock>();
    return clock;
}

}  // namespace ambrell
