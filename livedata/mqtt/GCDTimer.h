#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace ambrell::platform {
class SerialExecutor;
}  // namespace ambrell::platform

namespace ambrell {

// A timer the session owns: stopping it guarantees its block is not called
// afterwards (unless the block is already running on another thread).
class MQTTTimer {
public:
    virtual ~MQTTTimer() = default;
    // Stops the timer; safe from any thread, more than once.
    virtual void invalidate() = 0;
};

// The library's timer: a steady_timer on a serial executor (the session's
// strand). It first fires one interval after it was made, then every
// interval when it repeats; the block runs on `queue`. A one-shot timer stops
// itself when it fires. The pending wait holds the timer's state, so a
// repeating timer keeps firing until invalidate() or the timer's release.
class GCDTimer final : public MQTTTimer {
public:
    using Interval = std::chrono::duration<double>;

    GCDTimer(Interval interval, bool repeats, const platform::SerialExecutor& queue, std::function<void()> block);
    ~GCDTimer() override;
    GCDTimer(const GCDTimer&) = delete;
    GCDTimer& operator=(const GCDTimer&) = delete;

    // A started timer.
    static std::unique_ptr<GCDTimer> scheduledTimerWithTimeInterval(Interval interval, bool repeats,
                                                                    const platform::SerialExecutor& queue,
                                                                    std::function<void()> block);

    void invalidate() override;

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace ambrell
