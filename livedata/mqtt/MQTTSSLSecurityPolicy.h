#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct ssl_st;

namespace ambrell {

// What a TLS handshake showed of the server: its certificates as it sent
// them, leaf first, DER-encoded.
struct MQTTServerTrust {
    std::vector<std::vector<std::uint8_t>> certificates;

    // The chain the server of an established client connection sent;
    // empty when there is none.
    static MQTTServerTrust fromConnection(const ssl_st* ssl);
};

// The client's own check of a broker's certificate chain, in place of the
// TLS library's: against the system's trust store (the default OpenSSL
// locations, SSL_CERT_FILE and SSL_CERT_DIR included), against pinned public
// keys, or against pinned certificates; optionally for the host name, and
// optionally for every certificate of the chain.
//
// Not locked: set it up, then evaluate from any thread.
class MQTTSSLSecurityPolicy {
public:
    using Bytes = std::vector<std::uint8_t>;

    // SSLPinningMode values; any other rejects every chain.
    static constexpr std::uint64_t kPinningNone = 0;
    static constexpr std::uint64_t kPinningPublicKey = 1;
    static constexpr std::uint64_t kPinningCertificate = 2;

    // No pinning, no pinned certificates.
    static std::shared_ptr<MQTTSSLSecurityPolicy> defaultPolicy();
    // The mode, pinning defaultPinnedCertificates().
    static std::shared_ptr<MQTTSSLSecurityPolicy> policyWithPinningMode(std::uint64_t mode);
    // The contents of every ".cer" file at the top of the host's resources
    // folder, by file name; read once per process. Unreadable files are
    // skipped.
    static const std::vector<Bytes>& defaultPinnedCertificates();

    // Every certificate of the server chain must be pinned.
    [[nodiscard]] bool validatesCertificateChain() const { return validatesCertificateChain_; }
    void setValidatesCertificateChain(bool value) { validatesCertificateChain_ = value; }
    // A chain the trust store does not vouch for is let through.
    [[nodiscard]] bool allowInvalidCertificates() const { return allowInvalidCertificates_; }
    void setAllowInvalidCertificates(bool value) { allowInvalidCertificates_ = value; }
    // Checks as a TLS server for the domain (name, purpose) rather than
    // the chain alone.
    [[nodiscard]] bool validatesDomainName() const { return validatesDomainName_; }
    void setValidatesDomainName(bool value) { validatesDomainName_ = value; }
    [[nodiscard]] std::uint64_t SSLPinningMode() const { return SSLPinningMode_; }
    void setSSLPinningMode(std::uint64_t mode) { SSLPinningMode_ = mode; }

    // DER certificates, without duplicates (the first kept, order kept).
    [[nodiscard]] const std::optional<std::vector<Bytes>>& pinnedCertificates() const { return pinnedCertificates_; }
    // Stores them without duplicates and derives pinnedPublicKeys().
    void setPinnedCertificates(std::optional<std::vector<Bytes>> certificates);
    // The DER SubjectPublicKeyInfo of each pinned certificate it could be
    // taken from, in order.
    [[nodiscard]] const std::vector<Bytes>& pinnedPublicKeys() const { return pinnedPublicKeys_; }

    // Whether the chain is accepted for the domain (none: any name).
    [[nodiscard]] bool evaluateServerTrust(const MQTTServerTrust& serverTrust,
                                           const std::optional<std::string>& domain) const;

private:
    bool validatesCertificateChain_ = true;
    bool allowInvalidCertificates_ = false;
    bool validatesDomainName_ = true;
    std::uint64_t SSLPinningMode_ = kPinningNone;
    std::optional<std::vector<Bytes>> pinnedCertificates_;
    std::vector<Bytes> pinnedPublicKeys_;
};

}  // namespace ambrell
