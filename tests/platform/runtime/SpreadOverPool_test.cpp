#include "platform/runtime/SpreadOverPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <boost/asio/post.hpp>
#include <future>
#include <stdexcept>
#include <vector>

#include "platform/runtime/ThreadPool.h"
#include "tests/support/WaitFor.h"

namespace ambrell::platform {
namespace {

// Whether every index of [0, count) was handed out exactly once, in ranges
// of at most `grain` indices.
bool coversEachIndexOnce(std::size_t count, std::size_t grain) {
    std::vector<std::atomic<int>> calls(count);
    std::atomic<bool> badRange{false};
    spreadOverPool(count, grain, [&](std::size_t first, std::size_t end) {
        if (first >= end || end - first > grain || end > count) badRange = true;
        for (std::size_t index = first; index < end && index < count; ++index) calls[index].fetch_add(1);
    });
    for (const auto& call : calls) {
        if (call.load() != 1) return false;
    }
    return !badRange;
}

TEST(SpreadOverPool, CoversEveryIndexOnceOffAndOnThePool) {
    EXPECT_TRUE(coversEachIndexOnce(0, 8));
    EXPECT_TRUE(coversEachIndexOnce(1, 8));
    EXPECT_TRUE(coversEachIndexOnce(1000, 7));
    // On a pool thread too: the caller takes what no helper has begun, so
    // even a pool with every other thread busy gets through.
    std::promise<bool> onPool;
    auto answer = onPool.get_future();
    boost::asio::post(ThreadPool::shared().executor(), [&onPool] { onPool.set_value(coversEachIndexOnce(1000, 3)); });
    ASSERT_EQ(answer.wait_for(test::kWaitBound), std::future_status::ready);
    EXPECT_TRUE(answer.get());
}

TEST(SpreadOverPool, RethrowsTheFirstFailureOnceEveryCallHasEnded) {
    std::atomic<int> running{0};
    std::atomic<bool> endedAfterReturn{false};
    std::atomic<bool> returned{false};
    const auto work = [&](std::size_t first, std::size_t /*end*/) {
        ++running;
        if (returned) endedAfterReturn = true;
        if (first == 5) {
            --running;
            throw std::runtime_error("range 5 failed");
        }
        --running;
    };
    try {
        spreadOverPool(64, 1, work);
        ADD_FAILURE() << "the failure was not rethrown";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "range 5 failed");
    }
    returned = true;
    EXPECT_EQ(running.load(), 0);
    EXPECT_FALSE(endedAfterReturn.load());
}

}  // namespace
}  // namespace ambrell::platform
