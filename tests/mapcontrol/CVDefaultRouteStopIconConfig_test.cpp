#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>

#include <boost/json/object.hpp>
#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>

#include "Ambrell/CVBundleImage.h"
#include "mapcontrol/CVDefaultRouteStopIconConfig.h"
#include "platform/Screen.h"
#include "platform/Text.h"
#include "tests/support/GoldenImage.h"

namespace ambrell::default_route_stop_icon_test {
namespace {

constexpr std::uint32_t kOpaquePinRed = 0xFFEF4444;

bool isWhiteish(std::uint32_t pixel) {
    // Text over the pin: light in all three channels (the pin has little
    // green and blue).
    return ((pixel >> 8) & 0xFF) > 0xA0 && (pixel & 0xFF) > 0xA0;
}

class StopIconTest : public testing::Test {
protected:
    void SetUp() override { platform::Screen::setScale(2); }
};

TEST_F(StopIconTest, ThePinColourKeepsThePinAsLoaded) {
    const CVDefaultRouteStopIconConfig config(true, std::nullopt, platform::Color::fromHex("#EF4444").value());
    const auto pin = bundleImage("stop-pin");
    ASSERT_NE(config.image(), nullptr);
    EXPECT_EQ(config.image(), pin);
    EXPECT_EQ(*config.image(), *pin);
}

TEST_F(StopIconTest, AnotherColourChangesExactlyThePinRedPixels) {
    const CVDefaultRouteStopIconConfig config(true, std::nullopt, platform::Color{0, 0, 1, 1});
    const auto pin = bundleImage("stop-pin");
    const auto image = config.image();
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(image->width(), pin->width());
    ASSERT_EQ(image->height(), pin->height());
    EXPECT_EQ(image->scale(), pin->scale());
    int changed = 0;
    for (int y = 0; y < pin->height(); ++y) {
        for (int x = 0; x < pin->width(); ++x) {
            if (pin->pixel(x, y) == kOpaquePinRed) {
                ASSERT_EQ(image->pixel(x, y), 0xFF0000FFu) << x << "," << y;
                ++changed;
            } else {
                // Edges that blend the pin with transparency are left alone.
                ASSERT_EQ(image->pixel(x, y), pin->pixel(x, y)) << x << "," << y;
            }
        }
    }
    EXPECT_GT(changed, 1000);
}

TEST_F(StopIconTest, RecolouringPremultipliesAndHoldsComponentsToTheUnitRange) {
    struct Case {
        platform::Color color;
        std::uint32_t pixel;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        // Half transparent: every channel scaled by alpha, none above it.
        {{0, 0.5, 1, 0.5}, 0x7F003F7F},
        {{1, 1, 1, 0.25}, 0x3F3F3F3F},
        {{0.2, 0.4, 0.6, 0}, 0x00000000},
        // Extended-range and not-a-number components.
        {{1.5, -0.2, nan, 2}, 0xFFFF0000},
        {{0.5, 0.5, 0.5, -1}, 0x00000000},
    };
    for (const auto& [color, expected] : cases) {
        const CVDefaultRouteStopIconConfig config(false, std::nullopt, color);
        const auto image = config.image();
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image->pixel(28, 26), expected) << std::hex << expected;
        for (const auto pixel : image->pixels()) {
            const auto alpha = pixel >> 24;
            ASSERT_LE((pixel >> 16) & 0xFF, alpha);
            ASSERT_LE((pixel >> 8) & 0xFF, alpha);
            ASSERT_LE(pixel & 0xFF, alpha);
        }
    }
}

TEST_F(StopIconTest, NumbersSitCentredTwoPointsAboveTheMiddle) {
    const CVDefaultRouteStopIconConfig config(true, std::nullopt, CVDefaultRouteStopIconConfig::pinColor());
    const auto font = platform::Font::boldSystemFont(14);
    for (const int number : {0, 7, 123}) {
        SCOPED_TRACE(number);
        const auto image = config.numberedImage(number);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image->scale(), 2.0);
        EXPECT_EQ(image->width(), 56);
        EXPECT_EQ(image->height(), 66);

        const auto box = platform::measureText(std::to_string(number), font);
        const double left = (28 - box.width) / 2;
        const double top = (33 - box.height) / 2 - 2;
        int white = 0;
        double minX = 1e9;
        double maxX = -1e9;
        for (int y = 0; y < image->height(); ++y) {
            for (int x = 0; x < image->width(); ++x) {
                if (!isWhiteish(image->pixel(x, y))) continue;
                ++white;
                const double px = (x + 0.5) / 2;
                const double py = (y + 0.5) / 2;
                EXPECT_GE(px, left - 0.5);
                EXPECT_LE(px, left + box.width + 0.5);
                EXPECT_GE(py, top - 0.5);
                EXPECT_LE(py, top + box.height + 0.5);
                minX = std::min(minX, px);
                maxX = std::max(maxX, px);
            }
        }
        EXPECT_GT(white, 20);
        // The ink's horizontal middle is the pin's.
        EXPECT_NEAR((minX + maxX) / 2, 14, 1.0);
    }
}

TEST_F(StopIconTest, UnnumberedIconsAreThePinWhateverTheNumber) {
    const CVDefaultRouteStopIconConfig config(false, std::string("Stop"), CVDefaultRouteStopIconConfig::pinColor());
    const auto zero = config.numberedImage(0);
    const auto many = config.numberedImage(123);
    ASSERT_NE(zero, nullptr);
    ASSERT_NE(many, nullptr);
    EXPECT_EQ(*zero, *many);
    // Already 28 x 33 points: the pin itself.
    EXPECT_EQ(zero, config.image());
    for (const auto pixel : zero->pixels()) EXPECT_FALSE(isWhiteish(pixel));
    EXPECT_EQ(config.label(), "Stop");
}

TEST_F(StopIconTest, NumberedIconsFollowTheScreenScale) {
    platform::Screen::setScale(3);
    const CVDefaultRouteStopIconConfig config(true, std::nullopt, CVDefaultRouteStopIconConfig::pinColor());
    const auto image = config.numberedImage(4);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->scale(), 3.0);
    EXPECT_EQ(image->width(), 84);
    EXPECT_EQ(image->height(), 99);
}

TEST_F(StopIconTest, ADecodedConfigHasNoImage) {
    const auto config =
        CVDefaultRouteStopIconConfig::decode(boost::json::parse(R"({"image": "x", "numbered": false})"));
    ASSERT_NE(config, nullptr);
    EXPECT_EQ(config->image(), nullptr);
    EXPECT_EQ(config->numberedImage(1), nullptr);
    EXPECT_TRUE(config->numbered());
    EXPECT_FALSE(config->label().has_value());
    EXPECT_EQ(config->color(), (platform::Color{1, 0, 0, 1}));
    EXPECT_EQ(config->encode(), boost::json::value(boost::json::object()));
}

TEST_F(StopIconTest, SettingTheColourLaterLeavesTheImage) {
    CVDefaultRouteStopIconConfig config(true, std::nullopt, platform::Color{0, 1, 0, 1});
    const auto before = config.image();
    config.setColor(platform::Color{0, 0, 1, 1});
    EXPECT_EQ(config.image(), before);
    EXPECT_EQ(config.color(), (platform::Color{0, 0, 1, 1}));

    config.setImage(nullptr);
    EXPECT_EQ(config.numberedImage(2), nullptr);
    config.setNumbered(false);
    EXPECT_FALSE(config.numbered());
}

TEST_F(StopIconTest, ANumberedPinDrawsAsItsGolden) {
    const CVDefaultRouteStopIconConfig config(true, std::nullopt, platform::Color::fromHex("#2563EB").value());
    const auto image = config.numberedImage(12);
    ASSERT_NE(image, nullptr);
    test::expectMatchesGolden(*image, "tests/mapcontrol/golden/numbered-pin.png");
}

}  // namespace
}  // namespace ambrell::default_route_stop_icon_test
