#include "foundation/ColorHelpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

namespace ambrell {
namespace {

using platform::Color;

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

double hslLightness(const Color& c) {
    return (std::max({c.red, c.green, c.blue}) + std::min({c.red, c.green, c.blue})) / 2;
}

struct HexCase {
    Color color;
    const char* withoutAlpha;
    const char* withAlpha;
};

class HexStringTest : public ::testing::TestWithParam<HexCase> {};

TEST_P(HexStringTest, FormatsEachComponentScaledAndTruncated) {
    const auto& param = GetParam();
    EXPECT_EQ(hexString(param.color, false), param.withoutAlpha);
    EXPECT_EQ(hexString(param.color, true), param.withAlpha);
}

INSTANTIATE_TEST_SUITE_P(
    Components, HexStringTest,
    ::testing::Values(HexCase{{1, 0, 0, 1}, "#FF0000", "#FF0000FF"},
                      HexCase{{0.5, 0.5, 0.5, 0.5}, "#7F7F7F", "#7F7F7F7F"},
                      HexCase{{0, 0, 1.0 / 255, 0}, "#000001", "#00000100"},
                      // Extended range is not clamped: 1.2 gives 307, a
                      // negative component its two's complement.
                      HexCase{{1.2, 0, 0, 1}, "#1330000", "#1330000FF"},
                      HexCase{{-0.5, 0, 0, 1}, "#FFFFFFFFFFFFFF810000", "#FFFFFFFFFFFFFF810000FF"},
                      // Beyond the int64 range the code saturates.
                      HexCase{{inf, -inf, 1e300, 1}, "#7FFFFFFFFFFFFFFF80000000000000007FFFFFFFFFFFFFFF",
                              "#7FFFFFFFFFFFFFFF80000000000000007FFFFFFFFFFFFFFFFF"}));

TEST(HexString, NotANumberGivesNoText) {
    EXPECT_EQ(hexString({nan, 0, 0, 1}, false), std::nullopt);
    EXPECT_EQ(hexString({0, 0, 0, nan}, true), std::nullopt);
    EXPECT_EQ(hexString({0, 0, 0, nan}, false), "#000000");
}

TEST(AlphaComponent, NarrowsToFloatSaturating) {
    EXPECT_EQ(alphaComponent({0, 0, 0, 0.25}), 0.25f);
    EXPECT_EQ(alphaComponent({0, 0, 0, 1e300}), std::numeric_limits<float>::max());
    EXPECT_EQ(alphaComponent({0, 0, 0, -inf}), -std::numeric_limits<float>::max());
}

struct LightnessCase {
    double factor;
    double expectedLightness;
};

class AdjustedLightnessTest : public ::testing::TestWithParam<LightnessCase> {};

// A red of lightness 0.4 and HSL saturation 0.5.
const Color dimRed{0.6, 0.2, 0.2, 0.8};

TEST_P(AdjustedLightnessTest, MovesLightnessAndKeepsHueAndAlpha) {
    const auto& param = GetParam();
    const Color adjusted = adjustedLightness(dimRed, param.factor);
    EXPECT_NEAR(hslLightness(adjusted), param.expectedLightness, 1e-9);
    EXPECT_DOUBLE_EQ(adjusted.alpha, dimRed.alpha);
    if (param.expectedLightness > 0 && param.expectedLightness < 1) {
        EXPECT_NEAR(adjusted.hsb().hue, dimRed.hsb().hue, 1e-9);
        EXPECT_GT(adjusted.red, adjusted.green);
    }
}

INSTANTIATE_TEST_SUITE_P(Factors, AdjustedLightnessTest,
                         ::testing::Values(LightnessCase{0.5, 0.7}, LightnessCase{-0.5, 0.2},
                                           LightnessCase{0, 0.4}, LightnessCase{1, 1}, LightnessCase{-1, 0},
                                           // Beyond [-1, 1] the factor counts as -1 or 1.
                                           LightnessCase{2, 1}, LightnessCase{-3, 0}, LightnessCase{inf, 1},
                                           LightnessCase{-inf, 0}));

TEST(AdjustedLightness, KeepsTheColourWithFactorZero) {
    const Color adjusted = adjustedLightness(dimRed, 0);
    EXPECT_NEAR(adjusted.red, dimRed.red, 1e-9);
    EXPECT_NEAR(adjusted.green, dimRed.green, 1e-9);
    EXPECT_NEAR(adjusted.blue, dimRed.blue, 1e-9);
}

TEST(AdjustedLightness, KeepsGreysGrey) {
    const Color adjusted = adjustedLightness({0.5, 0.5, 0.5, 1}, 0.5);
    EXPECT_NEAR(adjusted.red, 0.75, 1e-9);
    EXPECT_NEAR(adjusted.green, 0.75, 1e-9);
    EXPECT_NEAR(adjusted.blue, 0.75, 1e-9);
}

TEST(AdjustedLightness, LeavesTheColourAloneWhenSomethingIsNotANumber) {
    EXPECT_EQ(adjustedLightness(dimRed, nan), dimRed);
    const Color broken{nan, 0.2, 0.2, 1};
    const Color adjusted = adjustedLightness(broken, 0.5);
    EXPECT_TRUE(std::isnan(adjusted.red));
    EXPECT_EQ(adjusted.green, 0.2);
}

}  // namespace
}  // namespace ambrell
