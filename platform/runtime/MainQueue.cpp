#include "platform/runtime/MainQueue.h"

#include <atomic>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <condition_variable>
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
    // Not made with the hint that one thread runs it, although one does: with
    // that hint a block queued from inside a running block goes to that
    // thread's own list, its count of outstanding work with it, and a block
    // that runs the queue within itself (a drain, a shutdown) takes those
    // blocks but not their count. The count then reaches zero while blocks
    // are still queued, which stops the loop; no later run of the queue runs
    // them.
    boost::asio::io_context context;
    // Keeps run() going while the queue is idle, as a host's main loop does.
    std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> guard{
        context.get_executor()};

    std::mutex mutex;
    // Signalled when a thread lets go of the queue, when the queue closes and
    // when the host's loop reaches the closing marker.
    std::condition_variable changed;
    bool closed = false;  // guarded by mutex
    // The one thread that runs the queue's blocks: the host's loop, or a
    // thread that runs the ready ones itself (the shutdown's). A thread
    // merely inside run() does not count: once its loop has ended it runs
    // nothing more, and what is left must not wait for it to return.
    std::thread::id runner;     // guarded by mutex; none when free
    bool hostLoopRuns = false;  // guarded by mutex: `runner` runs run()'s loop
    bool caughtUp = false;      // guarded by mutex: the host's loop ran the closing marker
    // Blocks queued through tryAsync() that have not started yet: closing
    // runs until none is left, whatever stops the queue meanwhile.
    std::atomic<std::size_t> pending{0};
    std::function<void()> loopEndedHookForTesting;  // guarded by mutex

    // Both with `mutex` held.
    [[nodiscard]] bool runsHere() const { return runner == std::this_thread::get_id(); }
    [[nodiscard]] bool isFree() const { return runner == std::thread::id(); }

    bool isClosed() {
        std::lock_guard lock(mutex);
        return closed;
    }

    // Runs the ready blocks on this thread, or nothing while another thread
    // runs the queue; `waitForTurn` waits for that thread to let go instead.
    // Whether any ran. A block that drains the queue on the loop's own thread
    // runs the ready ones inside the loop.
    bool runReadyHere(bool waitForTurn) {
        std::unique_lock lock(mutex);
        const bool nested = runsHere();
        if (!nested) {
            if (waitForTurn) changed.wait(lock, [this] { return isFree(); });
            if (!isFree()) return false;
            runner = std::this_thread::get_id();
        }
        if (context.stopped()) context.restart();
        lock.unlock();
        std::size_t ran = 0;
        const auto threw = runLoggedOnMainLoop([&] { ran += context.poll(); });
        lock.lock();
        // A closed queue stays stopped between these runs: a host's loop that
        // this one ran inside of (a block that shut the runtime down) ends
        // after that block, instead of waiting on for work that never comes.
        if (closed) context.stop();
        if (!nested) {
            runner = std::thread::id();
            changed.notify_all();
        }
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
    auto& impl = *impl_;
    std::unique_lock lock(impl.mutex);
    const bool nested = impl.runsHere();
    // A thread running the ready blocks itself (the shutdown's, while it
    // waits for tasks) finishes them first: two threads must never run the
    // queue at once.
    if (!nested) impl.changed.wait(lock, [&impl] { return impl.closed || impl.isFree(); });
    // Once closed, the shutdown runs what is left.
    if (impl.closed) return;
    if (!nested) {
        impl.runner = std::this_thread::get_id();
        impl.hostLoopRuns = true;
    }
    // Under the lock, so that a stop from closing is never undone.
    impl.context.restart();
    lock.unlock();
    runLoggedOnMainLoop([&impl] { impl.context.run(); });
    if (nested) return;
    lock.lock();
    impl.runner = std::thread::id();
    impl.hostLoopRuns = false;
    impl.changed.notify_all();
    const auto hook = impl.loopEndedHookForTesting;
    lock.unlock();
    if (hook) hook();
}

void MainQueue::stop() {
    std::lock_guard lock(impl_->mutex);
    // Once closed, only a loop still running has anything to stop; a stop
    // now would cut short the shutdown's runs of what is left.
    if (impl_->closed && !impl_->hostLoopRuns) return;
    impl_->context.stop();
}

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
        // Counted off before it runs: a block that shuts the runtime down
        // must not wait for itself.
        --impl_->pending;
        runGuarded(kMainQueueBlock, work);
    });
    return true;
}

void MainQueue::drain() {
    if (isCurrent()) {
        (void)impl_->runReadyHere(false);
        return;
    }
    std::promise<void> done;
    auto finished = done.get_future();
    std::function<void()> marker = [&done] { done.set_value(); };
    if (!tryAsync(marker)) return;
    finished.wait();
}

void MainQueue::runReady() { (void)impl_->runReadyHere(false); }

bool MainQueue::runLeftovers() {
    // Once closed no loop starts again, so the turn comes as soon as the
    // block another thread runs has ended.
    return impl_->runReadyHere(impl_->isClosed());
}

void MainQueue::close(std::chrono::steady_clock::time_point deadline) {
    auto& impl = *impl_;
    std::unique_lock lock(impl.mutex);
    if (impl.closed) return;
    impl.closed = true;
    // A run() waiting for its turn returns: the loop will not start again.
    impl.changed.notify_all();
    if (impl.hostLoopRuns && !impl.runsHere()) {
        // The host's loop runs everything queued before this marker, on the
        // main thread as those blocks expect, unless it stops first.
        boost::asio::post(impl.context, [&impl] {
            std::lock_guard reached(impl.mutex);
            impl.caughtUp = true;
            impl.changed.notify_all();
        });
        if (!impl.changed.wait_until(lock, deadline, [&impl] { return impl.caughtUp || !impl.hostLoopRuns; })) {
            Logger("runtime").error(
                "The main queue had not caught up by the shutdown's deadline; its loop stops after the block it "
                "runs");
        }
    }
    impl.guard.reset();
    impl.context.stop();
    // What is still queued runs here, but only once the host's loop has
    // ended: deciding while it finishes its block would leave behind what
    // that block queues. The host's thread may stay inside run() for a while
    // yet; it runs nothing more.
    impl.changed.wait(lock, [&impl] { return impl.isFree() || impl.runsHere(); });
    lock.unlock();
    while (impl.runReadyHere(true) || impl.pending > 0) {
    }
}

void MainQueue::setLoopEndedHookForTesting(std::function<void()> hook) {
    std::lock_guard lock(impl_->mutex);
    impl_->loopEndedHookForTesting = std::move(hook);
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
