#include "tests/support/TestPki.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

#include "tests/support/Subprocess.h"

namespace ambrell::test {

namespace {

constexpr const char* kConfig = R"([req]
distinguished_name = dn
prompt = no
[dn]
CN = placeholder
[ca]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[intermediate]
basicConstraints = critical,CA:TRUE,pathlen:0
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[localhost]
basicConstraints = CA:FALSE
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost,IP:127.0.0.1
authorityKeyIdentifier = keyid
[otherhost]
basicConstraints = CA:FALSE
extendedKeyUsage = serverAuth
subjectAltName = DNS:otherhost
authorityKeyIdentifier = keyid
[selfSigned]
basicConstraints = critical,CA:TRUE
subjectAltName = DNS:localhost,IP:127.0.0.1
subjectKeyIdentifier = hash
[client]
basicConstraints = CA:FALSE
extendedKeyUsage = clientAuth
authorityKeyIdentifier = keyid
)";

const char* nameOf(TestPki::Certificate which) {
    switch (which) {
        case TestPki::Certificate::ca: return "ca";
        case TestPki::Certificate::intermediate: return "intermediate";
        case TestPki::Certificate::localhost: return "localhost";
        case TestPki::Certificate::otherhost: return "otherhost";
        case TestPki::Certificate::selfSigned: return "selfSigned";
        case TestPki::Certificate::client: return "client";
    }
    return "unknown";
}

void run(const std::vector<std::string>& arguments) {
    const auto result = runProgram(arguments);
    if (!result.succeeded()) {
        std::string command;
        for (const auto& argument : arguments) command += argument + " ";
        throw std::runtime_error("TestPki: " + command + "failed: " + result.output);
    }
}

std::string readAll(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TestPki::TestPki() {
    using C = Certificate;
    const auto config = (folder() / "pki.cnf").string();
    std::ofstream(config) << kConfig;
    const auto file = [this](C which, const char* suffix) {
        return (folder() / (std::string(nameOf(which)) + suffix)).string();
    };
    int serial = 1000;
    for (const auto which : {C::ca, C::intermediate, C::localhost, C::otherhost, C::selfSigned, C::client}) {
        run({"openssl", "genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out",
             file(which, ".key")});
        const std::string subject =
            std::string("/O=Ambrell Test/CN=") + (which == C::ca             ? "Ambrell Test Root CA"
                                                  : which == C::intermediate ? "Ambrell Test Intermediate CA"
                                                  : which == C::selfSigned   ? "localhost"
                                                                             : nameOf(which));
        if (which == C::ca || which == C::selfSigned) {
            run({"openssl", "req", "-new", "-x509", "-config", config, "-key", file(which, ".key"), "-subj", subject,
                 "-days", "3650", "-extensions", nameOf(which), "-out", file(which, ".pem")});
        } else {
            const C issuer = (which == C::intermediate || which == C::client) ? C::ca : C::intermediate;
            run({"openssl", "req", "-new", "-config", config, "-key", file(which, ".key"), "-subj", subject, "-out",
                 file(which, ".csr")});
            run({"openssl", "x509", "-req", "-in", file(which, ".csr"), "-CA", file(issuer, ".pem"), "-CAkey",
                 file(issuer, ".key"), "-set_serial", std::to_string(++serial), "-days", "3650", "-extfile", config,
                 "-extensions", nameOf(which), "-out", file(which, ".pem")});
        }
        run({"openssl", "x509", "-in", file(which, ".pem"), "-outform", "DER", "-out", file(which, ".der")});
    }
    for (const auto which : {C::localhost, C::otherhost}) {
        std::ofstream(file(which, "-chain.pem"), std::ios::binary)
            << readAll(file(which, ".pem")) << readAll(file(C::intermediate, ".pem"));
    }
    run({"openssl", "pkcs12", "-export", "-inkey", file(C::client, ".key"), "-in", file(C::client, ".pem"), "-certfile",
         file(C::ca, ".pem"), "-name", "ambrell-client", "-passout", "pass:" + pkcs12Password(), "-out",
         clientPkcs12().string()});
}

std::filesystem::path TestPki::certificate(Certificate which) const {
    return folder() / (std::string(nameOf(which)) + ".pem");
}

std::filesystem::path TestPki::key(Certificate which) const { return folder() / (std::string(nameOf(which)) + ".key"); }

std::filesystem::path TestPki::chain(Certificate which) const {
    if (which == Certificate::localhost || which == Certificate::otherhost) {
        return folder() / (std::string(nameOf(which)) + "-chain.pem");
    }
    return certificate(which);
}

std::vector<std::uint8_t> TestPki::der(Certificate which) const {
    const auto bytes = readAll(folder() / (std::string(nameOf(which)) + ".der"));
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

}  // namespace ambrell::test
