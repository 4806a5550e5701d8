// The session manager over fake transports and a hand-moved clock: states,
// retries, the wanted and effective subscriptions, the application's
// lifecycle. Every step is synchronous on the test's thread.

#include <gtest/gtest.h>

#include "livedata/mqtt/ForegroundReconnection.h"
#include "livedata/mqtt/MQTTCoreDataPersistence.h"
#include "livedata/mqtt/MQTTError.h"
#include "livedata/mqtt/MQTTSessionManager.h"
#include "livedata/mqtt/ReconnectTimer.h"
#include "platform/runtime/Executor.h"
#include "tests/livedata/mqtt/MQTTSessionHarness.h"

namespace ambrell::test {
namespace {

using State = MQTTSessionManagerState;
using Lines = std::vector<std::string>;

class ManagerRecorder final : public MQTTSessionManagerDelegate {
public:
    void sessionManager(MQTTSessionManager& /*manager*/, MQTTSessionManagerState state) override {
        lines.push_back("state " + std::to_string(static_cast<int>(state)));
    }
    void sessionManager(MQTTSessionManager& /*manager*/, Payload data, const std::string& topic,
                        bool retained) override {
        lines.push_back("message " + topic + " '" + std::string(data.begin(), data.end()) + "'" +
                        (retained ? " retained" : ""));
    }
    void handleMessage(Payload /*data*/, const std::string& topic, bool /*retained*/) override {
        lines.push_back("handle " + topic);
    }
    void sessionManager(MQTTSessionManager& /*manager*/, std::uint16_t msgID) override {
        lines.push_back("delivered " + std::to_string(msgID));
    }
    void messageDelivered(std::uint16_t msgID) override { lines.push_back("done " + std::to_string(msgID)); }

    Lines take() { return std::exchange(lines, {}); }
    Lines lines;
};

class ManagerTest : public ::testing::Test {
protected:
    ManagerTest() {
        manager->setDelegate(recorder);
        manager->setTransportFactory([this](const MQTTSessionManagerParameters&) {
            transports.push_back(std::make_shared<FakeTransport>());
            return transports.back();
        });
    }

    static MQTTSessionManagerParameters parameters() {
        MQTTSessionManagerParameters parameters;
        parameters.host = "broker.test";
        parameters.keepalive = 0;
        parameters.auth = true;
        parameters.user = "user";
        parameters.pass = "secret";
        parameters.willTopic = "w";
        parameters.willMsg = Bytes{'x'};
        parameters.clientId = "manager-1";
        return parameters;
    }
    FakeTransport& transport() { return *transports.back(); }
    void accept(std::string_view connack = "20 02 00 00") {
        transport().didOpen();
        transport().receive(connack);
    }
    void fail() { transport().fail(makeMQTTError(61, "Connection refused")); }
    // Whether a new attempt starts `seconds` (within 1 ms) after now.
    bool retriesAfter(double seconds) {
        const auto before = transports.size();
        clock->advance(std::chrono::duration<double>(seconds - 0.001));
        if (transports.size() != before) return false;
        clock->advance(std::chrono::milliseconds(2));
        return transports.size() == before + 1 && manager->state() == State::connecting;
    }
    static std::string frame(const std::optional<MQTTMessage>& message) { return printHex(message->wireFormat()); }

    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::shared_ptr<MQTTSessionManager> manager =
        MQTTSessionManager::initWithPersistence(false, 16, 1024, MQTTCoreDataPersistence::kDefaultMaxSize, 64.0, false,
                                                "level", platform::SerialExecutor::mainQueue(), clock);
    std::shared_ptr<ManagerRecorder> recorder = std::make_shared<ManagerRecorder>();
    std::vector<std::shared_ptr<FakeTransport>> transports;
};

TEST(ReconnectTimerTest, DoublesUntilItReachesTheMaximumWithoutClamping) {
    struct Case {
        double first;
        double maximum;
        std::vector<double> waits;
    };
    for (const auto& [first, maximum, waits] :
         {Case{0.25, 1.0, {0.25, 0.5, 1.0, 1.0}}, Case{1.0, 50.0, {1, 2, 4, 8, 16, 32, 64, 64}}}) {
        auto clock = std::make_shared<ManualClock>();
        int fired = 0;
        auto timer = std::make_shared<ReconnectTimer>(
            first, maximum, platform::SerialExecutor::mainQueue(), [&] { ++fired; }, clock);
        for (const double wait : waits) {
            timer->schedule();
            clock->advance(std::chrono::duration<double>(wait - 0.001));
            EXPECT_EQ(fired, 0) << wait;
            clock->advance(std::chrono::milliseconds(2));
            EXPECT_EQ(std::exchange(fired, 0), 1) << wait;
            EXPECT_FALSE(timer->isScheduled());
        }
        timer->resetRetryInterval();
        EXPECT_EQ(timer->currentRetryInterval(), first);
    }
}

TEST(ReconnectTimerTest, ScheduleReplacesThePendingFiringAndStopDropsIt) {
    auto clock = std::make_shared<ManualClock>();
    int fired = 0;
    auto timer = std::make_shared<ReconnectTimer>(
        1.0, 8.0, platform::SerialExecutor::mainQueue(), [&] { ++fired; }, clock);
    timer->schedule();
    clock->advance(std::chrono::milliseconds(500));
    timer->schedule();
    clock->advance(std::chrono::milliseconds(600));
    EXPECT_EQ(fired, 0);
    clock->advance(std::chrono::seconds(10));
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(clock->activeTimers(), 0U);

    timer->schedule();
    timer->stop();
    clock->advance(std::chrono::seconds(10));
    EXPECT_EQ(fired, 1);
    // A timer gone before its firing does nothing.
    timer->schedule();
    timer.reset();
    clock->advance(std::chrono::seconds(10));
    EXPECT_EQ(fired, 1);
}

TEST_F(ManagerTest, FailuresRetryAfterDoublingWaitsAndASuccessResetsThem) {
    EXPECT_FALSE(manager->requiresTearDown());
    manager->connectTo(parameters(), {});
    accept();
    EXPECT_EQ(recorder->take(), (Lines{"state 1", "state 3"}));
    EXPECT_EQ(transport().host(), "broker.test");
    EXPECT_EQ(transport().streamSSLLevel(), "level");
    EXPECT_TRUE(manager->requiresTearDown());

    fail();
    EXPECT_EQ(recorder->take(), (Lines{"state 2", "state 5"}));
    EXPECT_EQ(manager->lastErrorCode()->code, 61);
    for (const double wait : {1, 2, 4, 8, 16}) {
        EXPECT_TRUE(retriesAfter(wait)) << wait;
        fail();
    }
    EXPECT_EQ(recorder->take().size(), 5U * 4);
    EXPECT_TRUE(retriesAfter(32));
    recorder->take();
    accept();
    EXPECT_EQ(recorder->take(), (Lines{"state 3"}));
    EXPECT_FALSE(manager->lastErrorCode());
    transport().peerClose();
    EXPECT_EQ(recorder->take(), (Lines{"state 5", "state 5"}));
    EXPECT_TRUE(retriesAfter(1));
}

TEST_F(ManagerTest, ASuccessStopsTheRetryPendingAndClosingRetriesNothing) {
    manager->connectTo(parameters(), {});
    accept();
    transport().peerClose();
    EXPECT_TRUE(manager->reconnectTimer()->isScheduled());
    // Back in the foreground before the wait ends.
    manager->connectToLast({});
    accept();
    EXPECT_EQ(manager->state(), State::connected);
    EXPECT_FALSE(manager->reconnectTimer()->isScheduled());
    clock->advance(std::chrono::seconds(100));
    EXPECT_EQ(transports.size(), 2U);
    EXPECT_EQ(manager->state(), State::connected);
    // Connected already: nothing to do.
    manager->connectToLast({});
    EXPECT_EQ(transports.size(), 2U);

    recorder->take();
    manager->disconnectWithDisconnectHandler({});
    EXPECT_EQ(recorder->take(), (Lines{"state 4", "state 5"}));
    EXPECT_EQ(transport().takeSent().back(), "E0 00");
    EXPECT_FALSE(manager->reconnectTimer()->isScheduled());
    EXPECT_FALSE(manager->requiresTearDown());
}

TEST_F(ManagerTest, SubscriptionsSetOfflineAreSubscribedOnConnectAndEachAckSetsOnlyItsFilters) {
    manager->setSubscriptions({{"m/a", 1}, {"m/b", 2}, {"m/c", 0}});
    EXPECT_TRUE(manager->effectiveSubscriptions().empty());
    manager->connectTo(parameters(), {});
    accept();
    auto sent = transport().takeSent();
    ASSERT_EQ(sent.size(), 2U);
    EXPECT_EQ(sent[1], frame(MQTTMessage::subscribeMessageWithMessageId(2, {{"m/a", 1}, {"m/b", 2}, {"m/c", 0}}, 4)));
    transport().receive("90 05 00 02 01 80 00");
    EXPECT_EQ(manager->effectiveSubscriptions(), (MQTTSubscriptions{{"m/a", 1}, {"m/c", 0}}));

    // m/c stays at its granted QoS; m/b was never granted.
    manager->setSubscriptions({{"m/c", 2}, {"m/d", 1}});
    sent = transport().takeSent();
    const std::vector<std::string> unsubscribed{"m/a"};
    EXPECT_EQ(sent, (Lines{frame(MQTTMessage::unsubscribeMessageWithMessageId(3, unsubscribed, 4)),
                           frame(MQTTMessage::subscribeMessageWithMessageId(4, {{"m/d", 1}}, 4))}));
    transport().receive("B0 02 00 03");
    EXPECT_EQ(manager->effectiveSubscriptions(), (MQTTSubscriptions{{"m/c", 0}}));
    transport().receive("90 03 00 04 01");
    EXPECT_EQ(manager->effectiveSubscriptions(), (MQTTSubscriptions{{"m/c", 0}, {"m/d", 1}}));

    // A request the close fails changes nothing.
    manager->setSubscriptions({{"m/e", 1}});
    transport().peerClose();
    EXPECT_EQ(manager->effectiveSubscriptions(), (MQTTSubscriptions{{"m/c", 0}, {"m/d", 1}}));
    // A new connection without a kept session subscribes the wanted set anew.
    clock->advance(std::chrono::seconds(1));
    accept();
    EXPECT_TRUE(manager->effectiveSubscriptions().empty());
    sent = transport().takeSent();
    ASSERT_EQ(sent.size(), 2U);
    EXPECT_EQ(sent[1].substr(0, 2), "82");
    transport().receive("90 03 " + sent[1].substr(6, 5) + " 01");
    EXPECT_EQ(manager->effectiveSubscriptions(), (MQTTSubscriptions{{"m/e", 1}}));
}

TEST_F(ManagerTest, ABrokerKeepingTheSessionIsNotSubscribedAgain) {
    auto keep = parameters();
    keep.clean = false;
    manager->setSubscriptions({{"k/a", 1}});
    manager->connectTo(keep, {});
    accept();
    EXPECT_EQ(transport().takeSent().size(), 2U);
    transport().receive("90 03 00 02 01");
    transport().peerClose();
    clock->advance(std::chrono::seconds(1));
    accept("20 02 01 00");
    EXPECT_EQ(transport().takeSent().size(), 1U);
    EXPECT_EQ(manager->effectiveSubscriptions(), (MQTTSubscriptions{{"k/a", 1}}));
}

TEST_F(ManagerTest, ConnectToKeepsTheSessionUnlessASettingItComparesChanged) {
    manager->connectTo(parameters(), {});
    accept();
    const auto first = manager->session();
    recorder->take();

    auto sameButWillAndLevel = parameters();
    sameButWillAndLevel.will = true;
    sameButWillAndLevel.protocolLevel = 5;
    manager->connectTo(sameButWillAndLevel, {});
    EXPECT_EQ(manager->session(), first);
    EXPECT_FALSE(first->willFlag());
    EXPECT_EQ(first->protocolLevel(), 4);
    EXPECT_EQ(recorder->take(), (Lines{"state 4", "state 5", "state 0", "state 1"}));
    EXPECT_EQ(transports.size(), 2U);
    accept();

    auto otherClient = parameters();
    otherClient.clientId = "manager-2";
    manager->connectTo(otherClient, {});
    EXPECT_NE(manager->session(), first);
    EXPECT_EQ(manager->session()->clientId(), "manager-2");
    // The replaced session said goodbye.
    EXPECT_EQ(first->status(), MQTTSessionStatus::closed);
    EXPECT_EQ(transports[1]->takeSent().back(), "E0 00");

    // Absent texts never match: each connect makes a new session.
    auto anonymous = parameters();
    anonymous.user.reset();
    const auto before = manager->session();
    manager->connectTo(anonymous, {});
    EXPECT_NE(manager->session(), before);
}

TEST_F(ManagerTest, SendDataConnectsFirstAndMessagesReachBothDelegateCalls) {
    manager->connectTo(parameters(), {});
    fail();
    recorder->take();
    const Bytes payload{'h', 'i'};
    EXPECT_NE(manager->sendData(payload, "out", 1, false), 0);
    EXPECT_EQ(recorder->take(), (Lines{"state 0", "state 1"}));
    accept();
    // Queued while connecting, it goes out at the first check after the CONNACK.
    clock->advance(std::chrono::seconds(1));
    transport().receive("30 07 00 02 'in' 'hey'");
    const auto sent = transport().takeSent();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back().substr(0, 2), "32");
    transport().receive("40 02 " + sent.back().substr(21, 5));
    EXPECT_EQ(recorder->take(), (Lines{"state 3", "message in 'hey'", "handle in", "delivered 2", "done 2"}));
}

class FakeBackgroundTasks final : public MQTTBackgroundTasks {
public:
    Identifier beginBackgroundTask(std::function<void()> expirationHandler) override {
        expiration = std::move(expirationHandler);
        return ++last;
    }
    void endBackgroundTask(Identifier identifier) override { ended.push_back(identifier); }

    Identifier last = 6;
    std::function<void()> expiration;
    std::vector<Identifier> ended;
};

TEST_F(ManagerTest, FollowsTheApplicationsLifecycleNotifications) {
    platform::NotificationCenter center;
    auto tasks = std::make_shared<FakeBackgroundTasks>();
    auto reconnection = ForegroundReconnection::initWithMQTTSessionManager(manager, center, tasks);
    manager->connectTo(parameters(), {});
    accept();
    recorder->take();

    center.post(ForegroundReconnection::willResignActiveNotification());
    EXPECT_EQ(recorder->take(), (Lines{"state 4", "state 5"}));
    center.post(ForegroundReconnection::didEnterBackgroundNotification());
    EXPECT_FALSE(tasks->expiration) << "nothing left to tear down";
    center.post(ForegroundReconnection::didBecomeActiveNotification());
    EXPECT_EQ(recorder->take(), (Lines{"state 0", "state 1"}));
    center.post(ForegroundReconnection::didEnterBackgroundNotification());
    EXPECT_EQ(reconnection->backgroundTask(), 7U);
    tasks->expiration();
    reconnection->endBackgroundTask();
    EXPECT_EQ(tasks->ended, (std::vector<MQTTBackgroundTasks::Identifier>{7}));
    EXPECT_EQ(reconnection->backgroundTask(), MQTTBackgroundTasks::kInvalid);

    reconnection.reset();
    center.post(ForegroundReconnection::willResignActiveNotification());
    EXPECT_TRUE(recorder->take().empty());
    EXPECT_FALSE(manager->foregroundReconnection());
    EXPECT_TRUE(MQTTSessionManager::init()->foregroundReconnection());
}

}  // namespace
}  // namespace ambrell::test
