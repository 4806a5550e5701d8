#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

#include "platform/Screen.h"
#include "tests/support/GoldenImage.h"
#include "viewmodels/CVClusterIconGenerator.h"

namespace ambrell::cluster_icon_generator_test {
namespace {

struct Rgba {
    double red;
    double green;
    double blue;
    double alpha;
};

// Unpremultiplied, each channel in [0, 1].
Rgba colourAt(const platform::Image& image, double xPoints, double yPoints) {
    const std::uint32_t pixel =
        image.pixel(static_cast<int>(xPoints * image.scale()), static_cast<int>(yPoints * image.scale()));
    const double alpha = (pixel >> 24 & 0xFF) / 255.0;
    if (alpha == 0) return {0, 0, 0, 0};
    return {(pixel >> 16 & 0xFF) / 255.0 / alpha, (pixel >> 8 & 0xFF) / 255.0 / alpha, (pixel & 0xFF) / 255.0 / alpha,
            alpha};
}

bool near(const Rgba& colour, double red, double green, double blue, double tolerance = 0.03) {
    return std::abs(colour.red - red) <= tolerance && std::abs(colour.green - green) <= tolerance &&
           std::abs(colour.blue - blue) <= tolerance;
}

// A blue square icon of 20 x 20 points, as a type rule's icon would be.
std::shared_ptr<const platform::Image> blueIcon(double scale) {
    const int side = static_cast<int>(20 * scale);
    auto image = platform::Image::create(side, side, scale).value();
    for (auto& pixel : image.pixels()) pixel = 0xFF2060C0;
    return std::make_shared<const platform::Image>(std::move(image));
}

// The size the cluster asks for with a 20 x 20 rule icon: 1.3 times it.
CVClusterIconGenerator generatorFor(std::int64_t count, double iconScale = 1) {
    return CVClusterIconGenerator(CGSize{26, 26}, count, platform::Color::fromRGBA(1, 0, 0), blueIcon(iconScale));
}

TEST(CVClusterIconGenerator, DrawsTheIconTheRingTheDiscAndTheCount) {
    for (const double scale : {1.0, 2.0}) {
        SCOPED_TRACE(scale);
        const auto image = generatorFor(12).generate(scale);
        ASSERT_NE(image, nullptr);
        // 1.2 x 26 = 31.2 points, a fraction of a pixel taking a whole one.
        EXPECT_EQ(image->width(), scale == 1 ? 32 : 63);
        EXPECT_EQ(image->height(), image->width());
        EXPECT_EQ(image->scale(), scale);

        // The location icon at the top left, stretched to 26 points.
        EXPECT_TRUE(near(colourAt(*image, 2, 24), 0x20 / 255.0, 0x60 / 255.0, 0xC0 / 255.0));
        // The disc of diameter 15.6 at (15.6, 3.12): red left of the digits.
        const auto disc = colourAt(*image, 15.6 + 2.5, 3.12 + 7.8);
        EXPECT_TRUE(near(disc, 1, 0, 0)) << disc.red << " " << disc.green << " " << disc.blue;
        EXPECT_EQ(disc.alpha, 1.0);
        // The white ring just above the disc's top, half a point wide over
        // the icon, so a pixel of it is whitened icon rather than red.
        const auto ring = colourAt(*image, 15.6 + 7.8, 3.12 - 0.3);
        EXPECT_GT(ring.red, 0x20 / 255.0 + 0.25) << ring.red << " " << ring.green << " " << ring.blue;
        EXPECT_GT(ring.green, 0x60 / 255.0 + 0.15);
        EXPECT_GT(ring.blue, 0xC0 / 255.0);
        // Nothing right of the disc's ring nor below the icon.
        EXPECT_EQ(colourAt(*image, 31, 31).alpha, 0);

        // White count pixels inside the disc.
        int white = 0;
        for (int y = static_cast<int>(3.12 * scale); y < static_cast<int>(18.72 * scale); ++y) {
            for (int x = static_cast<int>(15.6 * scale); x < static_cast<int>(31.2 * scale); ++x) {
                const auto colour = colourAt(*image, x / scale, y / scale);
                if (colour.alpha == 1 && near(colour, 1, 1, 1, 0.02)) ++white;
            }
        }
        EXPECT_GT(white, 4 * scale * scale);
    }
}

TEST(CVClusterIconGenerator, LongCountsStayWholeInsideTheDisc) {
    // The disc of diameter 15.6 at (15.6, 3.12) and its white ring half a
    // point wide.
    constexpr double centreX = 15.6 + 7.8;
    constexpr double centreY = 3.12 + 7.8;
    constexpr double ringRadius = 7.8 + 0.5;
    constexpr double scale = 2;
    for (const std::int64_t count : {123, 1234, 10000, 99999}) {
        SCOPED_TRACE(count);
        const auto image = generatorFor(count, scale).generate(scale);
        ASSERT_NE(image, nullptr);
        int spilled = 0;
        double leftmostWhite = centreX;
        double rightmostWhite = centreX;
        for (int y = 0; y < image->height(); ++y) {
            for (int x = 0; x < image->width(); ++x) {
                const double pointX = (x + 0.5) / scale;
                const double pointY = (y + 0.5) / scale;
                const auto colour = colourAt(*image, pointX, pointY);
                const double distance = std::hypot(pointX - centreX, pointY - centreY);
                // A pixel and a half beyond the ring there is only the blue
                // icon or nothing; white there is count spilled out.
                if (distance > ringRadius + 1.5 / scale) {
                    if (colour.alpha > 0.5 && !near(colour, 0x20 / 255.0, 0x60 / 255.0, 0xC0 / 255.0, 0.1)) ++spilled;
                } else if (distance < 7.8 && colour.alpha == 1 && near(colour, 1, 1, 1, 0.1)) {
                    leftmostWhite = std::min(leftmostWhite, pointX);
                    rightmostWhite = std::max(rightmostWhite, pointX);
                }
            }
        }
        EXPECT_EQ(spilled, 0);
        // Still across most of the disc, not shrunk to a dot.
        EXPECT_GT(rightmostWhite - leftmostWhite, 0.6 * 15.6);
    }
}

TEST(CVClusterIconGenerator, MatchesTheGoldenImages) {
    struct Case {
        std::int64_t count;
        double scale;
        const char* golden;
    };
    const Case cases[] = {
        {2, 1, "tests/viewmodels/golden/cluster-icon-2@1x.png"},
        {12, 1, "tests/viewmodels/golden/cluster-icon-12@1x.png"},
        {12, 2, "tests/viewmodels/golden/cluster-icon-12@2x.png"},
        {1234, 2, "tests/viewmodels/golden/cluster-icon-1234@2x.png"},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.golden);
        // The type icon at the screen's scale, as a rule icon would be.
        const auto image = generatorFor(testCase.count, testCase.scale).generate(testCase.scale);
        ASSERT_NE(image, nullptr);
        test::expectMatchesGolden(*image, testCase.golden);
    }
}

TEST(CVClusterIconGenerator, DrawsAtTheMainScreensScaleByDefault) {
    platform::Screen::setScale(3);
    const auto image = generatorFor(5).generate();
    platform::Screen::setScale(1);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->scale(), 3);
    EXPECT_EQ(image->width(), 94);
}

TEST(CVClusterIconGenerator, AnUnusableSizeDrawsNothing) {
    for (const CGSize size : {CGSize{0, 0}, CGSize{-4, 10}, CGSize{std::nan(""), 10}, CGSize{1e12, 1e12}}) {
        CVClusterIconGenerator generator(size, 3, platform::Color::fromRGBA(1, 0, 0), nullptr);
        EXPECT_EQ(generator.generate(1), nullptr) << size.width;
    }
    // Without a type icon the disc and count are still drawn.
    CVClusterIconGenerator bare(CGSize{26, 26}, 3, platform::Color::fromRGBA(1, 0, 0), nullptr);
    const auto image = bare.generate(1);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(colourAt(*image, 2, 24).alpha, 0);
    EXPECT_TRUE(near(colourAt(*image, 18, 11), 1, 0, 0));
}

}  // namespace
}  // namespace ambrell::cluster_icon_generator_test
