#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "livedata/mqtt/MQTTSSLSecurityPolicy.h"
#include "platform/Paths.h"
#include "tests/support/ScriptedBroker.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempDirectory.h"
#include "tests/support/TestPki.h"

namespace ambrell {
namespace {

using test::TestPki;
using C = TestPki::Certificate;
using Bytes = MQTTSSLSecurityPolicy::Bytes;

class MQTTSSLSecurityPolicyTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { pki_ = std::make_unique<TestPki>(); }
    static void TearDownTestSuite() { pki_.reset(); }
    // The test ca stands for the system's trust store.
    void SetUp() override { ::setenv("SSL_CERT_FILE", pki_->certificate(C::ca).c_str(), 1); }
    void TearDown() override { ::unsetenv("SSL_CERT_FILE"); }

    static Bytes der(C which) { return pki_->der(which); }
    static MQTTServerTrust chain(std::initializer_list<C> certificates) {
        MQTTServerTrust trust;
        for (const auto which : certificates) trust.certificates.push_back(der(which));
        return trust;
    }

    static std::unique_ptr<TestPki> pki_;
};

std::unique_ptr<TestPki> MQTTSSLSecurityPolicyTest::pki_;

struct Case {
    const char* name;
    std::uint64_t mode;
    bool allowInvalid;
    bool validatesChain;
    bool validatesDomain;
    std::vector<C> pinned;
    std::vector<C> serverChain;
    const char* domain;
    bool accepted;
};

TEST_F(MQTTSSLSecurityPolicyTest, JudgesChainsByModeAndSettings) {
    const std::vector<C> localhost{C::localhost, C::intermediate};
    const std::vector<C> localhostToRoot{C::localhost, C::intermediate, C::ca};
    const std::vector<C> otherhost{C::otherhost, C::intermediate};
    const std::vector<C> selfSigned{C::selfSigned};
    const std::vector<Case> cases = {
        {"trusted chain", 0, false, true, true, {}, localhost, "localhost", true},
        {"trusted chain, address", 0, false, true, true, {}, localhost, "127.0.0.1", true},
        {"trusted chain, any name", 0, false, true, true, {}, localhost, nullptr, true},
        {"wrong host", 0, false, true, true, {}, otherhost, "localhost", false},
        {"wrong host, name not checked", 0, false, true, false, {}, otherhost, "localhost", true},
        {"untrusted", 0, false, true, true, {}, selfSigned, "localhost", false},
        {"untrusted, allowed", 0, true, true, true, {}, selfSigned, "localhost", true},
        {"incomplete chain", 0, false, true, true, {}, {C::localhost}, "localhost", false},
        {"leaf key pinned", 1, false, false, true, {C::localhost}, localhost, "localhost", true},
        {"other key pinned", 1, false, false, true, {C::otherhost}, localhost, "localhost", false},
        {"two of three keys pinned",
         1,
         false,
         true,
         true,
         {C::localhost, C::intermediate},
         localhostToRoot,
         "localhost",
         false},
        {"every key pinned",
         1,
         false,
         true,
         true,
         {C::ca, C::intermediate, C::localhost},
         localhostToRoot,
         "localhost",
         true},
        {"pinned key, untrusted chain", 1, false, false, true, {C::selfSigned}, selfSigned, "localhost", false},
        {"pinned key, untrusted chain allowed", 1, true, false, true, {C::selfSigned}, selfSigned, "localhost", true},
        {"pinned key, wrong host", 1, false, false, true, {C::otherhost}, otherhost, "localhost", false},
        {"pinned self-signed", 2, true, true, true, {C::selfSigned}, selfSigned, "localhost", true},
        {"pinned self-signed, untrusted", 2, false, true, true, {C::selfSigned}, selfSigned, "localhost", false},
        {"intermediate not pinned", 2, false, true, true, {C::localhost, C::ca}, localhost, "localhost", false},
        {"intermediate not pinned, chain not checked",
         2,
         false,
         false,
         true,
         {C::localhost, C::ca},
         localhost,
         "localhost",
         true},
        {"whole chain pinned", 2, false, true, true, {C::intermediate, C::localhost}, localhost, "localhost", true},
        {"pinned, wrong host", 2, true, true, true, {C::otherhost, C::intermediate}, otherhost, "localhost", false},
        {"nothing pinned", 2, false, false, true, {}, localhost, "localhost", false},
        {"unknown mode", 3, true, false, false, {C::localhost}, localhost, "localhost", false},
    };
    for (const auto& testCase : cases) {
        MQTTSSLSecurityPolicy policy;
        policy.setSSLPinningMode(testCase.mode);
        policy.setAllowInvalidCertificates(testCase.allowInvalid);
        policy.setValidatesCertificateChain(testCase.validatesChain);
        policy.setValidatesDomainName(testCase.validatesDomain);
        std::vector<Bytes> pinned;
        for (const auto which : testCase.pinned) pinned.push_back(der(which));
        policy.setPinnedCertificates(pinned);
        MQTTServerTrust trust;
        for (const auto which : testCase.serverChain) trust.certificates.push_back(der(which));
        const auto domain = testCase.domain ? std::optional<std::string>(testCase.domain) : std::nullopt;
        EXPECT_EQ(policy.evaluateServerTrust(trust, domain), testCase.accepted) << testCase.name;
    }
}

TEST_F(MQTTSSLSecurityPolicyTest, AKeyPinnedTwiceCountsForOneCertificateOnly) {
    const auto again = pki_->folder() / "localhost-again.der";
    ASSERT_TRUE(test::runProgram({"openssl", "req", "-new", "-x509", "-key", pki_->key(C::localhost).string(), "-subj",
                                  "/CN=localhost again", "-days", "30", "-outform", "DER", "-out", again.string()})
                    .succeeded());
    std::ifstream in(again, std::ios::binary);
    const Bytes reissued{std::istreambuf_iterator<char>(in), {}};

    MQTTSSLSecurityPolicy policy;
    policy.setSSLPinningMode(MQTTSSLSecurityPolicy::kPinningPublicKey);
    policy.setPinnedCertificates(std::vector<Bytes>{der(C::localhost), reissued});
    ASSERT_EQ(policy.pinnedPublicKeys().size(), 2U);
    EXPECT_EQ(policy.pinnedPublicKeys()[0], policy.pinnedPublicKeys()[1]);
    // Two certificates in the chain, two pins matching, but the intermediate
    // is not pinned.
    EXPECT_FALSE(policy.evaluateServerTrust(chain({C::localhost, C::intermediate}), "localhost"));
    policy.setValidatesCertificateChain(false);
    EXPECT_TRUE(policy.evaluateServerTrust(chain({C::localhost, C::intermediate}), "localhost"));
}

TEST_F(MQTTSSLSecurityPolicyTest, KeepsOnePinPerCertificateAndSurvivesBytesThatAreNoCertificate) {
    MQTTSSLSecurityPolicy policy;
    EXPECT_FALSE(policy.pinnedCertificates().has_value());
    const Bytes garbage{0x30, 0x03, 0x02, 0x01};
    policy.setPinnedCertificates(std::vector<Bytes>{der(C::ca), garbage, der(C::ca), der(C::client)});
    EXPECT_EQ(*policy.pinnedCertificates(), (std::vector<Bytes>{der(C::ca), garbage, der(C::client)}));
    EXPECT_EQ(policy.pinnedPublicKeys().size(), 2U);
    policy.setSSLPinningMode(MQTTSSLSecurityPolicy::kPinningCertificate);
    for (const auto& serverChain : {MQTTServerTrust{}, MQTTServerTrust{{garbage}}, MQTTServerTrust{{Bytes{}}},
                                    MQTTServerTrust{{der(C::localhost), garbage}}}) {
        EXPECT_FALSE(policy.evaluateServerTrust(serverChain, "localhost"));
    }
    policy.setPinnedCertificates(std::nullopt);
    EXPECT_TRUE(policy.pinnedPublicKeys().empty());
}

TEST_F(MQTTSSLSecurityPolicyTest, DefaultPinsAreTheResourceFoldersCerFiles) {
    const test::TempDirectory resources;
    std::ofstream(resources / "b.cer", std::ios::binary)
        .write(reinterpret_cast<const char*>(der(C::ca).data()), static_cast<std::streamsize>(der(C::ca).size()));
    std::ofstream(resources / "a.cer", std::ios::binary)
        .write(reinterpret_cast<const char*>(der(C::localhost).data()),
               static_cast<std::streamsize>(der(C::localhost).size()));
    std::ofstream(resources / "notes.txt") << "not a pin";
    platform::Paths::setResourcesFolder(resources.path());
    const auto policy = MQTTSSLSecurityPolicy::policyWithPinningMode(MQTTSSLSecurityPolicy::kPinningCertificate);
    platform::Paths::resetForTesting();
    EXPECT_EQ(*policy->pinnedCertificates(), (std::vector<Bytes>{der(C::localhost), der(C::ca)}));
    EXPECT_EQ(policy->SSLPinningMode(), 2U);
    // The intermediate is not pinned.
    EXPECT_FALSE(policy->evaluateServerTrust(chain({C::localhost, C::intermediate}), "localhost"));
    policy->setValidatesCertificateChain(false);
    EXPECT_TRUE(policy->evaluateServerTrust(chain({C::localhost, C::intermediate}), "localhost"));
    EXPECT_EQ(MQTTSSLSecurityPolicy::defaultPolicy()->SSLPinningMode(), 0U);
    EXPECT_FALSE(MQTTSSLSecurityPolicy::defaultPolicy()->pinnedCertificates().has_value());
}

TEST_F(MQTTSSLSecurityPolicyTest, TakesTheChainAServerSentOverTls) {
    test::ScriptedBroker broker(test::ScriptedBroker::Tls{pki_->chain(C::localhost), pki_->key(C::localhost)});
    broker.addConnection(test::ScriptedBroker::Script().expect({0x01}).write({0x02}));

    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(broker.port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(SSL_CTX_new(TLS_client_method()), SSL_CTX_free);
    std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(context.get()), SSL_free);
    SSL_set_fd(ssl.get(), fd);
    ASSERT_EQ(SSL_connect(ssl.get()), 1);
    const unsigned char out = 0x01;
    unsigned char in = 0;
    ASSERT_EQ(SSL_write(ssl.get(), &out, 1), 1);
    ASSERT_EQ(SSL_read(ssl.get(), &in, 1), 1);
    EXPECT_EQ(in, 0x02);

    const auto trust = MQTTServerTrust::fromConnection(ssl.get());
    EXPECT_EQ(trust.certificates, (std::vector<Bytes>{der(C::localhost), der(C::intermediate)}));
    EXPECT_TRUE(MQTTSSLSecurityPolicy().evaluateServerTrust(trust, "localhost"));
    EXPECT_TRUE(MQTTServerTrust::fromConnection(nullptr).certificates.empty());
    EXPECT_TRUE(broker.failures().empty());
    ssl.reset();
    ::close(fd);
}

}  // namespace
}  // namespace ambrell
