#include "platform/runtime/ThreadPool.h"

#include <algorithm>
#include <boost/asio/thread_pool.hpp>
#include <thread>

namespace ambrell::platform {

struct ThreadPool::Impl {
    explicit Impl(unsigned threads) : pool(threads) {}
    boost::asio::thread_pool pool;
};

namespace {
// Serial queues may block a pool thread in sync(); a pool wider than the core
// count keeps such waits from starving the work they wait for.
unsigned poolSize() {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    return std::max(8u, cores * 2);
}
}  // namespace

ThreadPool::ThreadPool() : threadCount_(poolSize()) { impl_ = new Impl(threadCount_); }

ThreadPool& ThreadPool::shared() {
    // Never destroyed: work posted by other process-wide objects during exit
    // must not find the pool gone.
    static ThreadPool* const pool = new ThreadPool();
    return *pool;
}

Executor ThreadPool::executor() const { return impl_->pool.get_executor(); }

Strand ThreadPool::makeStrand() const { return boost::asio::make_strand(executor()); }

}  // namespace ambrell::platform
