#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "data/CVEntrySeams.h"
#include "mapcontrol/CVPositionController.h"
#include "tests/mapcontrol/DrawingFakes.h"
#include "tests/support/AsyncTesting.h"
#include "tests/support/WaitFor.h"
#include "viewmodels/ImageUtilities.h"

namespace ambrell::position_controller_test {
namespace {

CVPositionResult fix(double latitude, int floor) { return CVPositionResult{{latitude, 12.5}, floor, 90, 4.5}; }

std::shared_ptr<const platform::Image> dot() {
    auto image = platform::Image::create(8, 8, 2).value();
    for (auto& pixel : image.pixels()) pixel = 0xFF0000FF;
    return std::make_shared<const platform::Image>(std::move(image));
}

std::shared_ptr<CVDisplayRule> positionRule(CVDisplayRuleData data) { return std::make_shared<CVDisplayRule>(data); }

// A rule with the circle's colours and opacities set.
std::shared_ptr<CVDisplayRule> styledRule() {
    CVDisplayRuleData data;
    data.polygonFillColor = platform::Color::fromHex("#3071D9");
    data.polygonFillOpacity = 0.25;
    data.polygonStrokeColor = platform::Color::fromHex("#00FF00");
    data.polygonStrokeOpacity = 1.0;
    data.polygonStrokeWidth = 2.5;
    return positionRule(data);
}

// The entry object as the map sees it, holding the solution's position rule.
class PositionRuleEntry : public CVEntryObjectSeam {
public:
    explicit PositionRuleEntry(std::shared_ptr<CVDisplayRule> rule) : rule_(std::move(rule)) {}
    [[nodiscard]] std::shared_ptr<CVDisplayRule> displayRuleForLocation(const CVLocation&) const override {
        return nullptr;
    }
    [[nodiscard]] std::shared_ptr<CVDisplayRule> displayRuleForDisplayRuleType(int rawType) const override {
        return rawType == 4 ? rule_ : nullptr;
    }

private:
    std::shared_ptr<CVDisplayRule> rule_;
};

class PositionControllerTest : public testing::Test {
protected:
    // The icon every drawing gets, at once.
    std::shared_ptr<CVPositionController> makeController(std::shared_ptr<CVDisplayRule> rule,
                                                         std::shared_ptr<const platform::Image> icon = dot()) {
        return CVPositionController::create(
            map, [rule] { return rule; },
            [icon](std::shared_ptr<const CVDisplayRule>)
                -> platform::Awaitable<std::shared_ptr<const platform::Image>> { co_return icon; });
    }
    [[nodiscard]] test::RecordingPositionPresenter& presenter() const { return *provider->positions; }
    // Waits until every drawing task the controller started has ended: each holds it.
    static bool drawingsEnded(const std::shared_ptr<CVPositionController>& controller) {
        return test::waitFor([&] { return controller.use_count() == 1; });
    }

    std::shared_ptr<test::DrawingMapProvider> provider = std::make_shared<test::DrawingMapProvider>();
    std::shared_ptr<test::DrawingMapControl> map = std::make_shared<test::DrawingMapControl>(provider);
};

TEST_F(PositionControllerTest, TheMarkerIsOpaqueOnlyOnTheFloorTheMapShows) {
    const auto controller = makeController(styledRule());
    controller->setEnabled(true);
    map->floor = 2;
    controller->draw(fix(55.1, 2));
    ASSERT_TRUE(drawingsEnded(controller));
    map->floor = 1;
    controller->draw(fix(55.2, 2));
    ASSERT_TRUE(drawingsEnded(controller));

    const auto applied = presenter().applied();
    ASSERT_EQ(applied.size(), 2u);
    EXPECT_EQ(applied[0].markerOpacity, 1.0);
    EXPECT_EQ(applied[1].markerOpacity, 0.5);
    // Every argument of the fix and the rule.
    EXPECT_EQ(applied[0].position, (CLLocationCoordinate2D{55.1, 12.5}));
    EXPECT_EQ(applied[0].markerBearing, 90);
    EXPECT_EQ(applied[0].circleRadiusMeters, 4.5);
    EXPECT_EQ(applied[0].circleFillColor, 0x3071D93Fu);
    EXPECT_EQ(applied[0].circleStrokeColor, 0x00FF00FFu);
    EXPECT_EQ(applied[0].circleStrokeWidth, 2.5);
    ASSERT_NE(applied[0].markerIcon, nullptr);
    EXPECT_EQ(applied[0].markerIcon->width(), 8);
    EXPECT_EQ(controller->latestPosition(), fix(55.2, 2));
    EXPECT_EQ(presenter().clears(), 0);
}

TEST_F(PositionControllerTest, TheEntryObjectsPositionRuleGivesStyleAndIcon) {
    const auto controller = CVPositionController::create(map);
    controller->setEnabled(true);
    // No entry object yet: no rule, nothing drawn.
    controller->draw(fix(55, 0));
    ASSERT_TRUE(drawingsEnded(controller));
    EXPECT_TRUE(presenter().applied().empty());

    CVDisplayRuleData data;
    data.icon = dot();
    data.polygonFillColor = platform::Color::fromHex("#3071D9");
    data.polygonFillOpacity = 0.25;
    CVEntryObjectSeam::install(std::make_shared<PositionRuleEntry>(positionRule(data)));
    controller->draw(fix(56, 0));
    ASSERT_TRUE(drawingsEnded(controller));
    CVEntryObjectSeam::install(nullptr);
    const auto applied = presenter().applied();
    ASSERT_EQ(applied.size(), 1u);
    EXPECT_EQ(applied[0].markerIcon, data.icon);
    EXPECT_EQ(applied[0].circleFillColor, 0x3071D93Fu);
}

TEST_F(PositionControllerTest, CircleColoursDefaultToRedAndClear) {
    struct Case {
        CVDisplayRuleData data;
        std::uint32_t fill;
        std::uint32_t stroke;
        double width;
    };
    CVDisplayRuleData coloured;
    coloured.polygonFillColor = platform::Color::fromHex("#112233");
    coloured.polygonStrokeColor = platform::Color::fromHex("#445566");
    CVDisplayRuleData opacities;
    opacities.polygonFillOpacity = 0.5;
    opacities.polygonStrokeOpacity = 1.0;
    opacities.polygonStrokeWidth = 1;
    const Case cases[] = {
        // No colours, no opacities: red, fully transparent.
        {{}, 0xFF000000, 0xFF000000, 0},
        // Colours without opacities: still fully transparent.
        {coloured, 0x11223300, 0x44556600, 0},
        // Opacities without colours: red at those opacities.
        {opacities, 0xFF00007F, 0xFF0000FF, 1},
    };
    for (const auto& [data, fill, stroke, width] : cases) {
        presenter().forget();
        const auto controller = makeController(positionRule(data));
        controller->setEnabled(true);
        controller->draw(fix(55, 0));
        ASSERT_TRUE(drawingsEnded(controller));
        const auto applied = presenter().applied();
        ASSERT_EQ(applied.size(), 1u);
        EXPECT_EQ(applied[0].circleFillColor, fill);
        EXPECT_EQ(applied[0].circleStrokeColor, stroke);
        EXPECT_EQ(applied[0].circleStrokeWidth, width);
    }
}

TEST_F(PositionControllerTest, NothingIsKeptOrDrawnWhileDisabled) {
    const auto controller = makeController(styledRule());
    EXPECT_FALSE(controller->enabled());
    controller->draw(fix(55, 0));
    EXPECT_FALSE(controller->latestPosition().has_value());
    ASSERT_TRUE(drawingsEnded(controller));
    EXPECT_TRUE(presenter().applied().empty());

    // Switched on, the map control draws the last fix again (none yet), then new ones.
    controller->setEnabled(true);
    controller->draw(fix(56, 0));
    // Drawn before the next one starts: a later drawing drops an earlier one still loading its icon.
    ASSERT_TRUE(drawingsEnded(controller));
    controller->setEnabled(false);
    controller->draw(fix(57, 0));
    EXPECT_EQ(controller->latestPosition(), fix(56, 0));
    controller->setEnabled(true);
    controller->draw(*controller->latestPosition());
    ASSERT_TRUE(drawingsEnded(controller));
    const auto applied = presenter().applied();
    ASSERT_EQ(applied.size(), 2u);
    for (const auto& call : applied) EXPECT_EQ(call.position.latitude, 56);
}

TEST_F(PositionControllerTest, MissingPiecesEndTheDrawingSilently) {
    // No position rule: the fix is kept, nothing drawn.
    const auto ruleless = makeController(nullptr);
    ruleless->setEnabled(true);
    ruleless->draw(fix(55, 0));
    EXPECT_EQ(ruleless->latestPosition(), fix(55, 0));
    ASSERT_TRUE(drawingsEnded(ruleless));
    EXPECT_TRUE(presenter().applied().empty());

    // No icon: an empty image in its place.
    const auto iconless = makeController(styledRule(), nullptr);
    iconless->setEnabled(true);
    iconless->draw(fix(55, 0));
    ASSERT_TRUE(drawingsEnded(iconless));
    ASSERT_EQ(presenter().applied().size(), 1u);
    const auto icon = presenter().applied()[0].markerIcon;
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(*icon, *transparentPixel());

    // An adapter without a presenter is never asked to draw.
    provider->positions = nullptr;
    iconless->draw(fix(55, 0));
    ASSERT_TRUE(drawingsEnded(iconless));

    // A map control gone before the icon arrives: nothing drawn.
    auto gone = std::make_shared<test::DrawingMapProvider>();
    auto goneMap = std::make_shared<test::DrawingMapControl>(gone);
    test::AsyncGate gate;
    const auto controller = CVPositionController::create(
        goneMap, [] { return styledRule(); },
        [&gate](std::shared_ptr<const CVDisplayRule>) -> platform::Awaitable<std::shared_ptr<const platform::Image>> {
            co_await gate.wait();
            co_return dot();
        });
    controller->setEnabled(true);
    controller->draw(fix(55, 0));
    ASSERT_TRUE(test::waitFor([&] { return gate.arrivals() == 1; }));
    goneMap.reset();
    gate.open();
    ASSERT_TRUE(drawingsEnded(controller));
    EXPECT_TRUE(gone->positions->applied().empty());
}

TEST_F(PositionControllerTest, AHeldFirstDrawingReleasedAfterASecondNeverApplies) {
    test::AsyncGate firstIcon;
    std::atomic<int> loads{0};
    const auto controller = CVPositionController::create(
        map, [] { return styledRule(); },
        [&](std::shared_ptr<const CVDisplayRule>) -> platform::Awaitable<std::shared_ptr<const platform::Image>> {
            if (loads.fetch_add(1) == 0) co_await firstIcon.wait();
            co_return dot();
        });
    controller->setEnabled(true);
    controller->draw(fix(1, 0));
    ASSERT_TRUE(test::waitFor([&] { return firstIcon.arrivals() == 1; }));
    controller->draw(fix(2, 0));
    ASSERT_TRUE(test::waitFor([&] { return presenter().applied().size() == 1; }));

    firstIcon.open();
    ASSERT_TRUE(drawingsEnded(controller));
    const auto applied = presenter().applied();
    ASSERT_EQ(applied.size(), 1u);
    EXPECT_EQ(applied[0].position.latitude, 2);
    EXPECT_EQ(controller->latestPosition(), fix(2, 0));

    // Later drawings still reach the presenter.
    controller->draw(fix(3, 0));
    ASSERT_TRUE(drawingsEnded(controller));
    ASSERT_EQ(presenter().applied().size(), 2u);
    EXPECT_EQ(presenter().applied()[1].position.latitude, 3);
}

TEST_F(PositionControllerTest, ADrawingStillLoadingItsIconWhenSwitchedOffNeverApplies) {
    test::AsyncGate icon;
    const auto controller = CVPositionController::create(
        map, [] { return styledRule(); },
        [&icon](std::shared_ptr<const CVDisplayRule>) -> platform::Awaitable<std::shared_ptr<const platform::Image>> {
            co_await icon.wait();
            co_return dot();
        });
    controller->setEnabled(true);
    controller->draw(fix(55, 0));
    ASSERT_TRUE(test::waitFor([&] { return icon.arrivals() == 1; }));
    // Switched off as the map control does it: disabled, then the marker cleared.
    controller->setEnabled(false);
    presenter().clear();
    icon.open();
    ASSERT_TRUE(drawingsEnded(controller));
    EXPECT_TRUE(presenter().applied().empty());
}

TEST_F(PositionControllerTest, FixesFromManyThreadsLeaveTheNewestDrawnLast) {
    const auto controller = makeController(styledRule());
    controller->setEnabled(true);
    std::vector<std::thread> threads;
    for (int thread = 0; thread < 4; ++thread) {
        threads.emplace_back([&, thread] {
            for (int index = 0; index < 50; ++index) {
                controller->draw(fix(thread * 100 + index, 0));
                if (index % 10 == 0) controller->setEnabled(true);
                (void)controller->latestPosition();
            }
        });
    }
    for (auto& thread : threads) thread.join();
    ASSERT_TRUE(drawingsEnded(controller));
    const auto applied = presenter().applied();
    ASSERT_FALSE(applied.empty());
    EXPECT_LE(applied.size(), 200u);
    EXPECT_EQ(applied.back().position, controller->latestPosition()->coordinate);
}

}  // namespace
}  // namespace ambrell::position_controller_test
