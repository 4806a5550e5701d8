#pragma once

#include <cmath>
#include <concepts>
#include <limits>

namespace ambrell {

// A double made an integer of type I: truncated toward zero, clamped to I's
// range, and 0 for NaN, where a plain conversion would be undefined.
template <std::integral I>
[[nodiscard]] inline I saturatingCast(double value) {
    if (std::isnan(value)) return 0;
    constexpr auto low = static_cast<double>(std::numeric_limits<I>::min());
    // The largest value of a 64-bit type rounds up as a double, so the upper
    // bound is tested as "not below 2^bits", which is exact.
    constexpr double highExclusive = static_cast<double>(std::numeric_limits<I>::max() / 2 + 1) * 2.0;
    if (value <= low) return std::numeric_limits<I>::min();
    if (value >= highExclusive) return std::numeric_limits<I>::max();
    return static_cast<I>(value);
}

}  // namespace ambrell
