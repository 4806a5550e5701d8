#pragma once

#include <chrono>

#include "platform/runtime/Executor.h"

namespace ambrell::platform {

// Suspends the calling task for the duration.
//   Completes: on the caller's executor. Errors: CancellationError only.
//   Cancelling: before or during the sleep ends it with CancellationError.
Awaitable<void> sleep(std::chrono::nanoseconds duration);

}  // namespace ambrell::platform
