#pragma once

namespace ambrell {

// Distances in points in from the four edges of a view: a camera fit's
// padding, a view's safe area.
struct UIEdgeInsets {
    double top = 0;
    double left = 0;
    double bottom = 0;
    double right = 0;

    // Side by side: top with top, left with left, and so on.
    friend constexpr UIEdgeInsets operator+(const UIEdgeInsets& lhs, const UIEdgeInsets& rhs) {
        return {lhs.top + rhs.top, lhs.left + rhs.left, lhs.bottom + rhs.bottom, lhs.right + rhs.right};
    }

    friend bool operator==(const UIEdgeInsets&, const UIEdgeInsets&) = default;
};

}  // namespace ambrell
