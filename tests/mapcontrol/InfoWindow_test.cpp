#include <cmath>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "data/CVLocationInternal.h"
#include "mapcontrol/DefaultInfoWindowGenerator.h"
#include "mapcontrol/InfoWindowUtils.h"
#include "platform/Label.h"
#include "platform/SystemColors.h"
#include "platform/Text.h"
#include "platform/ViewRenderer.h"
#include "tests/support/GoldenImage.h"

namespace ambrell::info_window_test {
namespace {

using platform::CGRect;
using platform::CGSize;
using platform::SystemColors;

const double kPointer = 6 * std::sqrt(3.0);

// What the default window measures a name to: the 14-point system font
// wrapped at 200 points, rounded up.
CGSize measuredName(const std::string& name) {
    const auto size = platform::measureText(name, platform::Font::systemFont(14), 200);
    return {std::ceil(size.width), std::ceil(size.height)};
}

std::shared_ptr<platform::View> boxOf(const platform::View& window) {
    EXPECT_EQ(window.subviews().size(), 1U);
    return window.subviews().empty() ? nullptr : window.subviews().front();
}

std::shared_ptr<platform::Label> labelOf(const platform::View& box) {
    EXPECT_EQ(box.subviews().size(), 1U);
    return box.subviews().empty() ? nullptr : std::dynamic_pointer_cast<platform::Label>(box.subviews().front());
}

std::shared_ptr<platform::ShapeLayer> pointerOf(const platform::View& box) {
    for (const auto& layer : box.layer()->sublayers()) {
        if (layer->name() == "triangle") return std::dynamic_pointer_cast<platform::ShapeLayer>(layer);
    }
    return nullptr;
}

std::shared_ptr<platform::View> windowFor(const std::string& name) {
    DefaultInfoWindowGenerator generator;
    return generator.infoWindowForLocation(CVLocationInternal(CVPoint(55, 12), name));
}

TEST(InfoWindow, AOneLineNameGivesABoxTenWiderAndAtLeast35High) {
    const std::string name = "Meeting room 1";
    const auto measured = measuredName(name);
    ASSERT_GT(measured.width, 0);
    ASSERT_LT(measured.height, 35);

    const auto window = windowFor(name);
    const auto box = boxOf(*window);
    ASSERT_TRUE(box);
    EXPECT_EQ(box->frame(), (CGRect{{0, 0}, {measured.width + 10, 35}}));
    EXPECT_EQ(window->frame(), (CGRect{{0, 0}, {measured.width + 10, 35 + kPointer}}));
    EXPECT_DOUBLE_EQ(InfoWindowUtils::kPointerHeight, kPointer);

    const auto label = labelOf(*box);
    ASSERT_TRUE(label);
    EXPECT_EQ(label->text(), name);
    EXPECT_EQ(label->frame(), box->bounds());
    EXPECT_EQ(label->numberOfLines(), 0);
    EXPECT_EQ(label->textAlignment(), platform::TextAlignment::Center);
    EXPECT_EQ(label->font(), platform::Font::systemFont(14));
    EXPECT_EQ(label->textColor(), SystemColors::black());
    EXPECT_EQ(box->backgroundColor(), SystemColors::white());
}

TEST(InfoWindow, ALongNameWrapsAt200PointsIntoATallerBox) {
    const std::string name =
        "The large conference room on the north side of the third floor, next to the kitchen and the stairs";
    const auto measured = measuredName(name);
    ASSERT_GT(measured.height, 35);

    const auto box = boxOf(*windowFor(name));
    ASSERT_TRUE(box);
    EXPECT_EQ(box->frame().size.height, measured.height);
    EXPECT_EQ(box->frame().size.width, measured.width + 10);
    EXPECT_LE(box->frame().size.width, 210);
    EXPECT_GT(box->frame().size.width, 150);
}

TEST(InfoWindow, ALocationWithoutANameGetsAnEmptyLabelInASmallBox) {
    const auto window = windowFor("");
    const auto box = boxOf(*window);
    ASSERT_TRUE(box);
    EXPECT_EQ(box->frame().size, (CGSize{10, 35}));
    const auto label = labelOf(*box);
    ASSERT_TRUE(label);
    EXPECT_EQ(label->text(), std::string());
}

TEST(InfoWindow, BoxSizeMeasuresMissingTextAsEmptyAndRoundsUp) {
    EXPECT_EQ(InfoWindowUtils::boxSize(std::nullopt, 200, 1000), InfoWindowUtils::boxSize(std::string(), 200, 1000));
    EXPECT_EQ(InfoWindowUtils::boxSize(std::nullopt, 200, 1000), (CGSize{0, 0}));

    const auto exact = platform::measureText("Kitchen", platform::Font::systemFont(14));
    const auto box = InfoWindowUtils::boxSize(std::string("Kitchen"), 200, 1000);
    EXPECT_EQ(box.width, std::ceil(exact.width));
    EXPECT_EQ(box.height, std::ceil(exact.height));
    // The height bound holds a long text.
    const auto held = InfoWindowUtils::boxSize(std::string(400, 'x'), 200, 20);
    EXPECT_EQ(held.height, 20);
    EXPECT_LE(held.width, 200);
}

TEST(InfoWindow, TheBoxIsNeverLowerThan35) {
    struct Row {
        std::int64_t boxHeight;
        double drawn;
    };
    for (const auto& row : {Row{20, 35}, Row{35, 35}, Row{50, 50}, Row{-5, 35}}) {
        const auto window = InfoWindowUtils::infoWindowView(std::string("A"), SystemColors::white(),
                                                            SystemColors::black(), row.boxHeight, 80);
        const auto box = boxOf(*window);
        ASSERT_TRUE(box);
        EXPECT_EQ(box->frame().size, (CGSize{80, row.drawn})) << row.boxHeight;
        EXPECT_EQ(window->frame().size.height, row.drawn + kPointer) << row.boxHeight;
        const auto pointer = pointerOf(*box);
        ASSERT_TRUE(pointer);
        EXPECT_EQ(pointer->position(), (platform::CGPoint{40, row.drawn + kPointer}));
    }
    const auto negative =
        InfoWindowUtils::infoWindowView(std::nullopt, SystemColors::white(), SystemColors::black(), 40, -3);
    EXPECT_EQ(negative->frame().size.width, 0);
    EXPECT_FALSE(labelOf(*boxOf(*negative))->text().has_value());
}

TEST(InfoWindow, TheCalloutCarriesItsStyle) {
    const platform::Color blue{0, 0, 1, 1};
    const platform::Color red{1, 0, 0, 1};
    const auto window = InfoWindowUtils::infoWindowView(std::string("Lab"), blue, red, 40, 90);
    EXPECT_DOUBLE_EQ(window->layer()->shadowOpacity(), 0.1);
    EXPECT_EQ(window->layer()->shadowOffset(), (CGSize{0, 1}));
    const auto box = boxOf(*window);
    ASSERT_TRUE(box);
    EXPECT_EQ(box->backgroundColor(), blue);
    EXPECT_EQ(box->layer()->cornerRadius(), 6);
    EXPECT_FALSE(box->clipsToBounds());
    EXPECT_FALSE(box->isOpaque());
    EXPECT_EQ(box->layoutMargins(), (platform::EdgeInsets{100, 100, 100, 100}));
    EXPECT_EQ(labelOf(*box)->textColor(), red);

    // The pointer is white whatever the box's colour, its tip below the box.
    const auto pointer = pointerOf(*box);
    ASSERT_TRUE(pointer);
    EXPECT_EQ(pointer->fillColor(), SystemColors::white());
    EXPECT_EQ(pointer->anchorPoint(), (platform::CGPoint{0, 0}));
    ASSERT_TRUE(pointer->path().has_value());
    ASSERT_EQ(pointer->path()->figures().size(), 1U);
    const auto& figure = pointer->path()->figures().front();
    EXPECT_TRUE(figure.closed);
    EXPECT_EQ(figure.points, (std::vector<platform::CGPoint>{{0, 0}, {-12, -12}, {12, -12}}));
}

TEST(InfoWindow, DrawsTheBoxAndTheWhitePointer) {
    const auto window =
        InfoWindowUtils::infoWindowView(std::string("Lab"), platform::Color{0, 0, 1, 1}, SystemColors::white(), 40, 90);
    const auto image = platform::renderView(*window, 1);
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->width(), 90);
    EXPECT_EQ(image->height(), static_cast<int>(std::ceil(40 + kPointer)));
    EXPECT_EQ(image->pixel(10, 20), 0xFF0000FFU);  // the box, blue
    EXPECT_EQ(image->pixel(0, 0), 0U);             // the rounded corner
    EXPECT_EQ(image->pixel(45, 46), 0xFFFFFFFFU);  // inside the pointer, under the box
    EXPECT_EQ(image->pixel(20, 46), 0U);           // beside the pointer
}

TEST(InfoWindow, MatchesTheGoldenImage) {
    const auto window = windowFor("Meeting room 1");
    const auto image = platform::renderView(*window, 2);
    ASSERT_TRUE(image.has_value());
    test::expectMatchesGolden(*image, "tests/mapcontrol/golden/info-window.png");
}

}  // namespace
}  // namespace ambrell::info_window_test
