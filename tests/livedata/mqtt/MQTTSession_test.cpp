// The session's connection side over a fake transport and a hand-moved
// clock: CONNACK paths, failures, time-outs, keep-alive and close.

#include <gtest/gtest.h>

#include <regex>

#include "livedata/mqtt/MQTTStrict.h"
#include "platform/runtime/Executor.h"
#include "tests/livedata/mqtt/MQTTSessionHarness.h"

namespace ambrell::test {
namespace {

using std::chrono_literals::operator""s;
using Lines = std::vector<std::string>;

class MQTTSessionConnectionTest : public ::testing::Test, public SessionFixture {};

TEST_F(MQTTSessionConnectionTest, StartsWithTheDefaultsAndAGeneratedClientIdentifier) {
    const auto fresh = std::make_shared<MQTTSession>();
    EXPECT_EQ(fresh->status(), MQTTSessionStatus::created);
    EXPECT_EQ(fresh->keepAliveInterval(), 60);
    EXPECT_EQ(fresh->dupTimeout(), 20.0);
    EXPECT_EQ(fresh->connectTimeout(), 30.0);
    EXPECT_TRUE(fresh->cleanSessionFlag());
    EXPECT_EQ(fresh->protocolLevel(), 4);
    EXPECT_TRUE(fresh->queue().isMainQueue());
    EXPECT_TRUE(std::regex_match(fresh->clientId(), std::regex("MQTTClient[0-9]{1,13}")));
    EXPECT_LE(fresh->clientId().size(), 23U);
    EXPECT_EQ(fresh->nextMsgId(), 2);
}

TEST_F(MQTTSessionConnectionTest, SendsTheConnectBuiltFromItsSettingsOrTheOneGiven) {
    connect();
    EXPECT_EQ(transport->takeSent(), Lines{"10 14 00 04 4D 51 54 54 04 02 00 3C 00 08 63 6C 69 65 6E 74 2D 31"});
    session->setConnectMessage(MQTTMessage(MQTTCommandType::connect, parseHex("00 04 'MQTT' 04 02 00 00 00 01 'x'")));
    connect();
    EXPECT_EQ(transport->takeSent(), Lines{"10 0D 00 04 4D 51 54 54 04 02 00 00 00 01 78"});
}

struct ConnackCase {
    const char* name;
    std::uint8_t level;
    const char* reply;
    Lines lines;
    const char* result;
};

TEST_F(MQTTSessionConnectionTest, AnswersEachKindOfReplyToItsConnect) {
    const auto failed = [](std::string event, std::string error, std::string kind) {
        return Lines{"event " + event + " " + error, "event 2", "closed", kind + " " + error};
    };
    const std::vector<ConnackCase> cases = {
        {"accepted, session present", 4, "20 02 01 00", {"event 0", "connected", "connected present 1"}, "ok"},
        {"accepted at level 3", 3, "20 02 00 00", {"event 0", "connected", "connected present 0"}, "ok"},
        {"accepted at level 5", 5, "20 03 00 00 00", {"event 0", "connected", "connected present 0"}, "ok"},
        {"refused 1", 4, "20 02 00 01", failed("1", "1 MQTT CONNACK: unacceptable protocol version", "refused"),
         "1 MQTT CONNACK: unacceptable protocol version"},
        {"refused 2", 4, "20 02 00 02", failed("1", "2 MQTT CONNACK: identifier rejected", "refused"),
         "2 MQTT CONNACK: identifier rejected"},
        {"refused 3", 4, "20 02 00 03", failed("1", "3 MQTT CONNACK: server unavailable", "refused"),
         "3 MQTT CONNACK: server unavailable"},
        {"refused 4", 4, "20 02 00 04", failed("1", "4 MQTT CONNACK: bad user name or password", "refused"),
         "4 MQTT CONNACK: bad user name or password"},
        {"refused 5", 4, "20 02 00 05", failed("1", "5 MQTT CONNACK: not authorized", "refused"),
         "5 MQTT CONNACK: not authorized"},
        {"refused 9", 4, "20 02 00 09", failed("1", "6 MQTT CONNACK: reserved for future use", "refused"),
         "6 MQTT CONNACK: reserved for future use"},
        {"refused at level 5", 5, "20 03 00 87 00", failed("1", "6 MQTT CONNACK: reserved for future use", "refused"),
         "6 MQTT CONNACK: reserved for future use"},
        {"3-byte CONNACK at level 4", 4, "20 03 00 00 00",
         failed("4", "-7 MQTT illegal message received", "protocol error"), "-7 MQTT illegal message received"},
        {"length with a fifth byte", 4, "20 FF FF FF FF 01",
         failed("4", "-7 MQTT illegal message received", "protocol error"), "-7 MQTT illegal message received"},
        {"SUBACK instead", 4, "90 03 00 01 00", failed("4", "-1 MQTT protocol no CONNACK", "protocol error"),
         "-1 MQTT protocol no CONNACK"},
        {"PINGRESP instead", 4, "D0 00", failed("4", "-1 MQTT protocol no CONNACK", "protocol error"),
         "-1 MQTT protocol no CONNACK"},
        {"DISCONNECT instead", 4, "E0 00",
         failed("4", "0 MQTT protocol DISCONNECT instead of CONNACK", "protocol error"),
         "0 MQTT protocol DISCONNECT instead of CONNACK"},
        {"DISCONNECT with a reason", 5, "E0 01 8E",
         failed("4", "142 MQTT protocol DISCONNECT instead of CONNACK", "protocol error"),
         "142 MQTT protocol DISCONNECT instead of CONNACK"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        SessionFixture fixture;
        fixture.session->setProtocolLevel(row.level);
        fixture.connect();
        fixture.transport->receive(row.reply);
        EXPECT_EQ(fixture.delegate->take(), row.lines);
        EXPECT_EQ(fixture.results, Lines{row.result});
        const bool accepted = std::string(row.result) == "ok";
        EXPECT_EQ(fixture.session->status(), accepted ? MQTTSessionStatus::connected : MQTTSessionStatus::closed);
        EXPECT_EQ(fixture.transport->closes, accepted ? 0 : 1);
        // Neither the handler nor the connect time-out answer twice.
        fixture.clock->advance(100s);
        fixture.transport->peerClose();
        EXPECT_EQ(fixture.results.size(), 1U);
    }
}

TEST_F(MQTTSessionConnectionTest, TellsTheConnectionHandlerEveryEvent) {
    std::vector<int> events;
    session->setConnectionHandler([&events](MQTTSessionEvent event) { events.push_back(static_cast<int>(event)); });
    connectAccepted();
    transport->receive("E0 00");
    EXPECT_EQ(events, (std::vector<int>{0, 4}));
}

TEST_F(MQTTSessionConnectionTest, ABrokerClosingBeforeTheConnackFailsTheConnectWithItsOwnError) {
    connect();
    transport->peerClose();
    EXPECT_EQ(delegate->take(), (Lines{"event 5", "event 2", "closed"}));
    EXPECT_EQ(results, Lines{"-8 Server has closed connection without connack."});

    connectAccepted();
    transport->peerClose();
    EXPECT_EQ(delegate->take(), (Lines{"event 5", "event 2", "closed"}));
    EXPECT_TRUE(results.empty());
}

TEST_F(MQTTSessionConnectionTest, DoesNotHearATransportItReplaced) {
    connectAccepted();
    const auto old = transport;
    transport = std::make_shared<FakeTransport>();
    session->setTransport(transport);
    connectAccepted();
    old->receive("E0 00");
    old->peerClose();
    EXPECT_EQ(session->status(), MQTTSessionStatus::connected);
    EXPECT_TRUE(delegate->take().empty());
}

TEST_F(MQTTSessionConnectionTest, ATransportFailureIsAConnectionError) {
    connect();
    platform::NSError error{"NSPOSIXErrorDomain", 61, {}};
    transport->fail(error);
    const std::string text = " 61 " + error.localizedDescription();
    EXPECT_EQ(delegate->take(), (Lines{"event 3" + text, "event 2", "closed", "connection error" + text}));
    EXPECT_EQ(results, Lines{text.substr(1)});
}

TEST_F(MQTTSessionConnectionTest, FailsTheConnectWhenNoConnackComesInTime) {
    session->setConnectTimeout(30);
    connect();
    clock->advance(29.9s);
    EXPECT_TRUE(delegate->take().empty());
    clock->advance(0.2s);
    const std::string error = " -3 MQTT connect timed out: no CONNACK";
    EXPECT_EQ(delegate->take(), (Lines{"event 3" + error, "event 2", "closed", "connection error" + error}));
    EXPECT_EQ(results, Lines{error.substr(1)});
    EXPECT_EQ(clock->activeTimers(), 0U);
}

TEST_F(MQTTSessionConnectionTest, AConnectThatCannotBeBuiltFailsWithoutSendingIt) {
    session->setClientId(std::string("\xFF"));
    connect();
    EXPECT_TRUE(transport->takeSent().empty());
    EXPECT_EQ(results, Lines{"-9 MQTT CONNECT could not be built"});
    EXPECT_EQ(session->status(), MQTTSessionStatus::closed);
}

TEST_F(MQTTSessionConnectionTest, PingsEveryKeepAliveIntervalAndGivesUpOnSilence) {
    connectAccepted();
    clock->advance(59.9s);
    EXPECT_TRUE(transport->takeSent().empty());
    clock->advance(0.1s);
    EXPECT_EQ(transport->takeSent(), Lines{"C0 00"});
    transport->receive("D0 00");
    clock->advance(60s);
    EXPECT_EQ(transport->takeSent(), Lines{"C0 00"});
    EXPECT_TRUE(delegate->take().empty());
    // Nothing at all for a whole interval after a PINGREQ.
    clock->advance(60s);
    const std::string error = " -4 MQTT keep-alive timed out: no answer to PINGREQ";
    EXPECT_EQ(delegate->take(), (Lines{"event 3" + error, "event 2", "closed", "connection error" + error}));
    EXPECT_EQ(clock->activeTimers(), 0U);
}

TEST_F(MQTTSessionConnectionTest, KeepsAliveAsTheBrokerSaysOrNotAtAll) {
    session->setKeepAliveInterval(0);
    connectAccepted();
    clock->advance(1000s);
    EXPECT_TRUE(transport->takeSent().empty());
    EXPECT_EQ(session->status(), MQTTSessionStatus::connected);

    session->setProtocolLevel(5);
    session->setKeepAliveInterval(60);
    connectAccepted("20 06 00 00 03 13 00 05");
    EXPECT_EQ(session->serverKeepAlive(), 5);
    EXPECT_EQ(session->effectiveKeepAlive(), 5);
    clock->advance(5s);
    EXPECT_EQ(transport->takeSent(), Lines{"C0 00"});
}

TEST_F(MQTTSessionConnectionTest, ClosingWhileConnectingSendsNoDisconnect) {
    connect();
    transport->takeSent();
    session->closeWithDisconnectHandler(recordResult("close"));
    EXPECT_TRUE(transport->takeSent().empty());
    EXPECT_EQ(transport->closes, 1);
    EXPECT_EQ(results, (Lines{"close ok", "-6 No response"}));
    EXPECT_EQ(delegate->take(), (Lines{"event 2", "closed"}));
    EXPECT_EQ(session->status(), MQTTSessionStatus::closed);
}

TEST_F(MQTTSessionConnectionTest, ClosingWhileConnectedSendsADisconnectFirst) {
    connectAccepted();
    session->closeWithDisconnectHandler(recordResult("close"));
    EXPECT_EQ(transport->takeSent(), Lines{"E0 00"});
    EXPECT_EQ(results, Lines{"close ok"});
    EXPECT_EQ(clock->activeTimers(), 0U);

    session->setProtocolLevel(5);
    connectAccepted("20 03 00 00 00");
    session->closeWithReturnCode(4, std::nullopt, std::nullopt, std::nullopt, {});
    EXPECT_EQ(transport->takeSent(), Lines{"E0 01 04"});
}

TEST_F(MQTTSessionConnectionTest, ClosingFailsPendingSubscriptionsKeepsPublishesAndMovesTheirDeadlinesBack) {
    session->setCleanSessionFlag(false);
    connectAccepted();
    session->subscribeToTopic(
        "a", 1, [this](const MQTTOptionalError& e, const auto&) { results.push_back("a " + errorText(e)); });
    session->unsubscribeTopic("b", recordResult("b"));
    const Bytes payload{'p'};
    const auto mid = session->publishData(payload, "t", false, 1, recordResult("publish"));
    const auto sentAt = clock->now();
    clock->advance(15s);
    transport->takeSent();
    session->closeWithDisconnectHandler({});
    EXPECT_EQ(results, (Lines{"a -6 No response", "b -6 No response"}));
    EXPECT_EQ(outgoingFlow(mid)->deadline(), sentAt);

    // Due at once after the next CONNACK, and its handler still waits.
    results.clear();
    connect();
    transport->takeSent();
    transport->receive("20 02 01 00");
    EXPECT_EQ(transport->takeSent(), Lines{"3A 06 00 01 74 00 04 70"});
    transport->receive("40 02 00 04");
    EXPECT_EQ(results, (Lines{"ok", "publish ok"}));
}

TEST_F(MQTTSessionConnectionTest, AnIllegalFrameOrADisconnectEndsAnOpenSession) {
    connectAccepted();
    transport->receive("D0 01 00");
    EXPECT_EQ(delegate->take(), (Lines{"event 4 -7 MQTT illegal message received", "event 2", "closed",
                                       "protocol error -7 MQTT illegal message received"}));
    session->setProtocolLevel(5);
    connectAccepted("20 03 00 00 00");
    transport->receive("E0 01 8B");
    EXPECT_EQ(delegate->take(), (Lines{"event 4 139 MQTT protocol DISCONNECT received", "event 2", "closed",
                                       "protocol error 139 MQTT protocol DISCONNECT received"}));
}

struct StrictCase {
    const char* name;
    std::function<void(MQTTSession&)> setUp;
    const char* reason;
};

TEST_F(MQTTSessionConnectionTest, RefusesUnsoundSettingsUnderStrictChecking) {
    const std::vector<StrictCase> cases = {
        {"clientId must be at least 1 character long if cleanSessionFlag is off",
         [](MQTTSession& s) {
             s.setClientId(std::string());
             s.setCleanSessionFlag(false);
         },
         "clientId length = 0"},
        {"clientId may not be longer than 65535 bytes in UTF8 representation",
         [](MQTTSession& s) { s.setClientId(std::string(65536, 'c')); }, "clientId length = 65536"},
        {"clientId must not contain non-UTF8 characters", [](MQTTSession& s) { s.setClientId("a\xFF"); },
         "clientId = a\xFF"},
        {"userName may not be longer than 65535 bytes in UTF8 representation",
         [](MQTTSession& s) { s.setUserName(std::string(65536, 'u')); }, "userName length = 65536"},
        {"password specified without userName", [](MQTTSession& s) { s.setPassword("secret-pw"); },
         "userName = (null)"},
        {"Illegal protocolLevel", [](MQTTSession& s) { s.setProtocolLevel(6); }, "6 is not 3, 4, or 5"},
        {"Will topic must be nil if willFlag is false", [](MQTTSession& s) { s.setWillTopic("w"); }, "w"},
        {"Will retain must be false if willFlag is false", [](MQTTSession& s) { s.setWillRetainFlag(true); }, "1"},
        {"Will QoS Level must be 0 if willFlag is false", [](MQTTSession& s) { s.setWillQoS(1); }, "1"},
        {"Illegal will QoS level",
         [](MQTTSession& s) {
             s.setWillFlag(true);
             s.setWillQoS(3);
         },
         "3 is not 0, 1, or 2"},
        {"Will topic must not be nil if willFlag is true", [](MQTTSession& s) { s.setWillFlag(true); }, "(null)"},
        {"willTopic must not contain wildcards",
         [](MQTTSession& s) {
             s.setWillFlag(true);
             s.setWillTopic("a/#");
         },
         "willTopic = a/#"},
        {"Will message must not be nil if willFlag is true",
         [](MQTTSession& s) {
             s.setWillFlag(true);
             s.setWillTopic("w");
         },
         "(null)"},
    };
    MQTTStrict::setStrict(true);
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        SessionFixture fixture;
        row.setUp(*fixture.session);
        try {
            fixture.session->connect();
            ADD_FAILURE() << "not refused";
        } catch (const MQTTStrictError& error) {
            EXPECT_EQ(error.name(), row.name);
            EXPECT_EQ(error.reason(), row.reason);
            EXPECT_EQ(std::string(error.what()).find("secret-pw"), std::string::npos) << "the password is a secret";
        }
        EXPECT_EQ(fixture.transport->opens, 0);
    }
    MQTTStrict::setStrict(false);
}

}  // namespace
}  // namespace ambrell::test
