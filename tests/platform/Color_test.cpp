#include "platform/Color.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace ambrell::platform {
namespace {

constexpr double tolerance = 1e-12;

void expectColor(const Color& actual, double red, double green, double blue, double alpha = 1) {
    EXPECT_NEAR(actual.red, red, tolerance);
    EXPECT_NEAR(actual.green, green, tolerance);
    EXPECT_NEAR(actual.blue, blue, tolerance);
    EXPECT_NEAR(actual.alpha, alpha, tolerance);
}

TEST(ColorTest, HueWalksTheSixSectorsOfTheHexcone) {
    expectColor(Color::fromHSB(0, 1, 1), 1, 0, 0);
    expectColor(Color::fromHSB(1.0 / 6, 1, 1), 1, 1, 0);
    expectColor(Color::fromHSB(2.0 / 6, 1, 1), 0, 1, 0);
    expectColor(Color::fromHSB(3.0 / 6, 1, 1), 0, 1, 1);
    expectColor(Color::fromHSB(4.0 / 6, 1, 1), 0, 0, 1);
    expectColor(Color::fromHSB(5.0 / 6, 1, 1), 1, 0, 1);
    expectColor(Color::fromHSB(0.25, 0.5, 0.8, 0.3), 0.6, 0.8, 0.4, 0.3);
}

TEST(ColorTest, HueWrapsAroundTheCircle) {
    expectColor(Color::fromHSB(1, 1, 1), 1, 0, 0);
    expectColor(Color::fromHSB(-1.0 / 6, 1, 1), 1, 0, 1);
    expectColor(Color::fromHSB(7.0 / 6, 1, 1), 1, 1, 0);
    // No sector to name: red, and no undefined conversion on the way.
    expectColor(Color::fromHSB(std::numeric_limits<double>::quiet_NaN(), 1, 1), 1, 0, 0);
    expectColor(Color::fromHSB(std::numeric_limits<double>::infinity(), 1, 1), 1, 0, 0);
}

TEST(ColorTest, GreysHaveNoHueNorSaturation) {
    expectColor(Color::fromHSB(0.7, 0, 0.4), 0.4, 0.4, 0.4);
    const auto grey = Color::fromRGBA(0.4, 0.4, 0.4).hsb();
    EXPECT_EQ(grey.hue, 0);
    EXPECT_EQ(grey.saturation, 0);
    EXPECT_NEAR(grey.brightness, 0.4, tolerance);
    EXPECT_EQ(Color::fromRGBA(0, 0, 0).hsb().saturation, 0);
}

TEST(ColorTest, HSBRoundTrips) {
    for (double hue = 0; hue < 1; hue += 0.05) {
        for (const double saturation : {0.1, 0.5, 1.0}) {
            for (const double brightness : {0.2, 0.7, 1.0}) {
                const auto hsb = Color::fromHSB(hue, saturation, brightness, 0.5).hsb();
                EXPECT_NEAR(hsb.hue, hue, 1e-9) << hue;
                EXPECT_NEAR(hsb.saturation, saturation, 1e-9);
                EXPECT_NEAR(hsb.brightness, brightness, 1e-9);
                EXPECT_EQ(hsb.alpha, 0.5);
            }
        }
    }
}

TEST(ColorTest, ExtendedRangeComponentsAreNotClamped) {
    const auto hsb = Color::fromRGBA(1.2, 0, 0).hsb();
    EXPECT_NEAR(hsb.brightness, 1.2, tolerance);
    expectColor(Color::fromHSB(0, 1, 1.2), 1.2, 0, 0);
}

TEST(ColorTest, HexTakesAHashAndSixDigitsOfEitherCase) {
    ASSERT_TRUE(Color::fromHex("#FF8000"));
    expectColor(*Color::fromHex("#FF8000"), 1, 128 / 255.0, 0);
    EXPECT_EQ(Color::fromHex("#ff8000"), Color::fromHex("#FF8000"));
    EXPECT_EQ(Color::fromHex("#aBcDeF"), Color::fromHex("#ABCDEF"));
    expectColor(*Color::fromHex("#000000"), 0, 0, 0);

    for (const std::string_view text : {"", "#", "FF8000", "#FFF", "#FF80001", "#FF800", "#FF80GG", " #FF8000", "#FF8000 ",
                                        "0xFF8000", "#-F8000", "#+F8000"}) {
        EXPECT_EQ(Color::fromHex(text), std::nullopt) << text;
    }
}

}  // namespace
}  // namespace ambrell::platform
