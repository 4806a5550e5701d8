#include "platform/Screen.h"

#include <atomic>
#include <cmath>

namespace ambrell::platform {

namespace screen {
namespace {

// Read on every drawing thread, written rarely: relaxed is enough, since the
// scale is a single value that nothing else is ordered against.
std::atomic<double> mainScreenScale{1.0};

}  // namespace
}  // namespace screen

double Screen::scale() noexcept { return screen::mainScreenScale.load(std::memory_order_relaxed); }

void Screen::setScale(double scale) noexcept {
    if (!std::isfinite(scale) || scale <= 0) return;
    screen::mainScreenScale.store(scale, std::memory_order_relaxed);
}

}  // namespace ambrell::platform
