#pragma once

#include "platform/CGRect.h"

namespace ambrell {

// Distances in points in from the four edges of a view: a camera fit's
// padding, a view's safe area.
using UIEdgeInsets = platform::EdgeInsets;

// Side by side: top with top, left with left, and so on.
[[nodiscard]] constexpr UIEdgeInsets addingInsets(const UIEdgeInsets& lhs, const UIEdgeInsets& rhs) {
    return {lhs.top + rhs.top, lhs.left + rhs.left, lhs.bottom + rhs.bottom, lhs.right + rhs.right};
}

}  // namespace ambrell
