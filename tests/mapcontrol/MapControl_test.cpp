#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "mapcontrol/CVFloorNumber.h"
#include "mapcontrol/CVFloorSelectorControl.h"
#include "platform/runtime/BlockingWait.h"
#include "platform/runtime/ThreadPool.h"
#include "tests/mapcontrol/MapControlFixture.h"
#include "tests/support/WaitFor.h"

namespace ambrell::map_control_test {
namespace {

using namespace std::chrono_literals;
using test::FakeMapEntry;
using test::ManualClock;
using test::RecordingMapAdapter;
using test::RecordingMapDelegate;

class MapControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        adapter->setProjection([](platform::CLLocationCoordinate2D c) {
            return platform::CGPoint{c.longitude, c.latitude};
        });
        adapter->setVisibleBounds(CVGeoBounds({55.0, 12.0}, {55.2, 12.2}));
        adapter->setCamera(18, 0);
    }
    void TearDown() override {
        setMapProvider(config, nullptr);
        EXPECT_TRUE(test::releaseMapControl(control, *adapter));
    }

    std::shared_ptr<CVMapControlInternal> make() {
        setMapProvider(config, adapter);
        control = CVMapControlInternal::create(config, {entry, clock.clock()});
        if (control) control->setDelegate(delegate);
        return control;
    }

    void settle() { ASSERT_TRUE(test::settleMapControl(*control)); }

    static std::thread::id mainThreadId() {
        std::thread::id id;
        platform::MainQueue::shared().async([&id] { id = std::this_thread::get_id(); });
        platform::MainQueue::shared().drain();
        return id;
    }

    [[nodiscard]] std::size_t renders() const { return adapter->setViewModelsCalls().size(); }

    platform::MainQueueThread mainThread;
    CVMapConfig config;
    std::shared_ptr<RecordingMapAdapter> adapter = std::make_shared<RecordingMapAdapter>();
    std::shared_ptr<FakeMapEntry> entry = std::make_shared<FakeMapEntry>();
    std::shared_ptr<RecordingMapDelegate> delegate = std::make_shared<RecordingMapDelegate>();
    ManualClock clock;
    std::shared_ptr<CVMapControlInternal> control;
};

TEST(MapConfigSlot, IsOneSlotForEveryConfigurationAndStartsEmpty) {
    CVMapConfig first;
    CVMapConfig second;
    EXPECT_EQ(mapProvider(first), nullptr);
    auto adapter = std::make_shared<RecordingMapAdapter>();
    setMapProvider(first, adapter);
    EXPECT_EQ(mapProvider(second), adapter);
    setMapProvider(second, nullptr);
    EXPECT_EQ(mapProvider(first), nullptr);
}

TEST(FloorNumber, IsAWholeNumberOnlyWhenFiniteAndInRange) {
    EXPECT_EQ(floorNumber(2.9), 2);
    EXPECT_EQ(floorNumber(-1.5), -1);
    EXPECT_EQ(floorNumber(std::nullopt), std::nullopt);
    EXPECT_EQ(floorNumber(1e300), std::nullopt);
    EXPECT_EQ(floorNumber(9223372036854775808.0), std::nullopt);
    EXPECT_EQ(floorNumber(-9223372036854775808.0), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(floorNumber(std::numeric_limits<double>::quiet_NaN()), std::nullopt);
    EXPECT_EQ(floorNumber(-std::numeric_limits<double>::infinity()), std::nullopt);
}

TEST_F(MapControlTest, AnEmptyAdapterSlotGivesNoMapControl) {
    EXPECT_EQ(CVMapControlInternal::create(config, {entry, clock.clock()}), nullptr);
    EXPECT_EQ(entry->active(), nullptr);
}

TEST_F(MapControlTest, CreationRegistersTakesTheFirstVenueAndRenders) {
    entry->venueList = {test::makeVenue("v1", {12.0, 55.0, 12.2, 55.2}), test::makeVenue("v2", {0, 0, 1, 1})};
    ASSERT_TRUE(make());
    EXPECT_EQ(entry->active(), control);
    EXPECT_EQ(adapter->delegate(), control);
    settle();
    EXPECT_EQ(control->currentVenue()->getVenueId(), "v1");
    EXPECT_GE(renders(), 1U);
    EXPECT_GE(adapter->tileProvidersSet(), 1);
    // A later adapter in the slot does not change the map control's services.
    auto other = std::make_shared<RecordingMapAdapter>();
    setMapProvider(config, other);
    EXPECT_EQ(control->map(), adapter);
}

TEST_F(MapControlTest, RenderSettingsComeInOrderOffTheMainThreadBeforeTheModels) {
    CVSolutionConfig solution;
    solution.settings3D.wallOpacity = 0.25;
    entry->config = solution;
    ASSERT_TRUE(make());
    settle();
    control->setHiddenFeatures({5, 99, -1});
    control->requestRender(false);
    settle();
    const auto calls = adapter->calls();
    std::vector<std::string> last;
    for (auto it = calls.rbegin(); it != calls.rend() && last.size() < 6; ++it) last.insert(last.begin(), it->name);
    EXPECT_EQ(last,
              (std::vector<std::string>{"setCustomInfoWindow", "setCollisionHandling", "setWallExtrusionOpacity",
                                        "setFeatureExtrusionOpacity", "setEnableNativeMapBuildings", "setViewModels"}));
    const auto mainThread = mainThreadId();
    for (const auto& call : calls) {
        if (call.name == "setViewModels") {
            EXPECT_NE(call.thread, mainThread);
        }
    }
    EXPECT_DOUBLE_EQ(adapter->wallExtrusionOpacity(), 0.25);
    EXPECT_FALSE(adapter->enableNativeMapBuildings());
}

TEST_F(MapControlTest, ThreeRequestsGiveTwoRendersAndTheDroppedForceClearIsLost) {
    ASSERT_TRUE(make());
    settle();
    const auto before = renders();
    auto gate = std::make_shared<test::AsyncGate>();
    adapter->setVisibleRegionGate(gate);
    control->requestRender(false);
    ASSERT_TRUE(test::waitFor([&] { return gate->arrivals() == 1; }));
    control->requestRender(false);
    ASSERT_TRUE(test::waitFor([&] {
        return platform::blockingWait(platform::ThreadPool::shared().makeStrand(),
                                      control->renderQueue()->waitingCount()) == 1;
    }));
    control->requestRender(true);
    ASSERT_TRUE(test::waitFor([&] { return control->tasksInFlight() == 2; })) << "the third is dropped at once";
    // Changed while the second waits: it reads the state when it starts.
    control->setHiddenFeatures({5});
    gate->open();
    settle();
    const auto calls = adapter->setViewModelsCalls();
    ASSERT_EQ(calls.size(), before + 2);
    EXPECT_FALSE(calls[before].forceClear);
    EXPECT_FALSE(calls[before + 1].forceClear);
    EXPECT_FALSE(adapter->enableNativeMapBuildings());
}

TEST_F(MapControlTest, BurstsOfCameraEventsSettersAndRendersFromManyThreads) {
    entry->venueList = {test::makeVenue("v", {12.0, 55.0, 12.2, 55.2})};
    entry->buildings = {std::make_shared<CVBuildingInternal>()};
    ASSERT_TRUE(make());
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this, t] {
            for (int i = 0; i < 50; ++i) {
                clock.advance(5ms);
                control->cameraChangedPosition();
                control->requestRender(i % 2 == 0);
                control->setCurrentFloorIndex((t + i) % 3);
                control->setHiddenFeatures({i % 6});
                control->setFilter(std::make_shared<CVFilter>(), CVFilterBehavior{});
                if (i % 10 == 0) control->cameraIdle();
                (void)control->currentBuildingId();
                (void)control->cameraZoom();
            }
        });
    }
    for (auto& thread : threads) thread.join();
    settle();
    EXPECT_GT(renders(), 0U);
    EXPECT_EQ(
        platform::blockingWait(platform::ThreadPool::shared().makeStrand(), control->renderQueue()->waitingCount()),
        0U);
}

TEST_F(MapControlTest, TheRenderWritesVisibleBoundsAndFloorIntoTheHostsFilter) {
    ASSERT_TRUE(make());
    settle();
    auto filter = std::make_shared<CVFilter>();
    control->setFilter(filter, CVFilterBehavior{});
    control->setCurrentFloorIndex(3);
    settle();
    ASSERT_TRUE(filter->bounds.has_value());
    EXPECT_EQ(*filter->bounds, CVGeoBounds({55.0, 12.0}, {55.2, 12.2}));
    EXPECT_EQ(filter->floorIndex, 3.0);
    EXPECT_TRUE(filter->ignoreSearchableStatus);
}

TEST_F(MapControlTest, CameraChangesFollowTheThrottleAndTheIdleCatchUp) {
    ASSERT_TRUE(make());
    settle();
    const auto countDetections = [&] { return entry->filters().size(); };
    auto detections = countDetections();

    // Just after creation: ignored.
    control->cameraChangedPosition();
    settle();
    EXPECT_EQ(countDetections(), detections);

    clock.advance(17ms);
    control->cameraChangedPosition();
    settle();
    EXPECT_GT(countDetections(), detections);
    detections = countDetections();

    clock.advance(10ms);
    control->cameraChangedPosition();
    settle();
    EXPECT_EQ(countDetections(), detections) << "10 ms after the last one";

    clock.advance(16ms);  // 26 ms after the accepted change, so over 1/60 s
    control->cameraChangedPosition();
    settle();
    EXPECT_GT(countDetections(), detections);
    detections = countDetections();

    // Just under 1/60 s after it: dropped, then caught up when the camera rests.
    clock.advance(16ms);
    control->cameraChangedPosition();
    settle();
    EXPECT_EQ(countDetections(), detections);
    control->cameraIdle();
    settle();
    EXPECT_GT(countDetections(), detections);
    detections = countDetections();
    // Idle with nothing dropped does nothing.
    control->cameraIdle();
    settle();
    EXPECT_EQ(countDetections(), detections);
}

TEST_F(MapControlTest, AHostThatTakesTheCameraChangeStopsTheMapFollowing) {
    delegate->takesCameraChanges = true;
    ASSERT_TRUE(make());
    settle();
    const auto filters = entry->filters().size();
    const auto before = renders();
    clock.advance(1s);
    control->cameraWillMove();
    control->cameraChangedPosition();
    control->cameraIdle();
    settle();
    EXPECT_EQ(entry->filters().size(), filters);
    EXPECT_EQ(renders(), before);
    const auto events = delegate->events();
    EXPECT_EQ(std::vector<std::string>(events.end() - 3, events.end()),
              (std::vector<std::string>{"cameraWillMove", "didChangeCameraPosition", "cameraIdle"}));
}

// A building whose floors are 0, 1 and 2 (keys "0", "1", "2").
std::shared_ptr<CVBuildingInternal> threeFloorBuilding(std::string id, std::optional<double> defaultFloor) {
    auto building = std::make_shared<CVBuildingInternal>();
    building->buildingId = std::move(id);
    building->defaultFloor = defaultFloor;
    building->floors = {{"0", test::makeFloor(0)}, {"1", test::makeFloor(1)}, {"2", test::makeFloor(2)}};
    return building;
}

TEST_F(MapControlTest, DetectionPicksVenueNearestBuildingAndFitsTheFloor) {
    entry->venueList = {test::makeVenue("outside", {0, 0, 1, 1}), test::makeVenue("first", {12.0, 55.0, 12.2, 55.2}),
                        test::makeVenue("second", {12.0, 55.0, 12.2, 55.2})};
    entry->buildings = {threeFloorBuilding("far", std::nullopt), threeFloorBuilding("near", 2.0),
                        threeFloorBuilding("equal", 1.0)};
    entry->locations = {test::makeBuildingLocation("far", 55.19, 12.19), test::makeBuildingLocation("near", 55.1, 12.1),
                        test::makeBuildingLocation("equal", 55.1, 12.1)};
    ASSERT_TRUE(make());
    control->setCurrentFloorIndex(7);
    settle();
    EXPECT_EQ(control->currentVenue()->getVenueId(), "first");
    ASSERT_TRUE(control->currentBuilding());
    EXPECT_EQ(control->currentBuilding()->getBuildingId(), "near");
    EXPECT_EQ(control->currentFloorIndex(), 2) << "the default floor";
    EXPECT_TRUE(control->isFloorSelectorVisible());

    // A floor the building has is kept.
    control->setCurrentFloorIndex(1);
    settle();
    EXPECT_EQ(control->currentFloorIndex(), 1);
}

TEST_F(MapControlTest, HostileFloorNumbersFitAFloorWithoutUndefinedBehaviour) {
    entry->venueList = {test::makeVenue("v", {12.0, 55.0, 12.2, 55.2})};
    auto building = std::make_shared<CVBuildingInternal>();
    building->buildingId = "b";
    building->defaultFloor = 1e300;
    building->floors = {{"a", test::makeFloor(std::numeric_limits<double>::quiet_NaN())}, {"b", test::makeFloor(4)}};
    entry->buildings = {building};
    entry->locations = {test::makeBuildingLocation("b", 55.1, 12.1)};
    ASSERT_TRUE(make());
    control->setCurrentFloorIndex(9);
    settle();
    ASSERT_TRUE(control->currentBuilding());
    EXPECT_EQ(control->currentFloorIndex(), 0) << "the first floor has no usable index";
    control->onFloorIndexChanged(std::numeric_limits<double>::infinity());
    control->onFloorIndexChanged(4.7);
    settle();
    EXPECT_EQ(control->currentFloorIndex(), 4);
}

TEST_F(MapControlTest, ScreenCentreOverNoVenueClearsTheVenueAndStops) {
    entry->venueList = {test::makeVenue("v", {0, 0, 1, 1})};
    entry->buildings = {threeFloorBuilding("b", std::nullopt)};
    entry->locations = {test::makeBuildingLocation("b", 55.1, 12.1)};
    ASSERT_TRUE(make());
    settle();
    EXPECT_EQ(control->currentVenue(), nullptr);
    EXPECT_EQ(control->currentBuilding(), nullptr);
}

TEST_F(MapControlTest, AnOlderDetectionReleasedAfterANewerOneChangesNothing) {
    entry->venueList = {test::makeVenue("v", {12.0, 55.0, 12.2, 55.2})};
    entry->buildings = {threeFloorBuilding("b", std::nullopt)};
    entry->locations = {test::makeBuildingLocation("b", 55.1, 12.1)};
    ASSERT_TRUE(make());
    settle();
    ASSERT_TRUE(control->currentBuilding());

    entry->holdLookUps(true);
    control->detectVenueAndBuilding();  // older
    ASSERT_TRUE(test::waitFor([&] { return entry->heldLookUps() == 1; }));
    entry->locations.clear();
    control->detectVenueAndBuilding();  // newer: finds no building
    ASSERT_TRUE(test::waitFor([&] { return entry->heldLookUps() == 2; }));
    entry->holdLookUps(false);
    entry->release(1);
    ASSERT_TRUE(test::waitFor([&] { return control->currentBuilding() == nullptr; }));
    entry->release(0);
    settle();
    EXPECT_EQ(control->currentBuilding(), nullptr);
}

// The entry object, with its venue lists held while the test asks: each
// held list is answered when the test releases it, with the list it gives.
class HeldVenuesEntry : public FakeMapEntry {
public:
    using Answer = std::function<void(std::vector<std::shared_ptr<CVVenue>>)>;

    void venues(Answer completion) const override {
        {
            std::lock_guard lock(mutex_);
            if (hold_) {
                held_.push_back(std::move(completion));
                return;
            }
        }
        FakeMapEntry::venues(std::move(completion));
    }
    void holdVenues(bool hold) {
        std::lock_guard lock(mutex_);
        hold_ = hold;
    }
    [[nodiscard]] std::size_t heldVenues() const {
        std::lock_guard lock(mutex_);
        return held_.size();
    }
    // Takes every held answer, in arrival order.
    [[nodiscard]] std::vector<Answer> takeHeld() {
        std::lock_guard lock(mutex_);
        return std::exchange(held_, {});
    }

private:
    mutable std::mutex mutex_;
    bool hold_ = false;
    mutable std::vector<Answer> held_;
};

TEST_F(MapControlTest, DetectionsFinishingTogetherLeaveTheNewestOnesVenue) {
    const auto held = std::make_shared<HeldVenuesEntry>();
    entry = held;
    const std::vector<std::shared_ptr<CVVenue>> first{test::makeVenue("first", {12.0, 55.0, 12.2, 55.2})};
    const std::vector<std::shared_ptr<CVVenue>> second{test::makeVenue("second", {12.0, 55.0, 12.2, 55.2})};
    held->venueList = first;
    ASSERT_TRUE(make());
    settle();
    ASSERT_TRUE(control->currentVenue());

    // Detections numbered in order, their venue lists answered all at once
    // from threads of their own: whichever claims last, the newest one's
    // venue is the one shown.
    constexpr int kRounds = 300;
    constexpr std::size_t kDetections = 6;
    for (int round = 0; round < kRounds; ++round) {
        held->holdVenues(true);
        for (std::size_t i = 0; i < kDetections; ++i) {
            control->detectVenueAndBuilding();
            ASSERT_TRUE(test::waitFor([&] { return held->heldVenues() == i + 1; }));
        }
        held->holdVenues(false);
        const auto answers = held->takeHeld();
        std::atomic<bool> go{false};
        std::atomic<bool> answered{false};
        std::vector<std::thread> threads;
        for (std::size_t i = 0; i < answers.size(); ++i) {
            threads.emplace_back([&, i] {
                while (!go.load()) std::this_thread::yield();
                answers[i]((i + static_cast<std::size_t>(round)) % 2 == 0 ? first : second);
            });
        }
        // Readers of the map's state contend for its lock meanwhile.
        std::vector<std::thread> readers;
        for (int reader = 0; reader < 3; ++reader) {
            readers.emplace_back([&] {
                while (!answered.load()) (void)control->currentFloorIndex();
            });
        }
        go = true;
        for (auto& thread : threads) thread.join();
        ASSERT_TRUE(test::waitFor([&] { return control->tasksInFlight() == 0; }));
        answered = true;
        for (auto& reader : readers) reader.join();
        settle();
        const auto newest = (kDetections - 1 + static_cast<std::size_t>(round)) % 2 == 0 ? "first" : "second";
        ASSERT_TRUE(control->currentVenue());
        ASSERT_EQ(control->currentVenue()->getVenueId(), newest) << "round " << round;
    }
}

TEST_F(MapControlTest, WithClusteringOnARenderClearsWhatTheMapDrewBefore) {
    CVSolutionConfig solution;
    solution.enableClustering = true;
    entry->config = solution;
    ASSERT_TRUE(make());
    settle();
    const auto before = renders();
    control->requestRender(false);
    settle();
    const auto calls = adapter->setViewModelsCalls();
    ASSERT_EQ(calls.size(), before + 1);
    EXPECT_TRUE(calls.back().forceClear);
}

TEST_F(MapControlTest, FloorChangeRefreshesAndNotifiesOnceAndEqualValuesDoNothing) {
    ASSERT_TRUE(make());
    settle();
    control->setCurrentFloorIndex(2);
    control->setCurrentFloorIndex(2);
    settle();
    auto events = delegate->events();
    EXPECT_EQ(std::count(events.begin(), events.end(), "floor 2"), 1);

    auto building = threeFloorBuilding("b", std::nullopt);
    control->setCurrentBuilding(building);
    auto sameId = threeFloorBuilding("b", 1.0);
    control->setCurrentBuilding(sameId);
    // Notifications carry the value of when they run: let this one run first.
    settle();
    control->setCurrentBuilding(nullptr);
    settle();
    events = delegate->events();
    EXPECT_EQ(std::count(events.begin(), events.end(), "building b"), 1);
    EXPECT_EQ(std::count(events.begin(), events.end(), "building none"), 1);

    auto venue = test::makeVenue("v", {});
    control->setCurrentVenue(venue);
    control->setCurrentVenue(test::makeVenue("v", {1, 2, 3, 4}));
    settle();
    events = delegate->events();
    EXPECT_EQ(std::count(events.begin(), events.end(), "venue v"), 1);
}

TEST_F(MapControlTest, HighlightMarksLocationsAndRendersClearThenForced) {
    auto selected = std::make_shared<CVLocationInternal>();
    selected->state = 1;
    ASSERT_TRUE(make());
    settle();
    const auto before = renders();
    control->setHighlight(std::vector<std::shared_ptr<CVLocation>>{selected}, CVHighlightBehavior{true});
    settle();
    EXPECT_EQ(selected->state, 2);
    // One render from the clear and one forced; the two requests race to the
    // queue, so only their set is fixed.
    const auto calls = adapter->setViewModelsCalls();
    ASSERT_EQ(calls.size(), before + 2);
    EXPECT_NE(calls[before].forceClear, calls[before + 1].forceClear);
    control->clearHighlight();
    settle();
    EXPECT_EQ(selected->state, 0) << "not back to selected";
    EXPECT_TRUE(control->mapStateSnapshot().currentHighlightBehavior.moveCamera);
    EXPECT_TRUE(control->mapStateSnapshot().currentHighlight.empty());
}

TEST_F(MapControlTest, FilterStoresTheHostsObjectAndFitsTheCameraOnlyToFoundLocations) {
    auto room = std::make_shared<CVLocationInternal>(CVPoint(55.05, 12.05), "room");
    room->locationId = "room";
    entry->locations = {room};
    ASSERT_TRUE(make());
    settle();

    control->setFilter(std::vector<std::shared_ptr<CVLocation>>{}, CVFilterBehavior{});
    ASSERT_TRUE(control->mapStateSnapshot().filter);
    EXPECT_EQ(control->mapStateSnapshot().filter->locations, std::vector<std::string>{});

    auto nothing = std::make_shared<CVFilter>();
    nothing->locations = std::vector<std::string>{"missing"};
    control->setFilter(nothing, CVFilterBehavior{true});
    settle();
    EXPECT_TRUE(adapter->animatedBounds().empty());
    EXPECT_EQ(control->mapStateSnapshot().filter, nothing);

    control->setFilter(std::vector<std::shared_ptr<CVLocation>>{room}, CVFilterBehavior{true});
    settle();
    ASSERT_EQ(adapter->animatedBounds().size(), 1U);
    EXPECT_EQ(adapter->animatedBounds()[0].center(), (platform::CLLocationCoordinate2D{55.05, 12.05}));

    control->clearFilter();
    EXPECT_EQ(control->mapStateSnapshot().filter, nullptr);
    EXPECT_TRUE(control->mapStateSnapshot().currentFilterBehavior.moveCamera);
}

TEST_F(MapControlTest, LabelFontNumbersAreCutAndNonFiniteOnesThrow) {
    ASSERT_TRUE(make());
    const platform::Font font{"DejaVu Sans", 14, false};
    control->setMapLabelFont(font, 13.9, std::nullopt, std::nullopt, 2.5, -1.5);
    ASSERT_TRUE(control->internalFontStyle());
    EXPECT_EQ(control->internalFontStyle()->size, 13);
    EXPECT_EQ(control->internalFontStyle()->haloWidth, 2);
    EXPECT_EQ(control->internalFontStyle()->haloBlur, -1);
    EXPECT_THROW(control->setMapLabelFont(font, std::nan(""), std::nullopt, std::nullopt, 1, 1), std::invalid_argument);
    EXPECT_THROW(control->setMapLabelFont(font, 1, std::nullopt, std::nullopt, 1e300, 1), std::invalid_argument);
    EXPECT_EQ(control->internalFontStyle()->size, 13) << "nothing stored";
}

TEST_F(MapControlTest, CustomInfoWindowDefaultsToANewGeneratorEachRead) {
    ASSERT_TRUE(make());
    const auto first = control->customInfoWindow();
    const auto second = control->customInfoWindow();
    ASSERT_TRUE(first && second);
    EXPECT_NE(first, second);
    EXPECT_EQ(control->mapStateSnapshot().customInfoWindow, nullptr);
}

// A host floor selector that writes down what it is told.
class RecordingFloorSelector : public CVCustomFloorSelector {
public:
    void onShow() override { note("show"); }
    void onHide() override { note("hide"); }
    [[nodiscard]] std::shared_ptr<CVBuilding> building() const override { return nullptr; }
    void setBuilding(const std::shared_ptr<CVBuilding>& /*building*/) override { note("building"); }
    [[nodiscard]] std::shared_ptr<CVFloorSelectorDelegate> delegate() const override { return delegate_.lock(); }
    void setDelegate(const std::weak_ptr<CVFloorSelectorDelegate>& delegate) override {
        delegate_ = delegate;
        note("delegate");
    }
    [[nodiscard]] std::optional<double> floorIndex() const override { return std::nullopt; }
    void setFloorIndex(std::optional<double> floorIndex) override {
        note("floor " + std::to_string(static_cast<int>(floorIndex.value_or(-1))));
    }
    void remove() override { note("remove"); }

    [[nodiscard]] std::vector<std::string> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }

private:
    void note(std::string event) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
    std::weak_ptr<CVFloorSelectorDelegate> delegate_;
};

TEST_F(MapControlTest, AFloorSelectorIsInstalledHiddenReplacedAndRemovedWithTheMap) {
    // Floor selectors are shown on the adapter's map view.
    adapter->attachView({400, 800});
    ASSERT_TRUE(make());
    settle();
    auto first = std::make_shared<RecordingFloorSelector>();
    control->setFloorSelector(first);
    settle();
    EXPECT_EQ(first->delegate(), control);
    control->setHideFloorSelector(true);
    control->setCurrentFloorIndex(2);
    settle();
    EXPECT_EQ(first->events(), (std::vector<std::string>{"delegate", "show", "hide", "floor 2"}));

    // The selector's own choice comes back as the map's floor.
    first->delegate()->onFloorIndexChanged(1);
    settle();
    EXPECT_EQ(control->currentFloorIndex(), 1);

    auto second = std::make_shared<RecordingFloorSelector>();
    control->setFloorSelector(second);
    settle();
    EXPECT_EQ(first->events().back(), "remove");
    EXPECT_EQ(second->events(), (std::vector<std::string>{"delegate", "hide"}));

    std::weak_ptr<CVMapControlInternal> gone = control;
    control.reset();
    ASSERT_TRUE(test::waitFor([&] { return gone.expired(); }));
    platform::MainQueue::shared().drain();
    EXPECT_EQ(second->events().back(), "remove");
}

// A host floor selector that, like the default one, reports the floor it is
// shown; `meanwhile` runs once before its next report.
class EchoingFloorSelector : public RecordingFloorSelector {
public:
    std::function<void()> meanwhile;

    void setFloorIndex(std::optional<double> floorIndex) override {
        RecordingFloorSelector::setFloorIndex(floorIndex);
        if (const auto work = std::exchange(meanwhile, nullptr)) work();
        if (const auto listener = delegate(); listener && floorIndex) listener->onFloorIndexChanged(*floorIndex);
    }
};

TEST_F(MapControlTest, AFloorTapAndQuickCallsFromAnotherThreadSettleOnTheLastFloorAskedFor) {
    adapter->attachView({400, 800});
    entry->venueList = {test::makeVenue("v", {12.0, 55.0, 12.2, 55.2})};
    entry->buildings = {threeFloorBuilding("b", std::nullopt)};
    entry->locations = {test::makeBuildingLocation("b", 55.1, 12.1)};
    ASSERT_TRUE(make());
    settle();
    const auto selector = std::dynamic_pointer_cast<CVFloorSelectorControl>(control->floorSelector());
    ASSERT_TRUE(selector);
    const auto onMain = [](const std::function<void()>& work) {
        platform::MainQueue::shared().async(work);
        platform::MainQueue::shared().drain();
    };
    const auto selectedFloor = [&] {
        std::optional<double> floor;
        onMain([&] { floor = selector->floorIndex(); });
        return floor;
    };
    const auto floorNotices = [&] {
        const auto events = delegate->events();
        return std::count_if(events.begin(), events.end(),
                             [](const auto& event) { return event.starts_with("floor "); });
    };

    // Two changes asked for before the main queue runs the first's work.
    auto notices = floorNotices();
    const auto busy = std::make_shared<test::ThreadGate>();
    platform::MainQueue::shared().async([busy] { busy->pass(); });
    ASSERT_TRUE(busy->waitForArrivals(1));
    control->setCurrentFloorIndex(1);
    control->setCurrentFloorIndex(2);
    busy->open();
    settle();
    EXPECT_EQ(control->currentFloorIndex(), 2);
    EXPECT_EQ(selectedFloor(), 2);
    EXPECT_EQ(floorNotices() - notices, 2);

    // A tap: one main-queue block sets the floor, then the selector reports
    // the tapped one.
    notices = floorNotices();
    onMain([&] {
        control->setCurrentFloorIndex(0);
        for (const auto& button : selector->buttons()) {
            if (button->floorIndex() == 1) button->sendActions(platform::ControlEvent::TouchUpInside);
        }
    });
    settle();
    EXPECT_EQ(control->currentFloorIndex(), 1);
    EXPECT_EQ(selectedFloor(), 1);
    EXPECT_EQ(floorNotices() - notices, 2);

    // A selector that reports the floor it is shown, as the default one does,
    // while another change lands: its report is an echo, not a change.
    const auto echoing = std::make_shared<EchoingFloorSelector>();
    control->setFloorSelector(echoing);
    settle();
    echoing->meanwhile = [&] { control->setCurrentFloorIndex(0); };
    notices = floorNotices();
    control->setCurrentFloorIndex(2);
    settle();
    EXPECT_EQ(control->currentFloorIndex(), 0);
    EXPECT_EQ(floorNotices() - notices, 2);
}

TEST_F(MapControlTest, OutdoorServicesStayThoseOfTheAdapterTheMapWasMadeWith) {
    ASSERT_TRUE(make());
    EXPECT_EQ(control->externalDirectionService(), nullptr);
    auto other = std::make_shared<RecordingMapAdapter>();
    setMapProvider(config, other);
    EXPECT_EQ(control->map(), adapter);
    EXPECT_EQ(control->mapStateSnapshot().camera, adapter);
}

TEST_F(MapControlTest, PaddingIsTheAdaptersAndTheCameraIsReadThroughIt) {
    ASSERT_TRUE(make());
    control->setMapPadding({1, 2, 30, 4});
    EXPECT_EQ(adapter->padding(), (platform::EdgeInsets{1, 2, 30, 4}));
    EXPECT_EQ(control->mapPadding(), (platform::EdgeInsets{1, 2, 30, 4}));
    adapter->setCameraPosition({{55.1, 12.1}, 17.5F, 90, 0});
    EXPECT_FLOAT_EQ(control->ambrellZoom(), 17.5F);
    EXPECT_DOUBLE_EQ(control->cameraBearing(), 90);
}

}  // namespace
}  // namespace ambrell::map_control_test
