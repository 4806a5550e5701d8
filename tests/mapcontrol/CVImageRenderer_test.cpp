#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include <memory>
#include <string>

#include "Ambrell/CVBundleImage.h"
#include "mapcontrol/CVImageRenderer.h"
#include "mapcontrol/CVMapRouteLegButton.h"
#include "platform/Screen.h"
#include "platform/SystemColors.h"
#include "platform/Text.h"
#include "tests/support/GoldenImage.h"

namespace ambrell::image_renderer_test {
namespace {

std::shared_ptr<const platform::Image> blankImage(int width, int height, double scale) {
    auto image = platform::Image::create(width, height, scale).value();
    for (auto& pixel : image.pixels()) pixel = 0xFF336699;
    return std::make_shared<const platform::Image>(std::move(image));
}

double widthInPoints(const platform::Image& image) { return image.width() / image.scale(); }
double heightInPoints(const platform::Image& image) { return image.height() / image.scale(); }

class ImageRendererTest : public testing::Test {
protected:
    void SetUp() override { platform::Screen::setScale(2); }
};

TEST_F(ImageRendererTest, LayersOfNoSizeGiveNoImage) {
    platform::View view(CGRect{{0, 0}, {0, 0}});
    view.setBackgroundColor(platform::SystemColors::black());
    EXPECT_EQ(CVImageRenderer::imageWithView(view), nullptr);
    EXPECT_EQ(CVImageRenderer::imageWithSize(CGSize{0, 0}, false, *view.layer()), nullptr);

    // One side of 0 still draws.
    const auto thin = CVImageRenderer::imageWithSize(CGSize{0, 10}, false, *view.layer());
    ASSERT_NE(thin, nullptr);
    EXPECT_EQ(thin->height(), 20);

    view.setFrame(CGRect{{0, 0}, {3, 4}});
    const auto drawn = CVImageRenderer::imageWithView(view);
    ASSERT_NE(drawn, nullptr);
    EXPECT_EQ(drawn->scale(), 2.0);
    EXPECT_EQ(drawn->width(), 6);
    EXPECT_EQ(drawn->height(), 8);
    EXPECT_EQ(drawn->pixel(3, 3), 0xFF000000u);
}

TEST_F(ImageRendererTest, LargeIconsAreShownAtAHigherScale) {
    struct Case {
        int pixelWidth;
        double scale;
        double expectedScale;
    };
    const Case cases[] = {
        {32, 1, 1},   // 32 points: unchanged
        {40, 1, 2},   // 40 points: scale 2, 20 points wide
        {60, 1, 3},   // 60 points: scale 3, 20 points wide
        {104, 2, 2},  // 52 points: not wider than 52
        {106, 2, 3},
    };
    for (const auto& [pixelWidth, scale, expectedScale] : cases) {
        SCOPED_TRACE(pixelWidth);
        const auto image = blankImage(pixelWidth, 10, scale);
        const auto shown = CVImageRenderer::scaledIconFromImage(image);
        ASSERT_NE(shown, nullptr);
        EXPECT_EQ(shown->scale(), expectedScale);
        EXPECT_EQ(shown->width(), pixelWidth);
        EXPECT_EQ(shown->height(), 10);
        EXPECT_TRUE(std::equal(shown->pixels().begin(), shown->pixels().end(), image->pixels().begin()));
        // Only an icon of 32 points or less is the very image.
        EXPECT_EQ(shown == image, pixelWidth / scale <= 32);
    }
    EXPECT_EQ(widthInPoints(*CVImageRenderer::scaledIconFromImage(blankImage(40, 10, 1))), 20);
    EXPECT_EQ(widthInPoints(*CVImageRenderer::scaledIconFromImage(blankImage(60, 10, 1))), 20);
    EXPECT_EQ(CVImageRenderer::scaledIconFromImage(nullptr), nullptr);
}

TEST_F(ImageRendererTest, ResizingWithinAPointKeepsTheImage) {
    // 20.4 x 19.7 points.
    const auto near = blankImage(204, 197, 10);
    EXPECT_EQ(CVImageRenderer::imageResize(near, CGSize{20, 20}), near);

    const auto wide = blankImage(21, 20, 1);
    const auto resized = CVImageRenderer::imageResize(wide, CGSize{20, 20});
    ASSERT_NE(resized, nullptr);
    EXPECT_NE(resized, wide);
    EXPECT_EQ(widthInPoints(*resized), 20);
    EXPECT_EQ(heightInPoints(*resized), 20);
    EXPECT_EQ(resized->scale(), 2.0);

    // Sizes no image can have leave it as it is.
    EXPECT_EQ(CVImageRenderer::imageResize(wide, CGSize{-5, 20}), wide);
    EXPECT_EQ(CVImageRenderer::imageResize(wide, CGSize{1e12, 20}), wide);
    EXPECT_EQ(CVImageRenderer::imageResize(nullptr, CGSize{20, 20}), nullptr);
}

TEST_F(ImageRendererTest, ARouteLegButtonStartsAsAWhiteRoundedSquare) {
    const CVMapRouteLegButton button;
    EXPECT_EQ(button.frame(), (CGRect{{0, 0}, {20, 20}}));
    EXPECT_EQ(button.imageView()->frame(), (CGRect{{0, 0}, {20, 20}}));
    EXPECT_EQ(button.layer()->cornerRadius(), 10);
    EXPECT_EQ(button.backgroundColor(), platform::SystemColors::white());
    EXPECT_EQ(button.contentHorizontalAlignment(), platform::ContentHorizontalAlignment::Left);
    EXPECT_EQ(button.titleLabel()->font(), platform::Font::systemFont(11));
    EXPECT_EQ(button.titleColorForState(platform::ControlState::Normal), platform::SystemColors::gray());

    // Any frame given ends at 20 x 20.
    const CVMapRouteLegButton framed(CGRect{{5, 5}, {100, 50}});
    EXPECT_EQ(framed.frame(), (CGRect{{0, 0}, {20, 20}}));
}

TEST_F(ImageRendererTest, ARouteLegButtonSizesItselfToItsTitle) {
    CVMapRouteLegButton button;
    const std::string title = "Level 2 → Level 3";
    button.setTitle(title, platform::ControlState::Normal);
    const auto measured = platform::measureText(title, platform::Font::systemFont(11));
    EXPECT_EQ(button.frame(), (CGRect{{0, 0}, {measured.width + 40, 20}}));
    EXPECT_EQ(button.titleEdgeInsets(), (platform::EdgeInsets{0, 6, 0, 6}));
    EXPECT_EQ(button.titleForState(platform::ControlState::Normal), title);

    // Taller text than 20 points sets the height.
    button.setTitle("One\nTwo", platform::ControlState::Normal);
    const auto twoLines = platform::measureText("One\nTwo", platform::Font::systemFont(11));
    ASSERT_GT(twoLines.height, 20);
    EXPECT_EQ(button.frame().size, (CGSize{twoLines.width + 40, twoLines.height}));

    button.setTitle("", platform::ControlState::Normal);
    EXPECT_EQ(button.frame(), (CGRect{{0, 0}, {20, 20}}));
    button.setTitle(std::nullopt, platform::ControlState::Normal);
    EXPECT_EQ(button.frame(), (CGRect{{0, 0}, {20, 20}}));
}

TEST_F(ImageRendererTest, ARouteLegButtonShowsItsImageAtTwentyPoints) {
    CVMapRouteLegButton button;
    button.setImage(*blankImage(40, 40, 1), platform::ControlState::Normal);
    const auto image = button.imageForState(platform::ControlState::Normal);
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(widthInPoints(*image), 20);
    EXPECT_EQ(heightInPoints(*image), 20);
    EXPECT_EQ(button.imageEdgeInsets(), platform::EdgeInsets{});
    EXPECT_EQ(button.imageView()->contentMode(), platform::ContentMode::ScaleAspectFit);

    // Already 20 points (at scale 2): kept as it is.
    const auto next = bundleImage("next");
    button.setImage(*next, platform::ControlState::Normal);
    EXPECT_EQ(*button.imageForState(platform::ControlState::Normal), *next);
}

TEST_F(ImageRendererTest, ARouteLegButtonDrawsAsItsGolden) {
    const auto image = CVMapRouteLegButton::markerImage(bundleImage("steps"), "Level 1 → Level 2");
    ASSERT_NE(image, nullptr);
    const auto measured = platform::measureText("Level 1 → Level 2", platform::Font::systemFont(11));
    EXPECT_EQ(image->width(), static_cast<int>(std::ceil((measured.width + 40) * 2 - 1e-9)));
    EXPECT_EQ(image->height(), 40);
    test::expectMatchesGolden(*image, "tests/mapcontrol/golden/route-leg-button.png");

    // Drawn once for the same icon, title and scale.
    const auto steps = bundleImage("steps");
    EXPECT_EQ(CVMapRouteLegButton::markerImage(steps, "Level 1 → Level 2"), image);
    const auto untitled = CVMapRouteLegButton::markerImage(steps, std::nullopt);
    ASSERT_NE(untitled, nullptr);
    EXPECT_NE(untitled, image);
    EXPECT_EQ(untitled->width(), 40);
    EXPECT_NE(CVMapRouteLegButton::markerImage(bundleImage("ladder"), "Level 1 → Level 2"), image);
    platform::Screen::setScale(3);
    const auto sharper = CVMapRouteLegButton::markerImage(steps, "Level 1 → Level 2");
    ASSERT_NE(sharper, nullptr);
    EXPECT_EQ(sharper->scale(), 3.0);
    EXPECT_EQ(sharper->height(), 60);

    // Without its icon a marker shows nothing.
    EXPECT_EQ(CVMapRouteLegButton::markerImage(nullptr, "Next"), nullptr);
}

}  // namespace
}  // namespace ambrell::image_renderer_test
