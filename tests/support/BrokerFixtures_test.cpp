#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/MosquittoBroker.h"
#include "tests/support/ScriptedBroker.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TestPki.h"

namespace ambrell::test {
namespace {

using C = TestPki::Certificate;
using Arguments = std::vector<std::string>;

Arguments withTarget(Arguments arguments, const std::string& host, int port) {
    arguments.insert(arguments.end(), {"-h", host, "-p", std::to_string(port)});
    return arguments;
}

// A retained message is there for a subscriber whenever it comes, so the
// two programs need no ordering between them.
ProgramResult publishRetained(const Arguments& target, const std::string& topic, const std::string& message) {
    auto arguments = Arguments{"mosquitto_pub", "-q", "1", "-r", "-t", topic, "-m", message};
    arguments.insert(arguments.end(), target.begin(), target.end());
    return runProgram(arguments);
}

ProgramResult receiveOne(const Arguments& target, const std::string& topic) {
    auto arguments = Arguments{"mosquitto_sub", "-C", "1", "-W", "20", "-t", topic};
    arguments.insert(arguments.end(), target.begin(), target.end());
    return runProgram(arguments);
}

TEST(MosquittoBrokerTest, CarriesAMessageOnThePlainListenerAndAgainAfterARestartOnTheSamePort) {
    MosquittoBroker::Options options;
    options.persistence = true;
    MosquittoBroker broker(options);
    ASSERT_TRUE(broker.ready());
    const Arguments target = withTarget({}, "127.0.0.1", broker.port());
    ASSERT_TRUE(publishRetained(target, "fixture/plain", "hello").succeeded()) << broker.log();
    EXPECT_EQ(receiveOne(target, "fixture/plain").output, "hello\n");

    const int port = broker.port();
    const pid_t before = broker.pid();
    ASSERT_TRUE(broker.restart()) << broker.log();
    EXPECT_EQ(broker.port(), port);
    EXPECT_NE(broker.pid(), before);
    // Persistence kept the retained message through the restart.
    EXPECT_EQ(receiveOne(target, "fixture/plain").output, "hello\n");
    broker.stop();
    EXPECT_FALSE(acceptsConnections(port));
}

TEST(MosquittoBrokerTest, TlsListenersTrustTheTestPkiAndTheSecondAsksForAClientCertificate) {
    const TestPki pki;
    MosquittoBroker::Options options;
    options.pki = &pki;
    MosquittoBroker broker(options);
    ASSERT_TRUE(broker.ready());
    const auto ca = pki.certificate(C::ca).string();
    const Arguments tls = withTarget({"--cafile", ca}, "localhost", broker.tlsPort());
    const Arguments withClientCertificate = withTarget(
        {"--cafile", ca, "--cert", pki.certificate(C::client).string(), "--key", pki.key(C::client).string()},
        "localhost", broker.clientCertificatePort());

    ASSERT_TRUE(publishRetained(tls, "fixture/tls", "secret").succeeded()) << broker.log();
    EXPECT_EQ(receiveOne(withClientCertificate, "fixture/tls").output, "secret\n");

    // Not trusting the broker's chain, and no client certificate, both fail.
    const Arguments untrusted =
        withTarget({"--cafile", pki.certificate(C::selfSigned).string()}, "localhost", broker.tlsPort());
    EXPECT_FALSE(publishRetained(untrusted, "fixture/tls", "x").succeeded());
    EXPECT_FALSE(
        publishRetained(withTarget({"--cafile", ca}, "localhost", broker.clientCertificatePort()), "fixture/tls", "x")
            .succeeded());
}

TEST(TestPkiTest, MakesEveryFileAndDistinctCertificates) {
    const TestPki pki;
    for (const auto which : {C::ca, C::intermediate, C::localhost, C::otherhost, C::selfSigned, C::client}) {
        EXPECT_FALSE(pki.der(which).empty());
        EXPECT_TRUE(std::filesystem::exists(pki.key(which)));
    }
    EXPECT_NE(pki.der(C::localhost), pki.der(C::otherhost));
    EXPECT_GT(std::filesystem::file_size(pki.chain(C::localhost)),
              std::filesystem::file_size(pki.certificate(C::localhost)));
    EXPECT_TRUE(runProgram({"openssl", "verify", "-CAfile", pki.certificate(C::ca).string(), "-untrusted",
                            pki.certificate(C::intermediate).string(), pki.certificate(C::localhost).string()})
                    .succeeded());
    EXPECT_TRUE(runProgram({"openssl", "pkcs12", "-in", pki.clientPkcs12().string(), "-noout", "-passin",
                            "pass:" + TestPki::pkcs12Password()})
                    .succeeded());
}

// A blocking loopback client for the scripted broker's own tests.
class Client {
public:
    explicit Client(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    }
    ~Client() { ::close(fd_); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    [[nodiscard]] bool connected() const { return connected_; }
    void send(const ScriptedBroker::Bytes& bytes) const { (void)!::write(fd_, bytes.data(), bytes.size()); }
    // Up to `count` bytes; fewer when the broker closes or nothing comes
    // within the bound.
    [[nodiscard]] ScriptedBroker::Bytes read(std::size_t count) const {
        ScriptedBroker::Bytes bytes(count);
        std::size_t got = 0;
        while (got < count) {
            pollfd reader{fd_, POLLIN, 0};
            if (::poll(&reader, 1, 10'000) <= 0) break;
            const auto n = ::read(fd_, bytes.data() + got, count - got);
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        bytes.resize(got);
        return bytes;
    }

private:
    int fd_;
    bool connected_ = false;
};

TEST(ScriptedBrokerTest, PlaysItsScriptByteForByte) {
    ScriptedBroker broker;
    broker.addConnection(
        ScriptedBroker::Script()
            .expect({0x10, 0x02})
            .expectFrame([](const auto& frame) { return frame.size() == 4 && frame[0] == 0xC0; }, "PINGREQ with a body")
            .write({0x20, 0x02, 0x00, 0x00}, {1, 2})
            .answerFrame([](const auto& frame) {
                return ScriptedBroker::Bytes{0x40, 0x02, frame[frame.size() - 2], frame.back()};
            })
            .waitForSignal("go")
            .write({0xD0, 0x00})
            .close());
    Client client(broker.port());
    ASSERT_TRUE(client.connected());
    client.send({0x10, 0x02, 0xC0});
    client.send({0x02, 0xAA, 0xBB});
    EXPECT_EQ(client.read(4), (ScriptedBroker::Bytes{0x20, 0x02, 0x00, 0x00}));
    // A frame with a two-byte length, answered with its last two bytes.
    ScriptedBroker::Bytes publish{0x32, 0x80, 0x01};
    publish.resize(3 + 126, 0x07);
    publish.insert(publish.end(), {0x12, 0x34});
    client.send(publish);
    EXPECT_EQ(client.read(4), (ScriptedBroker::Bytes{0x40, 0x02, 0x12, 0x34}));
    broker.signal("go");
    EXPECT_EQ(client.read(3), (ScriptedBroker::Bytes{0xD0, 0x00}));
    EXPECT_TRUE(broker.waitForScriptEnd(0));
    EXPECT_TRUE(broker.failures().empty()) << broker.failures().front();
    EXPECT_EQ(broker.received(0).size(), 6U + publish.size());
}

TEST(ScriptedBrokerTest, RecordsWhatItDidNotExpectAndWhatComesToASilentOne) {
    ScriptedBroker broker;
    broker.addConnection(ScriptedBroker::Script().expect({0x10, 0x00}).write({0x20}));
    broker.addConnection(ScriptedBroker::Script().goSilent());
    {
        Client wrong(broker.port());
        wrong.send({0x30, 0x00});
        EXPECT_TRUE(wrong.read(1).empty());  // closed without an answer
        ASSERT_EQ(broker.failures().size(), 1U);
        EXPECT_EQ(broker.failures()[0], "connection 0, step 1: expected 10 00, got 30 00");
    }
    Client silent(broker.port());
    silent.send({0xC0, 0x00});
    ASSERT_TRUE(broker.waitForReceived(1, 2));
    EXPECT_TRUE(broker.waitForScriptEnd(1));
    broker.closeAll();
    EXPECT_TRUE(silent.read(1).empty());
    EXPECT_EQ(broker.received(1), (ScriptedBroker::Bytes{0xC0, 0x00}));
}

}  // namespace
}  // namespace ambrell::test
