#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/TempDirectory.h"

namespace ambrell::test {

// A small public-key infrastructure made for one test, with the `openssl`
// command, in a temp folder of its own (EC P-256 keys, valid for years):
//   ca            a root certificate authority
//   intermediate  a certificate authority issued by ca
//   localhost     a server certificate for "localhost" and 127.0.0.1,
//                 issued by intermediate
//   otherhost     a server certificate for "otherhost", issued by intermediate
//   selfSigned    a self-signed certificate for "localhost" and 127.0.0.1
//   client        a client certificate issued by ca, also as PKCS#12
// Construction throws std::runtime_error, with what openssl said, when a
// step fails.
class TestPki {
public:
    enum class Certificate { ca, intermediate, localhost, otherhost, selfSigned, client };

    TestPki();

    [[nodiscard]] const std::filesystem::path& folder() const { return folder_.path(); }

    // PEM files.
    [[nodiscard]] std::filesystem::path certificate(Certificate which) const;
    [[nodiscard]] std::filesystem::path key(Certificate which) const;
    // The certificate followed by the intermediate for the two server
    // certificates issued by it; the certificate alone for the others.
    [[nodiscard]] std::filesystem::path chain(Certificate which) const;
    // The certificate's DER bytes.
    [[nodiscard]] std::vector<std::uint8_t> der(Certificate which) const;

    // The client's key, certificate and the ca, under pkcs12Password().
    [[nodiscard]] std::filesystem::path clientPkcs12() const { return folder() / "client.p12"; }
    [[nodiscard]] static std::string pkcs12Password() { return "ambrell-test"; }

private:
    TempDirectory folder_{"ambrell-pki"};
};

}  // namespace ambrell::test
