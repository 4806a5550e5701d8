#include "platform/runtime/DispatchQueue.h"

#include <boost/asio/post.hpp>
#include <exception>
#include <future>

#include "platform/Logger.h"
#include "platform/runtime/Guarded.h"
#include "platform/runtime/RuntimeErrors.h"
#include "platform/runtime/ThreadPool.h"

namespace ambrell::platform {

struct DispatchQueue::Impl {
    std::string label;
    Strand strand;
};

DispatchQueue::DispatchQueue(std::string label)
    : impl_(std::make_unique<Impl>(Impl{std::move(label), ThreadPool::shared().makeStrand()})) {}

// Blocks still queued keep running after the queue object is gone: they hold
// the strand, not the queue.
DispatchQueue::~DispatchQueue() = default;

const std::string& DispatchQueue::label() const { return impl_->label; }

bool DispatchQueue::isCurrent() const { return impl_->strand.running_in_this_thread(); }

void DispatchQueue::async(std::function<void()> block) const {
    if (ThreadPool::shared().isStopped()) {
        Logger("runtime").error("The runtime has shut down; a block for queue {} was refused", impl_->label);
        return;
    }
    boost::asio::post(impl_->strand, [block = std::move(block), label = impl_->label] {
        runGuarded("A block on queue " + label, block);
    });
}

void DispatchQueue::runSync(const std::function<void()>& block) const {
    if (isCurrent()) {
        block();
        return;
    }
    if (ThreadPool::current() != nullptr) {
        throw BlockingCallError("DispatchQueue::sync on a pool thread would starve the pool (queue " + impl_->label +
                                ")");
    }
    if (ThreadPool::shared().isStopped()) throw RuntimeStoppedError();
    std::promise<void> done;
    auto finished = done.get_future();
    boost::asio::post(impl_->strand, [&block, &done] {
        try {
            block();
            done.set_value();
        } catch (...) {
            done.set_exception(std::current_exception());
        }
    });
    finished.get();
}

}  // namespace ambrell::platform
