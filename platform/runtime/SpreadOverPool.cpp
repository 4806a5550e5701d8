#include "platform/runtime/SpreadOverPool.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <utility>

#include "platform/runtime/ThreadPool.h"

namespace ambrell::platform {

namespace spread_over_pool {
namespace {

// The ranges of one call, shared with the helpers: a helper that starts
// after the caller returned finds every range taken and touches nothing but
// this.
struct Ranges {
    Ranges(std::size_t count, std::size_t grain, const std::function<void(std::size_t, std::size_t)>& work)
        : count(count), grain(grain), ranges((count + grain - 1) / grain), work(&work) {}

    void runSome() {
        for (std::size_t range = next.fetch_add(1, std::memory_order_relaxed); range < ranges;
             range = next.fetch_add(1, std::memory_order_relaxed)) {
            if (!failed.load(std::memory_order_relaxed)) {
                try {
                    (*work)(range * grain, std::min(count, (range + 1) * grain));
                } catch (...) {
                    std::lock_guard lock(failureMutex);
                    if (!failure) failure = std::current_exception();
                    failed.store(true, std::memory_order_relaxed);
                }
            }
            if (finished.fetch_add(1, std::memory_order_acq_rel) + 1 == ranges) finished.notify_all();
        }
    }

    void waitForAll() {
        for (auto done = finished.load(std::memory_order_acquire); done != ranges;
             done = finished.load(std::memory_order_acquire)) {
            finished.wait(done, std::memory_order_acquire);
        }
    }

    const std::size_t count;
    const std::size_t grain;
    const std::size_t ranges;
    // Read only for a range taken before the caller's wait ended.
    const std::function<void(std::size_t, std::size_t)>* const work;
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> finished{0};
    std::atomic<bool> failed{false};
    std::mutex failureMutex;
    std::exception_ptr failure;  // guarded by failureMutex
};

}  // namespace
}  // namespace spread_over_pool

void spreadOverPool(std::size_t count, std::size_t grain,
                    const std::function<void(std::size_t first, std::size_t end)>& work) {
    if (count == 0) return;
    grain = std::max<std::size_t>(grain, 1);
    auto& pool = ThreadPool::shared();
    const auto shared = std::make_shared<spread_over_pool::Ranges>(count, grain, work);
    const std::size_t helpers = std::min<std::size_t>(std::max(pool.threadCount(), 1U) - 1, shared->ranges - 1);
    const auto executor = pool.executor();
    for (std::size_t helper = 0; helper < helpers; ++helper) {
        std::function<void()> help = [shared] { shared->runSome(); };
        if (!pool.tryPost(executor, help)) break;
    }
    shared->runSome();
    shared->waitForAll();
    // Taken out of the shared state, which a late helper may be the one to
    // destroy, while the caller's handler still reads the exception.
    std::exception_ptr failure;
    {
        std::lock_guard lock(shared->failureMutex);
        failure = std::exchange(shared->failure, nullptr);
    }
    if (failure) std::rethrow_exception(failure);
}

}  // namespace ambrell::platform
