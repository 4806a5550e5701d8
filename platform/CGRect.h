#pragma once

#include "platform/CGPoint.h"
#include "platform/CGSize.h"

namespace ambrell::platform {

// A rectangle in points, origin at its top-left corner (y grows downward, as
// in the platform's view coordinates).
struct CGRect {
    CGPoint origin;
    CGSize size;

    [[nodiscard]] double minX() const { return origin.x; }
    [[nodiscard]] double minY() const { return origin.y; }
    [[nodiscard]] double midX() const { return origin.x + size.width / 2; }
    [[nodiscard]] double midY() const { return origin.y + size.height / 2; }
    [[nodiscard]] double maxX() const { return origin.x + size.width; }
    [[nodiscard]] double maxY() const { return origin.y + size.height; }
    [[nodiscard]] double width() const { return size.width; }
    [[nodiscard]] double height() const { return size.height; }

    friend bool operator==(const CGRect&, const CGRect&) = default;
};

// Distances in from each edge of a rectangle.
struct EdgeInsets {
    double top = 0;
    double left = 0;
    double bottom = 0;
    double right = 0;

    friend bool operator==(const EdgeInsets&, const EdgeInsets&) = default;
};

// The rectangle shrunk by the insets; a side that would go negative is 0.
[[nodiscard]] inline CGRect insetRect(const CGRect& rect, const EdgeInsets& insets) {
    const double width = rect.size.width - insets.left - insets.right;
    const double height = rect.size.height - insets.top - insets.bottom;
    return CGRect{{rect.origin.x + insets.left, rect.origin.y + insets.top},
                  {width > 0 ? width : 0, height > 0 ? height : 0}};
}

}  // namespace ambrell::platform

namespace ambrell {
using platform::CGRect;
}  // namespace ambrell
