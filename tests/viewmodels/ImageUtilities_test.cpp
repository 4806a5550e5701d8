#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <tuple>

#include "platform/Screen.h"
#include "viewmodels/ImageUtilities.h"

namespace ambrell::image_utilities_test {
namespace {

using platform::Color;
using platform::Image;

constexpr std::uint32_t kOpaqueGreen = 0xFF00FF00;

std::shared_ptr<const Image> greenImage(int width, int height, double scale) {
    auto image = Image::create(width, height, scale).value();
    for (auto& pixel : image.pixels()) pixel = kOpaqueGreen;
    return std::make_shared<const Image>(std::move(image));
}

// Each test sets the screen it draws for and leaves the default behind.
class ImageUtilities : public ::testing::Test {
protected:
    void TearDown() override { platform::Screen::setScale(1.0); }
};

TEST_F(ImageUtilities, ColoursPackRedGreenBlueAlpha) {
    const std::tuple<Color, std::uint32_t> cases[] = {
        {Color::fromRGBA(1, 1, 1, 1), 4294967295u},
        {Color::fromRGBA(0, 0, 0, 1), 255u},
        {Color::fromRGBA(0.5, 0, 0, 0), 127u << 24},
        {Color::fromRGBA(0, 0.25, 0.75, 0.5), 63u << 16 | 191u << 8 | 127u},
        {Color::fromRGBA(0, 0, 0, 0), 0u},
        // Extended-range components are held to [0, 1]; not a number is 0.
        {Color::fromRGBA(1.5, -0.5, 2, std::numeric_limits<double>::quiet_NaN()), 0xFF00FF00u},
    };
    for (const auto& [color, packed] : cases) {
        EXPECT_EQ(rgba32(color), packed) << color.red << ' ' << color.green << ' ' << color.blue << ' ' << color.alpha;
    }
    EXPECT_EQ(rgba32BitmapInfo(), 8193u);
}

TEST_F(ImageUtilities, ResizingToItsOwnSizeOrToZeroKeepsTheVeryImage) {
    const auto image = greenImage(8, 6, 2.0);
    EXPECT_EQ(resized(image, CGSize{4, 3}), image);
    EXPECT_EQ(resized(image, CGSize{0, 0}), image);
    EXPECT_EQ(resized(nullptr, CGSize{4, 3}), nullptr);
    // Too large to draw keeps the image; sizes no image can have give none.
    EXPECT_EQ(resized(image, CGSize{1e9, 2}), image);
    for (const auto& size :
         {CGSize{-1, 3}, CGSize{4, 0}, CGSize{0, 3}, CGSize{std::numeric_limits<double>::infinity(), 2},
          CGSize{2, -std::numeric_limits<double>::infinity()}, CGSize{std::numeric_limits<double>::quiet_NaN(), 2}}) {
        EXPECT_EQ(resized(image, size), nullptr) << size.width << "x" << size.height;
    }
}

TEST_F(ImageUtilities, ResizingDrawsAtTheScreensScale) {
    platform::Screen::setScale(3.0);
    const auto image = greenImage(8, 6, 2.0);
    const auto drawn = resized(image, CGSize{10, 5});
    ASSERT_NE(drawn, image);
    EXPECT_EQ(drawn->width(), 30);
    EXPECT_EQ(drawn->height(), 15);
    EXPECT_EQ(drawn->scale(), 3.0);
    // Stretched to fill: every pixel is the source's colour.
    for (const auto pixel : drawn->pixels()) ASSERT_EQ(pixel, kOpaqueGreen);
    // The original is untouched.
    EXPECT_EQ(image->width(), 8);

    // A fraction of a pixel still takes one.
    platform::Screen::setScale(2.0);
    const auto fractional = resized(image, CGSize{2.25, 1});
    EXPECT_EQ(fractional->width(), 5);
    EXPECT_EQ(fractional->height(), 2);
}

TEST_F(ImageUtilities, TransparentPixelIsNewEachTime) {
    platform::Screen::setScale(2.0);
    const auto pixel = transparentPixel();
    EXPECT_EQ(pixel->width(), 1);
    EXPECT_EQ(pixel->height(), 1);
    EXPECT_EQ(pixel->scale(), 1.0);
    EXPECT_EQ(pixel->pixel(0, 0), 0u);
    EXPECT_NE(transparentPixel(), pixel);
}

}  // namespace
}  // namespace ambrell::image_utilities_test
