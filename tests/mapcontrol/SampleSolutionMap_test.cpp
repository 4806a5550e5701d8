// The map control on the bundled sample solution, end to end: the real entry
// object loaded from the sample's loopback web service, the real view-model
// producer and the default floor selector, drawn through the recording
// adapter.

#include <algorithm>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/AmbrellInternal.h"
#include "core/CVSubsystemSeams.h"
#include "data/CVRouteNetworkSeams.h"
#include "mapcontrol/CVFloorNumber.h"
#include "mapcontrol/CVFloorSelectorControl.h"
#include "platform/runtime/BlockingWait.h"
#include "platform/runtime/ThreadPool.h"
#include "tests/data/SampleServiceFixture.h"
#include "tests/mapcontrol/MapControlFixture.h"
#include "tests/support/WaitFor.h"
#include "viewmodels/CVViewModelProducer.h"
#include "viewmodels/DisplayRuleManagerSwift.h"

namespace ambrell::sample_solution_map_test {
namespace {

constexpr auto kLoadBound = std::chrono::seconds(60);

template <typename Result, typename Start>
Result answerOf(Start start) {
    auto promise = std::make_shared<std::promise<Result>>();
    auto answer = promise->get_future();
    start([promise](Result result) { promise->set_value(std::move(result)); });
    if (answer.wait_for(kLoadBound) != std::future_status::ready) {
        ADD_FAILURE() << "no answer";
        return Result{};
    }
    return answer.get();
}

std::vector<std::string> idsOf(const std::vector<ViewModel>& models) {
    std::vector<std::string> ids;
    for (const auto& model : models) ids.push_back(model.id);
    std::sort(ids.begin(), ids.end());
    return ids;
}

// The sample's fixture runs the main queue.
class SampleSolutionMapTest : public test::SampleServiceFixture {
protected:
    SampleSolutionMapTest() {
        // The load binds the key itself, as a host's does.
        AmbrellLegacy::setApiKey(std::nullopt);
        CVRouteNetworkSeams::setService(std::make_shared<test::NoRouteNetworks>());
        DisplayRuleManagerSwift::registerWithEntryObject();
    }
    ~SampleSolutionMapTest() override {
        EXPECT_TRUE(test::releaseMapControl(control, *adapter));
        setMapProvider(config, nullptr);
        platform::MainQueue::shared().drain();
        CVEntryObjectSeam::install(nullptr);
        CVSubsystemSeams::resetForTesting();
        CVRouteNetworkSeams::resetForTesting();
    }

    // Loads the sample and puts the camera over a building location of its
    // first venue; the map control is made on the recording adapter.
    void SetUp() override {
        const auto error = answerOf<std::optional<platform::NSError>>(
            [&](auto done) { entry->load(id(), std::nullopt, std::move(done)); });
        ASSERT_FALSE(error) << error->localizedDescription();
        const auto venues = answerOf<std::vector<std::shared_ptr<CVVenue>>>(
            [&](auto done) { entry->venuesWithCompletionHandler(done); });
        ASSERT_FALSE(venues.empty());
        firstVenue = venues.front();
        const auto box = firstVenue->boundingBox();
        ASSERT_TRUE(box);
        CVFilter everything;
        everything.ignoreSearchableStatus = everything.ignoreActiveStatus = true;
        for (const auto& location : lookUp(everything)) {
            if (location->baseType() == CVLocationBaseType::building &&
                box->containsCoordinate(location->getPosition().coordinate())) {
                buildingLocation = location;
                break;
            }
        }
        ASSERT_TRUE(buildingLocation);
        const auto centre = buildingLocation->getPosition().coordinate();
        visible = CVGeoBounds({centre.latitude - 0.001, centre.longitude - 0.001},
                              {centre.latitude + 0.001, centre.longitude + 0.001});
        adapter->setVisibleBounds(visible);
        adapter->setCameraPosition({centre, 19, 0, 0});
        adapter->setProjection([](platform::CLLocationCoordinate2D c) {
            return platform::CGPoint{c.longitude, c.latitude};
        });
        adapter->attachView({400, 800});
        setMapProvider(config, adapter);
        control = CVMapControlInternal::create(config, {CVMapControlEntry::of(entry), clock.clock()});
        ASSERT_TRUE(control);
        settle();
    }

    void settle() {
        ASSERT_TRUE(test::waitFor([&] {
            platform::MainQueue::shared().drain();
            if (control->tasksInFlight() != 0) return false;
            platform::MainQueue::shared().drain();
            return control->tasksInFlight() == 0;
        }));
    }
    [[nodiscard]] std::vector<std::shared_ptr<CVLocation>> lookUp(CVFilter filter) const {
        return answerOf<std::vector<std::shared_ptr<CVLocation>>>(
            [&](auto done) { entry->internalLocationsLookupWithQuery(CVQuery{}, std::move(filter), done); });
    }
    // What the producer makes of a direct query of the shown floor in the visible region.
    [[nodiscard]] std::vector<ViewModel> expectedModels() const {
        CVFilter filter;
        filter.bounds = visible;
        filter.floorIndex = static_cast<double>(control->currentFloorIndex());
        filter.ignoreSearchableStatus = true;
        auto locations = lookUp(filter);
        std::shared_ptr<CVViewModelProducer> producer;
        platform::MainQueue::shared().async([&] {
            producer =
                std::make_shared<CVViewModelProducer>(locations, control, std::nullopt, std::vector<CVFeatureType>{});
        });
        platform::MainQueue::shared().drain();
        return platform::blockingWait(platform::ThreadPool::shared().makeStrand(), producer->produceViewModels());
    }
    [[nodiscard]] std::vector<ViewModel> lastModels() const {
        const auto calls = adapter->setViewModelsCalls();
        return calls.empty() ? std::vector<ViewModel>{} : calls.back().models;
    }

    std::shared_ptr<AmbrellInternal> entry = AmbrellInternal::create();
    CVMapConfig config;
    std::shared_ptr<test::RecordingMapAdapter> adapter = std::make_shared<test::RecordingMapAdapter>();
    test::ManualClock clock;
    std::shared_ptr<CVVenue> firstVenue;
    std::shared_ptr<CVLocation> buildingLocation;
    CVGeoBounds visible;
    std::shared_ptr<CVMapControlInternal> control;
};

TEST_F(SampleSolutionMapTest, ShowsTheFirstVenuesBuildingAndRendersTheFloorTheSelectorSwitchesTo) {
    // The first venue, the building under the camera and a floor of it.
    ASSERT_TRUE(control->currentVenue());
    EXPECT_EQ(control->currentVenue()->getVenueId(), firstVenue->getVenueId());
    const auto building = control->currentBuilding();
    ASSERT_TRUE(building);
    EXPECT_EQ(building->getBuildingId(), buildingLocation->getLocationId());
    const auto floors = building->getFloors();
    ASSERT_GT(floors.size(), 1U);
    const auto shown = control->currentFloorIndex();
    EXPECT_TRUE(std::any_of(floors.begin(), floors.end(),
                            [&](const auto& floor) { return floorNumber(floor.second->getFloorIndex()) == shown; }));

    // The adapter got what the producer makes of that floor in view.
    const auto before = idsOf(lastModels());
    EXPECT_FALSE(before.empty());
    EXPECT_EQ(before, idsOf(expectedModels()));

    // The default floor selector lists the building's floors, highest first.
    const auto selector = std::dynamic_pointer_cast<CVFloorSelectorControl>(control->floorSelector());
    ASSERT_TRUE(selector);
    EXPECT_EQ(selector->currentBuilding(), building);
    ASSERT_EQ(selector->buttons().size(), floors.size());
    EXPECT_GT(selector->buttons().front()->floorIndex().value_or(0),
              selector->buttons().back()->floorIndex().value_or(0));
    EXPECT_EQ(selector->floorIndex().value_or(-1), static_cast<double>(shown));

    // A tap on another floor's button shows and renders that floor.
    std::shared_ptr<CVFloorButton> other;
    for (const auto& button : selector->buttons()) {
        if (button->floorIndex() != static_cast<double>(shown)) other = button;
    }
    ASSERT_TRUE(other);
    platform::MainQueue::shared().async([&] { selector->notifyFloorSelect(*other); });
    settle();
    ASSERT_TRUE(floorNumber(other->floorIndex()));
    EXPECT_EQ(control->currentFloorIndex(), *floorNumber(other->floorIndex()));
    const auto after = idsOf(lastModels());
    EXPECT_FALSE(after.empty());
    EXPECT_NE(after, before);
    EXPECT_EQ(after, idsOf(expectedModels()));
}

}  // namespace
}  // namespace ambrell::sample_solution_map_test
