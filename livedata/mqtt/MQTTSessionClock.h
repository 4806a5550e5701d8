#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "livedata/mqtt/GCDTimer.h"
#include "livedata/mqtt/MQTTPersistence.h"

namespace ambrell {

// Where a session takes the time from: the wall clock for flow deadlines and
// timers for keep-alive, resend checks and time-outs. The system clock is the
// default; tests give a clock they move by hand, so no test waits for real
// seconds to pass.
class MQTTSessionClock {
public:
    using Date = MQTTFlow::Date;
    using Interval = GCDTimer::Interval;

    virtual ~MQTTSessionClock() = default;
    [[nodiscard]] virtual Date now() const = 0;
    // A started timer whose block runs on `queue`, first one interval from
    // now, then every interval when it repeats.
    [[nodiscard]] virtual std::unique_ptr<MQTTTimer> scheduleTimer(Interval interval, bool repeats,
                                                                   const platform::SerialExecutor& queue,
                                                                   std::function<void()> block) = 0;

    // The process-wide system clock with GCDTimer timers.
    static std::shared_ptr<MQTTSessionClock> system();
};

}  // namespace ambrell
