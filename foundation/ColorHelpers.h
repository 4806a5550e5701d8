#pragma once

#include "platform/Color.h"

#include <optional>
#include <string>

namespace ambrell {

// Moves the colour's HSL lightness towards white (factor above 0) or black
// (factor below 0) by that fraction of the way; hue and alpha are kept.
// Factors beyond [-1, 1] count as -1 or 1 (all the way to black or white); a
// factor or component that is not a number leaves the colour unchanged.
[[nodiscard]] platform::Color adjustedLightness(const platform::Color& color, double factor);

[[nodiscard]] float alphaComponent(const platform::Color& color);

// "#RRGGBB", or "#RRGGBBAA" with alpha, upper-case. Components are not
// clamped: 1.2 gives 133 and a negative one prints as the sixteen digits of
// its two's complement, as the display rules have always produced. Infinite or
// huge components saturate to the int64 range; none when a component is NaN.
[[nodiscard]] std::optional<std::string> hexString(const platform::Color& color, bool includingAlpha);

}  // namespace ambrell
