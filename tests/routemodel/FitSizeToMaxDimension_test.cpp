#include <limits>

#include <gtest/gtest.h>

#include "routemodel/FitSizeToMaxDimension.h"

namespace ambrell {
namespace {

TEST(FitSizeToMaxDimension, Table) {
    constexpr double infinity = std::numeric_limits<double>::infinity();
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        double maximum, width, height;
        CVSize fitted;
    };
    const Case cases[] = {
        // Both within the maximum: unchanged, fractions included.
        {100, 100, 100, {100, 100}},
        {100, 40, 99.5, {40, 99.5}},
        {100, 0, 0, {0, 0}},
        // Scaled by maximum / larger side, truncated toward zero.
        {100, 400, 200, {100, 50}},
        {100, 333, 100, {100, 30}},
        {100, 100, 333, {30, 100}},
        {64, 1000, 999, {64, 63}},
        {1, 3, 2, {1, 0}},
        // Not finite: nothing to draw.
        {100, infinity, 200, {0, 0}},
        {100, 200, nan, {0, 0}},
        {nan, 400, 200, {0, 0}},
        {infinity, 400, 200, {0, 0}},
        // Negative results clamp to 0.
        {100, -50, 20, {0, 20}},
        {-10, 400, 200, {0, 0}},
        // Results past the 64-bit range.
        {1e300, 1e300, 1e299, {0, 0}},
    };
    for (const auto& [maximum, width, height, fitted] : cases) {
        SCOPED_TRACE(testing::Message() << maximum << ": " << width << " x " << height);
        const auto result = fitSizeToMaxDimension(maximum, width, height);
        EXPECT_EQ(result.width, fitted.width);
        EXPECT_EQ(result.height, fitted.height);
    }
}

}  // namespace
}  // namespace ambrell
