#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <gtest/gtest.h>

#include "livedata/mqtt/MQTTCFSocketTransport.h"
#include "livedata/mqtt/MQTTError.h"
#include "livedata/mqtt/MQTTSSLSecurityPolicyTransport.h"
#include "tests/livedata/mqtt/MQTTTransportRecorder.h"
#include "tests/support/MosquittoBroker.h"
#include "tests/support/ScriptedBroker.h"
#include "tests/support/TestPki.h"
#include "tests/support/WaitFor.h"

namespace ambrell {
namespace {

using test::MQTTTransportRecorder;
using test::ScriptedBroker;
using test::TestPki;
using Script = ScriptedBroker::Script;
using C = TestPki::Certificate;
using Events = std::vector<std::string>;

std::shared_ptr<MQTTCFSocketTransport> makeTransport(int port, const std::shared_ptr<MQTTTransportRecorder>& recorder,
                                                     std::shared_ptr<MQTTCFSocketTransport> transport = nullptr) {
    if (!transport) transport = std::make_shared<MQTTCFSocketTransport>();
    transport->setHost("localhost");
    transport->setPort(static_cast<std::uint32_t>(port));
    transport->setDelegate(recorder);
    return transport;
}

Bytes pattern(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>((i * 7 + i / 251) & 0xFF);
    return bytes;
}

std::span<const std::uint8_t> piece(const Bytes& bytes, std::size_t offset, std::size_t count) {
    return std::span(bytes).subspan(offset, count);
}

// A CONNECT and a CONNACK followed by a PUBLISH, as raw bytes.
const Bytes kFromClient = {0x10, 0x0c, 0x00, 0x04, 'M', 'Q', 'T', 'T', 0x04, 0x02, 0x00, 0x3c, 0x00, 0x00};
const Bytes kFromBroker = {0x20, 0x02, 0x00, 0x00, 0x30, 0x06, 0x00, 0x01, 't', 'a', 'b', 'c'};

TEST(MQTTTransportTest, MovesBytesBothWaysSplitAnywhere) {
    ScriptedBroker broker;
    broker.addConnection(Script().expect(kFromClient).write(kFromBroker, {1, 3, 2, 5}));
    auto recorder = std::make_shared<MQTTTransportRecorder>();
    // Part of the bytes from the callback (on the queue), the rest from here.
    recorder->onOpen = [](MQTTTransport& transport) {
        EXPECT_TRUE(transport.send(piece(kFromClient, 0, 1)));
        EXPECT_TRUE(transport.send(piece(kFromClient, 1, 6)));
    };
    auto transport = makeTransport(broker.port(), recorder);
    EXPECT_EQ(transport->state(), MQTTTransportState::initial);
    transport->open();
    ASSERT_TRUE(recorder->waitForEvents(1));
    EXPECT_TRUE(transport->send(piece(kFromClient, 7, kFromClient.size() - 7)));

    ASSERT_TRUE(recorder->waitForReceived(kFromBroker.size()));
    EXPECT_EQ(recorder->received(), kFromBroker);
    EXPECT_TRUE(broker.waitForScriptEnd(0));
    EXPECT_TRUE(broker.failures().empty()) << broker.failures().front();
    EXPECT_EQ(transport->state(), MQTTTransportState::open);

    transport->close();
    EXPECT_EQ(transport->state(), MQTTTransportState::closing);
    EXPECT_FALSE(transport->send(kFromClient));
    EXPECT_TRUE(broker.waitForClientClose(0));
    EXPECT_EQ(recorder->events(), Events{"open"});
    EXPECT_FALSE(recorder->offQueue());
}

TEST(MQTTTransportTest, RefusesBytesUntilOpen) {
    ScriptedBroker broker;
    broker.addConnection(Script().expect({0xC0, 0x00}).expectClosed());
    auto recorder = std::make_shared<MQTTTransportRecorder>();
    auto transport = makeTransport(broker.port(), recorder);
    EXPECT_FALSE(transport->send(kFromClient));
    // On the queue the connection cannot get ahead of this block.
    std::promise<bool> sentWhileOpening;
    boost::asio::post(transport->queue().executor(), [&] {
        transport->open();
        sentWhileOpening.set_value(transport->send(kFromClient));
    });
    EXPECT_FALSE(sentWhileOpening.get_future().get());
    ASSERT_TRUE(recorder->waitForEvents(1));
    EXPECT_TRUE(transport->send(Bytes{0xC0, 0x00}));
    transport.reset();  // closes
    EXPECT_TRUE(broker.waitForScriptEnd(0));
    EXPECT_TRUE(broker.failures().empty()) << broker.failures().front();
}

TEST(MQTTTransportTest, KeepsWhatTheSocketCannotTakeYetInOrder) {
    constexpr std::size_t kTotal = 16u << 20;  // more than the socket buffers hold
    constexpr std::size_t kPiece = 64u << 10;
    ScriptedBroker broker;
    broker.addConnection(Script().waitForSignal("read").goSilent());
    auto recorder = std::make_shared<MQTTTransportRecorder>();
    auto transport = makeTransport(broker.port(), recorder);
    transport->open();
    ASSERT_TRUE(recorder->waitForEvents(1));

    const auto all = pattern(kTotal);
    for (std::size_t offset = 0; offset < kTotal; offset += kPiece) {
        ASSERT_TRUE(transport->send(piece(all, offset, kPiece)));
    }
    ASSERT_TRUE(test::waitFor([&] { return transport->pendingBytes() < kTotal; }));
    EXPECT_GT(transport->pendingBytes(), 0u);
    broker.signal("read");
    ASSERT_TRUE(broker.waitForReceived(0, kTotal, std::chrono::seconds(60)));
    EXPECT_TRUE(broker.received(0) == all);
    EXPECT_TRUE(test::waitFor([&] { return transport->pendingBytes() == 0; }));
    EXPECT_EQ(recorder->events(), Events{"open"});
}

TEST(MQTTTransportTest, ReportsThePeerClosing) {
    ScriptedBroker broker;
    broker.addConnection(Script().write(kFromBroker).close());
    auto recorder = std::make_shared<MQTTTransportRecorder>();
    auto transport = makeTransport(broker.port(), recorder);
    transport->open();
    ASSERT_TRUE(recorder->waitForEvents(2));
    EXPECT_EQ(recorder->events(), (Events{"open", "close"}));
    EXPECT_EQ(recorder->received(), kFromBroker);
    EXPECT_EQ(transport->state(), MQTTTransportState::closed);
    EXPECT_FALSE(transport->send(kFromClient));
}

TEST(MQTTTransportTest, ReportsAReadErrorAsAFailure) {
    ScriptedBroker broker;
    // Closing with unread bytes resets the connection.
    broker.addConnection(Script().waitForSignal("sent").close());
    auto recorder = std::make_shared<MQTTTransportRecorder>();
    auto transport = makeTransport(broker.port(), recorder);
    transport->open();
    ASSERT_TRUE(recorder->waitForEvents(1));
    ASSERT_TRUE(transport->send(kFromClient));
    ASSERT_TRUE(test::waitFor([&] { return transport->pendingBytes() == 0; }));
    broker.signal("sent");
    ASSERT_TRUE(recorder->waitForEvents(2));
    EXPECT_EQ(recorder->events(), (Events{"open", "fail"}));
    EXPECT_EQ(recorder->error().domain, kMQTTPOSIXErrorDomain);
    EXPECT_EQ(recorder->error().code, ECONNRESET);
    EXPECT_EQ(transport->state(), MQTTTransportState::closing);
}

TEST(MQTTTransportTest, ReportsARefusedConnectionToADelegateThatLetsGo) {
    auto recorder = std::make_shared<MQTTTransportRecorder>();
    auto transport = makeTransport(test::freeLoopbackPorts(1).front(), recorder);
    transport->setHost("127.0.0.1");
    const std::weak_ptr<MQTTCFSocketTransport> watched = transport;
    recorder->heldUntilFailure = std::move(transport);
    watched.lock()->open();
    ASSERT_TRUE(recorder->waitForEvents(1));
    EXPECT_EQ(recorder->events(), Events{"fail"});
    EXPECT_EQ(recorder->error().domain, kMQTTPOSIXErrorDomain);
    EXPECT_EQ(recorder->error().code, ECONNREFUSED);
    EXPECT_TRUE(test::waitFor([&] { return watched.expired(); }));
}

TEST(MQTTTransportTest, CloseWritesWhatWasSentAndReportsNothing) {
    ScriptedBroker broker;
    broker.addConnection(Script().expect({0xE0, 0x00}).expectClosed());
    auto recorder = std::make_shared<MQTTTransportRecorder>();
    recorder->onOpen = [](MQTTTransport& transport) {
        EXPECT_TRUE(transport.send(Bytes{0xE0, 0x00}));
        transport.close();
    };
    auto transport = makeTransport(broker.port(), recorder);
    transport->open();
    EXPECT_TRUE(broker.waitForScriptEnd(0));
    EXPECT_TRUE(broker.failures().empty()) << broker.failures().front();
    EXPECT_EQ(recorder->events(), Events{"open"});
}

TEST(MQTTTransportTest, CloseLetsAPeerThatIsStillWritingReadToTheEnd) {
    // Closing a socket with bytes still coming resets the connection, and a
    // peer whose write then fails never reads what the client wrote last.
    constexpr std::size_t kFlood = 16u << 20;  // more than the socket buffers hold
    ScriptedBroker broker;
    broker.addConnection(Script().write(pattern(kFlood)).expect(kFromClient).expectClosed());
    auto recorder = std::make_shared<MQTTTransportRecorder>();
    recorder->onOpen = [](MQTTTransport& transport) {
        EXPECT_TRUE(transport.send(kFromClient));
        transport.close();
    };
    auto transport = makeTransport(broker.port(), recorder);
    transport->open();
    EXPECT_TRUE(broker.waitForScriptEnd(0));
    EXPECT_TRUE(broker.failures().empty()) << broker.failures().front();
    EXPECT_EQ(recorder->events(), Events{"open"});
}

// The TLS cases trust the test ca as the system's store.
class MQTTTransportTlsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { pki = std::make_unique<TestPki>(); }
    static void TearDownTestSuite() { pki.reset(); }
    void SetUp() override { ::setenv("SSL_CERT_FILE", pki->certificate(C::ca).c_str(), 1); }
    void TearDown() override { ::unsetenv("SSL_CERT_FILE"); }

    static ScriptedBroker::Tls identity(C which) { return {pki->chain(which), pki->key(which)}; }

    static inline std::unique_ptr<TestPki> pki;
};

TEST_F(MQTTTransportTlsTest, TrustedChainCarriesBytesUntilThePeerCloses) {
    ScriptedBroker broker(identity(C::localhost));
    broker.addConnection(Script().expect(kFromClient).write(kFromBroker, {2, 1}).close());
    auto recorder = std::make_shared<MQTTTransportRecorder>();
    recorder->onOpen = [](MQTTTransport& transport) { EXPECT_TRUE(transport.send(kFromClient)); };
    auto transport = makeTransport(broker.port(), recorder);
    transport->setTls(true);
    transport->open();
    // The peer closes without the closing alert: a close, not a failure.
    ASSERT_TRUE(recorder->waitForEvents(2));
    EXPECT_EQ(recorder->events(), (Events{"open", "close"}));
    EXPECT_EQ(recorder->received(), kFromBroker);
    EXPECT_TRUE(broker.failures().empty()) << broker.failures().front();
    EXPECT_FALSE(recorder->offQueue());
}

TEST_F(MQTTTransportTlsTest, ChecksTheChainAndTheHostName) {
    struct Case {
        const char* name;
        C server;
        const char* host;
        bool opens;
    };
    const std::vector<Case> cases = {
        {"address the certificate names", C::localhost, "127.0.0.1", true},
        {"untrusted", C::selfSigned, "localhost", false},
        {"other host", C::otherhost, "localhost", false},
        {"address the certificate does not name", C::otherhost, "127.0.0.1", false},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.name);
        ScriptedBroker broker(identity(entry.server));
        auto recorder = std::make_shared<MQTTTransportRecorder>();
        auto transport = makeTransport(broker.port(), recorder);
        transport->setHost(entry.host);
        transport->setTls(true);
        transport->open();
        ASSERT_TRUE(recorder->waitForEvents(1));
        if (entry.opens) {
            EXPECT_EQ(recorder->events(), Events{"open"});
            continue;
        }
        EXPECT_EQ(recorder->events(), Events{"fail"});
        EXPECT_EQ(recorder->error().domain, MQTTSessionErrorDomain);
        EXPECT_EQ(recorder->error().code, kMQTTErrorInsecure);
        EXPECT_EQ(transport->state(), MQTTTransportState::closing);
    }
}

TEST_F(MQTTTransportTlsTest, SendsTheHostNameForTheServerToChooseBy) {
    namespace asio = boost::asio;
    asio::io_context io;
    asio::ssl::context context(asio::ssl::context::tls_server);
    context.use_certificate_chain_file(pki->chain(C::localhost).string());
    context.use_private_key_file(pki->key(C::localhost).string(), asio::ssl::context::pem);
    asio::ip::tcp::acceptor acceptor(io, {asio::ip::address_v4::loopback(), 0});
    asio::ssl::stream<asio::ip::tcp::socket> stream(io, context);
    std::atomic<bool> handshaken{false};
    std::string serverName = "(none)";
    acceptor.async_accept(stream.next_layer(), [&](const boost::system::error_code& error) {
        if (error) return;
        stream.async_handshake(asio::ssl::stream_base::server, [&](const boost::system::error_code& /*error*/) {
            const char* name = SSL_get_servername(stream.native_handle(), TLSEXT_NAMETYPE_host_name);
            if (name != nullptr) serverName = name;
            handshaken = true;
        });
    });
    std::thread server([&] { io.run(); });
    auto recorder = std::make_shared<MQTTTransportRecorder>();
    auto transport = makeTransport(acceptor.local_endpoint().port(), recorder);
    transport->setTls(true);
    transport->open();
    EXPECT_TRUE(test::waitFor([&] { return handshaken.load(); }));
    io.stop();
    server.join();
    EXPECT_EQ(serverName, "localhost");
}

struct PolicyCase {
    const char* name;
    C server;
    std::uint64_t mode;
    bool allowInvalid;
    bool validatesChain;
    std::vector<C> pinned;
    bool tls;
    bool opens;
};

TEST_F(MQTTTransportTlsTest, SecurityPolicyJudgesTheChainOnce) {
    const std::vector<PolicyCase> cases = {
        {"no pinning, invalid allowed", C::selfSigned, 0, true, true, {}, true, true},
        {"public key of the leaf pinned", C::localhost, 1, false, false, {C::localhost}, true, true},
        {"self-signed certificate pinned", C::selfSigned, 2, true, true, {C::selfSigned}, true, true},
        {"pinned, for another host", C::otherhost, 2, false, false, {C::otherhost, C::intermediate}, true, false},
        {"rejects all, without TLS", C::localhost, 99, false, true, {}, false, true},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.name);
        ScriptedBroker broker(entry.tls ? std::optional(identity(entry.server)) : std::nullopt);
        broker.addConnection(Script().expect(kFromClient));
        auto policy = std::make_shared<MQTTSSLSecurityPolicy>();
        policy->setSSLPinningMode(entry.mode);
        policy->setAllowInvalidCertificates(entry.allowInvalid);
        policy->setValidatesCertificateChain(entry.validatesChain);
        std::vector<MQTTSSLSecurityPolicy::Bytes> pinned;
        for (const auto which : entry.pinned) pinned.push_back(pki->der(which));
        policy->setPinnedCertificates(pinned);

        auto recorder = std::make_shared<MQTTTransportRecorder>();
        recorder->onOpen = [](MQTTTransport& transport) { EXPECT_TRUE(transport.send(kFromClient)); };
        auto transport = std::make_shared<MQTTSSLSecurityPolicyTransport>();
        transport->setSecurityPolicy(policy);
        makeTransport(broker.port(), recorder, transport)->setTls(entry.tls);
        transport->open();
        ASSERT_TRUE(recorder->waitForEvents(1));
        if (entry.opens) {
            EXPECT_EQ(recorder->events(), Events{"open"});
            EXPECT_TRUE(broker.waitForScriptEnd(0));
            EXPECT_TRUE(broker.failures().empty()) << broker.failures().front();
        } else {
            EXPECT_EQ(recorder->events(), Events{"fail"});
            EXPECT_EQ(recorder->error().code, kMQTTErrorInsecure);
            EXPECT_EQ(recorder->error().localizedDescription(), kMQTTErrorInsecureText);
            EXPECT_TRUE(broker.waitForClientClose(0));
            EXPECT_TRUE(broker.received(0).empty());
        }
    }
}

TEST_F(MQTTTransportTlsTest, ReportsTlsThatCannotBeSetUp) {
    ScriptedBroker broker(identity(C::localhost));
    auto identity = MQTTCFSocketTransport::clientCertsFromP12(pki->clientPkcs12(), TestPki::pkcs12Password());
    ASSERT_TRUE(identity);
    // The client's key with a certificate for another key.
    auto mismatched = std::make_shared<MQTTClientCertificates>(*identity);
    mismatched->certificate = pki->der(C::localhost);
    auto recorder = std::make_shared<MQTTTransportRecorder>();
    auto transport = makeTransport(broker.port(), recorder);
    transport->setTls(true);
    transport->setCertificates(mismatched);
    transport->open();
    ASSERT_TRUE(recorder->waitForEvents(1));
    EXPECT_EQ(recorder->events(), Events{"fail"});
    EXPECT_EQ(recorder->error().domain, MQTTSessionErrorDomain);
    EXPECT_EQ(recorder->error().code, kMQTTErrorSSLSetup);
    EXPECT_EQ(recorder->error().localizedDescription(), kMQTTErrorSSLSetupText);
    EXPECT_EQ(broker.connectionCount(), 0u);
}

TEST_F(MQTTTransportTlsTest, ImportsTheIdentityOfAPkcs12File) {
    const auto path = pki->clientPkcs12();
    const auto identity = MQTTCFSocketTransport::clientCertsFromP12(path, TestPki::pkcs12Password());
    ASSERT_TRUE(identity);
    EXPECT_EQ(identity->certificate, pki->der(C::client));
    EXPECT_FALSE(identity->privateKey.empty());

    EXPECT_FALSE(MQTTCFSocketTransport::clientCertsFromP12(path, "wrong"));
    EXPECT_FALSE(MQTTCFSocketTransport::clientCertsFromP12(path, std::nullopt));
    EXPECT_FALSE(MQTTCFSocketTransport::clientCertsFromP12("", TestPki::pkcs12Password()));
    EXPECT_FALSE(MQTTCFSocketTransport::clientCertsFromP12(pki->folder() / "none.p12", TestPki::pkcs12Password()));
    EXPECT_FALSE(MQTTCFSocketTransport::clientCertsFromP12(pki->certificate(C::ca), TestPki::pkcs12Password()));
}

}  // namespace
}  // namespace ambrell
