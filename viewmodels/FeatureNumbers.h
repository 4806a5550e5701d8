#pragma once

namespace ambrell {

// A single-precision value as the double that prints like it: 0.8f becomes
// 0.8, not 0.800000011920929, so that features carry the values the display
// rules were written with. Not-a-number and infinities stay what they are.
[[nodiscard]] double singlePrecisionValue(float value);

}  // namespace ambrell
