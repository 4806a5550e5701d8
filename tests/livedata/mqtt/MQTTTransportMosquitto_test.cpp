#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "livedata/mqtt/MQTTCFSocketTransport.h"
#include "livedata/mqtt/MQTTDecoder.h"
#include "livedata/mqtt/MQTTMessage.h"
#include "tests/livedata/mqtt/MQTTTransportRecorder.h"
#include "tests/support/MosquittoBroker.h"
#include "tests/support/TestPki.h"

namespace ambrell {
namespace {

using test::MosquittoBroker;
using test::MQTTTransportRecorder;
using test::TestPki;

// Collects the frames the framing decoder cuts from what the transport
// received.
class FrameCollector : public MQTTDecoderDelegate {
public:
    std::vector<Bytes> frames;
    void decoderDidReceiveMessage(MQTTDecoder& /*decoder*/, std::span<const std::uint8_t> frame) override {
        frames.emplace_back(frame.begin(), frame.end());
    }
};

std::vector<Bytes> framesOf(const Bytes& received) {
    auto collector = std::make_shared<FrameCollector>();
    auto decoder = std::make_shared<MQTTDecoder>();
    decoder->setDelegate(collector);
    decoder->open();
    decoder->decodeMessage(received);
    return collector->frames;
}

// Sends a CONNECT once open; the CONNACK's return code, when one came.
std::optional<std::uint8_t> connectThrough(const std::shared_ptr<MQTTCFSocketTransport>& transport,
                                           const std::shared_ptr<MQTTTransportRecorder>& recorder) {
    const auto connect = MQTTMessage::connectMessageWithClientId({.clientId = "transport-test", .keepAlive = 30});
    if (!connect) return std::nullopt;
    recorder->onOpen = [bytes = connect->wireFormat()](MQTTTransport& opened) { EXPECT_TRUE(opened.send(bytes)); };
    transport->setDelegate(recorder);
    transport->open();
    // A CONNACK is four bytes; a failure or a close ends the wait too.
    test::waitFor([&] {
        const auto events = recorder->events();
        return recorder->received().size() >= 4 || (!events.empty() && events.back() != "open");
    });
    const auto frames = framesOf(recorder->received());
    if (frames.size() != 1) return std::nullopt;
    const auto connack = MQTTMessage::messageFromData(frames.front(), 4);
    if (!connack || connack->type != MQTTCommandType::connack) return std::nullopt;
    return connack->returnCode;
}

TEST(MQTTTransportMosquittoTest, CarriesAConnectAndItsAcknowledgement) {
    MosquittoBroker broker;
    ASSERT_TRUE(broker.ready());
    auto transport = std::make_shared<MQTTCFSocketTransport>();
    transport->setHost("127.0.0.1");
    transport->setPort(static_cast<std::uint32_t>(broker.port()));
    auto recorder = std::make_shared<MQTTTransportRecorder>();
    EXPECT_EQ(connectThrough(transport, recorder), std::optional<std::uint8_t>(0));
    EXPECT_EQ(recorder->events(), std::vector<std::string>{"open"});
}

TEST(MQTTTransportMosquittoTest, PresentsAClientCertificateFromPkcs12) {
    const TestPki pki;
    MosquittoBroker broker({.pki = &pki, .persistence = false, .extraConfig = {}});
    ASSERT_TRUE(broker.ready());
    // The test ca stands for the system's trust store.
    ::setenv("SSL_CERT_FILE", pki.certificate(TestPki::Certificate::ca).c_str(), 1);
    const std::unique_ptr<const char, void (*)(const char*)> restore("SSL_CERT_FILE",
                                                                     [](const char* name) { ::unsetenv(name); });
    const auto identity = MQTTCFSocketTransport::clientCertsFromP12(pki.clientPkcs12(), TestPki::pkcs12Password());
    ASSERT_TRUE(identity);

    for (const bool withIdentity : {true, false}) {
        SCOPED_TRACE(withIdentity ? "with the identity" : "without");
        auto transport = std::make_shared<MQTTCFSocketTransport>();
        transport->setPort(static_cast<std::uint32_t>(broker.clientCertificatePort()));
        transport->setTls(true);
        if (withIdentity) transport->setCertificates(identity);
        auto recorder = std::make_shared<MQTTTransportRecorder>();
        const auto returnCode = connectThrough(transport, recorder);
        if (withIdentity) {
            EXPECT_EQ(returnCode, std::optional<std::uint8_t>(0));
        } else {
            // Refused in the handshake, or (TLS 1.3) right after it.
            EXPECT_FALSE(returnCode);
            ASSERT_TRUE(test::waitFor([&] {
                const auto events = recorder->events();
                return !events.empty() && events.back() != "open";
            }));
        }
    }
}

}  // namespace
}  // namespace ambrell
