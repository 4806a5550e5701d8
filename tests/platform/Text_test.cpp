#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Text.h"

namespace ambrell::platform::text_test {
namespace {

std::uint32_t channel(std::uint32_t pixel, int shift) { return (pixel >> shift) & 0xFF; }

// The pixels' bounding box of non-zero alpha: {left, top, right, bottom}, or
// all -1 when nothing was drawn.
std::vector<int> inkBox(const Image& image) {
    int left = image.width(), top = image.height(), right = -1, bottom = -1;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (channel(image.pixel(x, y), 24) == 0) continue;
            left = std::min(left, x);
            top = std::min(top, y);
            right = std::max(right, x);
            bottom = std::max(bottom, y);
        }
    }
    if (right < 0) return {-1, -1, -1, -1};
    return {left, top, right, bottom};
}

TEST(Text, SystemFontIsDejaVuSans) {
    const auto font = Font::systemFont(14);
    EXPECT_EQ(font.family, "DejaVu Sans");
    EXPECT_EQ(font.size, 14);
    EXPECT_FALSE(font.bold);
    EXPECT_TRUE(Font::boldSystemFont(14).bold);
}

TEST(Text, MeasuresScaleWithTheFontSizeUnhinted) {
    const auto small = measureText("Meeting room 1", Font::systemFont(12));
    const auto large = measureText("Meeting room 1", Font::systemFont(24));
    EXPECT_GT(small.width, 50);
    EXPECT_LT(small.width, 150);
    EXPECT_GT(small.height, 12);
    // Without hinting the advance widths scale exactly.
    EXPECT_NEAR(large.width, 2 * small.width, 0.01);
    EXPECT_NEAR(large.height, 2 * small.height, 0.01);

    EXPECT_GT(measureText("Meeting room 12", Font::systemFont(12)).width, small.width);
    EXPECT_GT(measureText("Meeting room 1", Font::boldSystemFont(12)).width, small.width);
    // Two lines are taller, not wider.
    const auto twoLines = measureText("Meeting\nroom 1", Font::systemFont(12));
    EXPECT_NEAR(twoLines.height, 2 * small.height, 1);
    EXPECT_LT(twoLines.width, small.width);
}

TEST(Text, NothingToMeasureOrDraw) {
    for (const double size :
         {0.0, -3.0, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(measureText("A", Font::systemFont(size)), CGSize{}) << size;
        auto image = Image::create(20, 20).value();
        drawText(image, "A", Font::systemFont(size), {0, 0}, Color::fromRGBA(0, 0, 0));
        EXPECT_EQ(inkBox(image)[0], -1) << size;
    }
    EXPECT_EQ(measureText("", Font::systemFont(12)), CGSize{});
    // Bytes that are no UTF-8 still measure and draw.
    EXPECT_GT(measureText("caf\xC3", Font::systemFont(12)).width, 0);
    auto image = Image::create(60, 20).value();
    drawText(image, "\xFF\xFE x", Font::systemFont(12), {0, 0}, Color::fromRGBA(0, 0, 0));
    EXPECT_NE(inkBox(image)[0], -1);
}

TEST(Text, DrawsGreyAntialiasedWithinTheMeasuredBox) {
    const auto font = Font::systemFont(16);
    const auto size = measureText("Hall", font);
    auto image = Image::create(80, 40).value();
    drawText(image, "Hall", font, {10, 5}, Color::fromRGBA(1, 1, 1));
    const auto box = inkBox(image);
    ASSERT_NE(box[0], -1);
    EXPECT_GE(box[0], 10);
    EXPECT_GE(box[1], 5);
    EXPECT_LE(box[2], 10 + std::ceil(size.width));
    EXPECT_LE(box[3], 5 + std::ceil(size.height));

    // White text premultiplied: grey antialiasing leaves every colour channel
    // equal to alpha; edges are partly covered.
    bool partial = false;
    for (const auto pixel : image.pixels()) {
        const auto alpha = channel(pixel, 24);
        ASSERT_EQ(channel(pixel, 16), alpha);
        ASSERT_EQ(channel(pixel, 8), alpha);
        ASSERT_EQ(channel(pixel, 0), alpha);
        partial = partial || (alpha > 0 && alpha < 255);
    }
    EXPECT_TRUE(partial);

    // The same text draws the same pixels every time.
    auto again = Image::create(80, 40).value();
    drawText(again, "Hall", font, {10, 5}, Color::fromRGBA(1, 1, 1));
    EXPECT_EQ(again, image);
}

TEST(Text, DrawsAtTheImagesScale) {
    const auto font = Font::systemFont(12);
    auto single = Image::create(100, 30, 1.0).value();
    auto doubled = Image::create(200, 60, 2.0).value();
    drawText(single, "Exit", font, {4, 4}, Color::fromRGBA(0, 0, 0));
    drawText(doubled, "Exit", font, {4, 4}, Color::fromRGBA(0, 0, 0));
    const auto one = inkBox(single);
    const auto two = inkBox(doubled);
    ASSERT_NE(one[0], -1);
    ASSERT_NE(two[0], -1);
    EXPECT_NEAR(two[2] - two[0], 2 * (one[2] - one[0]), 3);
    EXPECT_NEAR(two[3] - two[1], 2 * (one[3] - one[1]), 3);
}

TEST(Text, DrawsOnSeveralThreadsAtOnce) {
    auto reference = Image::create(60, 24).value();
    drawText(reference, "Lift", Font::systemFont(14), {2, 2}, Color::fromRGBA(0, 0, 0));
    std::vector<Image> images(4, Image::create(60, 24).value());
    std::vector<std::thread> threads;
    for (auto& image : images) {
        threads.emplace_back([&image] {
            drawText(image, "Lift", Font::systemFont(14), {2, 2}, Color::fromRGBA(0, 0, 0));
        });
    }
    for (auto& thread : threads) thread.join();
    for (const auto& image : images) EXPECT_EQ(image, reference);
}

}  // namespace
}  // namespace ambrell::platform::text_test
