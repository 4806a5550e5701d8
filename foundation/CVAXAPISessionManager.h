#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "foundation/CVBackendDetails.h"
#include "platform/Error.h"

namespace ambrell {

class CVAXAPISessionManager;

class CVAXAPISessionManagerDelegate {
public:
    virtual ~CVAXAPISessionManagerDelegate() = default;
    // Called on the main queue once per refresh.
    virtual void sessionManager(CVAXAPISessionManager& manager, std::optional<std::string> didRefreshSessionToken,
                                std::optional<platform::NSError> error) = 0;
};

// Obtains the web-service session token and the backend's authentication
// details from the session gateway of the current API key.
class CVAXAPISessionManager : public std::enable_shared_from_this<CVAXAPISessionManager> {
    struct Passkey {};

public:
    CVAXAPISessionManager(Passkey, std::weak_ptr<CVAXAPISessionManagerDelegate> delegate);

    static std::shared_ptr<CVAXAPISessionManager> newAPISessionManagerWithDelegate(
        std::weak_ptr<CVAXAPISessionManagerDelegate> delegate);

    // Starts one gateway request; the delegate hears of its end on the main queue.
    void refreshSession();
    void handleResultSessionToken(std::optional<platform::NSError> error);

    [[nodiscard]] std::shared_ptr<const CVBackendDetails> backendDetails() const;
    [[nodiscard]] std::shared_ptr<const CVAuthDetails> authDetails() const { return backendDetails(); }
    [[nodiscard]] std::optional<std::string> sessionToken() const;

private:
    void finishRequest(std::optional<std::vector<std::uint8_t>> data, std::optional<int> statusCode,
                       std::exception_ptr error);

    std::weak_ptr<CVAXAPISessionManagerDelegate> delegate_;
    mutable std::mutex mutex_;
    std::shared_ptr<const CVBackendDetails> backendDetails_;
};

}  // namespace ambrell
