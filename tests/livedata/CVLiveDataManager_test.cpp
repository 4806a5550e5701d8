// The live-data manager on a fake broker client and a fake details service,
// its states' fetches answered by the loopback web service.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <latch>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/post.hpp>
#include <boost/json/parse.hpp>
#include <gtest/gtest.h>

#include "Ambrell/CVError.h"
#include "data/AmbrellLegacy.h"
#include "data/CVSolutionInternal.h"
#include "foundation/CVLogger.h"
#include "foundation/CVNetworkReachabilityManager.h"
#include "livedata/CVLiveDataManager.h"
#include "livedata/CVMQTTSubscriptionClient.h"
#include "platform/NotificationCenter.h"
#include "platform/runtime/BlockingWait.h"
#include "platform/runtime/Task.h"
#include "platform/runtime/ThreadPool.h"
#include "tests/foundation/WebServiceFixture.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/EventRecorder.h"
#include "tests/support/MosquittoBroker.h"
#include "tests/support/ScriptedBroker.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TestPki.h"
#include "tests/support/WaitFor.h"

namespace ambrell {
namespace {

using test::EventRecorder;

// Records what the manager asks of the broker; the test plays the broker's answers.
class FakeSubscriptionClient final : public CVSubscriptionClient {
public:
    EventRecorder calls;
    std::atomic<CVSubscriptionState> currentState{CVSubscriptionState::disconnected};

    void connect(bool cleanSession) override { calls.add(cleanSession ? "connect clean" : "connect"); }
    void disconnect() override { calls.add("disconnect"); }
    void subscribe(std::shared_ptr<const CVSubscriptionTopic> topic) override {
        calls.add("subscribe " + topic->topicString());
    }
    void unsubscribe(std::shared_ptr<const CVSubscriptionTopic> topic) override {
        calls.add("unsubscribe " + topic->topicString());
    }
    [[nodiscard]] CVSubscriptionState state() const override { return currentState; }
    [[nodiscard]] std::shared_ptr<CVSubscriptionClientDelegate> delegate() const override {
        const std::lock_guard lock(mutex_);
        return delegate_;
    }
    void setDelegate(std::shared_ptr<CVSubscriptionClientDelegate> delegate) override {
        const std::lock_guard lock(mutex_);
        delegate_ = std::move(delegate);
    }

private:
    mutable std::mutex mutex_;
    std::shared_ptr<CVSubscriptionClientDelegate> delegate_;
};

class FakeLiveDataService final : public CVLiveDataService {
public:
    EventRecorder requests;
    std::atomic<bool> fail{false};
    std::vector<std::string> domainTypes{"occupancy", "position"};

    platform::Awaitable<CVLiveDataInfo> liveDataInfo(std::string dataSetId) override {
        requests.add("details " + dataSetId);
        if (fail) throw CVError(CVErrorCase::requestFailed);
        co_return CVLiveDataInfo(domainTypes);
    }
};

// Events that a test can start afresh.
class ClearableRecorder {
public:
    void add(std::string event) {
        const std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }
    [[nodiscard]] std::vector<std::string> events() const {
        const std::lock_guard lock(mutex_);
        return events_;
    }
    void clear() {
        const std::lock_guard lock(mutex_);
        events_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
};

class RecordingDelegate final : public CVLiveDataManagerDelegate {
public:
    ClearableRecorder events;

    void didReceiveWithLiveUpdate(const std::shared_ptr<const CVLiveUpdate>& liveUpdate) override {
        {
            const std::lock_guard lock(mutex_);
            lastUpdate_ = liveUpdate;
        }
        events.add("update " + liveUpdate->itemId + " " + liveUpdate->timestampText);
    }
    [[nodiscard]] std::shared_ptr<const CVLiveUpdate> lastUpdate() const {
        const std::lock_guard lock(mutex_);
        return lastUpdate_;
    }
    void didUpdateWithState(std::int64_t state) override { events.add("state " + std::to_string(state)); }
    void didSubscribeWithTopic(const std::shared_ptr<const CVLiveTopic>& topic) override {
        events.add("subscribed " + topic->topicString());
    }
    void didUnsubscribeWithTopic(const std::shared_ptr<const CVLiveTopic>& topic) override {
        events.add("unsubscribed " + topic->topicString());
    }
    void onSubscriptionError(const platform::NSError& error, const std::shared_ptr<const CVLiveTopic>& topic) override {
        events.add("subscription error " + error.domain + " " + std::to_string(error.code) + " " +
                   topic->topicString());
    }
    void onUnsubscriptionError(const platform::NSError& error,
                               const std::shared_ptr<const CVLiveTopic>& topic) override {
        events.add("unsubscription error " + std::to_string(error.code) + " " + topic->topicString());
    }
    void onError(const platform::NSError& error) override {
        events.add("error " + error.domain + " " + std::to_string(error.code));
    }
    void didReceiveLiveDataInfo(const CVLiveDataInfo& info) override {
        events.add("info " + std::to_string(info.domainTypes().size()));
    }

private:
    mutable std::mutex mutex_;
    std::shared_ptr<const CVLiveUpdate> lastUpdate_;
};

template <typename Recorder>
bool contains(const Recorder& recorder, const std::string& event) {
    const auto events = recorder.events();
    return std::find(events.begin(), events.end(), event) != events.end();
}

template <typename Recorder>
std::size_t countOf(const Recorder& recorder, const std::string& event) {
    const auto events = recorder.events();
    return static_cast<std::size_t>(std::count(events.begin(), events.end(), event));
}

template <typename Recorder>
bool eventually(const Recorder& recorder, const std::string& event) {
    return test::waitFor([&] { return contains(recorder, event); });
}

std::string message(const std::string& id, const std::string& timestamp) {
    return R"({"id":")" + id + R"(","domainType":"occupancy","timestamp":")" + timestamp +
           R"(","properties":{"nrOfPeople":1}})";
}

class CVLiveDataManagerTest : public test::WebServiceFixture {
protected:
    CVLiveDataManagerTest() {
        settings()->setSessionToken("session-1");
        CVLiveDataEndpoints::setApiBaseForTesting(service_.url("/api"));
        CVNetworkReachabilityManager::setForcedStatusForTesting(CVNetworkReachabilityStatusReachableViaWiFi);
        service_.serveBody("/api/state", "[]");
    }
    ~CVLiveDataManagerTest() override {
        if (manager) manager->subscriptionClient()->setDelegate(nullptr);
        CVNetworkReachabilityManager::setForcedStatusForTesting(std::nullopt);
        CVLiveDataEndpoints::setApiBaseForTesting(std::nullopt);
    }

    // A manager whose solution has the data set "ds" (or none), its reconnection 50 ms away.
    void makeManager(bool withSolution = true) {
        manager = CVLiveDataManager::make(client, liveDataService, CVNetworkReachabilityManager::sharedManager(),
                                          std::chrono::milliseconds(50), [this, withSolution](auto completion) {
                                              solutionRequests.add("solution");
                                              std::shared_ptr<CVSolutionInternal> solution;
                                              if (withSolution) {
                                                  solution = std::make_shared<CVSolutionInternal>();
                                                  solution->solutionId = "ds";
                                              }
                                              completion(solution, std::nullopt);
                                          });
    }
    // The details awaited here, so that no pass of their arrival runs later.
    void makeManagerWithDetails() {
        makeManager(false);
        manager->setDelegate(delegate);
        run(manager->fetchLiveDataInfo("ds"));
        ASSERT_EQ(manager->activeDomainTypes(), std::optional(std::vector<std::string>{"occupancy", "position"}));
        delegate->events.clear();
    }
    static std::shared_ptr<const CVLiveTopic> topic(const std::string& domain, const std::string& floor = "f1") {
        return std::make_shared<CVLiveTopicCriteria>(CVLiveTopicCriteria(domain).floorId(floor).datasetId("ds"));
    }
    void subscribe(const std::shared_ptr<const CVLiveTopic>& wanted) { run(manager->subscribe(wanted)); }
    void unsubscribe(const std::shared_ptr<const CVLiveTopic>& wanted) { run(manager->unsubscribe(wanted)); }
    void send(const std::string& text, const std::string& onTopic = "ds/f1/r1/occupancy") {
        manager->didReceiveMessage(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), onTopic);
    }
    // Connected, as the client reports it.
    void connectClient() {
        client->currentState = CVSubscriptionState::connected;
        manager->didUpdateState(2);
    }

    std::shared_ptr<FakeSubscriptionClient> client = std::make_shared<FakeSubscriptionClient>();
    std::shared_ptr<FakeLiveDataService> liveDataService = std::make_shared<FakeLiveDataService>();
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    EventRecorder solutionRequests;
    std::shared_ptr<CVLiveDataManager> manager;
};

// MARK: connection and state

TEST_F(CVLiveDataManagerTest, CreationReportsNothingAndEachDelegateAssignmentAsksForDetails) {
    makeManager();
    EXPECT_EQ(manager->state(), CVLiveDataManagerState::disconnected);
    EXPECT_EQ(client->delegate(), manager);
    ASSERT_TRUE(test::waitFor([&] { return liveDataService->requests.events().size() == 1; }));
    EXPECT_EQ(solutionRequests.events().size(), 1U);

    manager->setDelegate(delegate);
    manager->setDelegate(delegate);
    EXPECT_TRUE(test::waitFor([&] { return countOf(delegate->events, "info 2") == 2; }));
    EXPECT_EQ(solutionRequests.events().size(), 3U);
    EXPECT_EQ(liveDataService->requests.events(), std::vector<std::string>(3, "details ds"));
    EXPECT_EQ(manager->activeDomainTypes(), std::optional(std::vector<std::string>{"occupancy", "position"}));
    // No state was reported.
    EXPECT_FALSE(contains(delegate->events, "state 0"));
}

TEST_F(CVLiveDataManagerTest, WithoutADataSetNothingIsAsked) {
    makeManager(false);
    manager->setDelegate(delegate);
    EXPECT_EQ(solutionRequests.events().size(), 2U);
    EXPECT_TRUE(liveDataService->requests.events().empty());
    EXPECT_FALSE(manager->activeDomainTypes());
}

TEST_F(CVLiveDataManagerTest, MirrorsEveryClientStateAndIgnoresOthers) {
    makeManagerWithDetails();
    for (const std::int64_t state : {0, 1, 2, 3, 2, 4, -1, 1}) manager->didUpdateState(state);
    EXPECT_EQ(delegate->events.events(),
              (std::vector<std::string>{"state 0", "state 1", "state 2", "state 3", "state 2", "state 1"}));
    EXPECT_EQ(manager->state(), CVLiveDataManagerState::connecting);
}

TEST_F(CVLiveDataManagerTest, AnErrorWhileIdleReconnectsAfterTheDelayButNotWhileConnected) {
    makeManagerWithDetails();
    client->currentState = CVSubscriptionState::connected;
    manager->onError(platform::NSError{"MQTT", -4, {}});
    EXPECT_EQ(delegate->events.events(), std::vector<std::string>{"error MQTT -4"});

    client->currentState = CVSubscriptionState::disconnected;
    manager->onError(platform::NSError{"MQTT", 3, {}});
    EXPECT_TRUE(test::waitFor([&] { return contains(client->calls, "connect clean"); }));
    EXPECT_EQ(delegate->events.events(),
              (std::vector<std::string>{"error MQTT -4", "error MQTT 3", "state 0", "state 1"}));
    EXPECT_TRUE(logs_.sink().contains("Connection failed "));
    EXPECT_TRUE(logs_.sink().contains("Trying to reconnect in 10 seconds"));
    EXPECT_TRUE(logs_.sink().contains("Reconnecting after disruption\u2026"));
}

TEST_F(CVLiveDataManagerTest, UnreachableWaitsForTheNetworkThenConnects) {
    makeManagerWithDetails();
    connectClient();
    subscribe(topic("occupancy"));
    manager->didSubscribe(topic("occupancy"));
    CVNetworkReachabilityManager::setForcedStatusForTesting(CVNetworkReachabilityStatusNotReachable);
    client->currentState = CVSubscriptionState::disconnected;
    manager->didUpdateState(0);
    manager->onError(platform::NSError{"MQTT", 3, {}});
    EXPECT_TRUE(logs_.sink().contains("Starting notifier"));
    EXPECT_FALSE(contains(client->calls, "connect clean"));
    EXPECT_EQ(manager->topicsForTesting().pendingSubscriptions.size(), 1U);

    CVNetworkReachabilityManager::setForcedStatusForTesting(CVNetworkReachabilityStatusReachableViaWiFi);
    platform::NotificationCenter::defaultCenter().post(CVNetworkingReachabilityDidChangeNotification());
    // The status change's own notification may be the one that connects.
    EXPECT_TRUE(test::waitFor([&] { return contains(client->calls, "connect clean"); }));
    EXPECT_EQ(manager->state(), CVLiveDataManagerState::connecting);
}

TEST_F(CVLiveDataManagerTest, MessagesThatAreNotUpdates) {
    makeManagerWithDetails();
    connectClient();
    send("not json");
    send("1");
    send("[]");
    send(R"({"id":"r1"})");
    send("{\"id\":");
    // Messages are decoded in batches: what an update keeps must outlive its
    // message's document, long texts and nested values too.
    const std::string note(3000, 'n');
    send(R"({"id":"r2","domainType":"occupancy","timestamp":"2026-01-01T00:00:00Z","properties":{"nrOfPeople":1,)"
         R"("note":")" +
         note + R"(","sensor":{"kind":"camera","ids":[1,2]}}})");
    ASSERT_TRUE(eventually(delegate->events, "update r2 2026-01-01T00:00:00Z"));
    EXPECT_EQ(delegate->events.events(),
              (std::vector<std::string>{"state 2", "error NSCocoaErrorDomain 3840", "error NSCocoaErrorDomain 3840",
                                        "error NSCocoaErrorDomain 3840", "error NSCocoaErrorDomain 3840",
                                        "update r2 2026-01-01T00:00:00Z"}));
    const auto kept = delegate->lastUpdate();
    send(message("r3", "2026-01-01T00:00:01Z"));
    ASSERT_TRUE(eventually(delegate->events, "update r3 2026-01-01T00:00:01Z"));
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->getLiveValueForKey("note"), std::optional<boost::json::value>(note));
    EXPECT_EQ(kept->getLiveValueForKey("sensor"),
              std::optional<boost::json::value>(boost::json::parse(R"({"kind":"camera","ids":[1,2]})")));
    EXPECT_TRUE(logs_.sink().contains("Failed decoding message - "));
    EXPECT_TRUE(logs_.sink().contains("Got Live Update with domainType occupancy"));
}

// MARK: topics

TEST_F(CVLiveDataManagerTest, SubscriptionsByStateAndDomain) {
    struct Case {
        std::string name;
        CVLiveDataManagerState state;
        std::string domain;
        std::vector<std::string> clientCalls;
        std::vector<std::string> delegateEvents;
    };
    const std::vector<Case> cases = {
        {"idle", CVLiveDataManagerState::disconnected, "occupancy", {"connect clean"}, {"state 1"}},
        {"connecting",
         CVLiveDataManagerState::connecting,
         "occupancy",
         {},
         {"subscription error Ambrell.CVError 5 ds/f1/+/occupancy"}},
        {"closing",
         CVLiveDataManagerState::disconnecting,
         "occupancy",
         {},
         {"subscription error Ambrell.CVError 5 ds/f1/+/occupancy"}},
        {"connected", CVLiveDataManagerState::connected, "occupancy", {"subscribe ds/f1/+/occupancy"}, {}},
        {"inactive domain", CVLiveDataManagerState::connected, "co2", {}, {}},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        client = std::make_shared<FakeSubscriptionClient>();
        makeManagerWithDetails();
        manager->didUpdateState(static_cast<std::int64_t>(test.state));
        delegate->events.clear();
        subscribe(topic(test.domain));
        test::waitFor([&] { return client->calls.events().size() >= test.clientCalls.size(); });
        EXPECT_EQ(client->calls.events(), test.clientCalls);
        EXPECT_EQ(delegate->events.events(), test.delegateEvents);
        // Not confirmed: still pending.
        const auto topics = manager->topicsForTesting();
        EXPECT_TRUE(topics.pendingSubscriptions.contains(topic(test.domain)));
        EXPECT_TRUE(topics.topics.empty());
        manager->subscriptionClient()->setDelegate(nullptr);
    }
}

TEST_F(CVLiveDataManagerTest, BeforeTheDetailsATopicWaitsAndTheirArrivalSubscribesIt) {
    liveDataService->fail = true;
    makeManager(false);
    manager->setDelegate(delegate);
    run(manager->fetchLiveDataInfo("ds"));
    EXPECT_EQ(delegate->events.events().at(0), "error Ambrell.CVError 6");
    EXPECT_FALSE(manager->activeDomainTypes());
    connectClient();
    liveDataService->fail = false;
    subscribe(topic("occupancy"));
    EXPECT_TRUE(test::waitFor([&] { return contains(client->calls, "subscribe ds/f1/+/occupancy"); }));
    EXPECT_EQ(liveDataService->requests.events(), std::vector<std::string>(2, "details ds"));
}

TEST_F(CVLiveDataManagerTest, ConfirmationsMoveTopicsAndLeavingConnectedAsksForThemAgain) {
    makeManagerWithDetails();
    connectClient();
    const auto occupancy = topic("occupancy");
    subscribe(occupancy);
    manager->didSubscribe(occupancy);
    ASSERT_TRUE(eventually(delegate->events, "subscribed ds/f1/+/occupancy"));
    ASSERT_TRUE(test::waitFor([&] { return manager->topicsForTesting().liveStateFetchedForTopics.size() == 1; }));
    EXPECT_EQ(service_.requestsTo("/api/state").at(0).query, "topic=ds%2Ff1%2F%2B%2Foccupancy");

    // Already confirmed: nothing more is sent.
    subscribe(occupancy);
    // Pending only: an unsubscription is ignored.
    unsubscribe(topic("position"));
    EXPECT_EQ(client->calls.events(), std::vector<std::string>{"subscribe ds/f1/+/occupancy"});

    // The broker forgets everything with the connection.
    client->currentState = CVSubscriptionState::disconnected;
    manager->didUpdateState(0);
    auto topics = manager->topicsForTesting();
    EXPECT_TRUE(topics.topics.empty());
    EXPECT_TRUE(topics.liveStateFetchedForTopics.empty());
    EXPECT_TRUE(topics.pendingSubscriptions.contains(occupancy));
    connectClient();
    EXPECT_TRUE(test::waitFor([&] { return countOf(client->calls, "subscribe ds/f1/+/occupancy") == 2; }));
    EXPECT_TRUE(test::waitFor([&] { return service_.requestsTo("/api/state").size() == 2; }));

    manager->didSubscribe(occupancy);
    ASSERT_TRUE(test::waitFor([&] { return manager->topicsForTesting().topics.size() == 1; }));
    manager->unsubscribeAll();
    EXPECT_TRUE(test::waitFor([&] { return contains(client->calls, "unsubscribe ds/f1/+/occupancy"); }));
    manager->didUnsubscribe(occupancy);
    EXPECT_TRUE(eventually(delegate->events, "unsubscribed ds/f1/+/occupancy"));
    EXPECT_TRUE(test::waitFor([&] { return manager->topicsForTesting().topics.empty(); }));
    EXPECT_TRUE(logs_.sink().contains("Subscribed to topic ds/f1/+/occupancy"));
    EXPECT_TRUE(logs_.sink().contains("Unsubscribed from topic ds/f1/+/occupancy"));
}

TEST_F(CVLiveDataManagerTest, SubscribesAndTheNetworkReturningWhileIdleConnectOnce) {
    makeManagerWithDetails();
    constexpr int kTopics = 8;
    std::atomic<int> done{0};
    for (int index = 0; index < kTopics; ++index) {
        platform::Task::start([this, index, &done]() -> platform::Awaitable<void> {
            co_await manager->subscribe(topic("occupancy", "f" + std::to_string(index)));
            ++done;
        });
    }
    platform::NotificationCenter::defaultCenter().post(CVNetworkingReachabilityDidChangeNotification());
    ASSERT_TRUE(test::waitFor([&] { return done == kTopics; }));
    EXPECT_EQ(countOf(client->calls, "connect clean"), 1U);
    EXPECT_EQ(countOf(delegate->events, "state 1"), 1U);
    EXPECT_EQ(manager->topicsForTesting().pendingSubscriptions.size(), static_cast<std::size_t>(kTopics));
}

TEST_F(CVLiveDataManagerTest, ConfirmationsAreUsageEventsByDomainType) {
    // The logger is the process's: the events of earlier tests are not ours to read.
    struct FreshLogger {
        FreshLogger() { CVLogger::resetSharedForTesting(); }
        ~FreshLogger() { CVLogger::resetSharedForTesting(); }
    } freshLogger;
    makeManagerWithDetails();
    const std::shared_ptr<const CVLiveTopic> anyDomain =
        std::make_shared<CVLiveTopicCriteria>(CVLiveTopicCriteria(std::nullopt).floorId("f1").datasetId("ds"));
    connectClient();
    subscribe(topic("occupancy"));
    subscribe(anyDomain);
    manager->didSubscribe(topic("occupancy"));
    manager->didSubscribe(anyDomain);
    manager->didUnsubscribe(topic("occupancy"));
    std::vector<std::string> events;
    ASSERT_TRUE(test::waitFor([&] {
        events.clear();
        const auto entries = platform::blockingWait(platform::ThreadPool::shared().makeStrand(),
                                                    CVLogger::sharedInstance()->loggerActor()->logEntries());
        for (const auto& entry : entries) {
            if (entry.domain != CVLogDomain::liveData) continue;
            events.push_back(std::string(description(entry.name)) + " " + entry.parameters->at("domain_type"));
        }
        return events.size() >= 3;
    }));
    EXPECT_EQ(events, (std::vector<std::string>{"subscription_started occupancy", "subscription_started all",
                                                "subscription_stopped occupancy"}));
}

// MARK: live updates

TEST_F(CVLiveDataManagerTest, HeldUpdatesArriveByTimestampTextAndEqualTextsInArrivalOrder) {
    makeManagerWithDetails();
    send(message("c", "2026-01-01T00:00:03Z"));
    send(message("a1", "2026-01-01T00:00:01Z"));
    send(message("b", "2026-01-01T00:00:02Z"));
    send(message("a2", "2026-01-01T00:00:01Z"));
    ASSERT_TRUE(test::waitFor([&] { return manager->topicsForTesting().pendingLiveUpdates == 4; }));
    EXPECT_TRUE(delegate->events.events().empty());
    connectClient();
    ASSERT_TRUE(eventually(delegate->events, "update c 2026-01-01T00:00:03Z"));
    EXPECT_EQ(delegate->events.events(),
              (std::vector<std::string>{"state 2", "update a1 2026-01-01T00:00:01Z", "update a2 2026-01-01T00:00:01Z",
                                        "update b 2026-01-01T00:00:02Z", "update c 2026-01-01T00:00:03Z"}));
}

TEST_F(CVLiveDataManagerTest, UpdatesHandedInWhileTheStateComesAndGoesAllArriveInOrder) {
    makeManagerWithDetails();
    connectClient();
    constexpr int kCount = 400;
    std::thread flapping([&] {
        for (int round = 0; round < 50; ++round) {
            manager->didUpdateState(round % 2 == 0 ? 1 : 2);
        }
        manager->didUpdateState(2);
    });
    for (int index = 0; index < kCount; ++index) {
        char timestamp[32];
        std::snprintf(timestamp, sizeof timestamp, "2026-01-01T00:%02d:%02dZ", index / 60, index % 60);
        send(message("r" + std::to_string(index), timestamp));
    }
    flapping.join();
    ASSERT_TRUE(test::waitFor([&] {
        const auto events = delegate->events.events();
        return std::count_if(events.begin(), events.end(),
                             [](const std::string& e) { return e.starts_with("update"); }) == kCount;
    }));
    std::vector<std::string> updates;
    for (const auto& event : delegate->events.events()) {
        if (event.starts_with("update")) updates.push_back(event);
    }
    ASSERT_EQ(updates.size(), static_cast<std::size_t>(kCount));
    for (int index = 0; index < kCount; ++index) {
        EXPECT_TRUE(updates[static_cast<std::size_t>(index)].starts_with("update r" + std::to_string(index) + " "))
            << updates[static_cast<std::size_t>(index)];
    }
}

TEST_F(CVLiveDataManagerTest, StateEntriesAreDeliveredAndAFailedFetchIsReportedWhileDeliveryGoesOn) {
    makeManagerWithDetails();
    connectClient();
    service_.serveBody("/api/state", "[" + message("s1", "2026-01-01T00:00:05Z") + ", {\"id\": 3}]");
    subscribe(topic("occupancy"));
    EXPECT_TRUE(eventually(delegate->events, "update s1 2026-01-01T00:00:05Z"));

    service_.respond("/api/state", {404, "", {}});
    subscribe(topic("position"));
    EXPECT_TRUE(eventually(delegate->events, "error Ambrell.CVError 6"));
    EXPECT_TRUE(logs_.sink().contains("Failed to retrieve state "));
    EXPECT_EQ(manager->state(), CVLiveDataManagerState::connected);
    send(message("after", "2026-01-01T00:00:09Z"));
    EXPECT_TRUE(eventually(delegate->events, "update after 2026-01-01T00:00:09Z"));

    service_.serveBody("/api/state", "{\"not\": \"a list\"}");
    subscribe(topic("occupancy", "f2"));
    EXPECT_TRUE(eventually(delegate->events, "error NSCocoaErrorDomain 3840"));
    EXPECT_TRUE(logs_.sink().contains("Failed decoding state "));
    EXPECT_TRUE(test::waitFor([&] { return manager->topicsForTesting().liveStateFetchedForTopics.size() == 2; }));
}

TEST_F(CVLiveDataManagerTest, ALocationSourceReadyRunsThePendingPass) {
    makeManagerWithDetails();
    connectClient();
    manager->didUpdateState(1);
    subscribe(topic("occupancy"));
    client->currentState = CVSubscriptionState::connected;
    manager->didUpdateState(2);
    EXPECT_TRUE(test::waitFor([&] { return countOf(client->calls, "subscribe ds/f1/+/occupancy") == 1; }));
    manager->onStatusChange(CVLocationSourceStatus::initialising, nullptr);
    manager->onStatusChange(CVLocationSourceStatus::available, nullptr);
    EXPECT_TRUE(test::waitFor([&] { return countOf(client->calls, "subscribe ds/f1/+/occupancy") == 2; }));
}

// MARK: on a real broker

// The manager on the real subscription client and a mosquitto of the test's
// own over TLS as "localhost"; publishing is mosquitto_pub's.
class CVLiveDataManagerBrokerTest : public CVLiveDataManagerTest {
protected:
    CVLiveDataManagerBrokerTest() {
        ::setenv("SSL_CERT_FILE", pki.certificate(test::TestPki::Certificate::ca).c_str(), 1);
        CVMQTTSubscriptionClient::setBrokerForTesting(
            CVMQTTSubscriptionClient::Broker{"localhost", static_cast<std::uint32_t>(broker.tlsPort())});
    }
    ~CVLiveDataManagerBrokerTest() override {
        if (manager) {
            manager->subscriptionClient()->setDelegate(nullptr);
            manager->subscriptionClient()->disconnect();
        }
        CVMQTTSubscriptionClient::setBrokerForTesting(std::nullopt);
        ::unsetenv("SSL_CERT_FILE");
    }

    // Connected, every topic confirmed at the broker.
    void connectWithTopics(const std::vector<std::shared_ptr<const CVLiveTopic>>& wanted) {
        ASSERT_TRUE(broker.ready());
        manager = CVLiveDataManager::make(CVMQTTSubscriptionClient::make(), liveDataService,
                                          CVNetworkReachabilityManager::sharedManager(), std::chrono::milliseconds(50),
                                          [](auto completion) { completion(nullptr, std::nullopt); });
        manager->setDelegate(delegate);
        run(manager->fetchLiveDataInfo("ds"));
        for (const auto& each : wanted) subscribe(each);
        ASSERT_TRUE(test::waitFor([&] {
            const auto topics = manager->topicsForTesting().topics;
            return manager->state() == CVLiveDataManagerState::connected &&
                   std::all_of(wanted.begin(), wanted.end(), [&](const auto& each) { return topics.contains(each); });
        })) << broker.log();
    }
    bool confirmed(const std::shared_ptr<const CVLiveTopic>& wanted) const {
        return test::waitFor([&] { return manager->topicsForTesting().topics.contains(wanted); });
    }
    // An update of room `id` on the floor, at QoS 2.
    bool publish(const std::string& floor, const std::string& id) {
        return test::runProgram({"mosquitto_pub", "-h", "127.0.0.1", "-p", std::to_string(broker.port()), "-q", "2",
                                 "-t", "ds/" + floor + "/" + id + "/occupancy", "-m",
                                 message(id, "2026-01-01T00:00:00Z")})
            .succeeded();
    }

    const test::TestPki pki;
    test::MosquittoBroker broker{{.pki = &pki, .persistence = false, .extraConfig = {}}};
};

TEST_F(CVLiveDataManagerBrokerTest, ATopicAskedForAgainBeforeItsUnsubscriptionIsConfirmedStaysSubscribed) {
    const auto floor = topic("occupancy");
    connectWithTopics({floor});

    // The client's queue held, so that neither request reaches the broker
    // before both were made: a floor left and returned to within one round
    // trip.
    std::promise<void> hold;
    boost::asio::post(CVMQTTSubscriptionClient::queue().executor(),
                      [held = hold.get_future().share()] { held.wait(); });
    unsubscribe(floor);
    subscribe(floor);
    hold.set_value();

    ASSERT_TRUE(eventually(delegate->events, "unsubscribed ds/f1/+/occupancy"));
    ASSERT_TRUE(confirmed(floor));
    ASSERT_TRUE(publish("f1", "r1"));
    EXPECT_TRUE(eventually(delegate->events, "update r1 2026-01-01T00:00:00Z"));
}

TEST_F(CVLiveDataManagerBrokerTest, AFloorLeftBeforeItsSubscriptionIsConfirmedIsDroppedAtTheBroker) {
    connectWithTopics({topic("occupancy", "f3")});
    const auto left = topic("occupancy", "f1");
    const auto returned = topic("occupancy", "f2");

    // The client's queue held, so that no SUBSCRIBE reaches the broker, and
    // no SUBACK comes back, before the floors were shown and left (and one
    // of them shown again) within one round trip.
    std::promise<void> hold;
    boost::asio::post(CVMQTTSubscriptionClient::queue().executor(),
                      [held = hold.get_future().share()] { held.wait(); });
    subscribe(left);
    subscribe(returned);
    unsubscribe(left);
    unsubscribe(returned);
    subscribe(returned);
    hold.set_value();

    ASSERT_TRUE(eventually(delegate->events, "unsubscribed ds/f1/+/occupancy"));
    ASSERT_TRUE(confirmed(returned));
    for (const auto* floor : {"f1", "f2"}) ASSERT_TRUE(publish(floor, std::string("r") + floor));
    ASSERT_TRUE(eventually(delegate->events, "update rf2 2026-01-01T00:00:00Z"));
    // Delivered in arrival order: the left floor's would have come first.
    EXPECT_FALSE(contains(delegate->events, "update rf1 2026-01-01T00:00:00Z"));
    EXPECT_FALSE(contains(delegate->events, "subscribed ds/f1/+/occupancy"));
    EXPECT_FALSE(manager->topicsForTesting().topics.contains(left));
}

TEST_F(CVLiveDataManagerBrokerTest, ARefusedConnectIsOneErrorAndOneReconnection) {
    using Bytes = test::ScriptedBroker::Bytes;
    test::ScriptedBroker scripted(test::ScriptedBroker::Tls{pki.chain(test::TestPki::Certificate::localhost),
                                                            pki.key(test::TestPki::Certificate::localhost)});
    const auto connack = [](std::uint8_t returnCode) {
        return [returnCode](const Bytes& frame) {
            return frame[0] == 0x10 ? Bytes{0x20, 0x02, 0x00, returnCode} : Bytes{};
        };
    };
    // Refused as not authorised, then let in.
    scripted.addConnection(test::ScriptedBroker::Script().answerFrame(connack(5), "CONNECT"));
    scripted.addConnection(test::ScriptedBroker::Script()
                               .answerFrame(connack(0), "CONNECT")
                               .answerFrame(
                                   [](const Bytes& frame) {
                                       return Bytes{0x90, 0x03, frame[2], frame[3], 2};
                                   },
                                   "SUBSCRIBE"));
    CVMQTTSubscriptionClient::setBrokerForTesting(
        CVMQTTSubscriptionClient::Broker{"localhost", static_cast<std::uint32_t>(scripted.port())});

    connectWithTopics({topic("occupancy")});
    const auto events = delegate->events.events();
    EXPECT_EQ(std::count_if(events.begin(), events.end(), [](const auto& each) { return each.starts_with("error "); }),
              1)
        << ::testing::PrintToString(events);
    const auto lines = logs_.sink().messages();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const auto& line) { return line.message == "Trying to reconnect in 10 seconds"; }),
              1);
    EXPECT_EQ(scripted.connectionCount(), 2U);
    EXPECT_TRUE(scripted.failures().empty()) << ::testing::PrintToString(scripted.failures());
}

TEST_F(CVLiveDataManagerBrokerTest, TopicsDroppedWhileTheConnectionIsDownAreNotAskedForAgain) {
    const auto dropped = topic("occupancy", "f1");
    const auto second = topic("occupancy", "f2");
    const auto third = topic("occupancy", "f3");
    connectWithTopics({dropped, second, third});

    // With the connection every confirmed topic goes back to pending.
    broker.stop();
    ASSERT_TRUE(test::waitFor([&] { return manager->topicsForTesting().pendingSubscriptions.size() == 3; }));
    unsubscribe(dropped);
    EXPECT_FALSE(manager->topicsForTesting().pendingSubscriptions.contains(dropped));
    manager->unsubscribeAll();
    EXPECT_TRUE(test::waitFor([&] { return manager->topicsForTesting().pendingSubscriptions.empty(); }));

    // Connected again, only a topic asked for since is subscribed.
    ASSERT_TRUE(broker.restart());
    ASSERT_TRUE(test::waitFor([&] { return manager->state() == CVLiveDataManagerState::connected; })) << broker.log();
    const auto wanted = topic("occupancy", "f4");
    subscribe(wanted);
    ASSERT_TRUE(confirmed(wanted));
    for (const auto* floor : {"f1", "f2", "f3", "f4"}) ASSERT_TRUE(publish(floor, std::string("r") + floor));
    ASSERT_TRUE(eventually(delegate->events, "update rf4 2026-01-01T00:00:00Z"));
    // Delivered in arrival order: any of the others would have come first.
    for (const auto* id : {"rf1", "rf2", "rf3"}) {
        EXPECT_FALSE(contains(delegate->events, std::string("update ") + id + " 2026-01-01T00:00:00Z")) << id;
    }
    EXPECT_EQ(manager->topicsForTesting().topics.size(), 1U);
}

TEST(CVLiveDataManagerSharedTest, FirstUsesAtOnceMakeOneManager) {
    // Each manager made asks for the solution once; without a key that
    // request ends at once with a line of its own.
    AmbrellLegacy::setApiKey(std::nullopt);
    constexpr int kRounds = 20;
    constexpr int kThreads = 8;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(round);
        CVLiveDataManager::resetSharedForTesting();
        const test::ScopedLogCapture logs;
        std::latch start(kThreads);
        std::vector<std::shared_ptr<CVLiveDataManager>> got(kThreads);
        std::vector<std::thread> threads;
        for (int index = 0; index < kThreads; ++index) {
            threads.emplace_back([&, index] {
                start.arrive_and_wait();
                got[static_cast<std::size_t>(index)] = CVLiveDataManager::sharedInstance();
            });
        }
        for (auto& thread : threads) thread.join();
        EXPECT_TRUE(std::all_of(got.begin(), got.end(), [&](const auto& each) { return each && each == got[0]; }));
        const auto lines = logs.sink().messages();
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [](const auto& line) {
                                    return line.message.find("getSolutionAsync") != std::string::npos &&
                                           line.message.find("Invalid parameter") != std::string::npos;
                                }),
                  1);
    }
    CVLiveDataManager::resetSharedForTesting();
}

TEST(CVLiveDataManagerSharedTest, OneSharedManagerUntilReset) {
    CVLiveDataManager::resetSharedForTesting();
    EXPECT_EQ(CVLiveDataManager::existingSharedInstance(), nullptr);
    const auto first = CVLiveDataManager::sharedInstance();
    EXPECT_EQ(CVLiveDataManager::sharedInstance(), first);
    EXPECT_EQ(CVLiveDataManager::existingSharedInstance(), first);
    EXPECT_NE(std::dynamic_pointer_cast<CVLiveDataManager>(first->subscriptionClient()->delegate()), nullptr);
    CVLiveDataManager::resetSharedForTesting();
    EXPECT_EQ(CVLiveDataManager::existingSharedInstance(), nullptr);
}

}  // namespace
}  // namespace ambrell
