#include "tests/support/HeldPool.h"

#include <functional>

#include "tests/support/WaitFor.h"

namespace ambrell::test {

PoolHeldUntilClosed::PoolHeldUntilClosed(platform::ThreadPool& pool) {
    for (unsigned thread = 0; thread < pool.threadCount(); ++thread) {
        std::function<void()> hold = [this] {
            ++held_;
            while (!release_) std::this_thread::yield();
        };
        if (!pool.tryPost(pool.executor(), hold)) break;
    }
    holdsEveryThread_ = waitFor([&] { return held_ == pool.threadCount(); });
    releaser_ = std::thread([this, &pool] {
        while (!pool.isStopped() && !done_) std::this_thread::yield();
        release_ = true;
    });
}

PoolHeldUntilClosed::~PoolHeldUntilClosed() {
    done_ = true;
    releaser_.join();
}

}  // namespace ambrell::test
