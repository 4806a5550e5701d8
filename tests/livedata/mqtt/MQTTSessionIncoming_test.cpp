// What the session does when it can't keep an incoming message as asked: a
// full flow store, a broker past the Receive Maximum, a broken level-5
// PUBLISH, a broker that forgot the session, and a refused level-5 connect.
// None of them may lose a message without a word.

#include <gtest/gtest.h>

#include <algorithm>

#include "livedata/mqtt/MQTTError.h"
#include "tests/livedata/mqtt/MQTTSessionHarness.h"
#include "tests/support/CapturingLogSink.h"

namespace ambrell::test {
namespace {

using Lines = std::vector<std::string>;

bool hasLine(const Lines& lines, std::string_view wanted) {
    return std::find(lines.begin(), lines.end(), wanted) != lines.end();
}

class MQTTSessionIncomingTest : public ::testing::Test, public SessionFixture {
protected:
    MQTTSessionIncomingTest() {
        // The in-memory store is shared by the process: every test keeps to
        // its own client.
        store->setMaxMessages(1);
        session->setPersistence(store);
        session->setClientId(std::string("incoming-") +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        session->setCleanSessionFlag(false);
        platform::Logger::setSink(log);
    }
    ~MQTTSessionIncomingTest() override {
        store->deleteAllFlowsForClientId(session->clientId());
        platform::Logger::setSink(nullptr);
    }

    [[nodiscard]] std::size_t held() const { return store->allFlowsforClientId(session->clientId(), true).size(); }
    // A fresh transport for the next connection, as a session manager gives.
    void replaceTransport() {
        transport = std::make_shared<FakeTransport>();
        session->setTransport(transport);
    }

    std::shared_ptr<MQTTInMemoryPersistence> store = std::make_shared<MQTTInMemoryPersistence>();
    std::shared_ptr<CapturingLogSink> log = std::make_shared<CapturingLogSink>();
};

TEST_F(MQTTSessionIncomingTest, AFullStoreEndsTheConnectionAndTheMessageComesAgainAfterAReconnect) {
    connectAccepted();
    // The store takes two flows (one more than its limit); the third can't be
    // kept and is not acknowledged.
    transport->receive("34 07 00 01 74 00 01 61 31");
    transport->receive("34 07 00 01 74 00 02 61 32");
    transport->receive("34 07 00 01 74 00 03 61 33");
    EXPECT_EQ(transport->takeSent(), (Lines{"50 02 00 01", "50 02 00 02"}));
    const auto lines = delegate->take();
    const std::string refused = "-10 MQTT flow store full: incoming QoS 2 message not acknowledged";
    ASSERT_GE(lines.size(), 3U);
    EXPECT_EQ(lines[0], "event 3 " + refused);
    EXPECT_EQ(lines[1], "event 2");
    EXPECT_TRUE(hasLine(lines, "connection error " + refused));
    EXPECT_EQ(session->status(), MQTTSessionStatus::closed);
    EXPECT_TRUE(log->contains("QoS 2 message 3 not acknowledged"));

    // The broker kept the session but missed the second PUBREC: it sends
    // that message again, which the full store still takes over the held
    // one. Then it releases both and sends the third again.
    replaceTransport();
    connectAccepted("20 02 01 00");
    transport->receive("3C 07 00 01 74 00 02 62 32");
    EXPECT_EQ(session->status(), MQTTSessionStatus::connected);
    transport->receive("62 02 00 01");
    transport->receive("62 02 00 02");
    transport->receive("34 07 00 01 74 00 03 61 33");
    transport->receive("62 02 00 03");
    EXPECT_EQ(transport->takeSent(),
              (Lines{"50 02 00 02", "70 02 00 01", "70 02 00 02", "50 02 00 03", "70 02 00 03"}));
    EXPECT_EQ(delegate->take(),
              (Lines{"message t 'a1' q2 mid 1", "message t 'b2' q2 mid 2", "message t 'a3' q2 mid 3"}));
    EXPECT_EQ(held(), 0U);
}

TEST_F(MQTTSessionIncomingTest, ALevelFiveConnectAsksForNoMoreThanTheStoreHasRoomFor) {
    session->setProtocolLevel(5);
    store->setMaxMessages(9);
    connect();
    // Receive Maximum (property 0x21) of 9: the store takes nine flows.
    const auto roomy = transport->takeSent();
    ASSERT_EQ(roomy.size(), 1U);
    EXPECT_NE(roomy[0].find("21 00 09"), std::string::npos) << roomy[0];

    // A held flow is one of the broker's messages in flight already: it
    // counts against the same nine.
    store->storeMessageForClientId(session->clientId(), "t", {}, false, 2, 40, true, 5, clock->now());
    replaceTransport();
    connect();
    const auto withHeld = transport->takeSent();
    ASSERT_EQ(withHeld.size(), 1U);
    EXPECT_NE(withHeld[0].find("21 00 09"), std::string::npos) << withHeld[0];
    // A smaller wish of the caller's is kept.
    MQTTConnectProperties properties;
    properties.receiveMaximum = 4;
    session->setConnectProperties(properties);
    replaceTransport();
    connect();
    const auto asked = transport->takeSent();
    ASSERT_EQ(asked.size(), 1U);
    EXPECT_NE(asked[0].find("21 00 04"), std::string::npos) << asked[0];
}

TEST_F(MQTTSessionIncomingTest, ABrokerPastTheReceiveMaximumIsDisconnected) {
    session->setProtocolLevel(5);
    store->setMaxMessages(2);
    connectAccepted("20 03 01 00 00");
    // Room for two: a repeat of a held message is no new one.
    transport->receive("34 08 00 01 74 00 01 00 61 31");
    transport->receive("34 08 00 01 74 00 02 00 61 32");
    transport->receive("3C 08 00 01 74 00 02 00 61 32");
    EXPECT_EQ(transport->takeSent(), (Lines{"50 04 00 01 00 00", "50 04 00 02 00 00", "50 04 00 02 00 00"}));
    EXPECT_EQ(session->status(), MQTTSessionStatus::connected);
    transport->receive("34 08 00 01 74 00 03 00 61 33");
    EXPECT_EQ(transport->takeSent(), Lines{"E0 01 93"});
    const auto lines = delegate->take();
    ASSERT_GE(lines.size(), 2U);
    EXPECT_EQ(lines[0], "event 4 147 MQTT Receive Maximum exceeded");
    EXPECT_EQ(lines[1], "event 2");
    EXPECT_TRUE(log->contains("Receive Maximum of 2"));
}

TEST_F(MQTTSessionIncomingTest, ABrokerWithoutTheSessionGetsHeldMessagesDeliveredOnce) {
    store->setMaxMessages(10);
    connectAccepted();
    transport->receive("34 07 00 01 74 00 01 61 31");
    transport->receive("34 07 00 01 74 00 02 61 32");
    transport->peerClose();
    EXPECT_EQ(held(), 2U);
    delegate->take();

    // A broker that kept the session will still release them.
    replaceTransport();
    connectAccepted("20 02 01 00");
    EXPECT_EQ(held(), 2U);
    transport->peerClose();
    delegate->take();

    // One that did not never will: they are the client's to deliver now.
    replaceTransport();
    connect();
    transport->receive("20 02 00 00");
    const auto lines = delegate->take();
    EXPECT_TRUE(hasLine(lines, "message t 'a1' q2 mid 1"));
    EXPECT_TRUE(hasLine(lines, "message t 'a2' q2 mid 2"));
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const auto& line) { return line.starts_with("message"); }),
              2);
    EXPECT_EQ(held(), 0U);
    EXPECT_EQ(delegate->lastBuffered, (std::pair<std::uint64_t, std::uint64_t>{0, 0}));
    // A late PUBREL finds nothing to deliver.
    transport->receive("62 02 00 01");
    EXPECT_TRUE(delegate->take().empty());
}

TEST_F(MQTTSessionIncomingTest, ABrokenLevelFivePropertyBlockIsDroppedAtQoSZeroAndEndsTheConnectionAbove) {
    struct Case {
        const char* name;
        const char* publish;
        bool disconnects;
    };
    // Property block of two bytes holding the unknown identifier 0x7F.
    const Case cases[] = {
        {"QoS 0", "30 08 00 01 74 02 7F 00 68 69", false},
        {"QoS 1", "32 0A 00 01 74 00 05 02 7F 00 68 69", true},
        {"QoS 2", "34 0A 00 01 74 00 06 02 7F 00 68 69", true},
    };
    session->setProtocolLevel(5);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        replaceTransport();
        connectAccepted("20 03 00 00 00");
        transport->receive(c.publish);
        const auto lines = delegate->take();
        EXPECT_EQ(
            std::count_if(lines.begin(), lines.end(), [](const auto& line) { return line.starts_with("message"); }), 0);
        if (c.disconnects) {
            EXPECT_EQ(transport->takeSent(), Lines{"E0 01 81"});
            ASSERT_GE(lines.size(), 2U);
            EXPECT_EQ(lines[0], "event 4 -7 MQTT illegal message received");
            EXPECT_EQ(lines[1], "event 2");
            EXPECT_EQ(session->status(), MQTTSessionStatus::closed);
            EXPECT_TRUE(log->contains("Malformed PUBLISH"));
        } else {
            EXPECT_TRUE(transport->takeSent().empty());
            EXPECT_TRUE(lines.empty());
            EXPECT_EQ(session->status(), MQTTSessionStatus::connected);
            EXPECT_TRUE(log->contains("Dropped a malformed PUBLISH at QoS 0"));
        }
    }
}

TEST_F(MQTTSessionIncomingTest, ALevelFiveRefusalKeepsTheBrokersReason) {
    session->setProtocolLevel(5);
    MQTTOptionalError refusal;
    session->connectWithConnectHandler([&refusal](const MQTTOptionalError& error) { refusal = error; });
    transport->didOpen();
    // Reason 0x87 (not authorised), reason string "no", server reference "h".
    transport->receive("20 0C 00 87 09 1F 00 02 6E 6F 1C 00 01 68");
    ASSERT_TRUE(refusal);
    EXPECT_EQ(errorText(refusal), "6 MQTT CONNACK: reserved for future use");
    EXPECT_EQ(refusal->userInfo.at(std::string(kMQTTErrorReasonCodeKey)), platform::UserInfoValue(std::int64_t{0x87}));
    EXPECT_EQ(refusal->userInfo.at(std::string(kMQTTErrorReasonStringKey)), platform::UserInfoValue(std::string("no")));
    EXPECT_EQ(refusal->userInfo.at(std::string(kMQTTErrorServerReferenceKey)),
              platform::UserInfoValue(std::string("h")));

    // Without properties only the code is added.
    replaceTransport();
    session->connectWithConnectHandler([&refusal](const MQTTOptionalError& error) { refusal = error; });
    transport->didOpen();
    transport->receive("20 03 00 9C 00");
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->userInfo.at(std::string(kMQTTErrorReasonCodeKey)), platform::UserInfoValue(std::int64_t{0x9C}));
    EXPECT_FALSE(refusal->userInfo.contains(std::string(kMQTTErrorReasonStringKey)));
}

}  // namespace
}  // namespace ambrell::test
