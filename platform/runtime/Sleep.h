#pragma once

#include <chrono>

#include "platform/runtime/Executor.h"

namespace ambrell::platform {

// Suspends the calling task for the duration. Throws CancellationError when
// the task is cancelled before or during the sleep.
Awaitable<void> sleep(std::chrono::nanoseconds duration);

}  // namespace ambrell::platform
