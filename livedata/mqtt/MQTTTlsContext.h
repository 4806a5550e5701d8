#pragma once

// Internal to the socket transport: the TLS client settings of one
// connection, and PKCS#12 import.

#include <boost/asio/ssl/context.hpp>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "livedata/mqtt/MQTTCFSocketTransport.h"
#include "platform/Error.h"

namespace ambrell {

struct MQTTTlsContext {
    // Set when the settings could be made; otherwise error is.
    std::optional<boost::asio::ssl::context> context;
    std::optional<platform::NSError> error;
};

// A TLS client context: TLS 1.2 or later; when `verifyPeer`, the server's
// chain checked against the system's trust store (the host name is the
// connection's to set); the client identity when one is given. A failure is
// kMQTTErrorSSLSetup, with what the TLS library said as underlying error.
MQTTTlsContext makeMQTTTlsContext(bool verifyPeer, const MQTTClientCertificates* certificates);

// kMQTTErrorSSLSetup, with the TLS library's last error (taken off its
// queue) as underlying error when it has one.
platform::NSError mqttTlsSetupError();

std::shared_ptr<const MQTTClientCertificates> importMQTTClientCertificates(const std::filesystem::path& path,
                                                                           const std::string& passphrase);

}  // namespace ambrell
