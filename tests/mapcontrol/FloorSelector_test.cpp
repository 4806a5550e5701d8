#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "data/CVBuildingInternal.h"
#include "data/CVFloorInternal.h"
#include "mapcontrol/CVFloorSelectorControl.h"
#include "platform/ContentSizeCategory.h"
#include "platform/SystemColors.h"
#include "platform/Text.h"
#include "platform/ViewRenderer.h"
#include "platform/runtime/MainQueue.h"
#include "tests/support/GoldenImage.h"

namespace ambrell::floor_selector_test {
namespace {

using platform::Color;
using platform::SystemColors;

struct FloorSpec {
    double index;
    std::string name;
};

std::shared_ptr<CVBuildingInternal> makeBuilding(const std::vector<FloorSpec>& floors) {
    auto building = std::make_shared<CVBuildingInternal>();
    building->buildingId = "b-1";
    for (const auto& spec : floors) {
        auto floor = std::make_shared<CVFloorInternal>();
        floor->floorId = "f-" + std::to_string(spec.index);
        floor->name = spec.name;
        floor->floorIndex = spec.index;
        building->floors[floor->floorId] = floor;
    }
    return building;
}

std::shared_ptr<CVBuildingInternal> floorsUpTo(int count) {
    std::vector<FloorSpec> floors;
    for (int i = 0; i < count; ++i) floors.push_back({static_cast<double>(i), std::to_string(i)});
    return makeBuilding(floors);
}

struct RecordingDelegate : CVFloorSelectorDelegate {
    std::vector<double> changes;
    void onFloorIndexChanged(double floorIndex) override { changes.push_back(floorIndex); }
};

// The button size the control works with: 34 − 2 or the width of "LLG" in
// the 12-point system font, whichever is larger.
double textWidth() { return static_cast<float>(platform::measureText("LLG", platform::Font::systemFont(12)).width); }
double expectedButtonSize() { return std::max(32.0, textWidth()); }

// A control on a map view, sized as its own constraints ask (there is no
// layout solver), laid out, with the post-rebuild scroll run.
struct Fixture {
    std::shared_ptr<platform::View> map = std::make_shared<platform::View>(platform::CGRect{{0, 0}, {400, 800}});
    std::shared_ptr<CVFloorSelectorControl> control = CVFloorSelectorControl::create();
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();

    Fixture() {
        map->addSubview(control);
        control->setDelegate(delegate);
    }

    void show(const std::shared_ptr<CVBuilding>& building) {
        control->setBuilding(building);
        settle();
    }

    void settle() {
        control->setFrame({{0, 0}, {control->widthConstraint()->constant, control->heightConstraint()->constant}});
        control->layoutIfNeeded();
        platform::MainQueue::shared().runReady();
    }

    [[nodiscard]] std::vector<std::string> titles() const {
        std::vector<std::string> out;
        for (const auto& button : control->buttons()) out.push_back(button->currentTitle().value_or("?"));
        return out;
    }

    [[nodiscard]] std::vector<double> selected() const {
        std::vector<double> out;
        for (const auto& button : control->buttons()) {
            if (button->isSelected()) out.push_back(button->floorIndex().value_or(-999));
        }
        return out;
    }

    [[nodiscard]] std::shared_ptr<CVFloorButton> button(double floorIndex) const {
        for (const auto& button : control->buttons()) {
            if (button->floorIndex() == floorIndex) return button;
        }
        return nullptr;
    }

    void tap(double floorIndex) const {
        const auto target = button(floorIndex);
        ASSERT_TRUE(target) << floorIndex;
        target->sendActions(platform::ControlEvent::TouchUpInside);
    }
};

// The class-wide settings and the text size are the process's: each test
// starts from their defaults and leaves them so.
class FloorSelector : public testing::Test {
protected:
    void SetUp() override { resetSharedSettings(); }
    void TearDown() override { resetSharedSettings(); }

    static void resetSharedSettings() {
        CVFloorSelectorControl::setSelectedColor(std::nullopt);
        CVFloorSelectorControl::setTintColor(std::nullopt);
        CVFloorSelectorControl::setFloorButtonTitleColor(std::nullopt);
        CVFloorSelectorControl::setSelectedFloorButtonTitleColor(std::nullopt);
        CVFloorSelectorControl::setFloorButtonBackgroundColor(std::nullopt);
        CVFloorSelectorControl::setSelectedFloorButtonBackgroundColor(std::nullopt);
        CVFloorSelectorControl::setFloorButtonBorderPadding(1);
        CVFloorSelectorControl::setUserFloorColor(std::nullopt);
        platform::ContentSize::setPreferredCategory(platform::ContentSizeCategory::Large);
    }
};

TEST_F(FloorSelector, ShowsTheFloorsHighestFirstWithSixteenPointTitles) {
    Fixture f;
    f.show(makeBuilding({{0, "G"}, {1, "1"}, {2, "2"}}));
    EXPECT_EQ(f.titles(), (std::vector<std::string>{"2", "1", "G"}));
    const double s = expectedButtonSize();
    for (std::size_t i = 0; i < f.control->buttons().size(); ++i) {
        const auto& button = f.control->buttons()[i];
        EXPECT_EQ(button->frame(), (platform::CGRect{{1, static_cast<double>(i) * (s + 1) + 1}, {s, s}})) << i;
        EXPECT_EQ(button->titleLabel()->font().size, 16);
        EXPECT_TRUE(button->titleLabel()->adjustsFontSizeToFitWidth());
        EXPECT_EQ(button->superview(), f.control->container());
    }
    EXPECT_EQ(f.control->nFloors(), 3U);
    // Floor 0 is selected from the start: light grey with a white title.
    EXPECT_EQ(f.selected(), std::vector<double>{0});
    EXPECT_EQ(f.button(0)->backgroundColor(), SystemColors::lightGray());
    EXPECT_EQ(f.button(0)->currentTitleColor(), SystemColors::white());
    EXPECT_EQ(f.button(2)->backgroundColor(), SystemColors::white());
    EXPECT_EQ(f.button(2)->currentTitleColor(), SystemColors::gray());
}

TEST_F(FloorSelector, AFloorWithoutANameShowsItsIndexAndLongNamesShrinkWhenRestyled) {
    Fixture f;
    f.show(makeBuilding({{-1, ""}, {0, "Lobby"}, {1, "Mezzanine"}}));
    EXPECT_EQ(f.titles(), (std::vector<std::string>{"Mezzanine", "Lobby", "-1"}));
    EXPECT_EQ(f.button(1)->titleLabel()->font().size, 16);
    f.control->setFloorIndex(1);
    EXPECT_EQ(f.button(1)->titleLabel()->font().size, 12);
    EXPECT_EQ(f.button(0)->titleLabel()->font().size, 12);  // deselected, five characters
    f.control->setFloorIndex(-1);
    EXPECT_EQ(f.button(-1)->titleLabel()->font().size, 16);  // two characters
    EXPECT_EQ(f.button(1)->titleLabel()->font().size, 12);
}

TEST_F(FloorSelector, SizesFollowTheButtonSizeAndPadding) {
    Fixture f;
    const double s = expectedButtonSize();
    EXPECT_DOUBLE_EQ(f.control->getDynamicButtonSize(), s);
    // Placing it again (as a text-size change does) makes the constraints
    // anew from the sizes, without a layout pass in between.
    f.control->setupAutoLayout();
    EXPECT_DOUBLE_EQ(f.control->heightConstraint()->constant, 6 * (s + 1) + 1);
    EXPECT_DOUBLE_EQ(f.control->widthConstraint()->constant, s + 2);
    EXPECT_EQ(f.control->heightConstraint()->priority, platform::LayoutPriority::defaultHigh);
    EXPECT_EQ(f.control->widthConstraint()->priority, platform::LayoutPriority::defaultHigh);
    EXPECT_DOUBLE_EQ(f.control->xPositionConstraint()->constant, -4);
    EXPECT_EQ(f.control->xPositionConstraint()->firstAttribute, platform::LayoutAttribute::Right);
    EXPECT_DOUBLE_EQ(f.control->yPositionConstraint()->constant, 4 * (34 - 2));
    // The old position constraints left the map view; the new ones are there.
    EXPECT_EQ(f.map->constraints().size(), 2U);
    EXPECT_EQ(f.map->constraints().front(), f.control->xPositionConstraint());
    const auto& own = f.control->constraints();
    EXPECT_EQ(std::count(own.begin(), own.end(), f.control->heightConstraint()), 1);

    // With automatic layout off, the host's constraints stay.
    const auto height = f.control->heightConstraint();
    f.control->setDisableAutomaticLayoutManagement(true);
    f.control->setupAutoLayout();
    EXPECT_EQ(f.control->heightConstraint(), height);
}

TEST_F(FloorSelector, ThePaddingSettingSpacesTheButtons) {
    CVFloorSelectorControl::setFloorButtonBorderPadding(3);
    Fixture f;
    f.show(floorsUpTo(2));
    const double s = std::max(34.0 - 6, textWidth());
    EXPECT_DOUBLE_EQ(f.control->getDynamicButtonSize(), s);
    EXPECT_EQ(f.control->buttons()[1]->frame().origin, (platform::CGPoint{3, (s + 3) + 3}));
}

TEST_F(FloorSelector, MaxHeightComesFromTheMapViewOnlyWhenUnset) {
    Fixture f;
    f.show(floorsUpTo(3));
    EXPECT_DOUBLE_EQ(f.control->maxHeight(), 0.8 * 800);

    Fixture preset;
    preset.control->setMaxHeight(400);
    preset.show(floorsUpTo(3));
    EXPECT_DOUBLE_EQ(preset.control->maxHeight(), 400);
}

TEST_F(FloorSelector, TheHeightShowsAsManyButtonsAsFit) {
    Fixture f;
    f.control->setMaxHeight(150);
    f.show(floorsUpTo(10));
    const double s = expectedButtonSize();
    const auto fit = static_cast<std::size_t>(150 / s);
    EXPECT_DOUBLE_EQ(f.control->heightConstraint()->constant, (s + 1) * static_cast<double>(fit) + 1);
    const auto scroll = f.control->scrollview();
    ASSERT_TRUE(scroll);
    EXPECT_DOUBLE_EQ(scroll->contentSize().height, (s + 1) * 10 + 1);
    EXPECT_EQ(f.control->intrinsicContentSize().height, scroll->contentSize().height);
    EXPECT_EQ(scroll->frame(), (platform::CGRect{{0, 1}, {s + 2, f.control->frame().size.height - 1}}));
}

TEST_F(FloorSelector, ATapReportsTheNewFloorTwiceAndTheSelectedFloorNothing) {
    Fixture f;
    f.show(floorsUpTo(3));
    f.tap(0);
    EXPECT_TRUE(f.delegate->changes.empty());
    f.tap(2);
    EXPECT_EQ(f.delegate->changes, (std::vector<double>{2, 2}));
    EXPECT_EQ(f.control->floorIndex(), 2);
    EXPECT_EQ(f.selected(), std::vector<double>{2});
}

TEST_F(FloorSelector, SettingTheSameFloorDoesNothing) {
    Fixture f;
    f.show(floorsUpTo(3));
    f.control->setFloorIndex(0);
    EXPECT_TRUE(f.delegate->changes.empty());
    f.control->setFloorIndex(1);
    f.control->setFloorIndex(1);
    EXPECT_EQ(f.delegate->changes, std::vector<double>{1});
    EXPECT_EQ(f.selected(), std::vector<double>{1});
}

// An index that came before the buttons is kept, and the column follows it.
TEST_F(FloorSelector, AnIndexSetBeforeTheBuildingLeavesNoStaleIndex) {
    Fixture f;
    f.control->setFloorIndex(2);
    EXPECT_EQ(f.control->floorIndex(), 2);
    f.show(floorsUpTo(3));
    EXPECT_EQ(f.selected(), std::vector<double>{2});
    f.tap(1);
    EXPECT_EQ(f.delegate->changes, (std::vector<double>{2, 1, 1}));
    EXPECT_EQ(f.selected(), std::vector<double>{1});
    EXPECT_EQ(f.control->floorIndex(), 1);
}

TEST_F(FloorSelector, ABuildingWithoutFloorZeroLeavesNoStaleIndex) {
    Fixture f;
    f.show(makeBuilding({{1, "1"}, {2, "2"}, {3, "3"}}));
    EXPECT_TRUE(f.selected().empty());
    f.control->setFloorIndex(2);
    EXPECT_EQ(f.control->floorIndex(), 2);
    EXPECT_EQ(f.selected(), std::vector<double>{2});
    f.tap(3);
    f.tap(2);
    EXPECT_EQ(f.delegate->changes, (std::vector<double>{2, 3, 3, 2, 2}));
    EXPECT_EQ(f.selected(), std::vector<double>{2});
    // A floor that is not shown is still taken, and no button stays selected.
    f.control->setFloorIndex(7);
    EXPECT_TRUE(f.selected().empty());
    f.tap(1);
    EXPECT_EQ(f.delegate->changes.back(), 1);
    EXPECT_EQ(f.selected(), std::vector<double>{1});
}

TEST_F(FloorSelector, NoIndexSelectsNothingAndTellsNoOne) {
    Fixture f;
    f.show(floorsUpTo(2));
    f.control->setFloorIndex(std::nullopt);
    EXPECT_TRUE(f.selected().empty());
    EXPECT_TRUE(f.delegate->changes.empty());
    f.control->setFloorIndex(1);
    EXPECT_EQ(f.selected(), std::vector<double>{1});
}

TEST_F(FloorSelector, TheUserFloorIsMarkedAndItsColourBecomesGrayForLaterControls) {
    ASSERT_FALSE(CVFloorSelectorControl::userFloorColor().has_value());
    Fixture f;
    f.show(floorsUpTo(3));
    f.control->setUserFloorIndex(1);
    EXPECT_EQ(CVFloorSelectorControl::userFloorColor(), SystemColors::gray());
    EXPECT_TRUE(f.button(1)->titleLabel()->font().bold);
    EXPECT_FALSE(f.button(2)->titleLabel()->font().bold);
    // Selected and the user's floor at once: the background of the one, the
    // title of the other.
    f.control->setFloorIndex(1);
    EXPECT_EQ(f.button(1)->backgroundColor(), SystemColors::lightGray());
    EXPECT_TRUE(f.button(1)->titleLabel()->font().bold);

    CVFloorSelectorControl::setUserFloorColor(Color{1, 0, 0, 1});
    Fixture later;
    later.control->setUserFloorIndex(1);
    EXPECT_EQ(CVFloorSelectorControl::userFloorColor(), (Color{1, 0, 0, 1}));
    later.show(floorsUpTo(2));
    EXPECT_EQ(later.button(1)->currentTitleColor(), (Color{1, 0, 0, 1}));
    // Marking restyles the selected floor too; a rebuilt button of the
    // user's floor that is also selected takes the selected style last.
    later.control->setUserFloorIndex(0);
    EXPECT_EQ(later.button(0)->currentTitleColor(), (Color{1, 0, 0, 1}));
    later.control->updateFloors(later.control->currentBuilding(), true);
    EXPECT_EQ(later.button(0)->currentTitleColor(), SystemColors::white());
}

TEST_F(FloorSelector, ClassColoursFallBackInTheirOrder) {
    Fixture f;
    f.show(floorsUpTo(3));
    const Color tint{0, 0.5, 0, 1};
    const Color selected{0, 0, 1, 1};
    CVFloorSelectorControl::setTintColor(tint);
    CVFloorSelectorControl::setSelectedColor(selected);
    f.control->setFloorIndex(2);
    EXPECT_EQ(f.button(2)->backgroundColor(), selected);
    EXPECT_EQ(f.button(0)->currentTitleColor(), tint);  // deselected: tint before gray

    const Color titles{0.2, 0.2, 0.2, 1};
    const Color backgrounds{0.9, 0.9, 0.8, 1};
    const Color selectedBackground{1, 0.5, 0, 1};
    const Color selectedTitle{0, 0, 0, 1};
    CVFloorSelectorControl::setFloorButtonTitleColor(titles);
    CVFloorSelectorControl::setFloorButtonBackgroundColor(backgrounds);
    CVFloorSelectorControl::setSelectedFloorButtonBackgroundColor(selectedBackground);
    CVFloorSelectorControl::setSelectedFloorButtonTitleColor(selectedTitle);
    f.control->setFloorIndex(1);
    EXPECT_EQ(f.button(1)->backgroundColor(), selectedBackground);
    EXPECT_EQ(f.button(1)->currentTitleColor(), selectedTitle);
    EXPECT_EQ(f.button(2)->backgroundColor(), backgrounds);
    EXPECT_EQ(f.button(2)->currentTitleColor(), titles);

    // A rebuild colours the control with the button background, then the tint.
    f.control->updateFloors(f.control->currentBuilding(), true);
    EXPECT_EQ(f.control->backgroundColor(), backgrounds);
    EXPECT_EQ(f.control->container()->backgroundColor(), backgrounds);
    CVFloorSelectorControl::setFloorButtonBackgroundColor(std::nullopt);
    f.control->updateFloors(f.control->currentBuilding(), true);
    EXPECT_EQ(f.control->backgroundColor(), tint);
}

TEST_F(FloorSelector, UpAndDownStopAtTheEnds) {
    Fixture f;
    f.show(floorsUpTo(3));
    f.control->setFloorIndex(2);
    f.control->up();
    EXPECT_EQ(f.control->floorIndex(), 2);
    f.control->down();
    EXPECT_EQ(f.control->floorIndex(), 1);
    f.control->down();
    f.control->down();
    EXPECT_EQ(f.control->floorIndex(), 0);
    f.control->up();
    EXPECT_EQ(f.control->floorIndex(), 1);
    EXPECT_EQ(f.delegate->changes, (std::vector<double>{2, 1, 0, 1}));

    f.control->setFloorIndex(9);  // not among the floors: neither moves
    f.control->up();
    f.control->down();
    EXPECT_EQ(f.control->floorIndex(), 9);
}

TEST_F(FloorSelector, ScrollsToKeepTheSelectedFloorInView) {
    Fixture f;
    f.show(floorsUpTo(10));
    const double s = expectedButtonSize();
    // Four buttons tall: four fit.
    f.control->setFrame({{0, 0}, {s + 2, 4 * (s + 1) + 1}});
    f.control->updateLayout();
    ASSERT_EQ(f.control->maxVisibleFloorButtons(), 4U);
    const auto scroll = f.control->scrollview();

    struct Row {
        double floorIndex;  // at position 9 − index
        double firstPosition;
    };
    for (const auto& row : {Row{0, 6}, Row{4, 3}, Row{9, 0}, Row{7, 0}, Row{1, 6}}) {
        f.control->setFloorIndex(row.floorIndex);
        f.control->scrollToCurrentFloor();
        EXPECT_DOUBLE_EQ(scroll->contentOffset().y, (s + 1) * row.firstPosition + 1) << row.floorIndex;
    }
}

TEST_F(FloorSelector, TheFadingStripsShowWhatLiesBeyondEachEnd) {
    Fixture f;
    f.control->setMaxHeight(150);
    f.show(floorsUpTo(10));
    const double s = expectedButtonSize();
    const auto scroll = f.control->scrollview();
    const auto top = f.control->topScrollIndicator();
    const auto bottom = f.control->bottomScrollIndicator();
    ASSERT_TRUE(scroll && top && bottom);
    EXPECT_FALSE(top->isUserInteractionEnabled());
    const double end = scroll->contentSize().height - scroll->bounds().size.height;
    ASSERT_GT(end, s);

    scroll->setContentOffset({0, 0});
    EXPECT_DOUBLE_EQ(top->alpha(), 0);
    EXPECT_DOUBLE_EQ(bottom->alpha(), 1);
    scroll->setContentOffset({0, s / 2});
    EXPECT_NEAR(top->alpha(), 0.5, 1e-6);
    scroll->setContentOffset({0, end});
    EXPECT_DOUBLE_EQ(top->alpha(), 1);
    EXPECT_DOUBLE_EQ(bottom->alpha(), 0);
    scroll->setContentOffset({0, end - s / 4});
    EXPECT_NEAR(bottom->alpha(), 0.25, 1e-6);

    // Each gradient fills its strip: opaque white towards the end it guards.
    const auto gradient = f.control->topScrollIndicatorGradient();
    ASSERT_TRUE(gradient);
    EXPECT_EQ(gradient->frame().size, top->bounds().size);
    EXPECT_EQ(top->layer()->sublayers().front(), gradient);
    EXPECT_EQ(gradient->locations(), (std::vector<double>{0, 0.1, 0.37, 0.45, 0.55, 1}));
    EXPECT_DOUBLE_EQ(gradient->colors().front().alpha, 1.0);
    EXPECT_DOUBLE_EQ(f.control->bottomScrollIndicatorGradient()->colors().front().alpha, 0.0);
    EXPECT_EQ(bottom->frame().origin.y, f.control->bounds().size.height - s);
}

TEST_F(FloorSelector, ATextSizeChangeRebuildsTheColumn) {
    Fixture f;
    f.show(floorsUpTo(3));
    f.control->setFloorIndex(1);
    const auto before = f.control->buttons();
    platform::ContentSize::setPreferredCategory(platform::ContentSizeCategory::AccessibilityLarge);
    // The column is rebuilt on the main queue.
    platform::MainQueue::shared().runReady();
    const auto& after = f.control->buttons();
    ASSERT_EQ(after.size(), 3U);
    for (std::size_t i = 0; i < after.size(); ++i) EXPECT_NE(after[i], before[i]);
    EXPECT_EQ(f.selected(), std::vector<double>{1});
    EXPECT_EQ(f.control->container()->subviews().size(), 3U);

    // Off the screen it waits; a control that went hears nothing.
    Fixture offscreen;
    offscreen.show(floorsUpTo(2));
    offscreen.control->removeFromSuperview();
    const auto kept = offscreen.control->buttons();
    const std::weak_ptr<CVFloorSelectorControl> gone = f.control;
    f.control->removeFromSuperview();
    f.control.reset();
    ASSERT_TRUE(gone.expired());
    platform::ContentSize::setPreferredCategory(platform::ContentSizeCategory::Small);
    platform::MainQueue::shared().runReady();
    EXPECT_EQ(offscreen.control->buttons(), kept);
}

TEST_F(FloorSelector, TheSameBuildingRebuildsOnlyWhenItsFloorMoved) {
    Fixture f;
    const auto building = floorsUpTo(3);
    f.show(building);
    const auto first = f.control->buttons();
    building->currentFloor = 0;
    f.control->setBuilding(building);
    EXPECT_EQ(f.control->buttons(), first);
    building->currentFloor = 2;
    f.control->setBuilding(building);
    EXPECT_NE(f.control->buttons(), first);
    EXPECT_EQ(f.control->building(), building);

    f.control->setBuilding(nullptr);
    EXPECT_TRUE(f.control->buttons().empty());
    EXPECT_TRUE(f.control->container()->subviews().empty());
}

TEST_F(FloorSelector, ShowHideRemoveAndTheTopIcon) {
    Fixture f;
    f.show(floorsUpTo(2));
    f.control->onHide();
    EXPECT_TRUE(f.control->isHidden());
    f.control->onShow();
    EXPECT_FALSE(f.control->isHidden());

    auto icon = platform::Image::create(20, 20);
    ASSERT_TRUE(icon);
    f.control->setTopIcon(*icon);
    EXPECT_EQ(f.control->topIcon(), icon);
    f.control->layoutIfNeeded();
    const double width = f.control->bounds().size.width;
    EXPECT_DOUBLE_EQ(f.control->topImageHeightConstraint()->constant, width);
    EXPECT_EQ(f.control->topImageView()->frame().size, (platform::CGSize{width, width}));
    EXPECT_DOUBLE_EQ(f.control->container()->frame().origin.y, width + 1);

    f.control->remove();
    EXPECT_EQ(f.control->superview(), f.map);
    platform::MainQueue::shared().runReady();
    EXPECT_EQ(f.control->superview(), nullptr);
}

TEST_F(FloorSelector, MatchesTheGoldenImage) {
    Fixture f;
    f.show(makeBuilding({{0, "G"}, {1, "1"}, {2, "2"}}));
    f.control->setFloorIndex(1);
    f.control->setUserFloorIndex(2);
    f.settle();
    const auto image = platform::renderView(*f.control, 2);
    ASSERT_TRUE(image.has_value());
    test::expectMatchesGolden(*image, "tests/mapcontrol/golden/floor-selector.png");
}

}  // namespace
}  // namespace ambrell::floor_selector_test
