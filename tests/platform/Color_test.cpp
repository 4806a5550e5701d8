#include "platform/Color.h"

#include <limits>

#include <gtest/gtest.h>

namespace ambrell::platform {
namespace {

void expectRGB(const Color& actual, double red, double green, double blue) {
    EXPECT_NEAR(actual.red, red, 1e-12);
    EXPECT_NEAR(actual.green, green, 1e-12);
    EXPECT_NEAR(actual.blue, blue, 1e-12);
}

TEST(ColorTest, HueWalksTheHexconeAndWrapsAround) {
    const double sectors[][3] = {{1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 1, 1}, {0, 0, 1}, {1, 0, 1}};
    for (int sector = 0; sector < 6; ++sector) {
        expectRGB(Color::fromHSB(sector / 6.0, 1, 1), sectors[sector][0], sectors[sector][1], sectors[sector][2]);
        expectRGB(Color::fromHSB(sector / 6.0 - 1, 1, 1), sectors[sector][0], sectors[sector][1], sectors[sector][2]);
    }
    expectRGB(Color::fromHSB(1, 1, 1), 1, 0, 0);
    expectRGB(Color::fromHSB(0.25, 0.5, 0.8), 0.6, 0.8, 0.4);
    // No sector to name: red, without an undefined conversion on the way.
    expectRGB(Color::fromHSB(std::numeric_limits<double>::quiet_NaN(), 1, 1), 1, 0, 0);
    expectRGB(Color::fromHSB(std::numeric_limits<double>::infinity(), 1, 1), 1, 0, 0);
}

TEST(ColorTest, HSBRoundTripsAndGreysHaveNoHue) {
    for (double hue = 0; hue < 1; hue += 0.05) {
        for (const double saturation : {0.1, 1.0}) {
            const auto hsb = Color::fromHSB(hue, saturation, 0.7, 0.5).hsb();
            EXPECT_NEAR(hsb.hue, hue, 1e-9);
            EXPECT_NEAR(hsb.saturation, saturation, 1e-9);
            EXPECT_NEAR(hsb.brightness, 0.7, 1e-9);
            EXPECT_EQ(hsb.alpha, 0.5);
        }
    }
    const auto grey = Color::fromRGBA(0.4, 0.4, 0.4).hsb();
    EXPECT_EQ(grey.hue, 0);
    EXPECT_EQ(grey.saturation, 0);
    EXPECT_EQ(Color::fromRGBA(0, 0, 0).hsb().saturation, 0);
    // Extended-range components are not clamped.
    EXPECT_NEAR(Color::fromRGBA(1.2, 0, 0).hsb().brightness, 1.2, 1e-12);
}

TEST(ColorTest, HexTakesAHashAndSixDigitsOfEitherCase) {
    ASSERT_TRUE(Color::fromHex("#FF8000"));
    expectRGB(*Color::fromHex("#FF8000"), 1, 128 / 255.0, 0);
    EXPECT_EQ(Color::fromHex("#ff8000"), Color::fromHex("#FF8000"));
    EXPECT_EQ(Color::fromHex("#ff8000")->alpha, 1);
    for (const std::string_view text : {"", "#", "FF8000", "#FFF", "#FF80001", "#FF80GG", " #FF8000", "0xFF8000", "#+F8000"}) {
        EXPECT_EQ(Color::fromHex(text), std::nullopt) << text;
    }
}

}  // namespace
}  // namespace ambrell::platform
