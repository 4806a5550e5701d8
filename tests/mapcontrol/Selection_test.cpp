#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "data/CVBuildingInternal.h"
#include "data/CVEntrySeams.h"
#include "foundation/CVLogger.h"
#include "platform/runtime/BlockingWait.h"
#include "platform/runtime/ThreadPool.h"
#include "tests/mapcontrol/MapControlFixture.h"
#include "tests/support/WaitFor.h"

namespace ambrell::selection_test {
namespace {

using Texts = std::vector<std::string>;

// A host that writes down what it hears and answers taps as the test says.
class TapHost : public CVMapControlDelegate {
public:
    std::atomic<bool> responds{true};
    std::atomic<bool> takesTaps{false};

    [[nodiscard]] bool respondsTo(CVMapControlDelegateMember /*member*/) const override { return responds; }
    void didChangeFloorIndex(std::int64_t floor) override { note("floor " + std::to_string(floor)); }
    void didChangeSelectedLocation(const std::shared_ptr<CVLocation>& location) override {
        note("selected " + (location ? location->getLocationId() : "none"));
    }
    bool didTapWithCoordinate(const CVPoint& point) override { return note("tap " + point.latLongString()); }
    bool didTapIconWithLocation(const std::shared_ptr<CVLocation>& location) override {
        return note("icon " + location->getLocationId());
    }
    bool didTapInfoWindowWithLocation(const std::shared_ptr<CVLocation>& location) override {
        return note("info window " + location->getLocationId());
    }
    Texts take() {
        std::lock_guard lock(mutex_);
        return std::exchange(events_, {});
    }

private:
    bool note(std::string event) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
        return takesTaps;
    }
    std::mutex mutex_;
    Texts events_;
};

// A point location drawn by a rule that shows only a badge, from zoom 10.
std::shared_ptr<CVLocationInternal> place(const std::string& id, double latitude, double longitude, double floor) {
    auto location = std::make_shared<CVLocationInternal>(CVPoint(latitude, longitude, floor), id);
    location->locationId = id;
    location->type = "Cafe";
    CVDisplayRuleData rule;
    rule.badgeVisible = true;
    rule.badgeZoomFrom = 10;
    rule.badgeZoomTo = 22;
    location->displayRule = std::make_shared<CVDisplayRule>(rule);
    return location;
}

// Each location's own rule; an empty one for the selected and highlighted states.
class OwnRuleEntry : public CVEntryObjectSeam {
public:
    [[nodiscard]] std::shared_ptr<CVDisplayRule> displayRuleForLocation(const CVLocation& location) const override {
        return location.getDisplayRule();
    }
    [[nodiscard]] std::shared_ptr<CVDisplayRule> displayRuleForDisplayRuleType(int /*rawType*/) const override {
        return std::make_shared<CVDisplayRule>();
    }
};

class SelectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        adapter->setProjection([](platform::CLLocationCoordinate2D c) {
            return platform::CGPoint{c.longitude, c.latitude};
        });
        adapter->setVisibleBounds(CVGeoBounds({55.0, 12.0}, {55.2, 12.2}));
        adapter->setCameraPosition(CVCameraPosition{{55.0, 12.0}, 18});
        // The camera stays in this venue, so following it keeps the selection behaviour.
        entry->venueList = {test::makeVenue("v", {12.0, 55.0, 12.2, 55.2})};
        entry->locations = {a, b};
        setMapProvider(config, adapter);
        control = CVMapControlInternal::create(config, {entry, clock.clock()});
        ASSERT_TRUE(control);
        control->setDelegate(host);
        heard();
        logged = taps().size();
    }
    void TearDown() override {
        CVEntryObjectSeam::install(nullptr);
        setMapProvider(config, nullptr);
        EXPECT_TRUE(test::releaseMapControl(control, *adapter));
    }
    void settle() { ASSERT_TRUE(test::settleMapControl(*control)); }
    // What the host heard once the queued notifications ran.
    Texts heard() {
        settle();
        return host->take();
    }
    static Texts taps() {
        Texts texts;
        for (const auto& entry : platform::blockingWait(platform::ThreadPool::shared().makeStrand(),
                                                        CVLogger::sharedInstance()->loggerActor()->logEntries())) {
            if (entry.domain != CVLogDomain::map) continue;
            texts.emplace_back(description(entry.name));
            for (const auto& [key, value] : entry.parameters.value_or(CVLogEntry::Parameters{})) {
                texts.back() += " " + key + "=" + value;
            }
        }
        return texts;
    }
    // The usage events logged since the last call, once `count` arrived.
    Texts newTaps(std::size_t count) {
        Texts texts;
        EXPECT_TRUE(test::waitFor([&] { return (texts = taps()).size() >= logged + count; }));
        texts.erase(texts.begin(), texts.begin() + static_cast<std::ptrdiff_t>(std::exchange(logged, texts.size())));
        return texts;
    }
    [[nodiscard]] Texts cameraCalls() const {
        Texts moves;
        for (const auto& name : adapter->callNames()) {
            if (name.starts_with("animate")) moves.push_back(name);
        }
        return moves;
    }

    platform::MainQueueThread mainThread;
    CVMapConfig config;
    std::shared_ptr<test::RecordingMapAdapter> adapter = std::make_shared<test::RecordingMapAdapter>();
    std::shared_ptr<test::FakeMapEntry> entry = std::make_shared<test::FakeMapEntry>();
    std::shared_ptr<TapHost> host = std::make_shared<TapHost>();
    test::ManualClock clock;
    std::shared_ptr<CVMapControlInternal> control;
    std::shared_ptr<CVLocationInternal> a = place("a", 55.1, 12.1, 2);
    std::shared_ptr<CVLocationInternal> b = place("b", 55.15, 12.05, 0);
    std::size_t logged = 0;
};

TEST_F(SelectionTest, StatesFollowTheSelectionAndTheHostHearsOfNewIdsOnly) {
    control->setSelectedLocation(a);
    EXPECT_EQ(CVLocationInternal(*a).state, 1) << "a copy keeps the state";
    EXPECT_EQ(heard(), Texts{"selected a"});
    control->setSelectedLocation(a);
    EXPECT_EQ(a->state, 1);
    auto sameId = place("a", 0, 0, 0);
    control->setSelectedLocation(sameId);
    EXPECT_EQ(a->state, 0);
    EXPECT_EQ(heard(), Texts{});
    control->setSelectedLocation(nullptr);
    control->setSelectedLocation(nullptr);
    EXPECT_EQ(sameId->state, 0);
    EXPECT_EQ(heard(), Texts{"selected none"});
    EXPECT_EQ(cameraCalls(), Texts{});
}

TEST_F(SelectionTest, TheBehaviourDecidesHowTheCameraFollows) {
    struct Case {
        bool moveCamera, zoomToFit;
        Texts camera;
        std::int64_t floor;
    };
    for (const auto& c :
         {Case{false, true, {}, 0}, Case{true, false, {"animateTarget"}, 0}, Case{true, true, {"animateBounds"}, 2}}) {
        SCOPED_TRACE(testing::Message() << c.moveCamera << c.zoomToFit);
        control->setSelectedLocation(nullptr);
        heard();
        const auto before = cameraCalls().size();
        const CVSelectionBehavior behavior{c.moveCamera, false, true, c.zoomToFit};
        control->selectWithLocation(a, behavior);
        EXPECT_EQ(heard(), (c.floor ? Texts{"selected a", "floor 2"} : Texts{"selected a"}));
        const auto moves = cameraCalls();
        EXPECT_EQ(Texts(moves.begin() + static_cast<std::ptrdiff_t>(before), moves.end()), c.camera);
        EXPECT_EQ(control->currentFloorIndex(), c.floor);
        EXPECT_EQ(control->mapStateSnapshot().currentSelectionBehavior, behavior);
    }
    EXPECT_DOUBLE_EQ(adapter->position().target.latitude, 55.1) << "centred on the location";
    // Not selectable: deselects, keeps the behaviour and the camera.
    b->locationSettings = CVLocationSettings{false};
    control->selectWithLocation(b, CVSelectionBehavior{});
    EXPECT_EQ(control->selectedLocation(), nullptr);
    EXPECT_TRUE(control->mapStateSnapshot().currentSelectionBehavior.zoomToFit);
    EXPECT_EQ(cameraCalls().size(), 2U);
}

TEST_F(SelectionTest, BuildingsVenuesAndGoToFitAndTakeTheFloorOfTheirPosition) {
    auto building = std::make_shared<CVBuildingInternal>();
    building->buildingId = "b1";
    building->cv_setPolygon(std::make_shared<CVPolygonGeometry>(
        std::vector<CVPolygonGeometry::Ring>{{{55.05, 12.05}, {55.05, 12.1}, {55.1, 12.1}, {55.05, 12.05}}}));
    building->anchor = CVPoint(55.07, 12.07, 3);
    building->floors = {{"0", test::makeFloor(0)}, {"2", test::makeFloor(2)}, {"3", test::makeFloor(3)}};
    entry->buildings = {building};  // the camera finds it again
    entry->locations.push_back(test::makeBuildingLocation("b1", 55.07, 12.07));

    control->selectWithBuilding(building, CVSelectionBehavior{});
    EXPECT_EQ(control->currentBuilding(), building);
    EXPECT_EQ(control->currentFloorIndex(), 3);
    const auto venue = test::makeVenue("v", {12.0, 55.0, 12.2, 55.2});
    control->selectWithVenue(venue, CVSelectionBehavior{false});
    EXPECT_EQ(control->currentFloorIndex(), 3);
    control->goToEntity(*venue);
    EXPECT_EQ(control->currentFloorIndex(), 0) << "the centre of an unanchored venue";
    control->goToEntity(*a);
    EXPECT_EQ(control->currentFloorIndex(), 2);
    EXPECT_EQ(adapter->animatedBounds().size(), 3U);
}

TEST_F(SelectionTest, MapTapsAreLoggedByCoordinateAndDeselectUnlessTheHostTakesThem) {
    control->setSelectedLocation(a);
    heard();
    host->takesTaps = true;
    control->didTap(platform::CLLocationCoordinate2D{55, 12.5});
    EXPECT_EQ(control->selectedLocation(), a);
    EXPECT_EQ(heard(), Texts{"tap 55,12.5"});
    host->responds = false;
    control->didTap(platform::CLLocationCoordinate2D{-0.1, 1e21});
    control->didTap(platform::CLLocationCoordinate2D{55.676098, -180});
    EXPECT_EQ(control->selectedLocation(), nullptr);
    EXPECT_EQ(newTaps(3), (Texts{"map_clicked at_coordinate=55.0:12.5", "map_clicked at_coordinate=-0.1:1e+21",
                                 "map_clicked at_coordinate=55.676098:-180.0"}));
}

TEST_F(SelectionTest, FeatureTapsSelectWhenTheRuleShowsTheKindUnlessTheHostTakesThem) {
    host->responds = false;
    for (const auto& [type, selects] : {std::pair{CVRenderedFeatureType::marker, true},
                                        {CVRenderedFeatureType::floorplan, false},
                                        {CVRenderedFeatureType::polygon, false}}) {
        control->setSelectedLocation(nullptr);
        EXPECT_FALSE(control->didTap("a", type));
        EXPECT_EQ(control->selectedLocation(), selects ? a : nullptr) << rawValue(type);
    }
    adapter->setCameraPosition(CVCameraPosition{{55.0, 12.0}, 9});
    EXPECT_FALSE(control->didTap("a", CVRenderedFeatureType::marker));
    EXPECT_EQ(control->selectedLocation(), nullptr) << "below the badge's zoom";
    EXPECT_EQ(newTaps(4), (Texts{"map_clicked location_type=Cafe", "map_clicked", "map_clicked", "map_clicked"}));

    adapter->setCameraPosition(CVCameraPosition{{55.0, 12.0}, 18});
    heard();
    host->responds = true;
    control->setSelectedLocation(b);
    EXPECT_EQ(heard(), Texts{"selected b"});
    host->takesTaps = true;
    EXPECT_TRUE(control->didTap("a", CVRenderedFeatureType::marker));
    EXPECT_TRUE(control->didTapInfoWindowOf("a"));
    EXPECT_FALSE(control->didTapInfoWindowOf("unknown"));
    EXPECT_EQ(control->selectedLocation(), b);
    EXPECT_EQ(heard(), (Texts{"icon a", "info window a"}));
    EXPECT_EQ(newTaps(1), Texts{"map_clicked location_type=Cafe"}) << "info windows log nothing";
}

TEST_F(SelectionTest, ClusterTapsFitTheCameraToTheirKnownMembersOnly) {
    EXPECT_FALSE(control->didTap("CVCluster+a+unknown++b", CVRenderedFeatureType::marker));
    ASSERT_EQ(adapter->animatedBounds().size(), 1U);
    EXPECT_EQ(adapter->animatedBounds()[0], CVGeoBounds({55.1, 12.05}, {55.15, 12.1}));
    // No known member: no move to 0°, 0°.
    EXPECT_FALSE(control->didTap("CVCluster+", CVRenderedFeatureType::marker));
    EXPECT_FALSE(control->didTap("CVCluster+x+y", CVRenderedFeatureType::marker));
    EXPECT_EQ(adapter->animatedBounds().size(), 1U);
    EXPECT_FALSE(control->didTap("nowhere", CVRenderedFeatureType::marker));
    EXPECT_EQ(newTaps(1), Texts{"map_clicked"}) << "only the unknown id is logged";
}

TEST_F(SelectionTest, SelectionsAndHighlightsWhileRendersReadTheLocations) {
    CVEntryObjectSeam::install(std::make_shared<OwnRuleEntry>());
    std::thread tapping([this] {
        for (int i = 0; i < 10; ++i) control->didTap(i % 2 == 0 ? "a" : "b", CVRenderedFeatureType::marker);
    });
    for (int i = 0; i < 10; ++i) {
        control->requestRender(false);
        control->setHighlight({a}, CVHighlightBehavior{});
    }
    tapping.join();
    settle();
    const auto calls = adapter->setViewModelsCalls();
    EXPECT_TRUE(std::any_of(calls.begin(), calls.end(), [](const auto& call) { return !call.models.empty(); }));
}

}  // namespace
}  // namespace ambrell::selection_test
