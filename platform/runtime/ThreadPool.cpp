#include "platform/runtime/ThreadPool.h"

#include <algorithm>
#include <atomic>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <thread>
#include <vector>

#include "platform/runtime/Guarded.h"

namespace ambrell::platform {

namespace {

thread_local const ThreadPool* currentPool = nullptr;

// No pool thread ever waits for other pool work, so the pool need not be wider
// than the machine; four threads at least keep a few long steps from holding
// up everything else on a small one.
unsigned coroutinePoolSize() { return std::max(4u, std::thread::hardware_concurrency()); }

// File work waits on the disk, not the processor.
constexpr unsigned kBlockingIOThreads = 4;

}  // namespace

struct ThreadPool::Impl {
    boost::asio::io_context context;
    std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> guard{
        context.get_executor()};
    std::vector<std::thread> threads;

    std::mutex mutex;
    std::condition_variable threadEnded;
    unsigned running = 0;  // guarded by mutex
    bool joined = false;   // guarded by mutex

    // Held shared by each tryPost() across its check and its post, so that
    // the pool closes between two posts, never inside one.
    mutable std::shared_mutex gate;
    bool closed = false;  // guarded by gate
};

ThreadPool::ThreadPool(std::string name, unsigned threads)
    : impl_(new Impl()), name_(std::move(name)), threadCount_(threads) {
    impl_->running = threads;
    for (unsigned i = 0; i < threads; ++i) {
        impl_->threads.emplace_back([this] {
            currentPool = this;
            // A block that throws must not take the thread, and with it the
            // pool, down: it is logged and the loop goes on.
            for (;;) {
                try {
                    impl_->context.run();
                    break;
                } catch (...) {
                    logEscapedException("A block on " + name_);
                }
            }
            std::lock_guard lock(impl_->mutex);
            --impl_->running;
            impl_->threadEnded.notify_all();
        });
    }
}

ThreadPool& ThreadPool::shared() {
    // Never destroyed: objects destroyed at exit may still hold strands of the
    // pool; the runtime's shutdown stops its threads instead.
    static ThreadPool* const pool = new ThreadPool("the thread pool", coroutinePoolSize());
    return *pool;
}

ThreadPool& ThreadPool::blockingIO() {
    static ThreadPool* const pool = new ThreadPool("the blocking I/O pool", kBlockingIOThreads);
    return *pool;
}

Executor ThreadPool::executor() const { return impl_->context.get_executor(); }

Strand ThreadPool::makeStrand() const { return boost::asio::make_strand(executor()); }

bool ThreadPool::isCurrent() const { return currentPool == this; }

const ThreadPool* ThreadPool::current() { return currentPool; }

bool ThreadPool::tryPost(const Executor& target, std::function<void()>& work) {
    std::shared_lock gate(impl_->gate);
    if (impl_->closed) return false;
    boost::asio::post(target, std::move(work));
    return true;
}

void ThreadPool::stopAndJoin(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(impl_->mutex);
    if (impl_->joined) return;
    impl_->joined = true;
    impl_->guard.reset();
    // The threads leave once the context has run out of work; that is not yet
    // the end of posting, so the pool closes only afterwards.
    const bool ranOut = impl_->threadEnded.wait_until(lock, deadline, [this] { return impl_->running == 0; });
    lock.unlock();
    {
        std::unique_lock gate(impl_->gate);
        impl_->closed = true;
    }
    if (!ranOut) impl_->context.stop();
    for (auto& thread : impl_->threads) thread.join();
    // Past the deadline the threads left work behind. Dropping it would leave
    // completions uncalled for good, and destroying it would not call them
    // either: an unrun coroutine step takes its task's completion with it.
    // The runtime cancelled every task before it stopped the pools, so what
    // is left ends at its next cancellation point; run alone on this thread,
    // serial queues keep their order.
    runLeftovers();
}

bool ThreadPool::runLeftovers() {
    bool ranAny = false;
    currentPool = this;
    for (;;) {
        try {
            impl_->context.restart();
            if (impl_->context.poll() == 0) break;
            ranAny = true;
        } catch (...) {
            logEscapedException("A block on " + name_);
            ranAny = true;
        }
    }
    currentPool = nullptr;
    return ranAny;
}

bool ThreadPool::isStopped() const {
    std::shared_lock gate(impl_->gate);
    return impl_->closed;
}

}  // namespace ambrell::platform
