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

using test::FakeMapEntry;
using test::ManualClock;
using test::RecordingMapAdapter;

// A host that writes down the selection, floor and tap members it hears and
// answers the taps as the test says.
class TapHost : public CVMapControlDelegate {
public:
    std::atomic<bool> responds{true};
    std::atomic<bool> takesTaps{false};

    [[nodiscard]] bool respondsTo(CVMapControlDelegateMember /*member*/) const override { return responds; }
    void didChangeFloorIndex(std::int64_t floorIndex) override { note("floor " + std::to_string(floorIndex)); }
    void didChangeSelectedLocation(const std::shared_ptr<CVLocation>& location) override {
        note("selected " + (location ? location->getLocationId() : std::string("none")));
    }
    bool didTapWithCoordinate(const CVPoint& point) override {
        note("tap at " + point.latLongString());
        return takesTaps;
    }
    bool didTapIconWithLocation(const std::shared_ptr<CVLocation>& location) override {
        note("icon " + location->getLocationId());
        return takesTaps;
    }
    bool didTapInfoWindowWithLocation(const std::shared_ptr<CVLocation>& location) override {
        note("info window " + location->getLocationId());
        return takesTaps;
    }

    [[nodiscard]] std::vector<std::string> takeEvents() {
        std::lock_guard lock(mutex_);
        return std::exchange(events_, {});
    }

private:
    void note(std::string event) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }
    std::mutex mutex_;
    std::vector<std::string> events_;
};

// A point location on a floor, drawn with a rule that shows only a badge
// from zoom 10 to 22.
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

// The content layer's view of the entry object: each location's own rule,
// and empty rules for the selected and highlighted states.
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
        // The camera stays inside this venue, so that following it keeps the
        // selection behaviour.
        entry->venueList = {test::makeVenue("v", {12.0, 55.0, 12.2, 55.2})};
        entry->locations = {first, second};
        setMapProvider(config, adapter);
        control = CVMapControlInternal::create(config, {entry, clock.clock()});
        ASSERT_TRUE(control);
        control->setDelegate(host);
        settle();
        (void)host->takeEvents();
        usageBaseline = loggedTaps().size();
    }
    void TearDown() override {
        CVEntryObjectSeam::install(nullptr);
        setMapProvider(config, nullptr);
        if (!control) return;
        settle();
        std::weak_ptr<CVMapControlInternal> gone = control;
        control.reset();
        adapter->setDelegate({});
        EXPECT_TRUE(test::waitFor([&] { return gone.expired(); }));
        platform::MainQueue::shared().drain();
    }

    void settle() {
        ASSERT_TRUE(test::waitFor([&] {
            platform::MainQueue::shared().drain();
            if (control->tasksInFlight() != 0) return false;
            platform::MainQueue::shared().drain();
            return control->tasksInFlight() == 0;
        }));
    }

    std::vector<std::string> hostHeard() {
        settle();
        return host->takeEvents();
    }

    // The map's usage events as "map_clicked key=value", oldest first.
    static std::vector<std::string> loggedTaps() {
        const auto entries = platform::blockingWait(platform::ThreadPool::shared().makeStrand(),
                                                    CVLogger::sharedInstance()->loggerActor()->logEntries());
        std::vector<std::string> taps;
        for (const auto& entry : entries) {
            if (entry.domain != CVLogDomain::map) continue;
            std::string text(description(entry.name));
            for (const auto& [key, value] : entry.parameters.value_or(CVLogEntry::Parameters{})) {
                text += " " + key + "=" + value;
            }
            taps.push_back(text);
        }
        return taps;
    }
    // The taps logged since the last call, once `count` of them arrived.
    std::vector<std::string> newTaps(std::size_t count) {
        std::vector<std::string> taps;
        EXPECT_TRUE(test::waitFor([&] {
            taps = loggedTaps();
            return taps.size() >= usageBaseline + count;
        }));
        taps.erase(taps.begin(), taps.begin() + static_cast<std::ptrdiff_t>(usageBaseline));
        usageBaseline += taps.size();
        return taps;
    }

    [[nodiscard]] std::vector<std::string> cameraCalls() const {
        std::vector<std::string> moves;
        for (const auto& name : adapter->callNames()) {
            if (name.starts_with("animate") || name == "move") moves.push_back(name);
        }
        return moves;
    }

    platform::MainQueueThread mainThread;
    CVMapConfig config;
    std::shared_ptr<RecordingMapAdapter> adapter = std::make_shared<RecordingMapAdapter>();
    std::shared_ptr<FakeMapEntry> entry = std::make_shared<FakeMapEntry>();
    std::shared_ptr<TapHost> host = std::make_shared<TapHost>();
    ManualClock clock;
    std::shared_ptr<CVMapControlInternal> control;
    std::shared_ptr<CVLocationInternal> first = place("a", 55.1, 12.1, 2);
    std::shared_ptr<CVLocationInternal> second = place("b", 55.15, 12.05, 0);
    std::size_t usageBaseline = 0;
};

TEST_F(SelectionTest, TheHostHearsOfANewLocationIdOnly) {
    control->setSelectedLocation(first);
    EXPECT_EQ(first->state, 1);
    EXPECT_EQ(CVLocationInternal(*first).state, 1) << "a copy keeps the state";
    EXPECT_EQ(hostHeard(), std::vector<std::string>{"selected a"});

    control->setSelectedLocation(first);
    EXPECT_EQ(first->state, 1) << "re-selecting the same object keeps it selected";
    auto sameId = place("a", 0, 0, 0);
    control->setSelectedLocation(sameId);
    EXPECT_EQ(first->state, 0);
    EXPECT_EQ(sameId->state, 1);
    EXPECT_EQ(hostHeard(), std::vector<std::string>{});

    control->setSelectedLocation(nullptr);
    control->setSelectedLocation(nullptr);
    EXPECT_EQ(sameId->state, 0);
    EXPECT_EQ(hostHeard(), std::vector<std::string>{"selected none"});
    EXPECT_EQ(cameraCalls(), std::vector<std::string>{}) << "assigning moves no camera";
}

TEST_F(SelectionTest, TheBehaviourDecidesHowTheCameraFollowsASelection) {
    struct Case {
        bool moveCamera;
        bool zoomToFit;
        std::vector<std::string> camera;
        std::int64_t floor;
    };
    const Case cases[] = {
        {false, true, {}, 0},
        {false, false, {}, 0},
        {true, false, {"animateTarget"}, 0},
        {true, true, {"animateBounds"}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "moveCamera " << c.moveCamera << ", zoomToFit " << c.zoomToFit);
        control->setSelectedLocation(nullptr);
        // The host hears the value current when its notification runs.
        settle();
        const auto before = cameraCalls().size();
        CVSelectionBehavior behavior;
        behavior.moveCamera = c.moveCamera;
        behavior.zoomToFit = c.zoomToFit;
        behavior.showInfoWindow = false;
        control->selectWithLocation(first, behavior);
        settle();
        const auto calls = cameraCalls();
        EXPECT_EQ(std::vector<std::string>(calls.begin() + static_cast<std::ptrdiff_t>(before), calls.end()), c.camera);
        EXPECT_EQ(control->selectedLocation(), first);
        EXPECT_EQ(control->currentFloorIndex(), c.floor);
        EXPECT_EQ(control->mapStateSnapshot().currentSelectionBehavior, behavior);
    }
    EXPECT_DOUBLE_EQ(adapter->position().target.latitude, 55.1) << "centred on the location";
    const auto fitted = adapter->animatedBounds().back();
    EXPECT_DOUBLE_EQ(fitted.southWest().longitude, 12.1);
    EXPECT_EQ(hostHeard(), (std::vector<std::string>{"selected a", "selected none", "selected a", "selected none",
                                                     "selected a", "selected none", "selected a", "floor 2"}));
}

TEST_F(SelectionTest, AnUnselectableLocationDeselectsAndKeepsTheBehaviour) {
    CVSelectionBehavior kept;
    kept.moveCamera = false;
    control->selectWithLocation(first, kept);
    settle();
    second->locationSettings = CVLocationSettings{false};
    control->selectWithLocation(second, CVSelectionBehavior{});
    EXPECT_EQ(control->selectedLocation(), nullptr);
    EXPECT_EQ(second->state, 0);
    EXPECT_EQ(first->state, 0);
    control->selectWithLocation(nullptr, CVSelectionBehavior{});
    EXPECT_EQ(control->mapStateSnapshot().currentSelectionBehavior, kept);
    EXPECT_EQ(cameraCalls(), std::vector<std::string>{});
    EXPECT_EQ(hostHeard(), (std::vector<std::string>{"selected a", "selected none"}));
}

TEST_F(SelectionTest, BuildingsAndVenuesFitAndTakeTheFloorOfTheirPosition) {
    auto building = std::make_shared<CVBuildingInternal>();
    building->buildingId = "b1";
    building->cv_setPolygon(std::make_shared<CVPolygonGeometry>(std::vector<CVPolygonGeometry::Ring>{
        {{55.05, 12.05}, {55.05, 12.1}, {55.1, 12.1}, {55.1, 12.05}, {55.05, 12.05}}}));
    building->anchor = CVPoint(55.07, 12.07, 3);
    building->floors = {{"0", test::makeFloor(0)}, {"2", test::makeFloor(2)}, {"3", test::makeFloor(3)}};
    // The camera finds the same building again.
    entry->buildings = {building};
    entry->locations.push_back(test::makeBuildingLocation("b1", 55.07, 12.07));

    control->selectWithBuilding(building, CVSelectionBehavior{});
    EXPECT_EQ(control->currentBuilding(), building);
    EXPECT_EQ(control->currentFloorIndex(), 3);
    ASSERT_EQ(adapter->animatedBounds().size(), 1U);
    EXPECT_DOUBLE_EQ(adapter->animatedBounds()[0].northEast().latitude, 55.1);

    // Without an anchor the venue's centre stands on the default floor.
    auto venue = test::makeVenue("v", {12.0, 55.0, 12.2, 55.2});
    CVSelectionBehavior still;
    still.moveCamera = false;
    control->selectWithVenue(venue, still);
    EXPECT_EQ(control->currentFloorIndex(), 3) << "a behaviour that does not move leaves the floor";
    control->goToEntity(*venue);
    EXPECT_EQ(control->currentFloorIndex(), 0) << "going to an entity fits whatever the behaviour";
    EXPECT_EQ(adapter->animatedBounds().size(), 2U);
    control->goToEntity(*first);
    EXPECT_EQ(control->currentFloorIndex(), 2);
}

TEST_F(SelectionTest, AMapTapIsLoggedByCoordinateAndDeselectsUnlessTheHostTakesIt) {
    control->setSelectedLocation(first);
    settle();
    host->takesTaps = true;
    control->didTap(platform::CLLocationCoordinate2D{55, 12.5});
    EXPECT_EQ(control->selectedLocation(), first);
    // Without a host that answers, the tap deselects.
    host->responds = false;
    control->didTap(platform::CLLocationCoordinate2D{-0.1, 1e21});
    EXPECT_EQ(control->selectedLocation(), nullptr);
    control->didTap(platform::CLLocationCoordinate2D{55.676098, -180});
    EXPECT_EQ(newTaps(3),
              (std::vector<std::string>{"map_clicked at_coordinate=55.0:12.5", "map_clicked at_coordinate=-0.1:1e+21",
                                        "map_clicked at_coordinate=55.676098:-180.0"}));
    EXPECT_EQ(hostHeard(), (std::vector<std::string>{"selected a", "tap at 55,12.5"}));
}

TEST_F(SelectionTest, AFeatureTapSelectsWhenItsRuleShowsThatKindAtTheZoom) {
    struct Case {
        CVRenderedFeatureType type;
        bool selects;
    };
    // The rule shows only a badge, from zoom 10; the camera is at 18.
    const Case cases[] = {
        {CVRenderedFeatureType::marker, true},         {CVRenderedFeatureType::floorplan, false},
        {CVRenderedFeatureType::polygon, false},       {CVRenderedFeatureType::undefined, false},
        {CVRenderedFeatureType::wallExtrusion, false},
    };
    host->responds = false;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(rawValue(c.type)));
        control->setSelectedLocation(nullptr);
        EXPECT_FALSE(control->didTap("a", c.type));
        EXPECT_EQ(control->selectedLocation(), c.selects ? first : nullptr);
    }
    adapter->setCameraPosition(CVCameraPosition{{55.0, 12.0}, 9});
    control->setSelectedLocation(nullptr);
    EXPECT_FALSE(control->didTap("a", CVRenderedFeatureType::marker));
    EXPECT_EQ(control->selectedLocation(), nullptr) << "below the badge's zoom";
    EXPECT_EQ(newTaps(6), (std::vector<std::string>{"map_clicked location_type=Cafe", "map_clicked", "map_clicked",
                                                    "map_clicked", "map_clicked", "map_clicked"}));
}

TEST_F(SelectionTest, AHostThatTakesTheIconTapKeepsTheSelection) {
    control->setSelectedLocation(second);
    settle();
    host->takesTaps = true;
    EXPECT_TRUE(control->didTap("a", CVRenderedFeatureType::marker));
    EXPECT_EQ(control->selectedLocation(), second);
    EXPECT_EQ(hostHeard(), (std::vector<std::string>{"selected b", "icon a"}));
}

TEST_F(SelectionTest, AClusterTapFitsTheCameraToItsKnownMembers) {
    EXPECT_FALSE(control->didTap("CVCluster+a+unknown++b", CVRenderedFeatureType::marker));
    ASSERT_EQ(adapter->animatedBounds().size(), 1U);
    const auto bounds = adapter->animatedBounds()[0];
    EXPECT_DOUBLE_EQ(bounds.southWest().latitude, 55.1);
    EXPECT_DOUBLE_EQ(bounds.southWest().longitude, 12.05);
    EXPECT_DOUBLE_EQ(bounds.northEast().latitude, 55.15);
    EXPECT_DOUBLE_EQ(bounds.northEast().longitude, 12.1);

    // No known member: no camera move to 0°, 0°.
    EXPECT_FALSE(control->didTap("CVCluster+", CVRenderedFeatureType::marker));
    EXPECT_FALSE(control->didTap("CVCluster+x+y", CVRenderedFeatureType::marker));
    EXPECT_EQ(adapter->animatedBounds().size(), 1U);
    // Only the id that is neither a location nor a cluster is logged.
    EXPECT_FALSE(control->didTap("nowhere", CVRenderedFeatureType::marker));
    EXPECT_EQ(newTaps(1), std::vector<std::string>{"map_clicked"});
    EXPECT_EQ(control->selectedLocation(), nullptr);
}

TEST_F(SelectionTest, AnInfoWindowTapOnlyAsksTheHost) {
    host->takesTaps = true;
    EXPECT_TRUE(control->didTapInfoWindowOf("a"));
    EXPECT_FALSE(control->didTapInfoWindowOf("unknown"));
    host->responds = false;
    EXPECT_FALSE(control->didTapInfoWindowOf("a"));
    EXPECT_EQ(control->selectedLocation(), nullptr);
    host->responds = true;
    EXPECT_EQ(hostHeard(), std::vector<std::string>{"info window a"});
    EXPECT_EQ(loggedTaps().size(), usageBaseline);
}

TEST_F(SelectionTest, SelectionsWhileRendersReadTheLocations) {
    CVEntryObjectSeam::install(std::make_shared<OwnRuleEntry>());
    CVDisplayRuleData labelled;
    labelled.labelVisible = true;
    labelled.label = "{{name}}";
    labelled.labelZoomFrom = 10;
    labelled.labelZoomTo = 22;
    for (const auto& location : {first, second}) location->displayRule = std::make_shared<CVDisplayRule>(labelled);
    std::thread taps([this] {
        for (int i = 0; i < 10; ++i) control->didTap(i % 2 == 0 ? "a" : "b", CVRenderedFeatureType::marker);
    });
    for (int i = 0; i < 10; ++i) {
        control->requestRender(false);
        control->setHighlight({first}, CVHighlightBehavior{});
    }
    taps.join();
    settle();
    const auto calls = adapter->setViewModelsCalls();
    EXPECT_TRUE(std::any_of(calls.begin(), calls.end(), [](const auto& call) { return !call.models.empty(); }))
        << "the renders read the locations";
}

}  // namespace
}  // namespace ambrell::selection_test
