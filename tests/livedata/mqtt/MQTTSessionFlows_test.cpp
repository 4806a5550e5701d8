// The session's message side over a fake transport and a hand-moved clock:
// identifiers, subscriptions, the QoS 1 and 2 exchanges both ways, resends,
// the send window, and a broker that lies.

#include <gtest/gtest.h>

#include "livedata/mqtt/MQTTCoreDataPersistence.h"
#include "livedata/mqtt/MQTTStrict.h"
#include "platform/Paths.h"
#include "tests/livedata/mqtt/MQTTSessionHarness.h"
#include "tests/support/TempDirectory.h"

namespace ambrell::test {
namespace {

using std::chrono_literals::operator""s;
using Lines = std::vector<std::string>;

class MQTTSessionFlowsTest : public ::testing::Test, public SessionFixture {
protected:
    std::uint16_t publish(std::string_view payload, std::uint8_t qos, std::string name = "publish") {
        const Bytes bytes(payload.begin(), payload.end());
        return session->publishData(bytes, "t", false, qos, recordResult(std::move(name)));
    }
    MQTTSubscribeHandler recordGranted(std::string name) {
        return [this, name](const MQTTOptionalError& error, const std::vector<std::uint8_t>& granted) {
            results.push_back(name + " " + errorText(error) + " [" + printHex(granted) + "]");
        };
    }
};

TEST_F(MQTTSessionFlowsTest, HandsOutIdentifiersFromTwoSkippingHeldOnesAndWrapping) {
    session->setPersistence(std::make_shared<MQTTInMemoryPersistence>());
    EXPECT_EQ(session->nextMsgId(), 2);
    EXPECT_EQ(session->nextMsgId(), 3);
    session->persistence()->storeMessageForClientId("client-1", "t", {}, false, 1, 4, false, 3, clock->now());
    EXPECT_EQ(session->nextMsgId(), 5);
    for (int i = 6; i <= 65535; ++i) session->nextMsgId();
    EXPECT_EQ(session->nextMsgId(), 1);
    EXPECT_EQ(session->nextMsgId(), 2);
}

TEST_F(MQTTSessionFlowsTest, RefusesEveryRequestOnceAllIdentifiersAreHeld) {
    auto store = std::make_shared<MQTTInMemoryPersistence>();
    store->setMaxMessages(70000);
    for (int mid = 1; mid <= 65535; ++mid) {
        store->storeMessageForClientId("client-1", "t", {}, false, 1, static_cast<std::uint16_t>(mid), false, 0,
                                       clock->now());
    }
    session->setPersistence(store);
    session->setCleanSessionFlag(false);
    connectAccepted();
    EXPECT_EQ(session->nextMsgId(), 0);
    EXPECT_EQ(publish("x", 1), 0);
    EXPECT_EQ(session->subscribeToTopic("a", 0, recordGranted("subscribe")), 0);
    EXPECT_EQ(session->unsubscribeTopic("a", recordResult("unsubscribe")), 0);
    EXPECT_EQ(results, (Lines{"publish -6 Dropping outgoing Message", "subscribe -6 Dropping outgoing Message []",
                              "unsubscribe -6 Dropping outgoing Message"}));
    EXPECT_TRUE(transport->takeSent().empty());
}

TEST_F(MQTTSessionFlowsTest, SubscribesAndUnsubscribesWithTheirAcknowledgements) {
    connectAccepted();
    EXPECT_EQ(session->subscribeToTopic("live/a", 2, recordGranted("subscribe")), 2);
    EXPECT_EQ(transport->takeSent(), Lines{"82 0B 00 02 00 06 6C 69 76 65 2F 61 02"});
    transport->receive("90 03 00 02 02");
    // An acknowledgement nobody waits for reaches only the delegate.
    transport->receive("90 04 00 09 00 80");
    EXPECT_EQ(delegate->take(), (Lines{"suback 2 02", "suback 9 00 80"}));
    EXPECT_EQ(session->unsubscribeTopics({"live/a", "live/b"}, recordResult("unsubscribe")), 3);
    EXPECT_EQ(transport->takeSent(), Lines{"A2 12 00 03 00 06 6C 69 76 65 2F 61 00 06 6C 69 76 65 2F 62"});
    transport->receive("B0 02 00 03");
    EXPECT_EQ(delegate->take(), Lines{"unsuback 3"});
    EXPECT_EQ(results, (Lines{"subscribe ok [02]", "unsubscribe ok"}));
}

TEST_F(MQTTSessionFlowsTest, ReadsLevelFiveAcknowledgementsWithTheirProperties) {
    session->setProtocolLevel(5);
    connectAccepted("20 03 00 00 00");
    session->subscribeToTopic("a", 1, recordGranted("subscribe"));
    transport->receive("90 07 00 02 03 1F 00 00 01");
    session->unsubscribeTopics({"a", "b"}, recordResult("unsubscribe"));
    transport->receive("B0 05 00 03 00 00 87");
    EXPECT_EQ(results, (Lines{"subscribe ok [01]", "unsubscribe 135 MQTT UNSUBACK: unsubscribe refused"}));
}

TEST_F(MQTTSessionFlowsTest, PublishesAtQoSZeroAtOnceOrReportsTheEncoder) {
    connectAccepted();
    EXPECT_EQ(publish("hi", 0), 0);
    EXPECT_EQ(transport->takeSent(), Lines{"30 05 00 01 74 68 69"});
    transport->accepting = false;
    EXPECT_EQ(publish("hi", 0), 0);
    EXPECT_EQ(results, (Lines{"publish ok", "publish -5 Encoder not ready"}));
    EXPECT_EQ(session->persistence()->allFlowsforClientId("client-1", false).size(), 0U);
}

TEST_F(MQTTSessionFlowsTest, RefusesAQoSAboveTwoOrAnUnbuildablePublish) {
    connectAccepted();
    EXPECT_EQ(publish("x", 3), 0);
    EXPECT_EQ(session->publishData(Bytes{}, std::string(70000, 't'), false, 1, recordResult("long")), 0);
    EXPECT_EQ(results, (Lines{"publish -6 Dropping outgoing Message", "long -6 Dropping outgoing Message"}));
    EXPECT_TRUE(transport->takeSent().empty());
    EXPECT_EQ(session->persistence()->allFlowsforClientId("client-1", false).size(), 0U);
}

TEST_F(MQTTSessionFlowsTest, CompletesOutgoingQoSOneAndTwoExchanges) {
    connectAccepted();
    EXPECT_EQ(publish("a", 1, "one"), 2);
    EXPECT_EQ(publish("b", 2, "two"), 3);
    EXPECT_EQ(transport->takeSent(), (Lines{"32 06 00 01 74 00 02 61", "34 06 00 01 74 00 03 62"}));
    EXPECT_EQ(delegate->lastBuffered, (std::pair<std::uint64_t, std::uint64_t>{0, 2}));
    // Acknowledged out of order.
    transport->receive("50 02 00 03");
    EXPECT_EQ(transport->takeSent(), Lines{"62 02 00 03"});
    EXPECT_EQ(outgoingFlow(3)->commandType(), 6);
    transport->receive("40 02 00 02");
    transport->receive("70 02 00 03");
    EXPECT_EQ(results, (Lines{"one ok", "two ok"}));
    EXPECT_EQ(delegate->take(), (Lines{"delivered 2", "delivered 3"}));
    EXPECT_EQ(delegate->lastBuffered, (std::pair<std::uint64_t, std::uint64_t>{0, 0}));
}

TEST_F(MQTTSessionFlowsTest, ResendsUnacknowledgedPacketsWithTheDupFlagEveryDupTimeout) {
    connectAccepted();
    publish("a", 1);
    publish("b", 2);
    transport->receive("50 02 00 03");
    transport->takeSent();
    clock->advance(20s);
    EXPECT_TRUE(transport->takeSent().empty());
    clock->advance(1s);
    auto resent = transport->takeSent();
    std::sort(resent.begin(), resent.end());
    EXPECT_EQ(resent, (Lines{"3A 06 00 01 74 00 02 61", "62 02 00 03"}));
    clock->advance(20s);
    EXPECT_TRUE(transport->takeSent().empty());
    clock->advance(1s);
    EXPECT_EQ(transport->takeSent().size(), 2U);
}

TEST_F(MQTTSessionFlowsTest, QueuesBeyondTheWindowAndSendsOnceItOpens) {
    connectAccepted();
    for (int i = 0; i < 17; ++i) publish("m", 1);
    EXPECT_EQ(transport->takeSent().size(), 17U);
    const auto queued = publish("m", 1);
    EXPECT_EQ(queued, 19);
    EXPECT_TRUE(transport->takeSent().empty());
    EXPECT_EQ(outgoingFlow(queued)->commandType(), 0);
    clock->advance(1s);
    EXPECT_TRUE(transport->takeSent().empty());
    transport->receive("40 02 00 02");
    clock->advance(1s);
    EXPECT_EQ(transport->takeSent(), Lines{"32 06 00 01 74 00 13 6D"});
    EXPECT_EQ(outgoingFlow(queued)->commandType(), 3);
}

TEST_F(MQTTSessionFlowsTest, SendsWhatWasPublishedOfflineAfterTheNextConnack) {
    session->setCleanSessionFlag(false);
    EXPECT_EQ(publish("a", 1), 2);
    EXPECT_EQ(outgoingFlow(2)->commandType(), 0);
    clock->advance(0.001s);
    connect();
    transport->takeSent();
    transport->receive("20 02 00 00");
    EXPECT_EQ(transport->takeSent(), Lines{"32 06 00 01 74 00 02 61"});
    transport->receive("40 02 00 02");
    EXPECT_EQ(results, (Lines{"ok", "publish ok"}));

    // A clean session drops what is queued, handlers included.
    session->closeWithDisconnectHandler({});
    publish("b", 1);
    clock->advance(0.001s);
    session->setCleanSessionFlag(true);
    results.clear();
    connect();
    transport->takeSent();
    transport->receive("20 02 00 00");
    EXPECT_TRUE(transport->takeSent().empty());
    EXPECT_TRUE(session->persistence()->allFlowsforClientId("client-1", false).empty());
    transport->receive("40 02 00 03");
    EXPECT_EQ(results, Lines{"ok"});
}

TEST_F(MQTTSessionFlowsTest, SendsWhatAnEarlierProcessQueuedInAPersistentStore) {
    TempDirectory container;
    platform::Paths::setContainerRoot(container.path());
    const auto persistentStore = [] {
        auto store = std::make_shared<MQTTCoreDataPersistence>();
        store->setPersistent(true);
        return store;
    };
    {
        SessionFixture earlier;
        earlier.session->setPersistence(persistentStore());
        earlier.session->setCleanSessionFlag(false);
        EXPECT_EQ(earlier.session->publishData(Bytes{'a'}, "t", false, 1), 2);
    }
    session->setPersistence(persistentStore());
    session->setCleanSessionFlag(false);
    clock->advance(1s);
    connect();
    transport->takeSent();
    transport->receive("20 02 01 00");
    EXPECT_EQ(transport->takeSent(), Lines{"32 06 00 01 74 00 02 61"});
    EXPECT_EQ(session->nextMsgId(), 3);
    transport->receive("40 02 00 02");
    EXPECT_TRUE(persistentStore()->allFlowsforClientId("client-1", false).empty());
    platform::Paths::resetForTesting();
}

TEST_F(MQTTSessionFlowsTest, ReceivesAtEachQoSAndReleasesQoSTwoOnce) {
    connectAccepted();
    transport->receive("30 05 00 01 74 68 69");
    transport->receive("33 07 00 01 74 00 05 68 69");
    EXPECT_EQ(transport->takeSent(), Lines{"40 02 00 05"});
    const auto qos2 = "34 07 00 01 74 00 07 68 69";
    transport->receive(qos2);
    transport->receive(qos2);
    EXPECT_EQ(transport->takeSent(), (Lines{"50 02 00 07", "50 02 00 07"}));
    EXPECT_EQ(delegate->take(), (Lines{"message t 'hi' q0 mid 0", "message t 'hi' q1 retained mid 5"}));
    transport->receive("62 02 00 07");
    transport->receive("62 02 00 07");
    EXPECT_EQ(transport->takeSent(), (Lines{"70 02 00 07", "70 02 00 07"}));
    EXPECT_EQ(delegate->take(), Lines{"message t 'hi' q2 mid 7"});
    EXPECT_TRUE(session->persistence()->allFlowsforClientId("client-1", true).empty());
}

TEST_F(MQTTSessionFlowsTest, ReleasesALevelFiveMessageWithoutItsProperties) {
    session->setProtocolLevel(5);
    connectAccepted("20 03 00 00 00");
    transport->receive("34 0A 00 01 74 00 07 02 01 01 68 69");
    transport->receive("62 02 00 07");
    EXPECT_EQ(transport->takeSent(), (Lines{"50 04 00 07 00 00", "70 04 00 07 00 00"}));
    EXPECT_EQ(delegate->take(), Lines{"message t 'hi' q2 mid 7"});
}

TEST_F(MQTTSessionFlowsTest, ARefusingDelegateGetsTheMessageAgain) {
    connectAccepted();
    delegate->feedback = false;
    transport->receive("32 07 00 01 74 00 05 68 69");
    transport->receive("34 07 00 01 74 00 07 68 69");
    transport->receive("62 02 00 07");
    EXPECT_EQ(transport->takeSent(), Lines{"50 02 00 07"});
    delegate->feedback = true;
    transport->receive("62 02 00 07");
    EXPECT_EQ(transport->takeSent(), Lines{"70 02 00 07"});
    EXPECT_EQ(delegate->take().size(), 3U);
}

TEST_F(MQTTSessionFlowsTest, IgnoresAcknowledgementsOfTheWrongStep) {
    connectAccepted();
    publish("a", 1, "one");
    publish("b", 2, "two");
    transport->takeSent();
    transport->receive("40 02 00 03");
    transport->receive("70 02 00 03");
    transport->receive("50 02 00 02");
    EXPECT_EQ(outgoingFlow(2)->commandType(), 3);
    EXPECT_EQ(outgoingFlow(3)->commandType(), 3);
    // The PUBREC is answered all the same, so the broker's exchange ends.
    EXPECT_EQ(transport->takeSent(), Lines{"62 02 00 02"});
    // A QoS 0 PUBLISH too short for its topic is dropped unanswered (one of
    // QoS 1 or 2 ends the connection, so that the broker sends it again).
    transport->receive("30 04 00 09 74 74");
    EXPECT_TRUE(transport->takeSent().empty());
    EXPECT_TRUE(results.empty());
    EXPECT_EQ(session->status(), MQTTSessionStatus::connected);
    EXPECT_TRUE(delegate->take().empty());
}

TEST_F(MQTTSessionFlowsTest, LetsTheDelegateSeeAndDropReceivedPackets) {
    connectAccepted();
    delegate->recordReceived = true;
    delegate->ignoredType = MQTTCommandType::publish;
    transport->receive("32 07 00 01 74 00 05 68 69");
    transport->receive("90 03 00 06 01");
    EXPECT_EQ(delegate->take(), (Lines{"received 3 mid 5", "received 9 mid 6", "suback 6 01"}));
    EXPECT_TRUE(transport->takeSent().empty());
}

TEST_F(MQTTSessionFlowsTest, DeliversATopicThatIsNotUTF8AsLatin1) {
    std::vector<std::string> topics;
    session->setMessageHandler([&topics](auto, const std::string& topic) { topics.push_back(topic); });
    connectAccepted();
    transport->receive("30 04 00 02 E9 41");
    EXPECT_EQ(topics, Lines{"\xC3\xA9"
                            "A"});
}

TEST_F(MQTTSessionFlowsTest, ChecksTopicFiltersUnderStrictChecking) {
    MQTTStrict::setStrict(true);
    for (const auto* filter : {"#", "a/#", "+/b", "a/+/c", "sport/#"}) {
        EXPECT_NO_THROW(checkTopicFilters({filter})) << filter;
    }
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"a#", "multilevel wildcard must be alone on a level of a topic filter"},
        {"sport/#/x", "multilevel wildcard must be on the last level of a topic filter"},
        {"a+", "singlelevel wildcard must be alone on a level of a topic filter"},
        {"a/b+", "singlelevel wildcard must be alone on a level of a topic filter"},
        {"a/##", "multilevel wildcard must be alone on a level of a topic filter"},
        {"", "topicFilter must be at least 1 characters long"},
    };
    for (const auto& [filter, name] : refused) {
        try {
            checkTopicFilters({filter});
            ADD_FAILURE() << filter;
        } catch (const MQTTStrictError& error) {
            EXPECT_EQ(error.name(), name) << filter;
        }
    }
    EXPECT_THROW(checkTopicFilters({}), MQTTStrictError);
    EXPECT_THROW(session->subscribeToTopic("a", 3), MQTTStrictError);
    const auto publishRefusal = [this](const std::string& topic) {
        try {
            session->publishData(Bytes{}, topic, false, 0);
        } catch (const MQTTStrictError& error) {
            return error.name() + "; " + error.reason();
        }
        return std::string("sent");
    };
    EXPECT_EQ(publishRefusal(""), "topic must not at least 1 character long; ");
    EXPECT_EQ(publishRefusal("a\xFF"), "topic must not contain non-UTF8 characters; topic = a\xFF");
    EXPECT_EQ(publishRefusal("a/+"), "sent");
    session->setWillTopic("w/#");
    EXPECT_EQ(publishRefusal("a"), "willTopic must not contain wildcards; willTopic = w/#");
    EXPECT_THROW(publish("x", 3), MQTTStrictError);
    MQTTStrict::setStrict(false);
    EXPECT_NO_THROW(checkTopicFilters({"a#"}));
}

}  // namespace
}  // namespace ambrell::test
