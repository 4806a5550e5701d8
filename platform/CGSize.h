#pragma once

namespace ambrell::platform {

// A width and a height in points, as Core Graphics hands them around.
struct CGSize {
    double width = 0;
    double height = 0;

    friend bool operator==(const CGSize&, const CGSize&) = default;
};

}  // namespace ambrell::platform

namespace ambrell {
using platform::CGSize;
}  // namespace ambrell
