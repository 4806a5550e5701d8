#pragma once

#include "platform/Color.h"

namespace ambrell::platform {

// The platform's named colours that the controls fall back to.
struct SystemColors {
    static constexpr Color black() { return Color{0, 0, 0, 1}; }
    static constexpr Color white() { return Color{1, 1, 1, 1}; }
    static constexpr Color gray() { return Color{0.5, 0.5, 0.5, 1}; }
    static constexpr Color lightGray() { return Color{2.0 / 3.0, 2.0 / 3.0, 2.0 / 3.0, 1}; }
    static constexpr Color clear() { return Color{0, 0, 0, 0}; }
};

}  // namespace ambrell::platform
