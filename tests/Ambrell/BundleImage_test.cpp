#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "Ambrell/CVBundleImage.h"
#include "Ambrell/CVHighway.h"

namespace ambrell::bundle_image_test {
namespace {

constexpr std::uint32_t kOpaquePinRed = 0xFFEF4444;

TEST(BundleImage, EveryImageTheMapAsksForIsThere) {
    std::vector<std::string> names = {"stop-pin", "previous", "enter", "exit", "parking", "next"};
    for (int type = 0; type <= 11; ++type) names.emplace_back(CVHighway::withType(type).typeString());
    for (const auto& name : names) {
        SCOPED_TRACE(name);
        const auto image = bundleImage(name);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image->scale(), 2.0);
        EXPECT_GT(image->width(), 0);
        // Drawn on a transparent ground: the corners show through.
        EXPECT_EQ(image->pixel(0, 0) >> 24, 0u);
        // Decoded once and shared.
        EXPECT_EQ(bundleImage(name), image);
    }
}

TEST(BundleImage, UnknownNamesGiveNoImage) {
    EXPECT_EQ(bundleImage(""), nullptr);
    EXPECT_EQ(bundleImage("stop-pin@2x"), nullptr);
    EXPECT_EQ(bundleImage("Stop-Pin"), nullptr);
    EXPECT_EQ(bundleImage("stairs"), nullptr);
}

TEST(BundleImage, ThePinIsOpaquePinRedWithSoftEdges) {
    const auto pin = bundleImage("stop-pin");
    ASSERT_NE(pin, nullptr);
    // 28 x 33 points, the size stop icons are shown at.
    EXPECT_EQ(pin->width(), 56);
    EXPECT_EQ(pin->height(), 66);

    int red = 0;
    int edge = 0;
    for (const auto pixel : pin->pixels()) {
        const auto alpha = pixel >> 24;
        if (pixel == kOpaquePinRed) {
            ++red;
        } else if (alpha == 0) {
            EXPECT_EQ(pixel, 0u);
        } else {
            // Anti-aliased: partly covered, and of no other colour than the
            // pin's (premultiplied, so within rounding of red scaled by alpha).
            ++edge;
            EXPECT_LT(alpha, 255u);
            const double red8 = static_cast<double>((pixel >> 16) & 0xFF);
            EXPECT_NEAR(red8, 0xEF * alpha / 255.0, 1.0);
        }
    }
    EXPECT_GT(red, 1500);
    EXPECT_GT(edge, 60);
    // The head's middle and the tip's column are pin red.
    EXPECT_EQ(pin->pixel(28, 26), kOpaquePinRed);
    EXPECT_EQ(pin->pixel(28, 58), kOpaquePinRed);
}

}  // namespace
}  // namespace ambrell::bundle_image_test
