#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Image.h"

namespace ambrell::platform {
namespace {

std::vector<std::byte> bytesOf(std::string_view text) {
    const auto* data = reinterpret_cast<const std::byte*>(text.data());
    return {data, data + text.size()};
}

Image checkerboard(int width, int height, std::uint32_t a, std::uint32_t b) {
    auto image = Image::create(width, height, 2.0);
    EXPECT_TRUE(image.has_value());
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) image->setPixel(x, y, (x + y) % 2 == 0 ? a : b);
    }
    return *image;
}

TEST(Image, CreateRefusesSizesCairoCannotHold) {
    for (const auto& [width, height] : std::vector<std::pair<int, int>>{{0, 1}, {1, 0}, {-3, 4}, {32768, 1}}) {
        EXPECT_FALSE(Image::create(width, height).has_value()) << width << "x" << height;
    }
    const auto image = Image::create(3, 2, 2.0);
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->width(), 3);
    EXPECT_EQ(image->height(), 2);
    EXPECT_EQ(image->scale(), 2.0);
    EXPECT_EQ(image->pixels().size(), 6U);
    EXPECT_EQ(image->pixel(1, 1), 0U);
}

TEST(Image, PixelsOutsideTheImageReadZeroAndIgnoreWrites) {
    auto image = *Image::create(2, 2);
    image.setPixel(-1, 0, 0xFFFFFFFF);
    image.setPixel(2, 1, 0xFFFFFFFF);
    image.setPixel(0, 2, 0xFFFFFFFF);
    EXPECT_EQ(image, *Image::create(2, 2));
    EXPECT_EQ(image.pixel(5, 5), 0U);
    EXPECT_EQ(image.pixel(0, -1), 0U);
}

// Premultiplied values survive the trip through PNG's straight alpha when
// each channel is 0, the alpha, or a full channel at full alpha.
TEST(Image, PngRoundTripKeepsPremultipliedPixels) {
    for (const auto& [a, b] : std::vector<std::pair<std::uint32_t, std::uint32_t>>{
             {0xFF102030, 0xFFFFFFFF},  // opaque: may be written without alpha
             {0x80800000, 0x00000000},  // half-transparent red and transparent
         }) {
        const Image original = checkerboard(5, 3, a, b);
        const auto png = original.pngData();
        ASSERT_TRUE(png.has_value());
        const auto decoded = Image::fromPngData(*png, 2.0);
        ASSERT_TRUE(decoded.has_value());
        EXPECT_EQ(*decoded, original) << std::hex << a << " " << b;
    }
}

TEST(Image, DecodingTakesTheScaleGiven) {
    const auto png = checkerboard(1, 1, 0xFF000000, 0).pngData();
    ASSERT_TRUE(png.has_value());
    EXPECT_EQ(Image::fromPngData(*png)->scale(), 1.0);
    EXPECT_EQ(Image::fromPngData(*png, 3.0)->scale(), 3.0);
}

TEST(Image, BytesThatAreNoCompletePngGiveNoImage) {
    const auto png = *checkerboard(4, 4, 0xFF0000FF, 0xFF00FF00).pngData();
    std::vector<std::byte> truncated(png.begin(), png.begin() + static_cast<std::ptrdiff_t>(png.size() / 2));
    std::vector<std::byte> badCrc = png;
    badCrc[30] ^= std::byte{0x5A};  // the header chunk's checksum
    const std::vector<std::pair<std::string, std::vector<std::byte>>> cases{
        {"empty", {}},
        {"text", bytesOf("not an image at all")},
        {"signature only", bytesOf("\x89PNG\r\n\x1a\n")},
        {"truncated", truncated},
        {"corrupt header", badCrc},
    };
    for (const auto& [name, bytes] : cases) EXPECT_FALSE(Image::fromPngData(bytes).has_value()) << name;
}

}  // namespace
}  // namespace ambrell::platform
