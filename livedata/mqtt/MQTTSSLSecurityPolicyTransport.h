#pragma once

#include <memory>

#include "livedata/mqtt/MQTTCFSocketTransport.h"
#include "livedata/mqtt/MQTTSSLSecurityPolicy.h"

namespace ambrell {

// A socket transport that checks the server itself: with tls on, the TLS
// handshake accepts any chain, then the security policy judges the chain the
// server sent, once, for the host name, before the transport reports open.
// A chain the policy rejects fails the connection with kMQTTErrorInsecure
// and kMQTTErrorInsecureText, and no byte is sent or handed up.
//
// Without a policy (or with tls off) nothing is checked. Everything else is
// the socket transport's.
class MQTTSSLSecurityPolicyTransport : public MQTTCFSocketTransport {
public:
    [[nodiscard]] const std::shared_ptr<MQTTSSLSecurityPolicy>& securityPolicy() const { return securityPolicy_; }
    // Read on the queue while a connection opens: not changed after open.
    void setSecurityPolicy(std::shared_ptr<MQTTSSLSecurityPolicy> policy) { securityPolicy_ = std::move(policy); }

protected:
    [[nodiscard]] TrustCheck trustCheck() const override { return {true, securityPolicy_}; }

private:
    std::shared_ptr<MQTTSSLSecurityPolicy> securityPolicy_;
};

}  // namespace ambrell
