// The session against a real mosquitto, with mosquitto_pub and mosquitto_sub
// as the peers on the other side of the broker.

#include <gtest/gtest.h>

#include "tests/livedata/mqtt/MQTTStrandSession.h"
#include "tests/support/MosquittoBroker.h"
#include "tests/support/Subprocess.h"

namespace ambrell::test {
namespace {

using Lines = std::vector<std::string>;

const char* versionFlag(std::uint8_t level) {
    switch (level) {
        case 3: return "mqttv31";
        case 5: return "mqttv5";
        default: return "mqttv311";
    }
}

ProgramResult peerPublish(const MosquittoBroker& broker, const std::string& topic, const std::string& message, int qos,
                          bool retain = false) {
    std::vector<std::string> arguments = {
        "mosquitto_pub", "-h", "127.0.0.1", "-p", std::to_string(broker.port()), "-q", std::to_string(qos), "-t",
        topic,           "-m", message};
    if (retain) arguments.emplace_back("-r");
    return runProgram(arguments);
}

// The first message on the topic (retained ones included), waiting for it
// as long as the tests wait for anything; the program is stopped only later.
ProgramResult peerReceiveOne(const MosquittoBroker& broker, const std::string& topic) {
    const auto bound = std::chrono::duration_cast<std::chrono::seconds>(kWaitBound);
    return runProgram({"mosquitto_sub", "-h", "127.0.0.1", "-p", std::to_string(broker.port()), "-C", "1", "-W",
                       std::to_string(bound.count()), "-t", topic},
                      bound + std::chrono::seconds(10));
}

class MosquittoSession : public StrandSession {
public:
    MosquittoSession(const MosquittoBroker& broker, std::uint8_t level, std::string clientId)
        : StrandSession(broker.port()) {
        run([&] {
            session->setProtocolLevel(level);
            session->setClientId(std::move(clientId));
        });
    }
    bool connectAndWait() {
        const auto before = results.events().size();
        connect();
        return waitForResults(before + 1) && results.events().back() == "connect ok";
    }
    bool subscribe(const std::string& filter, std::uint8_t qos) {
        const auto before = results.events().size();
        run([&] {
            session->subscribeToTopic(filter, qos, [this](const MQTTOptionalError& error, const auto& granted) {
                results.add("subscribe " + errorText(error) + " [" + printHex(granted) + "]");
            });
        });
        return waitForResults(before + 1);
    }
    std::uint16_t publish(const std::string& topic, const Bytes& payload, std::uint8_t qos, bool retain = false) {
        return run([&] { return session->publishData(payload, topic, retain, qos, record("publish " + topic)); });
    }
    // Waits for a delegate line that starts with the prefix.
    bool waitForLine(const std::string& prefix) {
        return waitFor(
            [&] {
                const auto lines = delegate->lines();
                return std::any_of(lines.begin(), lines.end(),
                                   [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
            },
            kBound);
    }
};

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

TEST(MQTTSessionMosquittoTest, CarriesEachQoSBothWaysAtEachLevel) {
    MosquittoBroker broker;
    ASSERT_TRUE(broker.ready());
    for (const std::uint8_t level : {3, 4, 5}) {
        SCOPED_TRACE(versionFlag(level));
        MosquittoSession client(broker, level, std::string("level-") + std::to_string(level));
        ASSERT_TRUE(client.connectAndWait()) << client.results.events().back();
        ASSERT_TRUE(client.subscribe("t/#", 2));
        EXPECT_EQ(client.results.events().back(), "subscribe ok [02]");
        for (int qos = 0; qos <= 2; ++qos) {
            const auto q = std::to_string(qos);
            client.publish("t/self/" + q, bytesOf("self " + q), static_cast<std::uint8_t>(qos));
            EXPECT_TRUE(client.waitForLine("message t/self/" + q + " 'self " + q + "' q" + q));
            ASSERT_TRUE(peerPublish(broker, "t/peer/" + q, "peer " + q, qos).succeeded());
            EXPECT_TRUE(client.waitForLine("message t/peer/" + q + " 'peer " + q + "' q" + q));
        }
        // Each QoS 1 and 2 exchange ran to its end.
        EXPECT_TRUE(waitFor([&] {
            const auto events = client.results.events();
            return std::count(events.begin(), events.end(), "publish t/self/1 ok") == 1 &&
                   std::count(events.begin(), events.end(), "publish t/self/2 ok") == 1;
        }));
        EXPECT_EQ(client.run([&] {
            return client.session->persistence()->allFlowsforClientId(client.session->clientId(), false).size();
        }),
                  0U);
    }
}

TEST(MQTTSessionMosquittoTest, ReceivesDowngradedAndRetainedMessagesAndRetainsItsOwn) {
    MosquittoBroker broker;
    ASSERT_TRUE(broker.ready());
    ASSERT_TRUE(peerPublish(broker, "r/kept", "kept", 1, true).succeeded());
    MosquittoSession client(broker, 4, "retainer");
    ASSERT_TRUE(client.connectAndWait());
    ASSERT_TRUE(client.subscribe("d/#", 1));
    ASSERT_TRUE(peerPublish(broker, "d/x", "down", 2).succeeded());
    EXPECT_TRUE(client.waitForLine("message d/x 'down' q1 mid"));
    ASSERT_TRUE(client.subscribe("r/#", 2));
    EXPECT_TRUE(client.waitForLine("message r/kept 'kept' q1 retained"));

    client.publish("r/ours", bytesOf("ours"), 1, true);
    ASSERT_TRUE(waitFor([&] { return client.results.events().back() == "publish r/ours ok"; }));
    EXPECT_EQ(peerReceiveOne(broker, "r/ours").output, "ours\n");
}

TEST(MQTTSessionMosquittoTest, LeavesItsWillWhenTheConnectionBreaksAtLevelsFourAndFive) {
    MosquittoBroker broker;
    ASSERT_TRUE(broker.ready());
    for (const std::uint8_t level : {4, 5}) {
        const auto topic = "will/" + std::to_string(level);
        MosquittoSession client(broker, level, "testament-" + std::to_string(level));
        client.run([&] {
            client.session->setWillFlag(true);
            client.session->setWillTopic(topic);
            client.session->setWillMsg(bytesOf("gone"));
            client.session->setWillQoS(1);
            client.session->setWillRetainFlag(true);
        });
        ASSERT_TRUE(client.connectAndWait());
        // The socket goes without a DISCONNECT, as when the network fails.
        client.run([&] { client.session->transport()->close(); });
        EXPECT_EQ(peerReceiveOne(broker, topic).output, "gone\n") << broker.log();
    }
}

TEST(MQTTSessionMosquittoTest, TakesTheBrokersKeepAliveAtLevelFive) {
    MosquittoBroker::Options options;
    options.extraConfig = {"max_keepalive 10"};
    MosquittoBroker broker(options);
    ASSERT_TRUE(broker.ready());
    MosquittoSession client(broker, 5, "kept-alive");
    ASSERT_TRUE(client.connectAndWait());
    EXPECT_EQ(client.run([&] { return client.session->effectiveKeepAlive(); }), 10);
}

TEST(MQTTSessionMosquittoTest, FindsItsSessionAndWhatWasQueuedForItOffline) {
    MosquittoBroker broker;
    ASSERT_TRUE(broker.ready());
    MosquittoSession client(broker, 4, "offline-1");
    client.run([&] { client.session->setCleanSessionFlag(false); });
    ASSERT_TRUE(client.connectAndWait());
    EXPECT_FALSE(client.run([&] { return client.session->sessionPresent(); }));
    ASSERT_TRUE(client.subscribe("q/#", 1));
    client.run([&] { client.session->closeWithDisconnectHandler({}); });
    ASSERT_TRUE(peerPublish(broker, "q/a", "queued", 1).succeeded());

    ASSERT_TRUE(client.connectAndWait());
    EXPECT_TRUE(client.run([&] { return client.session->sessionPresent(); }));
    EXPECT_TRUE(client.waitForLine("message q/a 'queued' q1"));
}

TEST(MQTTSessionMosquittoTest, ReportsARefusedConnect) {
    MosquittoBroker broker;
    ASSERT_TRUE(broker.ready());
    MosquittoSession client(broker, 4, "");
    client.run([&] { client.session->setCleanSessionFlag(false); });
    client.connect();
    ASSERT_TRUE(client.waitForResults(1));
    EXPECT_EQ(client.results.events(), Lines{"connect 2 MQTT CONNACK: identifier rejected"});
    EXPECT_TRUE(client.waitForStatus(MQTTSessionStatus::closed));
}

TEST(MQTTSessionMosquittoTest, CarriesAMebibytePayload) {
    MosquittoBroker broker;
    ASSERT_TRUE(broker.ready());
    MosquittoSession client(broker, 4, "heavy");
    std::mutex mutex;
    Bytes received;
    client.run([&] {
        client.session->setMessageHandler([&](std::span<const std::uint8_t> data, const std::string&) {
            std::lock_guard lock(mutex);
            received.assign(data.begin(), data.end());
        });
    });
    ASSERT_TRUE(client.connectAndWait());
    ASSERT_TRUE(client.subscribe("big", 1));
    Bytes payload(1 << 20);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    client.publish("big", payload, 1);
    ASSERT_TRUE(waitFor([&] {
        std::lock_guard lock(mutex);
        return !received.empty();
    }));
    std::lock_guard lock(mutex);
    EXPECT_TRUE(received == payload);
}

}  // namespace
}  // namespace ambrell::test
