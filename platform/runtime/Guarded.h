#pragma once

#include <functional>
#include <string_view>

namespace ambrell::platform {

// Logs the exception in flight as thrown by `what` ("A block on the main
// queue"). Call it from a catch block only.
void logEscapedException(std::string_view what) noexcept;

// Runs `block`; what it throws is logged, never let out to take a queue, a
// loop or a thread down.
void runGuarded(std::string_view what, const std::function<void()>& block) noexcept;

}  // namespace ambrell::platform
