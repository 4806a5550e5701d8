#include <cstdint>
#include <limits>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Image.h"
#include "platform/Screen.h"

namespace ambrell::platform::image_scaling_test {
namespace {

constexpr std::uint32_t kOpaqueRed = 0xFFFF0000;
constexpr std::uint32_t kOpaqueBlue = 0xFF0000FF;

// Red on the left half, blue on the right.
Image halves(int width, int height) {
    auto image = Image::create(width, height, 2.0).value();
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) image.setPixel(x, y, x < width / 2 ? kOpaqueRed : kOpaqueBlue);
    }
    return image;
}

TEST(ImageScaling, StretchesToTheSizeAndScaleGiven) {
    const auto source = halves(4, 2);
    const auto wider = source.scaledTo(16, 3, 3.0);
    ASSERT_TRUE(wider.has_value());
    EXPECT_EQ(wider->width(), 16);
    EXPECT_EQ(wider->height(), 3);
    EXPECT_EQ(wider->scale(), 3.0);
    // Far from the seam the colours are the source's, fully opaque up to the
    // edges.
    for (int y = 0; y < 3; ++y) {
        EXPECT_EQ(wider->pixel(0, y), kOpaqueRed) << y;
        EXPECT_EQ(wider->pixel(3, y), kOpaqueRed) << y;
        EXPECT_EQ(wider->pixel(12, y), kOpaqueBlue) << y;
        EXPECT_EQ(wider->pixel(15, y), kOpaqueBlue) << y;
    }
    // The source is left as it was.
    EXPECT_EQ(source, halves(4, 2));

    const auto smaller = source.scaledTo(2, 1, 1.0);
    ASSERT_TRUE(smaller.has_value());
    EXPECT_EQ(smaller->pixel(0, 0) >> 24, 0xFFu);
    EXPECT_GT(smaller->pixel(0, 0) & 0x00FF0000, smaller->pixel(0, 0) & 0x000000FF);
    EXPECT_GT(smaller->pixel(1, 0) & 0x000000FF, (smaller->pixel(1, 0) & 0x00FF0000) >> 16);
}

TEST(ImageScaling, SizesCreateRefusesGiveNone) {
    const auto source = halves(2, 2);
    for (const auto& [width, height] : std::vector<std::pair<int, int>>{{0, 3}, {3, 0}, {-1, 2}, {40000, 1}}) {
        EXPECT_FALSE(source.scaledTo(width, height, 1.0).has_value()) << width << "x" << height;
    }
}

TEST(Screen, ScaleIsSetByTheHostAndReadFromAnyThread) {
    EXPECT_EQ(Screen::scale(), 1.0);
    Screen::setScale(3.0);
    EXPECT_EQ(Screen::scale(), 3.0);
    for (const double unusable :
         {0.0, -2.0, std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()}) {
        Screen::setScale(unusable);
        EXPECT_EQ(Screen::scale(), 3.0) << unusable;
    }

    // Drawing threads read while the host sets it.
    std::vector<double> seen;
    std::thread reader([&seen] {
        for (int round = 0; round < 1000; ++round) seen.push_back(Screen::scale());
    });
    for (int round = 0; round < 1000; ++round) Screen::setScale(round % 2 == 0 ? 2.0 : 3.0);
    reader.join();
    for (const double scale : seen) EXPECT_TRUE(scale == 2.0 || scale == 3.0) << scale;
    Screen::setScale(1.0);
}

}  // namespace
}  // namespace ambrell::platform::image_scaling_test
