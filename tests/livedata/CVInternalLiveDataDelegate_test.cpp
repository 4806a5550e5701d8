// The map's delegate of the live-data manager: updates reach the listener of
// their domain on the map that made the manager's current delegate.

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "livedata/CVInternalLiveDataDelegate.h"
#include "livedata/CVMQTTSubscriptionClient.h"
#include "mapcontrol/CVMapLiveDataSeam.h"
#include "tests/mapcontrol/MapControlFixture.h"
#include "tests/support/EventRecorder.h"
#include "tests/support/WaitFor.h"

namespace ambrell::internal_live_data_delegate_test {
namespace {

std::shared_ptr<const CVLiveUpdate> update(std::string domainType, std::string itemId) {
    return std::make_shared<CVLiveUpdate>(CVLiveUpdateTopic{std::move(domainType)}, CVLiveUpdate::Timestamp{},
                                          std::move(itemId));
}

class InternalLiveDataDelegateTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Listeners only: the delegates are made by the test, for its own manager.
        startupSeam = CVMapLiveDataSeam::installed();
        CVMapLiveDataSeam::install(nullptr);
        for (auto& map : maps) {
            setMapProvider(map.config, map.adapter);
            map.control = CVMapControlInternal::create(map.config, {entry, {}});
            ASSERT_TRUE(map.control);
        }
    }
    void TearDown() override {
        manager->subscriptionClient()->setDelegate(nullptr);
        for (auto& map : maps) {
            setMapProvider(map.config, nullptr);
            std::weak_ptr<CVMapControlInternal> gone = map.control;
            map.control.reset();
            EXPECT_TRUE(test::waitFor([&] {
                platform::MainQueue::shared().drain();
                return gone.expired();
            }));
            map.adapter->setDelegate({});
        }
        platform::MainQueue::shared().drain();
        CVMapLiveDataSeam::install(startupSeam);
    }
    void send(const std::string& text) {
        manager->didReceiveMessage(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()),
                                   "ds/f1/r1/occupancy");
    }

    struct Map {
        CVMapConfig config;
        std::shared_ptr<test::RecordingMapAdapter> adapter = std::make_shared<test::RecordingMapAdapter>();
        std::shared_ptr<CVMapControlInternal> control;
        test::EventRecorder heard;
    };

    platform::MainQueueThread mainThread;
    std::shared_ptr<CVMapLiveDataSeam> startupSeam;
    std::shared_ptr<test::FakeMapEntry> entry = std::make_shared<test::FakeMapEntry>();
    Map maps[2];
    // No solution, so no details are asked for; the client never connects.
    std::shared_ptr<CVLiveDataManager> manager =
        CVLiveDataManager::make(CVMQTTSubscriptionClient::make(), std::make_shared<CVLiveDataService>(), nullptr,
                                CVLiveDataManager::kReconnectDelay, [](auto completion) { completion(nullptr, {}); });
};

TEST_F(InternalLiveDataDelegateTest, UpdatesReachTheListenerOfTheirDomainOnTheLatestMap) {
    for (auto& map : maps) {
        map.control->enableLiveDataWithDomain("occupancy", [&map](const auto& liveUpdate) {
            map.heard.add(liveUpdate->topic.domainType.value_or("") + " " + liveUpdate->itemId);
        });
    }
    auto& [first, second] = maps;
    const auto firstDelegate = CVInternalLiveDataDelegate::make(first.control, manager);
    EXPECT_EQ(manager->delegate(), firstDelegate);

    firstDelegate->didReceiveWithLiveUpdate(update("occupancy", "r1"));
    // No listener for the domain, or no domain at all: dropped.
    firstDelegate->didReceiveWithLiveUpdate(update("count", "r2"));
    firstDelegate->didReceiveWithLiveUpdate(
        std::make_shared<CVLiveUpdate>(CVLiveUpdateTopic{}, CVLiveUpdate::Timestamp{}, "r3"));
    EXPECT_EQ(first.heard.events(), std::vector<std::string>{"occupancy r1"});

    // A second map's delegate takes over; the first hears nothing more.
    const auto secondDelegate = CVInternalLiveDataDelegate::make(second.control, manager);
    EXPECT_EQ(manager->delegate(), secondDelegate);
    manager->didUpdateState(2);
    send(R"({"id":"r4","domainType":"occupancy","timestamp":"2026-01-01T00:00:00Z","properties":{"nrOfPeople":1}})");
    EXPECT_TRUE(test::waitFor([&] { return second.heard.events() == std::vector<std::string>{"occupancy r4"}; }));
    EXPECT_EQ(first.heard.events(), std::vector<std::string>{"occupancy r1"});

    // A delegate whose map has gone does nothing.
    std::weak_ptr<CVMapControlInternal> gone = first.control;
    first.control.reset();
    ASSERT_TRUE(test::waitFor([&] {
        platform::MainQueue::shared().drain();
        return gone.expired();
    }));
    firstDelegate->didReceiveWithLiveUpdate(update("occupancy", "r5"));
    EXPECT_EQ(first.heard.events(), std::vector<std::string>{"occupancy r1"});
}

}  // namespace
}  // namespace ambrell::internal_live_data_delegate_test
