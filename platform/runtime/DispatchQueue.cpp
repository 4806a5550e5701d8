#include "platform/runtime/DispatchQueue.h"

#include <exception>
#include <future>

#include "platform/Logger.h"
#include "platform/runtime/Guarded.h"
#include "platform/runtime/Runtime.h"
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
    std::function<void()> guarded = [block = std::move(block), label = impl_->label] {
        runGuarded("A block on queue " + label, block);
    };
    if (!ThreadPool::shared().tryPost(impl_->strand, guarded)) {
        Logger("runtime").error("The runtime has shut down; a block for queue {} was refused", impl_->label);
    }
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
    // As blockingWait does: a wait that begins during the shutdown could
    // outlast the pool it waits for.
    if (Runtime::shared().isShuttingDown()) throw RuntimeStoppedError();
    std::promise<void> done;
    auto finished = done.get_future();
    std::function<void()> run = [&block, &done] {
        try {
            block();
            done.set_value();
        } catch (...) {
            done.set_exception(std::current_exception());
        }
    };
    if (!ThreadPool::shared().tryPost(impl_->strand, run)) throw RuntimeStoppedError();
    finished.get();
}

}  // namespace ambrell::platform
