#pragma once

#include <chrono>
#include <thread>

namespace ambrell::test {

// Polls a condition until it holds or the bound passes; tests never sleep for
// a fixed time to let work happen.
template <typename Condition>
bool waitFor(Condition&& condition, std::chrono::milliseconds bound = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace ambrell::test
