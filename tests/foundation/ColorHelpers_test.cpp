#include "foundation/ColorHelpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace ambrell {
namespace {

using platform::Color;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

TEST(HexString, FormatsEachComponentScaledAndTruncated) {
    const std::tuple<Color, const char*, const char*> cases[] = {
        {{1, 0, 0, 1}, "#FF0000", "#FF0000FF"},
        {{0.5, 0.5, 0.5, 0.5}, "#7F7F7F", "#7F7F7F7F"},
        {{0, 0, 1.0 / 255, 0}, "#000001", "#00000100"},
        // Extended range is not clamped: 1.2 gives 307, a negative component its two's complement.
        {{1.2, 0, 0, 1}, "#1330000", "#1330000FF"},
        {{-0.5, 0, 0, 1}, "#FFFFFFFFFFFFFF810000", "#FFFFFFFFFFFFFF810000FF"},
        // Beyond the int64 range the code saturates.
        {{kInf, -kInf, 1e300, 1},
         "#7FFFFFFFFFFFFFFF80000000000000007FFFFFFFFFFFFFFF",
         "#7FFFFFFFFFFFFFFF80000000000000007FFFFFFFFFFFFFFFFF"},
    };
    for (const auto& [color, withoutAlpha, withAlpha] : cases) {
        EXPECT_EQ(hexString(color, false), withoutAlpha);
        EXPECT_EQ(hexString(color, true), withAlpha);
    }
    // Not a number gives no text, unless it is the alpha left out.
    EXPECT_EQ(hexString({kNan, 0, 0, 1}, false), std::nullopt);
    EXPECT_EQ(hexString({0, 0, 0, kNan}, true), std::nullopt);
    EXPECT_EQ(hexString({0, 0, 0, kNan}, false), "#000000");
}

TEST(AlphaComponent, NarrowsToFloatSaturating) {
    EXPECT_EQ(alphaComponent({0, 0, 0, 0.25}), 0.25f);
    EXPECT_EQ(alphaComponent({0, 0, 0, 1e300}), std::numeric_limits<float>::max());
    EXPECT_EQ(alphaComponent({0, 0, 0, -kInf}), -std::numeric_limits<float>::max());
}

void expectRgb(const Color& color, double red, double green, double blue) {
    EXPECT_NEAR(color.red, red, 1e-9);
    EXPECT_NEAR(color.green, green, 1e-9);
    EXPECT_NEAR(color.blue, blue, 1e-9);
}

TEST(AdjustedLightness, MovesLightnessAndKeepsHueAndAlpha) {
    const Color dimRed{0.6, 0.2, 0.2, 0.8};  // HSL lightness 0.4 and saturation 0.5
    // Beyond [-1, 1] the factor counts as -1 or 1.
    const std::pair<double, double> cases[] = {{0.5, 0.7}, {-0.5, 0.2}, {0, 0.4},  {1, 1},    {-1, 0},
                                               {2, 1},     {-3, 0},     {kInf, 1}, {-kInf, 0}};
    for (const auto& [factor, lightness] : cases) {
        SCOPED_TRACE(factor);
        const Color adjusted = adjustedLightness(dimRed, factor);
        const auto [low, high] = std::minmax({adjusted.red, adjusted.green, adjusted.blue});
        EXPECT_NEAR((low + high) / 2, lightness, 1e-9);
        EXPECT_DOUBLE_EQ(adjusted.alpha, dimRed.alpha);
        if (lightness > 0 && lightness < 1) {
            EXPECT_NEAR(adjusted.hsb().hue, dimRed.hsb().hue, 1e-9);
            EXPECT_GT(adjusted.red, adjusted.green);
        }
    }
    expectRgb(adjustedLightness(dimRed, 0), 0.6, 0.2, 0.2);
    expectRgb(adjustedLightness({0.5, 0.5, 0.5, 1}, 0.5), 0.75, 0.75, 0.75);  // greys stay grey

    // Something not a number leaves the colour alone.
    EXPECT_EQ(adjustedLightness(dimRed, kNan), dimRed);
    const Color adjusted = adjustedLightness({kNan, 0.2, 0.2, 1}, 0.5);
    EXPECT_TRUE(std::isnan(adjusted.red));
    EXPECT_EQ(adjusted.green, 0.2);
}

}  // namespace
}  // namespace ambrell
