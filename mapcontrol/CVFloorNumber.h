#pragma once

#include <cmath>
#include <cstdint>
#include <optional>

namespace ambrell {

// A floor index from content (zIndex, default or current floor) as the whole
// number the map works with: cut towards zero, and none when the number is
// not finite or does not fit, so hostile content cannot reach an undefined
// conversion.
[[nodiscard]] inline std::optional<std::int64_t> floorNumber(std::optional<double> value) {
    // 2^63 is exact as a double; every finite double below it converts.
    constexpr double kLimit = 9223372036854775808.0;
    if (!value || !std::isfinite(*value)) return std::nullopt;
    const double whole = std::trunc(*value);
    if (whole >= kLimit || whole < -kLimit) return std::nullopt;
    return static_cast<std::int64_t>(whole);
}

}  // namespace ambrell
