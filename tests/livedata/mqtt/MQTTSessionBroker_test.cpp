// The session over the real socket transport against a scripted broker:
// replies split anywhere, silence, a connection dropped in the middle of a
// frame. The session runs on a strand, as a host runs it; the clock is moved
// by hand, on that strand.

#include <gtest/gtest.h>

#include "tests/livedata/mqtt/MQTTStrandSession.h"
#include "tests/support/ScriptedBroker.h"

namespace ambrell::test {
namespace {

using std::chrono_literals::operator""s;
using Lines = std::vector<std::string>;
using Frame = ScriptedBroker::Bytes;

bool isType(const Frame& frame, std::uint8_t firstByte) { return !frame.empty() && frame[0] == firstByte; }

struct ReplyCase {
    const char* name;
    Frame reply;
    std::vector<std::size_t> pieces;
    const char* result;
};

TEST(MQTTSessionBrokerTest, ReadsEveryConnectReplyHoweverItIsSplit) {
    const std::vector<ReplyCase> cases = {
        {"accepted in single bytes", parseHex("20 02 00 00"), {1, 1, 1}, "connect ok"},
        {"refused", parseHex("20 02 00 05"), {}, "connect 5 MQTT CONNACK: not authorized"},
        {"DISCONNECT instead", parseHex("E0 00"), {1}, "connect 0 MQTT protocol DISCONNECT instead of CONNACK"},
        {"PUBACK instead", parseHex("40 02 00 01"), {}, "connect -1 MQTT protocol no CONNACK"},
        {"illegal frame", parseHex("20 03 00 00 00"), {2}, "connect -7 MQTT illegal message received"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        ScriptedBroker broker;
        broker.addConnection(ScriptedBroker::Script()
                                 .expectFrame([](const Frame& f) { return isType(f, 0x10); }, "CONNECT")
                                 .write(row.reply, row.pieces));
        StrandSession client(broker.port());
        client.connect();
        ASSERT_TRUE(client.waitForResults(1));
        EXPECT_EQ(client.results.events(), Lines{row.result});
        if (std::string(row.result) != "connect ok") {
            EXPECT_TRUE(broker.waitForClientClose(0));
        }
        EXPECT_TRUE(broker.failures().empty());
    }
}

TEST(MQTTSessionBrokerTest, ClosingSendsTheDisconnectBeforeTheSocketCloses) {
    ScriptedBroker broker;
    broker.addConnection(
        ScriptedBroker::Script().expectFrame().write(parseHex("20 02 00 00")).expect(parseHex("E0 00")).expectClosed());
    StrandSession client(broker.port());
    client.connect();
    ASSERT_TRUE(client.waitForResults(1));
    client.run([&] { client.session->closeWithDisconnectHandler(client.record("close")); });
    EXPECT_TRUE(broker.waitForScriptEnd(0));
    EXPECT_TRUE(broker.failures().empty()) << broker.failures().front();
    EXPECT_EQ(client.results.events(), (Lines{"connect ok", "close ok"}));
}

TEST(MQTTSessionBrokerTest, ABrokerThatHangsUpBeforeTheConnackFailsTheConnect) {
    ScriptedBroker broker;
    broker.addConnection(ScriptedBroker::Script().expectFrame().close());
    StrandSession client(broker.port());
    client.connect();
    ASSERT_TRUE(client.waitForResults(1));
    EXPECT_EQ(client.results.events(), Lines{"connect -8 Server has closed connection without connack."});
    EXPECT_EQ(client.delegate->lines(), (Lines{"event 5", "event 2", "closed"}));
}

TEST(MQTTSessionBrokerTest, GivesUpOnASilentBrokerAndClosesTheSocket) {
    ScriptedBroker broker;
    broker.addConnection(ScriptedBroker::Script().goSilent());
    broker.addConnection(ScriptedBroker::Script().expectFrame().write(parseHex("20 02 00 00")).goSilent());
    StrandSession client(broker.port());
    client.connect();
    ASSERT_TRUE(broker.waitForReceived(0, 2));
    client.run([&] { client.clock->advance(30s); });
    ASSERT_TRUE(client.waitForResults(1));
    EXPECT_EQ(client.results.events(), Lines{"connect -3 MQTT connect timed out: no CONNACK"});
    EXPECT_TRUE(broker.waitForClientClose(0));

    client.connect();
    ASSERT_TRUE(client.waitForResults(2));
    client.run([&] { client.clock->advance(60s); });
    // The CONNECT (27 bytes), then a PINGREQ.
    ASSERT_TRUE(broker.waitForReceived(1, 29));
    client.run([&] { client.clock->advance(60s); });
    EXPECT_TRUE(broker.waitForClientClose(1));
    const auto received = broker.received(1);
    ASSERT_GE(received.size(), 2U);
    EXPECT_EQ(Frame(received.end() - 2, received.end()), parseHex("C0 00"));
    const auto lines = client.delegate->lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "event 3 -4 MQTT keep-alive timed out: no answer to PINGREQ"),
              lines.end());
}

TEST(MQTTSessionBrokerTest, AnswersALyingBrokerSoundlyAndDeliversOnce) {
    const auto qos2 = parseHex("34 07 00 01 74 00 07 68 69");
    Frame twice = qos2;
    twice.insert(twice.end(), qos2.begin(), qos2.end());
    ScriptedBroker broker;
    broker.addConnection(ScriptedBroker::Script()
                             .expectFrame()
                             .write(parseHex("20 02 00 00"))
                             .write(twice, {5})
                             .expect(parseHex("50 02 00 07 50 02 00 07"))
                             .write(parseHex("62 02 00 07 62 02 00 07"), {6})
                             .expect(parseHex("70 02 00 07 70 02 00 07"))
                             // Acknowledgements of nothing sent; a PUBREC and a PUBREL without a flow.
                             .write(parseHex("40 02 00 09 70 02 00 09 50 02 00 0A 62 02 00 0B"))
                             .expect(parseHex("62 02 00 0A 70 02 00 0B")));
    StrandSession client(broker.port());
    client.connect();
    EXPECT_TRUE(broker.waitForScriptEnd(0));
    EXPECT_TRUE(broker.failures().empty()) << broker.failures().front();
    EXPECT_EQ(client.delegate->lines(),
              (Lines{"event 0", "connected", "connected present 0", "message t 'hi' q2 mid 7"}));
}

TEST(MQTTSessionBrokerTest, AMalformedQoSOneOrTwoPublishAtLevelsThreeAndFourEndsTheConnection) {
    struct Case {
        const char* name;
        std::uint8_t level;
        Frame publish;
    };
    // QoS 1 without its packet identifier; QoS 2 whose topic runs past the packet.
    const std::vector<Case> cases = {
        {"level 3, QoS 1", 3, parseHex("32 03 00 01 74")},
        {"level 3, QoS 2", 3, parseHex("34 05 00 09 74 00 01")},
        {"level 4, QoS 1", 4, parseHex("32 03 00 01 74")},
        {"level 4, QoS 2", 4, parseHex("34 05 00 09 74 00 01")},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        ScriptedBroker broker;
        // Nothing acknowledges it, and no DISCONNECT: at these levels that
        // would tell the broker all is well.
        broker.addConnection(ScriptedBroker::Script()
                                 .expectFrame([](const Frame& f) { return isType(f, 0x10); }, "CONNECT")
                                 .write(parseHex("20 02 00 00"))
                                 .write(row.publish)
                                 .expectClosed());
        StrandSession client(broker.port());
        client.run([&] { client.session->setProtocolLevel(row.level); });
        client.connect();
        EXPECT_TRUE(broker.waitForScriptEnd(0));
        EXPECT_TRUE(broker.failures().empty()) << broker.failures().front();
        EXPECT_TRUE(client.waitForStatus(MQTTSessionStatus::closed));
        const auto lines = client.delegate->lines();
        EXPECT_NE(std::find(lines.begin(), lines.end(), "event 4 -7 MQTT illegal message received"), lines.end())
            << ::testing::PrintToString(lines);
        EXPECT_TRUE(
            std::none_of(lines.begin(), lines.end(), [](const auto& line) { return line.starts_with("message"); }));
    }
}

TEST(MQTTSessionBrokerTest, PingsOnTheSystemClock) {
    ScriptedBroker broker;
    broker.addConnection(ScriptedBroker::Script()
                             .expectFrame()
                             .write(parseHex("20 02 00 00"))
                             .expect(parseHex("C0 00"))
                             .write(parseHex("D0 00"))
                             .expect(parseHex("C0 00")));
    StrandSession client(broker.port());
    client.run([&] {
        client.session->setClock(MQTTSessionClock::system());
        client.session->setKeepAliveInterval(1);
    });
    client.connect();
    EXPECT_TRUE(broker.waitForScriptEnd(0));
    EXPECT_TRUE(broker.failures().empty()) << broker.failures().front();
    EXPECT_EQ(client.run([&] { return client.session->status(); }), MQTTSessionStatus::connected);
}

TEST(MQTTSessionBrokerTest, AConnectionDroppedMidFrameLosesNoQoSOneOrTwoMessage) {
    ScriptedBroker broker;
    broker.addConnection(ScriptedBroker::Script()
                             .expectFrame([](const Frame& f) { return isType(f, 0x10) && (f[9] & 0x02) == 0; },
                                          "CONNECT without clean session")
                             .write(parseHex("20 02 00 00"))
                             .expectFrame([](const Frame& f) { return isType(f, 0x32); }, "PUBLISH QoS 1")
                             .expectFrame([](const Frame& f) { return isType(f, 0x34); }, "PUBLISH QoS 2")
                             .write(parseHex("40 02"))
                             .close());
    broker.addConnection(ScriptedBroker::Script()
                             .expectFrame([](const Frame& f) { return isType(f, 0x10); }, "CONNECT")
                             .write(parseHex("20 02 01 00"))
                             .expect(parseHex("3A 07 00 01 74 00 02 61 31"))
                             .expect(parseHex("3C 07 00 01 74 00 03 62 32"))
                             .write(parseHex("40 02 00 02 50 02 00 03"), {3})
                             .expect(parseHex("62 02 00 03"))
                             .write(parseHex("70 02 00 03")));
    StrandSession client(broker.port());
    client.run([&] { client.session->setCleanSessionFlag(false); });
    client.connect();
    ASSERT_TRUE(client.waitForResults(1));
    client.run([&] {
        const Bytes one{'a', '1'};
        const Bytes two{'b', '2'};
        client.session->publishData(one, "t", false, 1, client.record("one"));
        client.clock->advance(0.5s);
        client.session->publishData(two, "t", false, 2, client.record("two"));
        client.clock->advance(0.5s);
    });
    ASSERT_TRUE(broker.waitForScriptEnd(0));
    ASSERT_TRUE(client.waitForStatus(MQTTSessionStatus::closed));
    EXPECT_EQ(
        client.run([&] { return client.session->persistence()->allFlowsforClientId("strand-client", false).size(); }),
        2U);

    client.connect();
    ASSERT_TRUE(client.waitForResults(4));
    EXPECT_EQ(client.results.events(), (Lines{"connect ok", "connect ok", "one ok", "two ok"}));
    EXPECT_TRUE(broker.failures().empty()) << broker.failures().front();
}

}  // namespace
}  // namespace ambrell::test
