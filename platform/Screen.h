#pragma once

namespace ambrell::platform {

// The main screen's facts that drawing needs. The host sets the scale (pixels
// per point) once it knows its display, from any thread; images drawn for the
// screen read it from whichever thread they are drawn on.
class Screen {
public:
    // 1 until the host sets another.
    [[nodiscard]] static double scale() noexcept;
    // A scale that is not a finite positive number is ignored: no drawing
    // could use it.
    static void setScale(double scale) noexcept;
};

}  // namespace ambrell::platform
