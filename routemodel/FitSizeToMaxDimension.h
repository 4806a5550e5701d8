#pragma once

namespace ambrell {

struct CVSize {
    double width = 0;
    double height = 0;

    friend bool operator==(const CVSize&, const CVSize&) = default;
};

// The size unchanged when width and height are both at most maxDimension;
// otherwise both multiplied by maxDimension / max(width, height) and
// truncated toward zero. A size or maximum that is not finite, or a result
// beyond the 64-bit integer range, gives 0 x 0; negative results become 0.
[[nodiscard]] CVSize fitSizeToMaxDimension(double maxDimension, double width, double height);

}  // namespace ambrell
