#include "livedata/mqtt/GCDTimer.h"

#include <atomic>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/steady_timer.hpp>

#include "platform/runtime/Executor.h"

namespace ambrell {

struct GCDTimer::State : std::enable_shared_from_this<State> {
    State(const platform::Executor& queue, Interval interval, bool repeats, std::function<void()> block)
        : timer(queue),
          interval(std::chrono::duration_cast<std::chrono::steady_clock::duration>(interval)),
          repeats(repeats),
          block(std::move(block)) {}

    void arm() {
        timer.expires_after(interval);
        timer.async_wait([self = shared_from_this()](const boost::system::error_code& error) {
            if (error || self->invalidated.load()) return;
            if (self->repeats) self->arm();
            else self->invalidated.store(true);
            self->block();
        });
    }

    boost::asio::steady_timer timer;
    std::chrono::steady_clock::duration interval;
    bool repeats;
    std::function<void()> block;
    std::atomic<bool> invalidated{false};
};

GCDTimer::GCDTimer(Interval interval, bool repeats, const platform::SerialExecutor& queue, std::function<void()> block)
    : state_(std::make_shared<State>(queue.executor(), interval, repeats, std::move(block))) {
    // The wait is armed on the queue, so the timer is only ever touched there.
    boost::asio::dispatch(queue.executor(), [state = state_] {
        if (!state->invalidated.load()) state->arm();
    });
}

GCDTimer::~GCDTimer() { invalidate(); }

std::unique_ptr<GCDTimer> GCDTimer::scheduledTimerWithTimeInterval(Interval interval, bool repeats,
                                                                   const platform::SerialExecutor& queue,
                                                                   std::function<void()> block) {
    return std::make_unique<GCDTimer>(interval, repeats, queue, std::move(block));
}

void GCDTimer::invalidate() {
    if (!state_ || state_->invalidated.exchange(true)) return;
    // Cancelling on the queue ends the pending wait promptly and releases the
    // block; the flag alone already keeps it from running.
    boost::asio::dispatch(state_->timer.get_executor(), [state = state_] { state->timer.cancel(); });
}

}  // namespace ambrell
