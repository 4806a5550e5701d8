#include "foundation/CVAXAPISessionManager.h"

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>

#include "Ambrell/CVError.h"
#include "Ambrell/CVErrorCodes.h"
#include "Ambrell/CVLog.h"
#include "Ambrell/ErrorObjects.h"
#include "foundation/CVAXAPI.h"
#include "foundation/CVDataProvider.h"
#include "platform/runtime/MainQueue.h"

namespace ambrell {

namespace {

// A gateway that rejects the key answers 403; that error must reach the
// invalid-key path, which keys on the code alone.
platform::NSError gatewayErrorObject(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const CVError& e) {
        if (e.errorCase() == CVErrorCase::invalidApiKey) {
            return errorWithDescription(std::string(kAmbrellErrorDomain), AmbrellErrorCode::kInvalidApiKey,
                                        "The API key was rejected");
        }
    } catch (...) {
    }
    return errorObjectFor(error);
}

platform::NSError jsonParseError(const boost::system::error_code& error) {
    return errorWithDescription("NSCocoaErrorDomain", 3840,
                                "The data couldn't be read because it isn't in the correct format. (" +
                                    error.message() + ")");
}

std::string describe(const std::optional<std::string>& text) { return text.value_or("(null)"); }

std::string describe(const std::optional<platform::NSError>& error) {
    return error ? errorDescription(*error) : "(null)";
}

}  // namespace

CVAXAPISessionManager::CVAXAPISessionManager(Passkey, std::weak_ptr<CVAXAPISessionManagerDelegate> delegate)
    : delegate_(std::move(delegate)) {}

std::shared_ptr<CVAXAPISessionManager> CVAXAPISessionManager::newAPISessionManagerWithDelegate(
    std::weak_ptr<CVAXAPISessionManagerDelegate> delegate) {
    return std::make_shared<CVAXAPISessionManager>(Passkey{}, std::move(delegate));
}

std::shared_ptr<const CVBackendDetails> CVAXAPISessionManager::backendDetails() const {
    std::lock_guard lock(mutex_);
    return backendDetails_;
}

std::optional<std::string> CVAXAPISessionManager::sessionToken() const {
    auto details = backendDetails();
    if (!details) return std::nullopt;
    return details->sessionToken();
}

void CVAXAPISessionManager::refreshSession() {
    {
        std::lock_guard lock(mutex_);
        backendDetails_.reset();
    }
    // The gateway request is the one request that does not wait for a token:
    // it is how the token is obtained.
    CVDataProvider::data(CVAXAPI::sharedInstance()->gatewayUrl(), std::nullopt, std::nullopt, false,
                         [self = shared_from_this()](std::optional<std::vector<std::uint8_t>> data,
                                                     std::optional<platform::HttpResponse> response,
                                                     std::exception_ptr error) {
                             std::optional<int> status;
                             if (response) status = response->statusCode;
                             self->finishRequest(std::move(data), status, error);
                         });
}

void CVAXAPISessionManager::finishRequest(std::optional<std::vector<std::uint8_t>> data, std::optional<int> statusCode,
                                          std::exception_ptr error) {
    std::optional<platform::NSError> errorObject;
    if (error) {
        errorObject = gatewayErrorObject(error);
        CVLog::core().error("ERR " + errorDescription(*errorObject));
    }
    if (statusCode == 200) {
        const std::string_view text(reinterpret_cast<const char*>(data ? data->data() : nullptr),
                                    data ? data->size() : 0);
        boost::system::error_code parseError;
        boost::json::parse_options options;
        options.max_depth = 64;
        const auto json = boost::json::parse(text, parseError, {}, options);
        if (parseError) {
            if (!errorObject) errorObject = jsonParseError(parseError);
        } else if (json.is_object()) {
            // A document that does not decode leaves no details and no error.
            std::shared_ptr<const CVBackendDetails> details;
            try {
                details = CVBackendDetails::fromJSONDictionary(json.get_object());
            } catch (const std::exception&) {
            }
            std::lock_guard lock(mutex_);
            backendDetails_ = std::move(details);
        }
    }
    platform::MainQueue::shared().deliver(
        [self = shared_from_this(), errorObject] { self->handleResultSessionToken(errorObject); });
}

void CVAXAPISessionManager::handleResultSessionToken(std::optional<platform::NSError> error) {
    const auto token = sessionToken();
    CVLog::core().debug("Acquired sessionToken " + describe(token) + ", error = " + describe(error));
    if (auto delegate = delegate_.lock()) delegate->sessionManager(*this, token, std::move(error));
}

}  // namespace ambrell
