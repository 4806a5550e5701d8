#include "platform/runtime/MainQueue.h"

#include <atomic>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <cstddef>
#include <future>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/Logger.h"
#include "platform/runtime/Guarded.h"

namespace ambrell::platform {

namespace {

constexpr std::string_view kMainQueueBlock = "A block on the main queue";

// Runs `step` on the loop until it returns normally: a block that throws is
// logged, never allowed to end the host's main loop. Answers how many threw.
template <typename Step>
std::size_t runLoggedOnMainLoop(Step&& step) {
    for (std::size_t threw = 0;; ++threw) {
        try {
            step();
            return threw;
        } catch (...) {
            logEscapedException(kMainQueueBlock);
        }
    }
}

}  // namespace

struct MainQueue::Impl {
    boost::asio::io_context context{1};
    // Keeps run() going while the queue is idle, as a host's main loop does.
    std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> guard{
        context.get_executor()};
    std::atomic<int> runners{0};

    std::mutex mutex;
    bool closed = false;  // guarded by mutex
    // Blocks queued through tryAsync() that have not run yet: closing runs
    // until none is left, however often the host stops the loop meanwhile.
    std::atomic<std::size_t> pending{0};

    bool isClosed() {
        std::lock_guard lock(mutex);
        return closed;
    }
    // Runs the ready blocks; whether any ran.
    bool poll() {
        if (context.stopped()) context.restart();
        std::size_t ran = 0;
        const auto threw = runLoggedOnMainLoop([&] { ran += context.poll(); });
        return ran + threw > 0;
    }
};

MainQueue::MainQueue() : impl_(std::make_unique<Impl>()) {}

MainQueue& MainQueue::shared() {
    // Never destroyed, for the same reason as the thread pool.
    static MainQueue* const queue = new MainQueue();
    return *queue;
}

Executor MainQueue::executor() const { return impl_->context.get_executor(); }

void MainQueue::run() {
    ++impl_->runners;
    if (!impl_->isClosed()) {
        impl_->context.restart();
        runLoggedOnMainLoop([this] { impl_->context.run(); });
    }
    --impl_->runners;
}

void MainQueue::stop() { impl_->context.stop(); }

bool MainQueue::isCurrent() const { return impl_->context.get_executor().running_in_this_thread(); }

void MainQueue::async(std::function<void()> work) {
    if (!tryAsync(work)) Logger("runtime").error("The main queue has closed; a block was refused");
}

void MainQueue::deliver(std::function<void()> completion) {
    if (!tryAsync(completion)) runGuarded(kMainQueueBlock, completion);
}

bool MainQueue::tryAsync(std::function<void()>& work) {
    std::lock_guard lock(impl_->mutex);
    if (impl_->closed) return false;
    ++impl_->pending;
    boost::asio::post(impl_->context, [this, work = std::move(work)] {
        runGuarded(kMainQueueBlock, work);
        --impl_->pending;
    });
    return true;
}

void MainQueue::drain() {
    if (isCurrent()) {
        impl_->poll();
        return;
    }
    std::promise<void> done;
    auto finished = done.get_future();
    std::function<void()> marker = [&done] { done.set_value(); };
    if (!tryAsync(marker)) return;
    finished.wait();
}

bool MainQueue::canRunHere() const { return isCurrent() || impl_->runners == 0; }

void MainQueue::runReady() {
    if (canRunHere()) (void)impl_->poll();
}

bool MainQueue::runLeftovers() { return canRunHere() && impl_->poll(); }

void MainQueue::close(std::chrono::steady_clock::time_point deadline) {
    {
        std::lock_guard lock(impl_->mutex);
        if (impl_->closed) return;
        impl_->closed = true;
    }
    if (!canRunHere()) {
        // The host's loop runs everything queued before this marker, unless
        // it stops first: run() will not start it again, so from then on the
        // queued blocks are run here.
        auto reached = std::make_shared<std::atomic<bool>>(false);
        boost::asio::post(impl_->context, [reached] { *reached = true; });
        bool stopped = false;
        while (!*reached && !canRunHere()) {
            if (!stopped && std::chrono::steady_clock::now() >= deadline) {
                Logger("runtime").error(
                    "The main queue had not caught up by the shutdown's deadline; its loop stops "
                    "after the block it runs");
                impl_->context.stop();
                stopped = true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    if (canRunHere()) {
        while (impl_->pending > 0) (void)impl_->poll();
    }
    impl_->guard.reset();
    impl_->context.stop();
}

struct MainQueueThread::Impl {
    std::thread thread;
};

MainQueueThread::MainQueueThread() : impl_(std::make_unique<Impl>()) {
    std::promise<void> started;
    auto running = started.get_future();
    impl_->thread = std::thread([&started] {
        auto& queue = MainQueue::shared();
        std::function<void()> announce = [&started] { started.set_value(); };
        if (!queue.tryAsync(announce)) announce();
        queue.run();
    });
    running.wait();
}

MainQueueThread::~MainQueueThread() {
    MainQueue::shared().drain();
    MainQueue::shared().stop();
    impl_->thread.join();
}

}  // namespace ambrell::platform
