#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "platform/runtime/OperationQueue.h"

namespace ambrell {

// Completion actions and dependencies for any operation.

// Runs `block` after the operation's existing completion block, or alone when
// it has none. Both run on the thread the operation's completion runs on.
void cvAddCompletionBlock(platform::Operation& op, std::function<void()> block);
// Chains an action that queues `block` on the main queue.
void cvAddMainQueueCompletionBlock(platform::Operation& op, std::function<void()> block);
void cvAddDependencies(platform::Operation& op, const std::vector<std::shared_ptr<platform::Operation>>& deps);

}  // namespace ambrell
