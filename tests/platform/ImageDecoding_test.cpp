#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Image.h"
#include "platform/ImageFormat.h"
#include "tests/support/EncodedImages.h"

namespace ambrell::platform {
namespace {

using test::animatedWebpFile;
using test::gifFile;
using test::jpegFile;
using test::webpFile;
using namespace std::string_literals;

std::span<const std::byte> bytesOf(const std::string& text) { return std::as_bytes(std::span(text)); }

std::string pngFile(int width, int height, std::uint32_t argb) {
    auto image = *Image::create(width, height);
    for (auto& pixel : image.pixels()) pixel = argb;
    const auto png = *image.pngData();
    return {reinterpret_cast<const char*>(png.data()), png.size()};
}

// Whether every channel is within `tolerance` steps.
bool near(std::uint32_t actual, std::uint32_t expected, int tolerance) {
    for (int shift = 0; shift < 32; shift += 8) {
        const int difference =
            static_cast<int>((actual >> shift) & 0xFF) - static_cast<int>((expected >> shift) & 0xFF);
        if (std::abs(difference) > tolerance) return false;
    }
    return true;
}

TEST(ImageFormat, SignaturesNameTheFormat) {
    const std::vector<std::pair<std::string, ImageFormat>> cases{
        {pngFile(1, 1, 0), ImageFormat::png},
        {"\xFF\xD8\xFF\xE0", ImageFormat::jpeg},
        {"RIFF\x10\0\0\0WEBPVP8 "s, ImageFormat::webp},
        {"GIF87a", ImageFormat::gif},
        {"<svg xmlns=\"http://www.w3.org/2000/svg\"/>", ImageFormat::svg},
        {"\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<!-- made by hand -->\n<!DOCTYPE svg [<!ENTITY a \"<b>\">]>\n<svg>",
         ImageFormat::svg},
        {"\0\0\0\x18"
         "ftypavif\0\0\0\0mif1avif"s,
         ImageFormat::avif},
        {"\0\0\0\x18"
         "ftypmif1\0\0\0\0avifmiaf"s,
         ImageFormat::avif},
        {"\0\0\0\x18"
         "ftypheic\0\0\0\0mif1heic"s,
         ImageFormat::heic},
        {"II*\0"s, ImageFormat::tiff},
        {"MM\0*"s, ImageFormat::tiff},
        {"BM\x46\0\0\0\0\0\0\0\x36\0\0\0\x28\0\0\0"s, ImageFormat::bmp},
        {"\0\0\1\0\1\0"s, ImageFormat::ico},
        // Not images: a page, other XML, text and containers that start alike.
        {"<!DOCTYPE html><html><body>Sign in</body></html>", ImageFormat::none},
        {"<?xml version=\"1.0\"?><rss><svg/></rss>", ImageFormat::none},
        {"<svgs/>", ImageFormat::none},
        {"BMW of the year", ImageFormat::none},
        {"\0\0\0\x14"
         "ftypisom\0\0\0\0mp41"s,
         ImageFormat::none},
        {"", ImageFormat::none},
    };
    for (const auto& [bytes, format] : cases) EXPECT_EQ(imageFormatOf(bytesOf(bytes)), format) << bytes;
}

TEST(ImageDecoding, EachFormatDecodesToItsSizeAndColour) {
    const struct {
        std::string name, file;
        int width, height;
        std::uint32_t pixel;  // premultiplied
        int tolerance;
    } cases[] = {
        {"PNG", pngFile(5, 3, 0xFF3A7BC8), 5, 3, 0xFF3A7BC8, 0},
        // Edges that are no multiple of a JPEG block or of a WebP macroblock.
        {"JPEG", jpegFile(17, 9, 0xFF3A7BC8), 17, 9, 0xFF3A7BC8, 3},
        {"WebP", webpFile(17, 9, 0xFF3A7BC8), 17, 9, 0xFF3A7BC8, 3},
        {"WebP, half transparent", webpFile(17, 9, 0x803A7BC8), 17, 9, 0x801D3E64, 3},
        {"animated WebP, its first frame", animatedWebpFile(6, 4, {0xFF00C000, 0xFFC00000}), 6, 4, 0xFF00C000, 0},
        {"GIF, its first frame", gifFile(6, 4, {0xFF3A7BC8, 0xFFC00000}), 6, 4, 0xFF3A7BC8, 0},
    };
    for (const auto& c : cases) {
        const auto image = Image::fromData(bytesOf(c.file), 2.0);
        ASSERT_TRUE(image) << c.name;
        EXPECT_EQ(image->width(), c.width) << c.name;
        EXPECT_EQ(image->height(), c.height) << c.name;
        EXPECT_EQ(image->scale(), 2.0) << c.name;
        for (const auto pixel : image->pixels()) {
            ASSERT_TRUE(near(pixel, c.pixel, c.tolerance)) << c.name << std::hex << ": " << pixel;
        }
    }
}

// An interlaced GIF's rows come in four passes, and each must land on its own row.
TEST(ImageDecoding, AGifsRowsLandWhereTheyBelongInterlacedOrNot) {
    const std::vector<std::uint32_t> stripes{0xFF3A7BC8, 0xFFC00000, 0xFF00C000};
    for (const bool interlaced : {false, true}) {
        const auto image = Image::fromData(bytesOf(test::gifStripes(3, 11, stripes, interlaced)));
        ASSERT_TRUE(image) << interlaced;
        for (int y = 0; y < 11; ++y) {
            for (int x = 0; x < 3; ++x) {
                EXPECT_EQ(image->pixel(x, y), stripes[static_cast<std::size_t>(y) % stripes.size()])
                    << "interlaced " << interlaced << " at " << x << ", " << y;
            }
        }
    }
}

// libjpeg fills a cut JPEG with grey and only warns; a cut WebP or GIF leaves
// the rest of the frame blank: each must answer no image at all.
TEST(ImageDecoding, AFileCutShortOrDamagedDoesNotDecode) {
    auto cut = [](std::string file) { return file.substr(0, file.size() / 2); };
    auto damaged = [](std::string file, std::string_view find, std::size_t offset, char value) {
        file.at(file.find(find) + offset) = value;
        return file;
    };
    const auto jpeg = jpegFile(64, 64, 0xFF3A7BC8);
    const auto webp = webpFile(64, 64, 0xFF3A7BC8);
    const auto gif = gifFile(64, 64, {0xFF3A7BC8, 0xFFC00000});
    const std::vector<std::pair<std::string, std::string>> cases{
        {"JPEG cut", cut(jpeg)},
        // Cut, yet ending as a complete JPEG does.
        {"JPEG cut before its end marker", cut(jpeg) + "\xFF\xD9"},
        {"JPEG without its frame header", damaged(jpeg, "\xFF\xC0", 1, '\x01')},
        {"WebP cut", cut(webp)},
        {"WebP whose frame lost its start code", damaged(webp, "\x9D\x01\x2A", 0, '\0')},
        {"animated WebP cut", cut(animatedWebpFile(64, 64, {0xFF00C000, 0xFFC00000}))},
        {"GIF cut in its last frame", gif.substr(0, gif.size() - 8)},
        // The image descriptor's LZW code size: no GIF has one of 15 bits.
        {"GIF whose frame has a bad code size", damaged(gif, ",", 10, '\x0F')},
        {"GIF signature alone", "GIF89a"},
        // A screen of 64 by 64 with a colour table of two, and the trailer at once.
        {"GIF with no frame", std::string("GIF89a"
                                          "\x40\x00\x40\x00\x80\x00\x00"
                                          "\x00\x00\x00\xFF\xFF\xFF"
                                          ";",
                                          20)},
    };
    for (const auto& [name, file] : cases) EXPECT_FALSE(Image::fromData(bytesOf(file))) << name;
}

}  // namespace
}  // namespace ambrell::platform
