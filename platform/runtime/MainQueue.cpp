#include "platform/runtime/MainQueue.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <future>
#include <thread>

namespace ambrell::platform {

struct MainQueue::Impl {
    boost::asio::io_context context{1};
    // Keeps run() going while the queue is idle, as a host's main loop does.
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> guard{context.get_executor()};
};

MainQueue::MainQueue() : impl_(std::make_unique<Impl>()) {}

MainQueue& MainQueue::shared() {
    // Never destroyed, for the same reason as the thread pool.
    static MainQueue* const queue = new MainQueue();
    return *queue;
}

Executor MainQueue::executor() const { return impl_->context.get_executor(); }

void MainQueue::run() {
    impl_->context.restart();
    impl_->context.run();
}

void MainQueue::stop() { impl_->context.stop(); }

bool MainQueue::isCurrent() const { return impl_->context.get_executor().running_in_this_thread(); }

void MainQueue::async(std::function<void()> work) { boost::asio::post(impl_->context, std::move(work)); }

void MainQueue::drain() {
    if (isCurrent()) {
        impl_->context.poll();
        return;
    }
    std::promise<void> done;
    auto finished = done.get_future();
    async([&done] { done.set_value(); });
    finished.wait();
}

struct MainQueueThread::Impl {
    std::thread thread;
};

MainQueueThread::MainQueueThread() : impl_(std::make_unique<Impl>()) {
    std::promise<void> started;
    auto running = started.get_future();
    impl_->thread = std::thread([&started] {
        auto& queue = MainQueue::shared();
        queue.async([&started] { started.set_value(); });
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
