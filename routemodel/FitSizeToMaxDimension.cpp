#include "routemodel/FitSizeToMaxDimension.h"

#include <algorithm>
#include <cmath>

namespace ambrell {

namespace {

constexpr double kTwoTo63 = 9223372036854775808.0;

bool representable(double value) { return std::isfinite(value) && value > -kTwoTo63 && value < kTwoTo63; }

}  // namespace

CVSize fitSizeToMaxDimension(double maxDimension, double width, double height) {
    if (!std::isfinite(maxDimension) || !std::isfinite(width) || !std::isfinite(height)) return {};
    CVSize fitted{width, height};
    if (width > maxDimension || height > maxDimension) {
        const double scale = maxDimension / std::max(width, height);
        fitted = {std::trunc(width * scale), std::trunc(height * scale)};
    }
    if (!representable(fitted.width) || !representable(fitted.height)) return {};
    auto nonNegative = [](double value) { return value <= 0 ? 0.0 : value; };
    return {nonNegative(fitted.width), nonNegative(fitted.height)};
}

}  // namespace ambrell
