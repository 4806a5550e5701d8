#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Ambrell/CVAuthDetails.h"

// Declared here rather than included: this header is read by every user of the
// web-service settings, and Boost.JSON is heavy to compile.
namespace boost::json {
class object;
}  // namespace boost::json

namespace ambrell {

class CVAuthClientInfoInternal : public CVAuthClientInfo {
public:
    CVAuthClientInfoInternal() = default;
    CVAuthClientInfoInternal(std::string clientID, std::vector<std::string> preferredIDPS)
        : clientID_(std::move(clientID)), preferredIDPS_(std::move(preferredIDPS)) {}

    [[nodiscard]] std::string clientID() const override { return clientID_; }
    [[nodiscard]] std::vector<std::string> preferredIDPS() const override { return preferredIDPS_; }

    void setClientID(std::string clientID) { clientID_ = std::move(clientID); }
    void setPreferredIDPS(std::vector<std::string> preferredIDPS) { preferredIDPS_ = std::move(preferredIDPS); }

private:
    std::string clientID_;
    std::vector<std::string> preferredIDPS_;
};

// The session gateway's answer: the session token and how the backend wants
// users to sign in. Made only by decoding that answer.
class CVBackendDetails : public CVAuthDetails {
public:
    using AuthClients = std::vector<std::shared_ptr<const CVAuthClientInfo>>;

    // Decodes the gateway's JSON object. Every key is optional and a null value
    // counts as absent, but a present value must have its key's JSON type, and
    // each auth client needs both "clientId" and "preferredIDPs". Throws
    // platform::NSErrorException otherwise: domain "NSCocoaErrorDomain", code
    // 4865 for a missing or null required value, 4864 for a value of the wrong
    // type; the description names the offending key path.
    [[nodiscard]] static std::shared_ptr<CVBackendDetails> fromJSONDictionary(const boost::json::object& dictionary);

    [[nodiscard]] std::string authIssuer() const override { return authIssuer_; }
    // Always "client-apis": the backend's answer cannot change it.
    [[nodiscard]] std::string authScope() const override { return "client-apis"; }
    [[nodiscard]] bool isAuthRequired() const override { return isAuthRequired_; }
    [[nodiscard]] AuthClients authClients() const override { return authClients_; }
    [[nodiscard]] std::string sessionToken() const { return sessionToken_; }

    void setAuthIssuer(std::string authIssuer) { authIssuer_ = std::move(authIssuer); }
    void setIsAuthRequired(bool isAuthRequired) { isAuthRequired_ = isAuthRequired; }
    void setAuthClients(AuthClients authClients) { authClients_ = std::move(authClients); }
    void setSessionToken(std::string sessionToken) { sessionToken_ = std::move(sessionToken); }

private:
    CVBackendDetails() = default;

    std::string authIssuer_;
    bool isAuthRequired_ = false;
    AuthClients authClients_;
    std::string sessionToken_;
};

}  // namespace ambrell
