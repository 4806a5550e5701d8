#pragma once

namespace ambrell::platform {

// A point of a drawing surface or of a pixel projection, as Core Graphics
// hands it around.
struct CGPoint {
    double x = 0;
    double y = 0;

    friend bool operator==(const CGPoint&, const CGPoint&) = default;
};

}  // namespace ambrell::platform

namespace ambrell {
using platform::CGPoint;
}  // namespace ambrell
