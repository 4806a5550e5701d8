// What the map control puts on the adapter's view (the logo, the floor
// selector), and the user position and directions renderers it drives.

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "data/CVSolutionInternal.h"
#include "mapcontrol/CVFloorSelectorControl.h"
#include "platform/ContentSizeCategory.h"
#include "tests/mapcontrol/DrawingFakes.h"
#include "tests/mapcontrol/MapControlFixture.h"
#include "tests/support/WaitFor.h"

namespace ambrell::map_control_views_test {
namespace {

using test::RecordingMapAdapter;

// The entry object with a solution and a position rule of the test's.
class ViewsEntry : public test::FakeMapEntry {
public:
    std::shared_ptr<CVSolutionInternal> loadedSolution;
    std::shared_ptr<CVDisplayRule> rule;

    [[nodiscard]] std::shared_ptr<CVSolutionInternal> solution() const override { return loadedSolution; }
    [[nodiscard]] std::shared_ptr<CVDisplayRule> positionRule() const override { return rule; }
};

class FakePositionProvider : public CVPositionProvider {
public:
    void setDelegate(std::weak_ptr<CVPositionProviderDelegate> delegate) override { delegate_ = std::move(delegate); }
    [[nodiscard]] std::shared_ptr<CVPositionProviderDelegate> delegate() const { return delegate_.lock(); }
    void report(const CVPositionResult& position) const { delegate()->onPositionUpdate(position); }

private:
    std::weak_ptr<CVPositionProviderDelegate> delegate_;
};

class PositionDelegate : public test::RecordingMapDelegate {
public:
    void onPositionUpdate(const CVPositionResult& position) override {
        std::lock_guard lock(mutex_);
        positions_.push_back(position);
    }
    [[nodiscard]] std::vector<CVPositionResult> positions() const {
        std::lock_guard lock(mutex_);
        return positions_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<CVPositionResult> positions_;
};

std::shared_ptr<CVSolutionInternal> solution(bool whiteLabel) {
    auto solution = std::make_shared<CVSolutionInternal>();
    solution->whiteLabel = whiteLabel;
    return solution;
}

bool contains(const std::vector<std::shared_ptr<platform::View>>& views, const std::shared_ptr<platform::View>& view) {
    return std::find(views.begin(), views.end(), view) != views.end();
}

class MapControlViewsTest : public ::testing::Test {
protected:
    void SetUp() override {
        adapter->setProjection([](platform::CLLocationCoordinate2D c) {
            return platform::CGPoint{c.longitude, c.latitude};
        });
        adapter->setVisibleBounds(CVGeoBounds({55.0, 12.0}, {55.2, 12.2}));
        entry->loadedSolution = solution(false);
    }
    void TearDown() override {
        destroy();
        setMapProvider(config, nullptr);
    }

    std::shared_ptr<CVMapControlInternal> make() {
        setMapProvider(config, adapter);
        control = CVMapControlInternal::create(config, {entry, clock.clock()});
        if (control) control->setDelegate(delegate);
        return control;
    }
    void settle() { ASSERT_TRUE(test::settleMapControl(*control)); }
    // Lets the map control go and the views it removes on its way out leave.
    void destroy() { EXPECT_TRUE(test::releaseMapControl(control, *adapter)); }
    static void onMain(const std::function<void()>& work) {
        platform::MainQueue::shared().async(work);
        platform::MainQueue::shared().drain();
    }

    platform::MainQueueThread mainThread;
    CVMapConfig config;
    std::shared_ptr<RecordingMapAdapter> adapter = std::make_shared<RecordingMapAdapter>();
    std::shared_ptr<ViewsEntry> entry = std::make_shared<ViewsEntry>();
    std::shared_ptr<PositionDelegate> delegate = std::make_shared<PositionDelegate>();
    test::ManualClock clock;
    std::shared_ptr<CVMapControlInternal> control;
};

TEST_F(MapControlViewsTest, TheLogoAndTheDefaultFloorSelectorGoOnTheViewAndLeaveWithTheMap) {
    const auto view = adapter->attachView({400, 800}, {44, 0, 34, 0}, {8, 16, 8, 16});
    adapter->setPadding({0, 0, 20, 0});
    ASSERT_TRUE(make());
    settle();

    const auto logo = control->logoView();
    ASSERT_TRUE(logo);
    EXPECT_EQ(logo->superview(), view);
    EXPECT_EQ(logo->contentMode(), platform::ContentMode::ScaleAspectFit);
    EXPECT_FALSE(logo->translatesAutoresizingMaskIntoConstraints());
    ASSERT_EQ(logo->constraints().size(), 2U);
    EXPECT_EQ(logo->constraints()[0]->firstAttribute, platform::LayoutAttribute::Width);
    EXPECT_EQ(logo->constraints()[0]->constant, 90);
    EXPECT_EQ(logo->constraints()[1]->firstAttribute, platform::LayoutAttribute::Height);
    EXPECT_EQ(logo->constraints()[1]->constant, 32);
    // Its bottom sits the padding's bottom above the safe area; its right edge on the margin.
    const auto bottom = control->logoConstraint();
    ASSERT_TRUE(bottom);
    // The logo's two come first; the floor selector adds its own after them.
    ASSERT_GE(view->constraints().size(), 2U);
    EXPECT_EQ(view->constraints()[0], bottom);
    EXPECT_EQ(bottom->firstItem.lock(), logo);
    EXPECT_EQ(bottom->secondItem.lock(), view);
    EXPECT_EQ(bottom->secondAttribute, platform::LayoutAttribute::Bottom);
    EXPECT_EQ(bottom->secondGuide, platform::LayoutGuide::SafeArea);
    EXPECT_EQ(bottom->constant, -20);
    const auto right = view->constraints()[1];
    EXPECT_EQ(right->firstAttribute, platform::LayoutAttribute::Right);
    EXPECT_EQ(right->secondGuide, platform::LayoutGuide::Margins);
    control->setMapPadding({0, 0, 50, 0});
    EXPECT_EQ(bottom->constant, -50);

    // The default selector, at half the view's height, shown on it.
    auto selector = std::dynamic_pointer_cast<CVFloorSelectorControl>(control->floorSelector());
    ASSERT_TRUE(selector);
    EXPECT_EQ(selector->maxHeight(), 400);
    EXPECT_EQ(selector->delegate(), control);
    EXPECT_TRUE(contains(view->subviews(), selector));
    // Taking it away puts a new default in its place.
    control->setFloorSelector(nullptr);
    settle();
    auto replacement = std::dynamic_pointer_cast<CVFloorSelectorControl>(control->floorSelector());
    ASSERT_TRUE(replacement);
    EXPECT_NE(replacement, selector);
    EXPECT_FALSE(contains(view->subviews(), selector));
    EXPECT_TRUE(contains(view->subviews(), replacement));
    // A hidden selector is told so and not put on the view.
    control->setHideFloorSelector(true);
    auto hidden = CVFloorSelectorControl::create();
    control->setFloorSelector(hidden);
    settle();
    EXPECT_TRUE(hidden->isHidden());
    EXPECT_FALSE(contains(view->subviews(), hidden));
    EXPECT_FALSE(contains(view->subviews(), replacement));

    destroy();
    EXPECT_EQ(logo->superview(), nullptr);
    EXPECT_EQ(hidden->superview(), nullptr);
    EXPECT_TRUE(view->subviews().empty());
}

TEST_F(MapControlViewsTest, NoLogoWithoutASolutionForAWhiteLabelOneOrWithoutAView) {
    struct Case {
        const char* name;
        std::shared_ptr<CVSolutionInternal> solution;
        bool view;
    };
    for (const Case& testCase : {Case{"no solution", nullptr, true}, Case{"white label", solution(true), true},
                                 Case{"no view", solution(false), false}}) {
        SCOPED_TRACE(testCase.name);
        entry->loadedSolution = testCase.solution;
        adapter = std::make_shared<RecordingMapAdapter>();
        const auto view = testCase.view ? adapter->attachView({400, 800}) : nullptr;
        ASSERT_TRUE(make());
        settle();
        EXPECT_EQ(control->logoView(), nullptr);
        control->setMapPadding({0, 0, 30, 0});
        EXPECT_EQ(adapter->padding().bottom, 30);
        // Without a view there is no default floor selector either.
        EXPECT_EQ(control->floorSelector() != nullptr, testCase.view);
        if (view) {
            EXPECT_EQ(view->subviews().size(), 1U);
        }
        destroy();
    }
}

TEST_F(MapControlViewsTest, ThePositionProviderDrivesThePresenterTheUserFloorAndTheHost) {
    CVDisplayRuleData rule;
    rule.polygonFillColor = platform::Color::fromHex("#3071D9");
    rule.polygonFillOpacity = 0.25;
    entry->rule = std::make_shared<CVDisplayRule>(rule);
    adapter->attachView({400, 800});
    ASSERT_TRUE(make());
    settle();
    auto& presenter = adapter->recordingPositionPresenter();
    const auto provider = std::make_shared<FakePositionProvider>();
    control->setPositionProvider(provider);
    EXPECT_EQ(control->positionProvider(), provider);
    ASSERT_EQ(provider->delegate(), control);

    // Off: the user's floor and the host hear of the fix; nothing is drawn or kept.
    const CVPositionResult first{{55.1, 12.1}, 2, 90, 5};
    provider->report(first);
    settle();
    EXPECT_TRUE(presenter.applied().empty());
    EXPECT_EQ(std::dynamic_pointer_cast<CVFloorSelectorControl>(control->floorSelector())->userFloor(), 2);
    EXPECT_EQ(delegate->positions(), std::vector<CVPositionResult>{first});

    control->setShowUserPosition(true);
    EXPECT_EQ(presenter.clears(), 1);
    provider->report(first);
    ASSERT_TRUE(test::waitFor([&] { return presenter.applied().size() == 1; }));
    EXPECT_EQ(presenter.applied()[0].markerOpacity, 0.5);
    EXPECT_EQ(presenter.applied()[0].circleFillColor >> 8, 0x3071D9U);
    // Every render draws the position again, once its view models are set.
    const auto gate = std::make_shared<test::ThreadGate>();
    adapter->setViewModelsGate(gate);
    control->requestRender(false);
    ASSERT_TRUE(gate->waitForArrivals(1));
    EXPECT_EQ(presenter.applied().size(), 1U);
    gate->open();
    settle();
    ASSERT_TRUE(test::waitFor([&] { return presenter.applied().size() == 2; }));

    control->setShowUserPosition(false);
    EXPECT_EQ(presenter.clears(), 2);
    provider->report(CVPositionResult{{55.2, 12.2}, 0, 0, 1});
    control->setShowUserPosition(true);
    EXPECT_EQ(presenter.clears(), 3);
    ASSERT_TRUE(test::waitFor([&] { return presenter.applied().size() == 3; }));
    EXPECT_EQ(presenter.applied()[2].position.latitude, 55.1);
}

TEST_F(MapControlViewsTest, TheNewestDirectionsRendererFollowsTheMapsFloor) {
    ASSERT_TRUE(make());
    settle();
    const auto first = std::dynamic_pointer_cast<CVDirectionsRendererInternal>(control->newDirectionsRenderer());
    ASSERT_TRUE(first);
    EXPECT_EQ(first->renderer(), adapter->routeRenderer());
    onMain([&] {
        first->setRoute(test::RouteDocument::route({test::RouteDocument::leg(0, {{55.0, 12.0}, {55.0, 12.1}}),
                                                    test::RouteDocument::leg(1, {{55.0, 12.1}, {55.1, 12.1}})}));
        first->render();
    });
    EXPECT_TRUE(first->isRouteShown());
    // Leaving the leg's floor hides the route; coming back draws it again.
    onMain([&] { control->setCurrentFloorIndex(1); });
    EXPECT_FALSE(first->isRouteShown());
    onMain([&] { control->setCurrentFloorIndex(0); });
    EXPECT_TRUE(first->isRouteShown());
    EXPECT_EQ(adapter->recordingRouteRenderer().applied().size(), 2U);

    // A newer renderer takes the floor changes over.
    const auto second = control->newDirectionsRenderer();
    ASSERT_TRUE(second);
    onMain([&] { control->setCurrentFloorIndex(1); });
    EXPECT_TRUE(first->isRouteShown());
    settle();
}

TEST_F(MapControlViewsTest, AFloorChangeAndATextSizeChangeFromAnotherThreadRedrawOnTheMainQueue) {
    adapter->attachView({400, 800});
    ASSERT_TRUE(make());
    settle();
    const auto selector = std::dynamic_pointer_cast<CVFloorSelectorControl>(control->floorSelector());
    ASSERT_TRUE(selector);
    const auto renderer = std::dynamic_pointer_cast<CVDirectionsRendererInternal>(control->newDirectionsRenderer());
    ASSERT_TRUE(renderer);
    auto building = std::make_shared<CVBuildingInternal>();
    building->buildingId = "b";
    building->floors = {{"0", test::makeFloor(0)}, {"1", test::makeFloor(1)}};
    std::vector<std::shared_ptr<CVFloorButton>> buttons;
    onMain([&] {
        selector->setBuilding(building);
        buttons = selector->buttons();
        renderer->setRoute(test::RouteDocument::route({test::RouteDocument::leg(0, {{55.0, 12.0}, {55.0, 12.1}})}));
        renderer->render();
    });
    ASSERT_EQ(buttons.size(), 2U);
    ASSERT_TRUE(renderer->isRouteShown());
    auto& routes = adapter->recordingRouteRenderer();
    const auto drawn = routes.calls().size();

    // The text size is the process's: this test leaves it as it found it.
    struct TextSizeRestored {
        platform::ContentSizeCategory category = platform::ContentSize::preferredCategory();
        ~TextSizeRestored() { platform::ContentSize::setPreferredCategory(category); }
    } restored;
    // Asked for from this thread while the main queue is busy: neither the
    // route nor the floor buttons are touched here.
    const auto busy = std::make_shared<test::ThreadGate>();
    platform::MainQueue::shared().async([busy] { busy->pass(); });
    ASSERT_TRUE(busy->waitForArrivals(1));
    control->setCurrentFloorIndex(1);
    platform::ContentSize::setPreferredCategory(platform::ContentSizeCategory::AccessibilityLarge);
    EXPECT_EQ(routes.calls().size(), drawn);
    EXPECT_TRUE(selector->buttons() == buttons) << "rebuilt on this thread";
    busy->open();
    settle();
    EXPECT_GT(routes.calls().size(), drawn);
    EXPECT_FALSE(renderer->isRouteShown());
    onMain([&] {
        EXPECT_EQ(selector->buttons().size(), 2U);
        EXPECT_TRUE(selector->buttons() != buttons) << "not rebuilt";
    });
}

}  // namespace
}  // namespace ambrell::map_control_views_test
