#include "livedata/mqtt/GCDTimer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <boost/asio/post.hpp>
#include <future>

#include "platform/runtime/ThreadPool.h"
#include "tests/support/WaitFor.h"

namespace ambrell::test {
namespace {

using std::chrono_literals::operator""ms;

// Returns once everything queued on the strand before the call has run.
void drain(const platform::Strand& strand) {
    std::promise<void> done;
    boost::asio::post(strand, [&done] { done.set_value(); });
    done.get_future().wait_for(std::chrono::seconds(10));
}

TEST(GCDTimerTest, RepeatsOnItsQueueUntilInvalidated) {
    const auto strand = platform::ThreadPool::shared().makeStrand();
    std::atomic<int> firings{0};
    std::atomic<bool> offQueue{false};
    auto timer = GCDTimer::scheduledTimerWithTimeInterval(1ms, true, strand, [&] {
        if (!strand.running_in_this_thread()) offQueue = true;
        ++firings;
    });
    ASSERT_TRUE(waitFor([&] { return firings.load() >= 3; }));
    boost::asio::post(strand, [&timer] { timer->invalidate(); });
    drain(strand);
    const int stopped = firings.load();
    drain(strand);
    timer.reset();
    drain(strand);
    EXPECT_EQ(firings.load(), stopped);
    EXPECT_FALSE(offQueue.load());
}

TEST(GCDTimerTest, ASingleShotFiresOnceAndAReleasedTimerNever) {
    const auto strand = platform::ThreadPool::shared().makeStrand();
    std::atomic<int> once{0};
    std::atomic<int> released{0};
    auto single = GCDTimer::scheduledTimerWithTimeInterval(1ms, false, strand, [&] { ++once; });
    GCDTimer::scheduledTimerWithTimeInterval(20ms, true, strand, [&] { ++released; }).reset();
    ASSERT_TRUE(waitFor([&] { return once.load() == 1; }));
    // By the time a later timer fires, a repeat of the single shot and the
    // released timer would both have come.
    std::atomic<bool> later{false};
    auto after = GCDTimer::scheduledTimerWithTimeInterval(60ms, false, strand, [&] { later = true; });
    ASSERT_TRUE(waitFor([&] { return later.load(); }));
    EXPECT_EQ(once.load(), 1);
    EXPECT_EQ(released.load(), 0);
}

}  // namespace
}  // namespace ambrell::test
