#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Ambrell/CVUserRole.h"
#include "foundation/CVAXAPISessionManager.h"
#include "foundation/CVBackendDetails.h"
#include "platform/Error.h"

namespace ambrell {

// The HTTP proxy the process was told to use through AMBRELL_PROXY_HOST and
// AMBRELL_PROXY_PORT; only plain HTTP is proxied.
struct CVProxySettings {
    std::string host;
    int enabled = 1;
    // Present only when AMBRELL_PROXY_PORT is; 0 when its value does not
    // begin with a number.
    std::optional<std::int32_t> port;

    friend bool operator==(const CVProxySettings&, const CVProxySettings&) = default;
};

// The settings of the kit's web service: which deployment the process talks
// to, the tokens and the API key's standing, and every URL the library asks
// the service for. Safe to use from any thread; getters return copies.
class CVAXAPI : public CVAXAPISessionManagerDelegate, public std::enable_shared_from_this<CVAXAPI> {
public:
    // Reads the process environment; tests hand in their own values instead.
    class Environment {
    public:
        using Lookup = std::function<std::optional<std::string>(std::string_view name)>;

        explicit Environment(Lookup lookup) : lookup_(std::move(lookup)) {}

        // The real environment of the process.
        [[nodiscard]] static Environment process();
        // Exactly these variables and no others.
        [[nodiscard]] static Environment fromValues(std::vector<std::pair<std::string, std::string>> values);

        [[nodiscard]] std::optional<std::string> value(std::string_view name) const;

    private:
        Lookup lookup_;
    };

    // Chooses the base URL from AMBRELL_USE_DEV_API, AMBRELL_USE_STAGING_API,
    // AMBRELL_USE_PROD_API and AMBRELL_API, each present one overriding those
    // before it, and logs the choice.
    explicit CVAXAPI(Environment environment = Environment::process());
    CVAXAPI(const CVAXAPI&) = delete;
    CVAXAPI& operator=(const CVAXAPI&) = delete;

    // The one instance of the process, made from its environment on first use.
    [[nodiscard]] static std::shared_ptr<CVAXAPI> sharedInstance();
    // Forgets the shared instance; the next sharedInstance() makes a new one.
    static void resetSharedForTesting();
    // The shared instance's current base URL.
    [[nodiscard]] static std::string baseUrl();

    // Settings.
    [[nodiscard]] bool useDevEnvironment() const;
    void setUseDevEnvironment(bool useDevEnvironment);
    [[nodiscard]] bool useFixedBackendUrl() const;
    [[nodiscard]] std::string currentBaseUrl() const;
    // Adds the trailing "/" when missing; ignored (and logged) while the base
    // URL is fixed by the environment or the development switch.
    void setCurrentBaseUrl(std::string_view currentBaseUrl);
    [[nodiscard]] std::optional<std::string> overrideBaseUrl() const;
    // Read from the environment on the first call and kept from then on.
    [[nodiscard]] std::optional<CVProxySettings> proxySettings() const;

    // Tokens and the outcome of the last session refresh.
    [[nodiscard]] std::optional<std::string> sessionToken() const;
    void setSessionToken(std::optional<std::string> sessionToken);
    [[nodiscard]] std::optional<std::string> accessToken() const;
    void setAccessToken(std::optional<std::string> accessToken);
    [[nodiscard]] std::optional<platform::NSError> sessionTokenRefreshError() const;
    void setSessionTokenRefreshError(std::optional<platform::NSError> sessionTokenRefreshError);

    // The backend's sign-in details of the last successful session refresh;
    // null before one.
    [[nodiscard]] std::shared_ptr<const CVBackendDetails> authDetails() const;
    // False exactly when the backend requires a signed-in user and there is no
    // access token.
    [[nodiscard]] bool isAuthorised() const;

    // Session refresh. The manager is made on first use with this object as
    // its delegate.
    //   Completes: once per call, on the main queue (where the shutdown ends,
    //     once it has closed), after the token, the error and the key's
    //     validity are stored. One gateway request runs at a time: a call
    //     made while one runs for the same gateway URL joins it; one made for
    //     another URL (the API key changed) is answered by a request for the
    //     current URL that starts when the running one has answered.
    //   Errors: none reach the completion; the refresh's error is stored.
    //   Cancelling: not possible; the runtime's shutdown ends the request
    //     with a cancelled transport error, which is stored.
    [[nodiscard]] std::shared_ptr<CVAXAPISessionManager> sessionManager();
    void refreshSessionWithCompletion(std::function<void()> completion);
    void sessionManager(CVAXAPISessionManager& manager, std::optional<std::string> didRefreshSessionToken,
                        std::optional<platform::NSError> error) override;
    void generateLocalSessionToken();
    // Calls the completions the finished request answers.
    void completeSessionTokenRefresh();

    // Whether the web service accepted the current API key, kept per key in the
    // standard user defaults; true while nothing says otherwise, or without a key.
    [[nodiscard]] bool apiKeyValid() const;
    void setApiKeyValid(bool apiKeyValid);

    // Sync URLs. A missing solution id stands for the current API key, a
    // missing language for the current language. Nothing is escaped.
    [[nodiscard]] std::string urlStringForSyncEndpoint(std::string_view endpoint,
                                                       std::optional<std::string_view> solutionId,
                                                       std::optional<std::string_view> language) const;

    [[nodiscard]] std::string datasetSizeSyncUrl() const;
    [[nodiscard]] std::string graphSyncUrl() const;
    [[nodiscard]] std::string locationSyncUrl() const;
    [[nodiscard]] std::string venueSyncUrl() const;
    [[nodiscard]] std::string buildingSyncUrl() const;
    [[nodiscard]] std::string solutionSyncUrl() const;
    [[nodiscard]] std::string appDataSyncUrl() const;
    [[nodiscard]] std::string categorySyncUrl() const;
    [[nodiscard]] std::string tileSyncUrl() const;
    [[nodiscard]] std::string userRolesSyncUrl() const;

    using OptionalText = std::optional<std::string_view>;

    [[nodiscard]] std::string getDatasetSizeSyncUrlForSolutionId(OptionalText solutionId, OptionalText language) const;
    [[nodiscard]] std::string dataSetSyncUrlForSolutionId(OptionalText solutionId, OptionalText language) const;
    [[nodiscard]] std::string graphSyncUrlForSolutionId(OptionalText solutionId, OptionalText language) const;
    [[nodiscard]] std::string graphSyncUrlForSolutionId(OptionalText solutionId, OptionalText language,
                                                        std::string_view venueId) const;
    [[nodiscard]] std::string locationSyncUrlForSolutionId(OptionalText solutionId, OptionalText language) const;
    // Restricted to the roles' ids, duplicates dropped; no roles restrict nothing.
    [[nodiscard]] std::string locationSyncUrlForSolutionId(OptionalText solutionId, OptionalText language,
                                                           const std::vector<CVUserRole>& userRoles) const;
    [[nodiscard]] std::string locationSyncUrlForSolutionId(OptionalText solutionId, OptionalText language,
                                                           const std::vector<CVUserRole>& userRoles,
                                                           std::string_view venueId) const;
    [[nodiscard]] std::string venueSyncUrlForSolutionId(OptionalText solutionId, OptionalText language) const;
    [[nodiscard]] std::string buildingSyncUrlForSolutionId(OptionalText solutionId, OptionalText language) const;
    [[nodiscard]] std::string buildingSyncUrlForSolutionId(OptionalText solutionId, OptionalText language,
                                                           std::string_view venueId) const;
    [[nodiscard]] std::string solutionSyncUrlForSolutionId(OptionalText solutionId, OptionalText language) const;
    [[nodiscard]] std::string appDataSyncUrlForSolutionId(OptionalText solutionId, OptionalText language) const;
    [[nodiscard]] std::string categorySyncUrlForSolutionId(OptionalText solutionId, OptionalText language) const;
    [[nodiscard]] std::string tileSyncUrlForSolutionId(OptionalText solutionId, OptionalText language) const;
    [[nodiscard]] std::string userRolesSyncUrlForSolutionId(OptionalText solutionId, OptionalText language) const;
    [[nodiscard]] std::string routeLayerSyncUrlForSolutionId(OptionalText solutionId, OptionalText language) const;
    [[nodiscard]] std::string derivedGeometrySyncUrlForSolutionId(OptionalText solutionId, OptionalText language) const;
    [[nodiscard]] std::string derivedGeometrySyncUrlForSolutionId(OptionalText solutionId, OptionalText language,
                                                                  std::string_view venueId) const;

    // Everything a solution sync fetches, in fetch order; the locations come
    // last, restricted to the user roles currently applied.
    [[nodiscard]] std::vector<std::string> allEndpointUrlsForSyncingSolutionId(OptionalText solutionId,
                                                                               OptionalText language) const;

    // The session gateway of the current API key.
    [[nodiscard]] std::string gatewayUrl() const;
    // Where a key is checked before it is bound: the key as one path segment
    // under the current base URL, then "/api/validateapikey".
    [[nodiscard]] std::string apiKeyValidationUrl(std::string_view apiKey) const;
    // Where usage logs of the key are uploaded; "" without a key.
    [[nodiscard]] std::string loggingUrl(OptionalText apiKey) const;

    // Live data.
    [[nodiscard]] std::string liveDataUrl(std::string_view pathComponent, OptionalText apiKey) const;
    [[nodiscard]] std::string liveDataStateUrl(std::string_view topic) const;
    // The MQTT broker's host name, without scheme or path.
    [[nodiscard]] std::string liveUpdateUrl() const;

    // Bookings. A missing solution id stands for the current API key.
    [[nodiscard]] std::string urlForBookingServiceEndpoint(OptionalText endpoint, OptionalText solutionId) const;
    [[nodiscard]] std::string urlForFetchingBookableLocations(OptionalText solutionId) const;
    [[nodiscard]] std::string urlForFetchingLocationsConfiguredForBooking(OptionalText solutionId) const;
    [[nodiscard]] std::string urlForFetchingLocationBookings(OptionalText solutionId) const;
    [[nodiscard]] std::string urlForFetchingUserBookings(OptionalText solutionId) const;
    [[nodiscard]] std::string urlForBooking(OptionalText solutionId) const;

    // Whether the URL points at the web service: it begins with the current
    // base URL, or it is an http(s) URL on one of the service's API hosts.
    [[nodiscard]] bool isAmbrellBackendUrl(OptionalText url) const;
    // A web-service URL moved to the production host, so that caches keyed by
    // URL treat every deployment alike; any other text comes back unchanged.
    [[nodiscard]] std::string urlByNormalizingAmbrellBackendUrls(std::string_view url) const;
    [[nodiscard]] bool isEqualAmbrellBackendUrl(std::string_view url, std::string_view otherUrl) const;

private:
    // Callers hold mutex_.
    void applyDevEnvironment(bool useDevEnvironment);

    // The fields below are read from many threads: copies in, copies out.
    template <typename T>
    T guarded(const T& field) const {
        std::lock_guard lock(mutex_);
        return field;
    }
    template <typename T>
    void setGuarded(T& field, T value) {
        std::lock_guard lock(mutex_);
        field = std::move(value);
    }

    // Starts the gateway request, off the main thread.
    void startSessionRefreshRequest();

    const Environment environment_;

    mutable std::mutex mutex_;
    bool useDevEnvironment_ = false;
    bool useFixedBackendUrl_ = false;
    std::string currentBaseUrl_;
    std::optional<std::string> sessionToken_;
    std::optional<std::string> accessToken_;
    std::optional<platform::NSError> sessionTokenRefreshError_;
    std::optional<std::string> overrideBaseUrl_;
    std::shared_ptr<CVAXAPISessionManager> sessionManager_;
    // The completions of the refresh callers not answered yet, each with the
    // gateway URL current at its call, and the URL of the request running.
    struct PendingRefresh {
        std::string gatewayUrl;
        std::function<void()> completion;
    };
    std::vector<PendingRefresh> refreshCompletions_;
    std::optional<std::string> refreshingGatewayUrl_;
    mutable bool proxySettingsRead_ = false;
    mutable std::optional<CVProxySettings> proxySettings_;

    // Makes the compare-and-store of the API-key flag one step.
    mutable std::mutex apiKeyValidMutex_;
};

}  // namespace ambrell
