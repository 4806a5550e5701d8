// The broker's subscription client over TLS as "localhost", the test ca
// standing for the system's trust store: against a scripted broker for the
// bytes it sends, and against a real mosquitto for what a broker makes of them.

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "livedata/CVMQTTSubscriptionClient.h"
#include "livedata/mqtt/MQTTError.h"
#include "tests/support/EventRecorder.h"
#include "tests/support/MosquittoBroker.h"
#include "tests/support/ScriptedBroker.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TestPki.h"
#include "tests/support/WaitFor.h"

namespace ambrell {
namespace {

using test::EventRecorder;
using test::MosquittoBroker;
using test::ScriptedBroker;
using test::TestPki;

// Every callback as one line of text.
class ClientEvents final : public CVSubscriptionClientDelegate {
public:
    EventRecorder recorder;

    void didReceiveMessage(std::span<const std::uint8_t> message, const std::string& topic) override {
        recorder.add("message " + topic + " " + std::string(message.begin(), message.end()));
    }
    void didSubscribe(const std::shared_ptr<const CVSubscriptionTopic>& topic) override {
        recorder.add("subscribed " + topic->topicString());
    }
    void didUnsubscribe(const std::shared_ptr<const CVSubscriptionTopic>& topic) override {
        recorder.add("unsubscribed " + topic->topicString());
    }
    void didUpdateState(std::int64_t state) override { recorder.add("state " + std::to_string(state)); }
    void onError(const platform::NSError& error) override {
        recorder.add("error " + error.domain + " " + std::to_string(error.code));
    }
    void onSubscriptionError(const platform::NSError& error,
                             const std::shared_ptr<const CVSubscriptionTopic>& topic) override {
        recorder.add("subscription error " + error.domain + " " + std::to_string(error.code) + " " +
                     topic->topicString());
    }
    void onUnsubscriptionError(const platform::NSError& error,
                               const std::shared_ptr<const CVSubscriptionTopic>& topic) override {
        recorder.add("unsubscription error " + error.domain + " " + std::to_string(error.code) + " " +
                     topic->topicString());
    }

    bool waitFor(const std::string& event) {
        return test::waitFor([&] {
            const auto events = recorder.events();
            return std::find(events.begin(), events.end(), event) != events.end();
        });
    }
    [[nodiscard]] std::size_t count(const std::string& event) const {
        const auto events = recorder.events();
        return static_cast<std::size_t>(std::count(events.begin(), events.end(), event));
    }
};

// The broker and the trust store of one test; both undone at its end.
class SubscriptionClientTest : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("SSL_CERT_FILE", pki.certificate(TestPki::Certificate::ca).c_str(), 1); }
    void TearDown() override {
        if (client) client->setDelegate(nullptr);
        CVMQTTSubscriptionClient::setBrokerForTesting(std::nullopt);
        ::unsetenv("SSL_CERT_FILE");
    }
    void makeClient(int port) {
        CVMQTTSubscriptionClient::setBrokerForTesting(
            CVMQTTSubscriptionClient::Broker{"localhost", static_cast<std::uint32_t>(port)});
        client = CVMQTTSubscriptionClient::make();
        client->setDelegate(events);
    }

    const TestPki pki;
    std::shared_ptr<ClientEvents> events = std::make_shared<ClientEvents>();
    std::shared_ptr<CVMQTTSubscriptionClient> client;
};

std::shared_ptr<const CVSubscriptionTopic> topicOf(const std::string& domain, const std::string& dataset = "ds") {
    return std::make_shared<CVLiveTopicCriteria>(CVLiveTopicCriteria(domain).floorId("f1").datasetId(dataset));
}

ScriptedBroker::Bytes subackFor(const ScriptedBroker::Bytes& subscribe, std::uint8_t granted) {
    return {0x90, 0x03, subscribe[2], subscribe[3], granted};
}

TEST_F(SubscriptionClientTest, ConnectsCleanWithoutCredentialsAndSubscribesAtQos2) {
    ScriptedBroker broker(
        ScriptedBroker::Tls{pki.chain(TestPki::Certificate::localhost), pki.key(TestPki::Certificate::localhost)});
    ScriptedBroker::Script script;
    script
        .expectFrame(
            [](const ScriptedBroker::Bytes& frame) {
                // Level 4 (3.1.1), flags: clean session only; keep-alive 60.
                const ScriptedBroker::Bytes header = {0x00, 0x04, 'M', 'Q', 'T', 'T', 0x04, 0x02, 0x00, 60};
                return frame.size() > 12 && frame[0] == 0x10 &&
                       std::equal(header.begin(), header.end(), frame.begin() + 2);
            },
            "CONNECT at level 4, clean, keep-alive 60, no user, password or will")
        .write({0x20, 0x02, 0x00, 0x00})
        .answerFrame(
            [](const ScriptedBroker::Bytes& frame) {
                const std::string topic = "ds/f1/+/occupancy";
                const bool asked =
                    frame[0] == 0x82 && frame.back() == 0x02 &&
                    std::string(frame.end() - 1 - static_cast<long>(topic.size()), frame.end() - 1) == topic;
                return asked ? subackFor(frame, 0x02) : ScriptedBroker::Bytes{};
            },
            "SUBSCRIBE at QoS 2")
        .answerFrame([](const ScriptedBroker::Bytes& frame) { return subackFor(frame, 0x80); }, "SUBSCRIBE refused")
        .goSilent();
    broker.addConnection(std::move(script));
    makeClient(broker.port());

    client->connect(true);
    EXPECT_EQ(client->state(), CVSubscriptionState::connecting);
    ASSERT_TRUE(events->waitFor("state 2")) << broker.failures().size();
    client->subscribe(topicOf("occupancy"));
    EXPECT_TRUE(events->waitFor("subscribed ds/f1/+/occupancy"));
    // A refusal is a granted value, not a success.
    client->subscribe(topicOf("count"));
    EXPECT_TRUE(events->waitFor("subscription error MQTT 128 ds/f1/+/count"));
    EXPECT_EQ(events->recorder.events(), (std::vector<std::string>{"state 1", "state 2", "subscribed ds/f1/+/occupancy",
                                                                   "subscription error MQTT 128 ds/f1/+/count"}));
    EXPECT_TRUE(broker.failures().empty());
}

TEST_F(SubscriptionClientTest, ReportsEachStateOnceAndErrorsBesideThem) {
    makeClient(1);
    auto& session = *client->sessionForTesting();

    auto recorded = std::make_shared<ClientEvents>();
    client->setDelegate(recorded);
    client->handleEvent(session, MQTTSessionEvent::connected, std::nullopt);
    client->connected(session);
    client->handleEvent(session, MQTTSessionEvent::protocolError, makeMQTTError(-7, "bad packet"));
    client->handleEvent(session, MQTTSessionEvent::connectionClosed, std::nullopt);
    // Codes beyond the table leave the state, but an error still reaches the delegate.
    client->handleEvent(session, static_cast<MQTTSessionEvent>(6), makeMQTTError(-1, "odd"));
    client->setDelegate(nullptr);
    EXPECT_EQ(recorded->recorder.events(),
              (std::vector<std::string>{"state 2", "state 0", "error MQTT -7", "error MQTT -1"}));
}

TEST_F(SubscriptionClientTest, TwoConnectsReportConnectingOnce) {
    ScriptedBroker broker(
        ScriptedBroker::Tls{pki.chain(TestPki::Certificate::localhost), pki.key(TestPki::Certificate::localhost)});
    makeClient(broker.port());
    client->connect(true);
    client->connect(true);
    EXPECT_EQ(events->count("state 1"), 1U);
    EXPECT_TRUE(broker.waitForConnections(1));
}

// The real broker: a subscription carries what mosquitto_pub publishes, and
// an unsubscription is confirmed. (Mosquitto 2.0 grants a subscription that
// its acl_file denies and filters at delivery instead, so a refusal is shown
// with the scripted broker above.)
TEST_F(SubscriptionClientTest, AgainstMosquittoOverTls) {
    MosquittoBroker broker({.pki = &pki, .persistence = false, .extraConfig = {}});
    ASSERT_TRUE(broker.ready());
    makeClient(broker.tlsPort());

    client->connect(true);
    ASSERT_TRUE(events->waitFor("state 2"));
    client->subscribe(topicOf("occupancy"));
    ASSERT_TRUE(events->waitFor("subscribed ds/f1/+/occupancy"));

    const auto published = test::runProgram({"mosquitto_pub", "-h", "127.0.0.1", "-p", std::to_string(broker.port()),
                                             "-q", "2", "-t", "ds/f1/r1/occupancy", "-m", "{\"id\":\"r1\"}"});
    EXPECT_TRUE(published.succeeded());
    EXPECT_TRUE(events->waitFor("message ds/f1/r1/occupancy {\"id\":\"r1\"}"));

    client->unsubscribe(topicOf("occupancy"));
    EXPECT_TRUE(events->waitFor("unsubscribed ds/f1/+/occupancy"));
    client->disconnect();
    EXPECT_TRUE(events->waitFor("state 0"));
}

}  // namespace
}  // namespace ambrell
