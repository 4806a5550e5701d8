#include "GoldenImage.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <span>

#include "TempDirectory.h"
#include "platform/FileSystem.h"

namespace ambrell::golden_image_test {
namespace {

using platform::Image;

Image filled(int width, int height, std::uint32_t argb) {
    auto image = Image::create(width, height).value();
    for (auto& pixel : image.pixels()) pixel = argb;
    return image;
}

void writeGolden(const Image& image, const std::filesystem::path& path) {
    const auto png = image.pngData().value();
    ASSERT_FALSE(
        platform::writeFileAtomically(path, std::span(reinterpret_cast<const std::uint8_t*>(png.data()), png.size())));
}

class GoldenImage : public ::testing::Test {
protected:
    void SetUp() override { unsetenv("AMBRELL_UPDATE_GOLDEN"); }
    void TearDown() override { unsetenv("AMBRELL_UPDATE_GOLDEN"); }

    test::TempDirectory folder_{"golden-image"};
};

TEST_F(GoldenImage, ToleratesTwoStepsPerChannelAndOnePercentOfPixels) {
    const auto golden = folder_ / "grey.png";
    writeGolden(filled(10, 20, 0xFF808080), golden);
    test::expectMatchesGolden(filled(10, 20, 0xFF828082), golden);

    // 2 of 200 pixels (1 %) far off still pass; a third does not.
    auto image = filled(10, 20, 0xFF808080);
    image.setPixel(0, 0, 0xFFFF0000);
    image.setPixel(9, 19, 0xFF000000);
    test::expectMatchesGolden(image, golden);
    image.setPixel(3, 7, 0xFF838080);
    EXPECT_NONFATAL_FAILURE(test::expectMatchesGolden(image, golden), "3 of 200 pixels off");
    std::filesystem::remove(std::filesystem::current_path() / "golden-actual" / "grey.png");
}

TEST_F(GoldenImage, ComparesColoursWithAlphaDividedOut) {
    const auto golden = folder_ / "faint.png";
    // Half-transparent white, premultiplied: 0x80 of each colour.
    writeGolden(filled(4, 4, 0x80808080), golden);
    // The same colour at another alpha is off by its alpha alone.
    EXPECT_NONFATAL_FAILURE(test::expectMatchesGolden(filled(4, 4, 0x84848484), golden), "16 of 16");
    // Premultiplied bytes one step apart are two steps apart unpremultiplied.
    test::expectMatchesGolden(filled(4, 4, 0x807F807F), golden);
    std::filesystem::remove(std::filesystem::current_path() / "golden-actual" / "faint.png");
}

TEST_F(GoldenImage, AFailureWritesTheDrawnImageForALook) {
    const auto golden = folder_ / "square.png";
    writeGolden(filled(4, 4, 0xFF0000FF), golden);
    EXPECT_NONFATAL_FAILURE(test::expectMatchesGolden(filled(5, 4, 0xFF0000FF), golden),
                            "size 5x4 where the golden image has 4x4");
    const auto written = std::filesystem::current_path() / "golden-actual" / "square.png";
    const auto bytes = platform::readFile(written).value();
    EXPECT_EQ(Image::fromPngData(std::as_bytes(std::span(bytes))), filled(5, 4, 0xFF0000FF));
    std::filesystem::remove(written);

    EXPECT_NONFATAL_FAILURE(test::expectMatchesGolden(filled(1, 1, 0), folder_ / "missing.png"),
                            "AMBRELL_UPDATE_GOLDEN=1");
    std::filesystem::remove(std::filesystem::current_path() / "golden-actual" / "missing.png");
}

TEST_F(GoldenImage, TheUpdateSwitchRewritesTheGolden) {
    const auto golden = folder_ / "new" / "dot.png";
    setenv("AMBRELL_UPDATE_GOLDEN", "1", 1);
    test::expectMatchesGolden(filled(3, 2, 0xFF00FF00), golden);
    unsetenv("AMBRELL_UPDATE_GOLDEN");
    test::expectMatchesGolden(filled(3, 2, 0xFF00FF00), golden);
    EXPECT_NONFATAL_FAILURE(test::expectMatchesGolden(filled(3, 2, 0xFFFF0000), golden), "6 of 6");
    std::filesystem::remove(std::filesystem::current_path() / "golden-actual" / "dot.png");
}

}  // namespace
}  // namespace ambrell::golden_image_test
