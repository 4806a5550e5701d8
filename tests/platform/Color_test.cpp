#include "platform/Color.h"

#include <limits>

#include <gtest/gtest.h>

namespace ambrell::platform {
namespace {

void expectRGB(const Color& actual, const Color& expected) {
    EXPECT_NEAR(actual.red, expected.red, 1e-12);
    EXPECT_NEAR(actual.green, expected.green, 1e-12);
    EXPECT_NEAR(actual.blue, expected.blue, 1e-12);
}

TEST(ColorTest, HueWalksTheHexconeAndWrapsAround) {
    const Color sectors[] = {{1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 1, 1}, {0, 0, 1}, {1, 0, 1}};
    for (int sector = 0; sector < 6; ++sector) {
        expectRGB(Color::fromHSB(sector / 6.0, 1, 1), sectors[sector]);
        expectRGB(Color::fromHSB(sector / 6.0 - 1, 1, 1), sectors[sector]);
    }
    expectRGB(Color::fromHSB(1, 1, 1), sectors[0]);
    expectRGB(Color::fromHSB(0.25, 0.5, 0.8), {0.6, 0.8, 0.4});
    // No sector to name: red, without an undefined conversion on the way.
    expectRGB(Color::fromHSB(std::numeric_limits<double>::quiet_NaN(), 1, 1), sectors[0]);
}

TEST(ColorTest, HSBRoundTripsAndGreysHaveNoHue) {
    for (double hue = 0; hue < 1; hue += 0.05) {
        const auto hsb = Color::fromHSB(hue, 0.3, 0.7, 0.5).hsb();
        EXPECT_NEAR(hsb.hue, hue, 1e-9);
        EXPECT_NEAR(hsb.saturation, 0.3, 1e-9);
        EXPECT_NEAR(hsb.brightness, 0.7, 1e-9);
        EXPECT_EQ(hsb.alpha, 0.5);
    }
    const auto grey = Color::fromRGBA(0.4, 0.4, 0.4).hsb();
    EXPECT_EQ(grey.hue, 0);
    EXPECT_EQ(grey.saturation, 0);
    EXPECT_EQ(Color::fromRGBA(0, 0, 0).hsb().saturation, 0);
}

TEST(ColorTest, HexTakesAHashAndSixDigitsOfEitherCase) {
    expectRGB(Color::fromHex("#FF8000").value_or(Color{}), {1, 128 / 255.0, 0});
    EXPECT_EQ(Color::fromHex("#ff8000"), Color::fromHex("#FF8000"));
    for (const std::string_view text : {"", "#", "FF8000", "#FFF", "#FF80001", "#FF80GG", " #FF8000", "#+F8000"}) {
        EXPECT_EQ(Color::fromHex(text), std::nullopt) << text;
    }
}

}  // namespace
}  // namespace ambrell::platform
