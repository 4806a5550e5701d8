#include "data/DataSetManager/NSOperationCorvay.h"

#include <utility>

#include "platform/runtime/MainQueue.h"

namespace ambrell {

void cvAddCompletionBlock(platform::Operation& op, std::function<void()> block) {
    op.appendCompletionBlock(std::move(block));
}

void cvAddMainQueueCompletionBlock(platform::Operation& op, std::function<void()> block) {
    if (!block) return;
    // Delivered even once the main queue has closed, so the action still runs once.
    cvAddCompletionBlock(
        op, [block = std::move(block)]() mutable { platform::MainQueue::shared().deliver(std::move(block)); });
}

void cvAddDependencies(platform::Operation& op, const std::vector<std::shared_ptr<platform::Operation>>& deps) {
    for (const auto& dependency : deps) {
        if (dependency) op.addDependency(dependency);
    }
}

}  // namespace ambrell
