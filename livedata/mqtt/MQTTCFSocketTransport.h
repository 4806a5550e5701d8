#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "livedata/mqtt/MQTTTransport.h"

namespace ambrell {

class MQTTSSLSecurityPolicy;

// TLS could not be set up for a connection (the client certificate was
// refused, say): reported as the connection's failure.
inline constexpr std::int64_t kMQTTErrorSSLSetup = -9810;
inline constexpr std::string_view kMQTTErrorSSLSetupText = "Fail to init ssl output stream!";
// The server's chain was not trusted: by the TLS library's check, or by a
// security policy (with this text).
inline constexpr std::int64_t kMQTTErrorInsecure = -9807;
inline constexpr std::string_view kMQTTErrorInsecureText =
    "Unable to apply security policy, the SSL connection is insecure!";
// Domain of socket errors (codes are errno values). Errors of name
// resolution and of the TLS library carry the name of their own category
// as domain.
inline constexpr std::string_view kMQTTPOSIXErrorDomain = "NSPOSIXErrorDomain";

// A client identity for TLS: the private key (DER, PKCS#8) and its
// certificate (DER).
struct MQTTClientCertificates {
    std::vector<std::uint8_t> privateKey;
    std::vector<std::uint8_t> certificate;
};

// A transport over TCP to host and port (a name or an address; every
// address the name resolves to is tried in turn), optionally with TLS.
//
// With tls on, the server's chain is checked against the system's trust
// store (the default OpenSSL locations, SSL_CERT_FILE and SSL_CERT_DIR
// included) and for the host name; the host name goes out as SNI when it is
// not an address. A failed check is kMQTTErrorInsecure. A client identity
// (`certificates`) is presented when the server asks for one.
//
// One connection per open: open again (or open a new transport) to
// reconnect. Received bytes are handed up as they arrive; sent bytes queue
// without bound while the socket cannot take them, and go out whole and in
// order however the socket splits the writes.
//
// Errors (mqttTransportDidFailWithError, always on the queue, never from
// within open): kMQTTErrorSSLSetup, kMQTTErrorInsecure, socket errors
// (kMQTTPOSIXErrorDomain), name-resolution and TLS-protocol errors. A peer
// that closes (end of stream, or TLS ending without its closing alert) is
// mqttTransportDidClose. close() reports nothing.
class MQTTCFSocketTransport : public MQTTTransport {
public:
    MQTTCFSocketTransport();
    ~MQTTCFSocketTransport() override;

    // Closes any earlier connection first (silently) and starts a new one:
    // state opening, then open (mqttTransportDidOpen) or a failure.
    void open() override;
    void close() override;
    bool send(std::span<const std::uint8_t> bytes) override;

    // Bytes taken by send but not yet written to the socket (0 once closed).
    [[nodiscard]] std::size_t pendingBytes() const;

    [[nodiscard]] bool tls() const { return tls_; }
    void setTls(bool tls) { tls_ = tls; }
    // Kept for the session's configuration; no service type exists for it
    // here.
    [[nodiscard]] bool voip() const { return voip_; }
    void setVoip(bool voip) { voip_ = voip; }
    [[nodiscard]] const std::shared_ptr<const MQTTClientCertificates>& certificates() const { return certificates_; }
    void setCertificates(std::shared_ptr<const MQTTClientCertificates> certificates) {
        certificates_ = std::move(certificates);
    }

    // The identity of the first item of a PKCS#12 file, opened with the
    // passphrase; null when the path or the passphrase is missing, the file
    // can't be read or decrypted, or holds no key with a certificate.
    static std::shared_ptr<const MQTTClientCertificates> clientCertsFromP12(
        const std::filesystem::path& path, const std::optional<std::string>& passphrase);

protected:
    // What a connection checks of the server: none (the TLS library's own
    // check applies), or this policy in its place, once, after the
    // handshake. A policy transport answers its policy.
    struct TrustCheck {
        bool usePolicy = false;
        std::shared_ptr<const MQTTSSLSecurityPolicy> policy;
    };
    [[nodiscard]] virtual TrustCheck trustCheck() const { return {}; }

private:
    struct Connection;
    std::shared_ptr<Connection> currentConnection() const;

    bool tls_ = false;
    bool voip_ = false;
    std::shared_ptr<const MQTTClientCertificates> certificates_;
    // Set and read under its own lock: send() and close() come from any
    // thread.
    mutable std::mutex connectionMutex_;
    std::shared_ptr<Connection> connection_;
};

}  // namespace ambrell
