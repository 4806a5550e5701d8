#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Button.h"
#include "platform/ImageView.h"
#include "platform/Label.h"
#include "platform/Layer.h"
#include "platform/ScrollView.h"
#include "platform/SystemColors.h"
#include "platform/Text.h"
#include "platform/View.h"
#include "platform/ViewRenderer.h"

namespace ambrell::platform::views_test {
namespace {

std::uint32_t alphaOf(std::uint32_t pixel) { return pixel >> 24; }

TEST(Views, FramesFollowPositionAndAnchorPoint) {
    Layer layer;
    layer.setFrame({{10, 20}, {30, 40}});
    EXPECT_EQ(layer.position(), (CGPoint{25, 40}));
    EXPECT_EQ(layer.bounds().size, (CGSize{30, 40}));
    layer.setAnchorPoint({0, 0});
    EXPECT_EQ(layer.frame().origin, (CGPoint{25, 40}));
    layer.setFrame({{1, 2}, {3, 4}});
    EXPECT_EQ(layer.position(), (CGPoint{1, 2}));

    View view({{5, 6}, {7, 8}});
    EXPECT_EQ(view.frame(), (CGRect{{5, 6}, {7, 8}}));
    EXPECT_EQ(view.bounds(), (CGRect{{0, 0}, {7, 8}}));
}

TEST(Views, SubviewsMirrorIntoSublayersAndMoveBetweenParents) {
    auto parent = std::make_shared<View>();
    auto other = std::make_shared<View>();
    auto child = std::make_shared<View>();
    parent->addSubview(child);
    EXPECT_EQ(child->superview(), parent);
    EXPECT_EQ(parent->layer()->sublayers().back(), child->layer());
    EXPECT_EQ(child->layer()->superlayer(), parent->layer());
    EXPECT_EQ(child->layer()->delegate(), child.get());

    other->addSubview(child);
    EXPECT_TRUE(parent->subviews().empty());
    EXPECT_TRUE(parent->layer()->sublayers().empty());
    EXPECT_EQ(child->superview(), other);

    // No cycles.
    child->addSubview(other);
    child->addSubview(child);
    EXPECT_TRUE(child->subviews().empty());

    child->removeFromSuperview();
    EXPECT_EQ(child->superview(), nullptr);
    EXPECT_TRUE(other->subviews().empty());

    // A subview outlives its parent without a dangling link.
    other->addSubview(child);
    other.reset();
    EXPECT_EQ(child->superview(), nullptr);
    EXPECT_EQ(child->layer()->superlayer(), nullptr);
}

struct CountingView : View {
    int layouts = 0;
    int moves = 0;
    void layoutSubviews() override { ++layouts; }
    void didMoveToSuperview() override { ++moves; }
};

TEST(Views, LayoutRunsWhenAskedAndOnlyOnce) {
    auto parent = std::make_shared<CountingView>();
    auto child = std::make_shared<CountingView>();
    parent->addSubview(child);
    EXPECT_EQ(child->moves, 1);
    parent->layoutIfNeeded();
    parent->layoutIfNeeded();
    EXPECT_EQ(parent->layouts, 1);
    EXPECT_EQ(child->layouts, 1);
    child->setFrame({{0, 0}, {10, 10}});
    child->setFrame({{5, 5}, {10, 10}});  // moved, not resized
    parent->layoutIfNeeded();
    EXPECT_EQ(child->layouts, 2);
    EXPECT_EQ(parent->layouts, 1);
    child->invalidateIntrinsicContentSize();
    parent->layoutIfNeeded();
    EXPECT_EQ(parent->layouts, 2);
    child->removeFromSuperview();
    EXPECT_EQ(child->moves, 2);
}

TEST(Views, ConstraintsAreRecordsTheViewsHold) {
    auto view = std::make_shared<View>();
    auto other = std::make_shared<View>();
    auto width = LayoutConstraint::equal(view, LayoutAttribute::Width, other, LayoutAttribute::Width, -2);
    width->priority = LayoutPriority::defaultHigh;
    view->addConstraint(width);
    view->addConstraint(width);
    view->addConstraint(nullptr);
    ASSERT_EQ(view->constraints().size(), 1U);
    EXPECT_EQ(width->firstItem.lock(), view);
    EXPECT_EQ(width->secondItem.lock(), other);
    EXPECT_EQ(width->constant, -2);
    EXPECT_EQ(width->multiplier, 1);
    EXPECT_EQ(width->relation, LayoutRelation::Equal);
    const auto height = LayoutConstraint::equalToConstant(view, LayoutAttribute::Height, 40);
    EXPECT_TRUE(height->secondItem.expired());
    EXPECT_EQ(height->secondAttribute, LayoutAttribute::NotAnAttribute);
    view->removeConstraint(width);
    view->removeConstraint(height);  // never added
    EXPECT_TRUE(view->constraints().empty());
}

TEST(Views, ButtonsKeepAValuePerStateAndFallBackToNormal) {
    auto button = std::make_shared<Button>();
    EXPECT_EQ(button->currentTitleColor(), SystemColors::white());
    EXPECT_EQ(std::make_shared<Button>(ButtonType::System)->currentTitleColor(), (Color{0, 122.0 / 255.0, 1, 1}));
    button->setTitle("Normal", ControlState::Normal);
    button->setTitle("Chosen", ControlState::Selected);
    button->setTitleColor(Color{1, 0, 0, 1}, ControlState::Normal);
    EXPECT_EQ(button->titleLabel()->text(), "Normal");
    button->setSelected(true);
    EXPECT_EQ(button->state(), ControlState::Selected);
    EXPECT_EQ(button->currentTitle(), "Chosen");
    EXPECT_EQ(button->titleLabel()->text(), "Chosen");
    EXPECT_EQ(button->currentTitleColor(), (Color{1, 0, 0, 1}));
    button->setTitle(std::nullopt, ControlState::Selected);
    EXPECT_EQ(button->currentTitle(), "Normal");

    auto image = Image::create(4, 4, 2);
    ASSERT_TRUE(image);
    EXPECT_TRUE(button->imageView()->isHidden());
    button->setImage(*image, ControlState::Normal);
    EXPECT_EQ(button->currentImage(), image);
    EXPECT_FALSE(button->imageView()->isHidden());
}

TEST(Views, ActionsRunOnTheirEventWhileEnabled) {
    auto button = std::make_shared<Button>();
    std::vector<std::string> calls;
    button->addTarget(ControlEvent::TouchUpInside, [&](Control& sender) {
        EXPECT_EQ(&sender, button.get());
        calls.emplace_back("first");
    });
    button->addTarget(ControlEvent::TouchUpInside, [&](Control&) { calls.emplace_back("second"); });
    button->addTarget(ControlEvent::ValueChanged, [&](Control&) { calls.emplace_back("value"); });
    button->sendActions(ControlEvent::TouchUpInside);
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "second"}));
    button->setEnabled(false);
    button->sendActions(ControlEvent::TouchUpInside);
    EXPECT_EQ(calls.size(), 2U);
    // An action may drop the last other reference to its button.
    button->setEnabled(true);
    button->removeAllTargets();
    button->addTarget(ControlEvent::TouchUpInside, [&](Control&) { button.reset(); });
    auto* raw = button.get();
    raw->sendActions(ControlEvent::TouchUpInside);
    EXPECT_EQ(button, nullptr);
}

TEST(Views, ButtonContentSitsAfterItsInsets) {
    auto button = std::make_shared<Button>(ButtonType::Custom, CGRect{{0, 0}, {200, 20}});
    button->setTitle("Exit", ControlState::Normal);
    auto image = Image::create(20, 20);
    ASSERT_TRUE(image);
    button->setImage(*image, ControlState::Normal);
    button->setContentHorizontalAlignment(ContentHorizontalAlignment::Left);
    button->setTitleEdgeInsets({0, 6, 0, 6});
    button->layoutIfNeeded();
    EXPECT_EQ(button->imageView()->frame(), (CGRect{{0, 0}, {20, 20}}));
    const double titleWidth = measureText("Exit", button->titleLabel()->font()).width;
    EXPECT_DOUBLE_EQ(button->titleLabel()->frame().origin.x, 26);
    EXPECT_DOUBLE_EQ(button->titleLabel()->frame().size.width, titleWidth);

    button->setContentHorizontalAlignment(ContentHorizontalAlignment::Center);
    button->layoutIfNeeded();
    const double group = 20 + 6 + titleWidth + 6;
    EXPECT_DOUBLE_EQ(button->imageView()->frame().origin.x, (200 - group) / 2);
}

TEST(Views, ScrollingMovesTheBoundsAndTellsTheDelegate) {
    struct Listener : ScrollViewDelegate {
        std::vector<double> offsets;
        void scrollViewDidScroll(ScrollView& view) override { offsets.push_back(view.contentOffset().y); }
    };
    auto scroll = std::make_shared<ScrollView>(CGRect{{0, 0}, {10, 50}});
    auto listener = std::make_shared<Listener>();
    scroll->setDelegate(listener);
    EXPECT_TRUE(scroll->clipsToBounds());
    scroll->setContentSize({10, 200});
    scroll->setContentOffset({0, 30}, true);
    scroll->setContentOffset({0, 30});
    EXPECT_EQ(scroll->bounds().origin, (CGPoint{0, 30}));
    EXPECT_EQ(scroll->frame(), (CGRect{{0, 0}, {10, 50}}));
    EXPECT_EQ(listener->offsets, std::vector<double>{30});
}

TEST(Views, LabelsShrinkOneLineTextToFit) {
    Label label({{0, 0}, {20, 20}});
    label.setFont(Font::systemFont(16));
    label.setText("Basement");
    EXPECT_EQ(label.fittedFont().size, 16);
    label.setAdjustsFontSizeToFitWidth(true);
    const double width = measureText("Basement", Font::systemFont(16)).width;
    EXPECT_NEAR(label.fittedFont().size, 16 * 20 / width, 1e-9);
    label.setMinimumScaleFactor(0.9);
    EXPECT_NEAR(label.fittedFont().size, 16 * 0.9, 1e-9);
    EXPECT_EQ(label.intrinsicContentSize(), measureText("Basement", Font::systemFont(16)));
}

TEST(Views, WrappedTextStaysWithinItsWidth) {
    const std::string text = "A meeting room with a long name that cannot fit on one line";
    const auto line = measureText(text, Font::systemFont(14));
    const auto wrapped = measureText(text, Font::systemFont(14), 120);
    EXPECT_LE(wrapped.width, 120);
    EXPECT_GT(wrapped.height, 2 * line.height);
    // One word longer than a line breaks inside.
    EXPECT_LE(measureText(std::string(80, 'W'), Font::systemFont(14), 50).width, 50);
    // A width that is no width lays out on one line.
    EXPECT_EQ(measureText(text, Font::systemFont(14), 0), line);
    EXPECT_EQ(measureText(text, Font::systemFont(14), std::nan("")), line);
}

TEST(Views, RendersBackgroundsCornersAndOpacity) {
    auto root = std::make_shared<View>(CGRect{{0, 0}, {20, 10}});
    root->setBackgroundColor(Color{1, 0, 0, 1});
    auto child = std::make_shared<View>(CGRect{{10, 0}, {10, 10}});
    child->setBackgroundColor(Color{0, 0, 1, 1});
    child->setAlpha(0.5);
    root->addSubview(child);
    auto hidden = std::make_shared<View>(CGRect{{0, 0}, {5, 5}});
    hidden->setBackgroundColor(Color{0, 1, 0, 1});
    hidden->setHidden(true);
    root->addSubview(hidden);

    const auto image = renderView(*root, 2);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), 40);
    EXPECT_EQ(image->height(), 20);
    EXPECT_EQ(image->scale(), 2);
    EXPECT_EQ(image->pixel(2, 2), 0xFFFF0000U);
    // Half blue over red.
    const auto blended = image->pixel(30, 10);
    EXPECT_EQ(alphaOf(blended), 0xFFU);
    EXPECT_NEAR(static_cast<int>((blended >> 16) & 0xFF), 128, 1);
    EXPECT_NEAR(static_cast<int>(blended & 0xFF), 128, 1);

    root->layer()->setCornerRadius(5);
    const auto rounded = renderView(*root, 1);
    ASSERT_TRUE(rounded);
    EXPECT_EQ(rounded->pixel(0, 0), 0U);
    EXPECT_EQ(rounded->pixel(5, 5), 0xFFFF0000U);
}

TEST(Views, ClipsToBoundsAndScrollsItsContent) {
    auto scroll = std::make_shared<ScrollView>(CGRect{{0, 0}, {10, 10}});
    auto content = std::make_shared<View>(CGRect{{0, 10}, {10, 10}});
    content->setBackgroundColor(Color{0, 1, 0, 1});
    scroll->addSubview(content);
    auto before = renderView(*scroll, 1);
    ASSERT_TRUE(before);
    EXPECT_EQ(before->pixel(5, 5), 0U);
    scroll->setContentOffset({0, 10});
    auto after = renderView(*scroll, 1);
    ASSERT_TRUE(after);
    EXPECT_EQ(after->pixel(5, 5), 0xFF00FF00U);
}

TEST(Views, RendersGradientAndShapeLayers) {
    Layer root;
    root.setFrame({{0, 0}, {10, 100}});
    auto gradient = std::make_shared<GradientLayer>();
    gradient->setFrame({{0, 0}, {10, 100}});
    gradient->setColors({Color{0, 0, 0, 1}, Color{0, 0, 0, 0}});
    root.addSublayer(gradient);
    const auto fading = renderLayer(root, {10, 100}, false, 1);
    ASSERT_TRUE(fading);
    EXPECT_GT(alphaOf(fading->pixel(5, 1)), 240U);
    EXPECT_NEAR(static_cast<int>(alphaOf(fading->pixel(5, 50))), 127, 3);
    EXPECT_LT(alphaOf(fading->pixel(5, 98)), 10U);

    Layer canvas;
    auto shape = std::make_shared<ShapeLayer>();
    Path triangle;
    triangle.moveTo({0, 0});
    triangle.lineTo({-10, -10});
    triangle.lineTo({10, -10});
    triangle.closePath();
    shape->setPath(triangle);
    shape->setFillColor(Color{1, 1, 1, 1});
    shape->setAnchorPoint({0, 0});
    shape->setPosition({10, 10});
    canvas.addSublayer(shape);
    const auto drawn = renderLayer(canvas, {20, 12}, false, 1);
    ASSERT_TRUE(drawn);
    EXPECT_EQ(drawn->pixel(10, 3), 0xFFFFFFFFU);
    EXPECT_EQ(drawn->pixel(2, 8), 0U);
    EXPECT_EQ(drawn->pixel(10, 11), 0U);
}

TEST(Views, RendersLabelsAndImages) {
    auto label = std::make_shared<Label>(CGRect{{0, 0}, {60, 20}});
    label->setText("Hi");
    label->setTextColor(Color{0, 0, 0, 1});
    label->setTextAlignment(TextAlignment::Center);
    const auto text = renderView(*label, 1);
    ASSERT_TRUE(text);
    int inked = 0;
    int left = 60;
    int right = -1;
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 60; ++x) {
            if (alphaOf(text->pixel(x, y)) == 0) continue;
            ++inked;
            left = std::min(left, x);
            right = std::max(right, x);
        }
    }
    EXPECT_GT(inked, 10);
    EXPECT_NEAR((left + right) / 2.0, 30, 3);  // centred

    auto source = Image::create(2, 2);
    ASSERT_TRUE(source);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 2; ++x) source->setPixel(x, y, 0xFF00FF00U);
    }
    auto imageView = std::make_shared<ImageView>(CGRect{{0, 0}, {8, 4}});
    imageView->setImage(*source);
    imageView->setContentMode(ContentMode::ScaleAspectFit);
    const auto fitted = renderView(*imageView, 1);
    ASSERT_TRUE(fitted);
    EXPECT_EQ(fitted->pixel(4, 2), 0xFF00FF00U);
    EXPECT_EQ(fitted->pixel(0, 2), 0U);
}

TEST(Views, RenderSizesAtTheEdges) {
    Layer layer;
    EXPECT_FALSE(renderLayer(layer, {0, 0}, false, 1).has_value());
    const auto thin = renderLayer(layer, {0, 10}, false, 1);
    ASSERT_TRUE(thin);
    EXPECT_EQ(thin->width(), 1);
    EXPECT_EQ(thin->height(), 10);
    EXPECT_FALSE(renderLayer(layer, {10, 10}, false, 0).has_value());
    EXPECT_FALSE(renderLayer(layer, {std::nan(""), 10}, false, 1).has_value());
    const auto opaque = renderLayer(layer, {2, 2}, true, 1);
    ASSERT_TRUE(opaque);
    EXPECT_EQ(opaque->pixel(0, 0), 0xFF000000U);
}

}  // namespace
}  // namespace ambrell::platform::views_test
