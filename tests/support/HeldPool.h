#pragma once

#include <atomic>
#include <thread>

#include "platform/runtime/ThreadPool.h"

namespace ambrell::test {

// Every thread of a pool held by a block of its own until the pool closes, as
// the runtime's shutdown closes it: work queued meanwhile is still waiting in
// the queue when a shutdown without time to spare passes its deadline.
class PoolHeldUntilClosed {
public:
    explicit PoolHeldUntilClosed(platform::ThreadPool& pool);
    // Lets the threads go, should the pool not have closed.
    ~PoolHeldUntilClosed();
    PoolHeldUntilClosed(const PoolHeldUntilClosed&) = delete;
    PoolHeldUntilClosed& operator=(const PoolHeldUntilClosed&) = delete;

    // Whether every thread of the pool is held.
    [[nodiscard]] bool holdsEveryThread() const { return holdsEveryThread_; }

private:
    std::atomic<unsigned> held_{0};
    std::atomic<bool> release_{false};
    std::atomic<bool> done_{false};
    bool holdsEveryThread_ = false;
    std::thread releaser_;
};

}  // namespace ambrell::test
