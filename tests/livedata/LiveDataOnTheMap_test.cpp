// Live data on a map end to end: the SDK loaded with the sample solution from
// the loopback web service, a map on the recording adapter, the broker a real
// mosquitto reached over TLS as "localhost", mosquitto_pub the publisher.

#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/AmbrellInternal.h"
#include "data/CVSolutionInternal.h"
#include "livedata/CVLiveDataManager.h"
#include "livedata/CVMQTTSubscriptionClient.h"
#include "mapcontrol/CVMapConfigMapProvider.h"
#include "mapcontrol/CVMapControlInternal.h"
#include "tests/data/SampleServiceFixture.h"
#include "tests/support/EventRecorder.h"
#include "tests/support/MosquittoBroker.h"
#include "tests/support/RecordingMapAdapter.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TestPki.h"
#include "tests/support/WaitFor.h"

namespace ambrell::live_data_on_the_map_test {
namespace {

using namespace std::chrono_literals;
using test::TestPki;

// Floor 0 of the sample's Meridian hall, and a room on it.
constexpr char kBuilding[] = "e25a2ec7577c56c555f146d9";
constexpr char kFloor[] = "c1f226981479b87cb6358aac";
constexpr char kRoom[] = "39863cf72b24e96b7fce6fec";

template <typename Value, typename Start>
Value answered(Start start) {
    auto promise = std::make_shared<std::promise<Value>>();
    start([promise](Value value) { promise->set_value(std::move(value)); });
    auto future = promise->get_future();
    if (future.wait_for(test::kWaitBound) != std::future_status::ready) {
        ADD_FAILURE() << "no answer";
        return Value{};
    }
    return future.get();
}

class LiveDataOnTheMapTest : public test::CapturedLog, public test::SampleServiceFixture {
protected:
    LiveDataOnTheMapTest() {
        ::setenv("SSL_CERT_FILE", pki.certificate(TestPki::Certificate::ca).c_str(), 1);
        CVMQTTSubscriptionClient::setBrokerForTesting(
            CVMQTTSubscriptionClient::Broker{"localhost", static_cast<std::uint32_t>(broker.tlsPort())});
        CVLiveDataEndpoints::setApiBaseForTesting(service_.url("/live"));
        service_.web().serveBody("/live/livedata/details/" + id(), R"({"domainTypes": ["occupancy"]})");
        service_.web().serveBody("/live/state", "[]");
        // The real parts, but for a reconnection 100 ms after a failure.
        CVLiveDataManager::setSharedForTesting(
            CVLiveDataManager::make(CVMQTTSubscriptionClient::make(), std::make_shared<CVLiveDataService>(),
                                    CVNetworkReachabilityManager::sharedManager(), 100ms));
    }
    ~LiveDataOnTheMapTest() override {
        setMapProvider(config, nullptr);
        if (control) {
            std::weak_ptr<CVMapControlInternal> gone = control;
            control.reset();
            EXPECT_TRUE(test::waitFor([&] {
                platform::MainQueue::shared().drain();
                return gone.expired();
            }));
        }
        adapter->setDelegate({});
        CVLiveDataManager::resetSharedForTesting();
        CVLiveDataEndpoints::setApiBaseForTesting(std::nullopt);
        CVMQTTSubscriptionClient::setBrokerForTesting(std::nullopt);
        ::unsetenv("SSL_CERT_FILE");
    }

    bool publish(const std::string& topic, const std::string& timestamp, bool retained = false) {
        std::vector<std::string> arguments = {"mosquitto_pub",
                                              "-h",
                                              "127.0.0.1",
                                              "-p",
                                              std::to_string(broker.port()),
                                              "-q",
                                              "2",
                                              "-t",
                                              topic,
                                              "-m",
                                              R"({"id":")" + std::string(kRoom) + R"(","timestamp":")" + timestamp +
                                                  R"(","properties":{"nrOfPeople":3}})"};
        if (retained) arguments.emplace_back("-r");
        return test::runProgram(arguments).succeeded();
    }

    const TestPki pki;
    test::MosquittoBroker broker{{.pki = &pki, .persistence = false, .extraConfig = {}}};
    CVMapConfig config;
    test::EventRecorder heard;
    std::shared_ptr<test::RecordingMapAdapter> adapter = std::make_shared<test::RecordingMapAdapter>();
    std::shared_ptr<CVMapControlInternal> control;
};

TEST_F(LiveDataOnTheMapTest, UpdatesReachTheListenerAndABrokerRestartHeals) {
    ASSERT_TRUE(broker.ready());
    const auto entry = AmbrellInternal::shared();
    ASSERT_EQ(answered<std::optional<platform::NSError>>([&](auto done) { entry->load(id(), std::nullopt, done); }),
              std::nullopt);
    const std::string dataSet = entry->solution()->dataSetId();
    const auto building =
        answered<std::shared_ptr<CVBuilding>>([&](auto done) { entry->buildingWithId(kBuilding, std::move(done)); });
    ASSERT_TRUE(building);

    setMapProvider(config, adapter);
    control = CVMapControlInternal::create(config);
    ASSERT_TRUE(control);
    control->enableLiveDataWithDomain("occupancy", [this](const std::shared_ptr<const CVLiveUpdate>& update) {
        heard.add(update->itemId + " " + update->timestampText);
    });
    control->setCurrentBuilding(building);

    const auto manager = CVLiveDataManager::sharedInstance();
    const std::shared_ptr<const CVLiveTopic> floorTopic =
        std::make_shared<CVLiveTopicCriteria>(CVLiveTopicCriteria("occupancy").floorId(kFloor).datasetId(dataSet));
    const auto confirmed = [&] {
        return manager->state() == CVLiveDataManagerState::connected &&
               manager->topicsForTesting().topics.contains(floorTopic);
    };
    ASSERT_TRUE(test::waitFor(confirmed)) << broker.log();
    EXPECT_TRUE(control->subscribedTopics().contains(floorTopic));
    EXPECT_FALSE(service_.web().requestsTo("/live/state").empty());

    const std::string topic = dataSet + "/" + kFloor + "/" + kRoom + "/occupancy";
    ASSERT_TRUE(publish(topic, "2026-12-07T10:00:00Z"));
    EXPECT_TRUE(test::waitFor([&] { return !heard.events().empty(); }));

    // The broker forgets everything; the manager connects again and asks
    // anew, so the retained update reaches the listener.
    ASSERT_TRUE(broker.restart());
    ASSERT_TRUE(publish(topic, "2026-12-07T10:05:00Z", true));
    EXPECT_TRUE(test::waitFor([&] { return heard.events().size() >= 2; })) << broker.log();
    const auto events = heard.events();
    ASSERT_GE(events.size(), 2U);
    EXPECT_EQ(events[0], std::string(kRoom) + " 2026-12-07T10:00:00Z");
    EXPECT_EQ(events[1], std::string(kRoom) + " 2026-12-07T10:05:00Z");
    EXPECT_TRUE(test::waitFor(confirmed));

    // A reset of the SDK ends the subscriptions at the broker.
    EXPECT_EQ(answered<std::optional<platform::NSError>>([&](auto done) { entry->reset(done); }), std::nullopt);
    EXPECT_TRUE(test::waitFor([&] { return manager->topicsForTesting().topics.empty(); }));
}

}  // namespace
}  // namespace ambrell::live_data_on_the_map_test
