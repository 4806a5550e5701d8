#include "viewmodels/FeatureNumbers.h"

#include <array>
#include <charconv>
#include <cmath>

namespace ambrell {

double singlePrecisionValue(float value) {
    if (!std::isfinite(value)) return value;
    std::array<char, 32> text{};
    const auto written = std::to_chars(text.data(), text.data() + text.size(), value);
    double widened = value;
    std::from_chars(text.data(), written.ptr, widened);
    return widened;
}

}  // namespace ambrell
