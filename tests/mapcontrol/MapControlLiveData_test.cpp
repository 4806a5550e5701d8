// The map's live-data topics: which the plan asks for on the floor and the
// venue shown, and what it leaves to the live-data manager (a recording
// stand-in here).

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/CVLogger.h"
#include "mapcontrol/CVMapLiveDataSeam.h"
#include "platform/runtime/BlockingWait.h"
#include "platform/runtime/ThreadPool.h"
#include "tests/mapcontrol/MapControlFixture.h"
#include "tests/support/EventRecorder.h"
#include "tests/support/WaitFor.h"

namespace ambrell::map_control_live_data_test {
namespace {

using Topics = std::set<std::string>;

// The manager as the map reaches it: every request written down.
class RecordingLiveData final : public CVMapLiveDataSeam {
public:
    test::EventRecorder requests;

    std::shared_ptr<CVInternalLiveDataDelegate> makeDelegate(
        const std::shared_ptr<CVMapControlInternal>& /*mapControl*/) override {
        requests.add("delegate");
        return nullptr;
    }
    platform::Awaitable<void> subscribe(std::shared_ptr<const CVLiveTopic> topic) override {
        requests.add("subscribe " + topic->topicString());
        co_return;
    }
    platform::Awaitable<void> unsubscribe(std::shared_ptr<const CVLiveTopic> topic) override {
        requests.add("unsubscribe " + topic->topicString());
        co_return;
    }

    [[nodiscard]] Topics asked(const std::string& verb) const {
        Topics topics;
        for (const auto& request : requests.events()) {
            if (request.rfind(verb + " ", 0) == 0) topics.insert(request.substr(verb.size() + 1));
        }
        return topics;
    }
};

// The entry object with floor locations found by id and a data set.
class LiveDataEntry final : public test::FakeMapEntry {
public:
    std::optional<std::string> dataSet = "ds";

    std::shared_ptr<CVLocation> locationWithId(const std::string& locationId) const override {
        for (const auto& location : floorLocations) {
            if (location->getLocationId() == locationId) return location;
        }
        return nullptr;
    }
    std::optional<std::string> dataSetId() const override { return dataSet; }

    std::vector<std::shared_ptr<CVLocation>> floorLocations;
};

std::shared_ptr<CVLocationInternal> place(std::string id, std::string baseType, std::string building = {}) {
    auto location = std::make_shared<CVLocationInternal>(CVPoint(55.1, 12.1), id);
    location->locationId = std::move(id);
    location->locationBaseTypeString = std::move(baseType);
    location->building = std::move(building);
    return location;
}

std::shared_ptr<CVFloorInternal> floorWithId(std::string id, double index) {
    auto floor = test::makeFloor(index);
    floor->floorId = std::move(id);
    return floor;
}

class MapControlLiveDataTest : public ::testing::Test {
protected:
    void SetUp() override {
        CVMapLiveDataSeam::install(liveData);
        adapter->setProjection([](platform::CLLocationCoordinate2D c) {
            return platform::CGPoint{c.longitude, c.latitude};
        });
        adapter->setVisibleBounds(CVGeoBounds({55.0, 12.0}, {55.2, 12.2}));
        // The camera always finds venue "v" and building "b", floors 1 and 2.
        entry->venueList = {test::makeVenue("v", {12.0, 55.0, 12.2, 55.2})};
        auto building = std::make_shared<CVBuildingInternal>();
        building->buildingId = "b";
        building->floors = {{"1", floorWithId("f1", 1)}, {"2", floorWithId("f2", 2)}};
        entry->buildings = {building};
        entry->floorLocations = {place("f1", "floor", "b"), place("f2", "floor", "b")};
        entry->locations = {test::makeBuildingLocation("b", 55.1, 12.1), place("out", "poi"), place("in", "poi", "b"),
                            place("yard", "area")};
        setMapProvider(config, adapter);
        control = CVMapControlInternal::create(config, {entry, {}});
        ASSERT_TRUE(control);
        control->setCurrentFloorIndex(2);
        settle();
    }
    void TearDown() override {
        setMapProvider(config, nullptr);
        EXPECT_TRUE(test::releaseMapControl(control, *adapter));
        CVMapLiveDataSeam::install(nullptr);
    }

    void settle() { ASSERT_TRUE(test::settleMapControl(*control)); }
    [[nodiscard]] Topics subscribed() const {
        Topics topics;
        for (const auto& topic : control->subscribedTopics()) topics.insert(topic->topicString());
        return topics;
    }
    // Every request the last plan started has reached the stand-in.
    bool asked(const std::string& verb, const Topics& topics) const {
        return test::waitFor([&] {
            const auto seen = liveData->asked(verb);
            return std::includes(seen.begin(), seen.end(), topics.begin(), topics.end());
        });
    }

    platform::MainQueueThread mainThread;
    CVMapConfig config;
    std::shared_ptr<test::RecordingMapAdapter> adapter = std::make_shared<test::RecordingMapAdapter>();
    std::shared_ptr<LiveDataEntry> entry = std::make_shared<LiveDataEntry>();
    std::shared_ptr<RecordingLiveData> liveData = std::make_shared<RecordingLiveData>();
    std::shared_ptr<CVMapControlInternal> control;
};

TEST_F(MapControlLiveDataTest, FloorAndOutdoorTopicsPerDomainFollowTheFloor) {
    ASSERT_EQ(control->currentBuilding()->getBuildingId(), "b");
    // Before any domain the plans want nothing.
    EXPECT_TRUE(subscribed().empty());

    int heard = 0;
    control->enableLiveDataWithDomain("occupancy", [&heard](const auto&) { ++heard; });
    control->enableLiveDataWithDomain("count", [&heard](const auto&) { ++heard; });
    // Again, without a listener: moved to the end, its listener dropped.
    control->enableLiveDataWithDomain("occupancy", nullptr);
    settle();
    EXPECT_EQ(control->enabledLiveDataDomains(), (std::vector<std::string>{"count", "occupancy"}));
    EXPECT_FALSE(control->liveDataListener("occupancy"));
    EXPECT_TRUE(control->liveDataListener("count"));
    const auto requests = liveData->requests.events();
    EXPECT_EQ(std::count(requests.begin(), requests.end(), "delegate"), 3);

    const Topics second = {"ds/f2/+/count", "ds/f2/+/occupancy", "ds/+/out/count", "ds/+/out/occupancy"};
    EXPECT_EQ(subscribed(), second);
    EXPECT_TRUE(asked("subscribe", second));

    control->setCurrentFloorIndex(1);
    settle();
    const Topics first = {"ds/f1/+/count", "ds/f1/+/occupancy", "ds/+/out/count", "ds/+/out/occupancy"};
    EXPECT_EQ(subscribed(), first);
    EXPECT_TRUE(asked("unsubscribe", {"ds/f2/+/count", "ds/f2/+/occupancy"}));
    EXPECT_TRUE(asked("subscribe", first));
    EXPECT_EQ(liveData->asked("unsubscribe").size(), 2U) << "kept topics are not dropped";

    const auto entries = platform::blockingWait(platform::ThreadPool::shared().makeStrand(),
                                                CVLogger::sharedInstance()->loggerActor()->logEntries());
    std::vector<std::string> events;
    for (const auto& logged : entries) {
        if (logged.name != CVLogEvent::livedataEnabledForMap || logged.domain != CVLogDomain::liveData) continue;
        events.push_back(logged.parameters->at("domain_type"));
    }
    EXPECT_EQ(events, (std::vector<std::string>{"occupancy", "count", "occupancy"}));
}

TEST_F(MapControlLiveDataTest, DisablingTheLastDomainStopsPlansButKeepsTheTopics) {
    control->enableLiveDataWithDomain("occupancy", nullptr);
    settle();
    const Topics topics = {"ds/f2/+/occupancy", "ds/+/out/occupancy"};
    ASSERT_EQ(subscribed(), topics);

    control->disableLiveDataWithDomain("occupancy");
    control->setCurrentFloorIndex(1);
    settle();
    EXPECT_TRUE(control->enabledLiveDataDomains().empty());
    EXPECT_EQ(subscribed(), topics);
    EXPECT_TRUE(liveData->asked("unsubscribe").empty());
}

TEST_F(MapControlLiveDataTest, WithoutADataSetTheTopicsCarryAnEmptyOne) {
    entry->dataSet.reset();
    control->enableLiveDataWithDomain("occupancy", nullptr);
    settle();
    const auto topics = control->subscribedTopics();
    ASSERT_EQ(topics.size(), 2U);
    for (const auto& topic : topics) EXPECT_EQ(topic->datasetId(), "");
}

TEST_F(MapControlLiveDataTest, AThousandCandidatesWantNoTopicAtAll) {
    control->enableLiveDataWithDomain("occupancy", nullptr);
    settle();
    ASSERT_EQ(subscribed().size(), 2U);

    // 998 more outdoor places, the floor's location the thousandth candidate.
    for (int index = 0; index < 998; ++index) entry->locations.push_back(place("p" + std::to_string(index), "poi"));
    control->updateLiveDataSubscriptions();
    settle();
    EXPECT_TRUE(subscribed().empty());
    EXPECT_TRUE(asked("unsubscribe", {"ds/f2/+/occupancy", "ds/+/out/occupancy"}));
}

}  // namespace
}  // namespace ambrell::map_control_live_data_test
