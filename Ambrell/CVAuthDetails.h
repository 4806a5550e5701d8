#pragma once

#include <memory>
#include <string>
#include <vector>

namespace ambrell {

// One client the host may sign in with, and the identity providers it
// prefers, in order.
class CVAuthClientInfo {
public:
    virtual ~CVAuthClientInfo() = default;

    [[nodiscard]] virtual std::string clientID() const = 0;
    [[nodiscard]] virtual std::vector<std::string> preferredIDPS() const = 0;
};

// What the web service says about signing in: whether its content needs a
// signed-in user, who issues the tokens, for which scope and to which clients.
class CVAuthDetails {
public:
    virtual ~CVAuthDetails() = default;

    [[nodiscard]] virtual std::string authIssuer() const = 0;
    [[nodiscard]] virtual std::string authScope() const = 0;
    [[nodiscard]] virtual bool isAuthRequired() const = 0;
    [[nodiscard]] virtual std::vector<std::shared_ptr<const CVAuthClientInfo>> authClients() const = 0;
};

}  // namespace ambrell
