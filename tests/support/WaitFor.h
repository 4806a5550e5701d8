#pragma once

#include <chrono>
#include <thread>

namespace ambrell::test {

// How long a test waits for work it expects to happen. Generous, since a busy
// two-core machine under the sanitizers may be slow; a wait that succeeds
// returns as soon as its condition holds.
inline constexpr std::chrono::milliseconds kWaitBound = std::chrono::seconds(30);

// Polls a condition until it holds or the bound passes; tests never sleep for
// a fixed time to let work happen.
template <typename Condition>
bool waitFor(Condition&& condition, std::chrono::milliseconds bound = kWaitBound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace ambrell::test
