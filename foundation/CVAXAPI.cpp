#include "foundation/CVAXAPI.h"

#include <cstdlib>
#include <limits>
#include <unordered_set>

#include <boost/asio/post.hpp>
#include <boost/url/parse.hpp>
#include <boost/url/url.hpp>

#include "Ambrell/CVErrorCodes.h"
#include "Ambrell/CVLog.h"
#include "foundation/CVAXAPIConfig.h"
#include "foundation/CVContentContext.h"
#include "foundation/CVPercentEncoding.h"
#include "platform/UUID.h"
#include "platform/UserDefaults.h"
#include "platform/runtime/MainQueue.h"
#include "platform/runtime/ThreadPool.h"

namespace ambrell {

namespace {

constexpr std::string_view kUseDevApi = "AMBRELL_USE_DEV_API";
constexpr std::string_view kUseStagingApi = "AMBRELL_USE_STAGING_API";
constexpr std::string_view kUseProdApi = "AMBRELL_USE_PROD_API";
constexpr std::string_view kApi = "AMBRELL_API";
constexpr std::string_view kProxyHost = "AMBRELL_PROXY_HOST";
constexpr std::string_view kProxyPort = "AMBRELL_PROXY_PORT";

// The leading integer of a text as the platform's string-to-int reads it:
// leading white space and one sign allowed, anything after the digits ignored,
// 0 without digits, saturated at the 32-bit limits.
std::int32_t leadingInt32(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = std::min(magnitude * 10 + (text[i] - '0'), kLimit);
    }
    if (negative) return static_cast<std::int32_t>(-magnitude);
    return static_cast<std::int32_t>(std::min(magnitude, kLimit - 1));
}

bool keptInPath(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return std::string_view("-._~!$&'()*+,;=:@/").find(static_cast<char>(c)) != std::string_view::npos;
}

void appendEncoded(std::string& url, std::string_view component, bool keepSlashes) {
    for (const char ch : component) {
        const auto c = static_cast<unsigned char>(ch);
        if (keptInPath(c) && (keepSlashes || c != '/')) {
            url += ch;
        } else {
            appendPercentEscaped(url, c);
        }
    }
}

// Appends one path component the way the platform's URL type does: one "/"
// between the two, and characters a path cannot hold percent-encoded, so a
// key or topic never breaks the URL's structure.
std::string appendingEncoded(std::string url, std::string_view component, bool keepSlashes) {
    if (url.empty() || url.back() != '/') url += '/';
    appendEncoded(url, component, keepSlashes);
    return url;
}

// A key or solution id written straight after what is there (the gateway and
// booking URLs join by format, not by path component, and keep doing so), yet
// encoded so that it stays one path segment and never a dot segment.
void appendKeySegment(std::string& url, std::string_view key) {
    if (key == "." || key == "..") {
        for (std::size_t i = 0; i < key.size(); ++i) url += "%2E";
        return;
    }
    appendEncoded(url, key, false);
}

std::string appendingPathComponent(std::string url, std::string_view component) {
    return appendingEncoded(std::move(url), component, true);
}

// A key goes into a URL as exactly one path component: a "/" in it, or a key
// that is a dot segment, must not reach another path on the service.
std::string appendingKeyComponent(std::string url, std::string_view key) {
    if (url.empty() || url.back() != '/') url += '/';
    appendKeySegment(url, key);
    return url;
}

std::string venueRestricted(std::string url, std::string_view venueId) {
    url += "&venueId=";
    url += venueId;
    return url;
}

std::optional<std::string> apiKeyValidKey() {
    auto apiKey = CVContentContext::apiKey();
    if (!apiKey || apiKey->empty()) return std::nullopt;
    return "ax-apikeyvalid-" + *apiKey;
}

bool storedApiKeyValidity(const platform::UserDefaults& defaults, std::string_view key) {
    if (auto flag = defaults.boolForKey(key)) return *flag;
    // A number written by other code reads as its truth value.
    if (auto number = defaults.doubleForKey(key)) return *number != 0;
    return true;
}

// An http(s) URL on one of the service's API hosts, whatever the deployment.
bool isServiceApiUrl(std::string_view text) {
    auto parsed = boost::urls::parse_uri_reference(text);
    if (!parsed) return false;
    const std::string_view scheme = parsed->scheme();
    if (scheme != "https" && scheme != "http") return false;
    const std::string host = parsed->host();
    std::string suffix = ".";
    suffix += CVAXAPIConfig::kServiceDomain;
    return host.starts_with("api") && host.ends_with(suffix);
}

struct Shared {
    std::mutex mutex;
    std::shared_ptr<CVAXAPI> instance;
};

Shared& shared() {
    static Shared state;
    return state;
}

}  // namespace

// MARK: - Environment

CVAXAPI::Environment CVAXAPI::Environment::process() {
    return Environment([](std::string_view name) -> std::optional<std::string> {
        if (name.find('\0') != std::string_view::npos) return std::nullopt;
        const char* value = std::getenv(std::string(name).c_str());
        if (value == nullptr) return std::nullopt;
        return std::string(value);
    });
}

CVAXAPI::Environment CVAXAPI::Environment::fromValues(std::vector<std::pair<std::string, std::string>> values) {
    return Environment([values = std::move(values)](std::string_view name) -> std::optional<std::string> {
        for (const auto& [key, value] : values) {
            if (key == name) return value;
        }
        return std::nullopt;
    });
}

std::optional<std::string> CVAXAPI::Environment::value(std::string_view name) const {
    return lookup_ ? lookup_(name) : std::nullopt;
}

// MARK: - Creation

CVAXAPI::CVAXAPI(Environment environment) : environment_(std::move(environment)) {
    std::string source;
    std::string baseUrl;
    {
        std::lock_guard lock(mutex_);
        const auto fix = [this, &source](std::string url, std::string_view variable) {
            overrideBaseUrl_ = url;
            currentBaseUrl_ = std::move(url);
            useFixedBackendUrl_ = true;
            source = variable;
        };
        if (environment_.value(kUseDevApi)) {
            applyDevEnvironment(true);
            source = kUseDevApi;
        }
        if (environment_.value(kUseStagingApi)) fix(CVAXAPIConfig::baseStagingURL(), kUseStagingApi);
        if (environment_.value(kUseProdApi)) fix(CVAXAPIConfig::baseURL(), kUseProdApi);
        if (auto api = environment_.value(kApi)) fix(std::move(*api), kApi);
        // An empty AMBRELL_API still fixes the base URL: it only falls back
        // to production.
        if (currentBaseUrl_.empty()) {
            currentBaseUrl_ = CVAXAPIConfig::baseURL();
            source = "Default base URL";
        }
        baseUrl = currentBaseUrl_;
    }
    CVLog::core().debug("Initialized with baseUrl = {} ({})", baseUrl, source);
}

std::shared_ptr<CVAXAPI> CVAXAPI::sharedInstance() {
    auto& state = shared();
    std::lock_guard lock(state.mutex);
    if (!state.instance) state.instance = std::make_shared<CVAXAPI>(Environment::process());
    return state.instance;
}

void CVAXAPI::resetSharedForTesting() {
    std::shared_ptr<CVAXAPI> previous;
    auto& state = shared();
    std::lock_guard lock(state.mutex);
    previous.swap(state.instance);
}

std::string CVAXAPI::baseUrl() { return sharedInstance()->currentBaseUrl(); }

// MARK: - Settings

bool CVAXAPI::useDevEnvironment() const { return guarded(useDevEnvironment_); }

void CVAXAPI::setUseDevEnvironment(bool useDevEnvironment) {
    std::lock_guard lock(mutex_);
    applyDevEnvironment(useDevEnvironment);
}

void CVAXAPI::applyDevEnvironment(bool useDevEnvironment) {
    useDevEnvironment_ = useDevEnvironment;
    useFixedBackendUrl_ = useDevEnvironment;
    if (useDevEnvironment) {
        overrideBaseUrl_ = CVAXAPIConfig::baseDevURL();
        currentBaseUrl_ = CVAXAPIConfig::baseDevURL();
    } else {
        overrideBaseUrl_.reset();
        currentBaseUrl_ = CVAXAPIConfig::baseURL();
    }
}

bool CVAXAPI::useFixedBackendUrl() const { return guarded(useFixedBackendUrl_); }

std::string CVAXAPI::currentBaseUrl() const { return guarded(currentBaseUrl_); }

void CVAXAPI::setCurrentBaseUrl(std::string_view currentBaseUrl) {
    std::string requested(currentBaseUrl);
    if (!requested.ends_with('/')) requested += '/';
    std::string previous;
    bool ignored = false;
    {
        std::lock_guard lock(mutex_);
        if (requested == currentBaseUrl_) return;
        previous = currentBaseUrl_;
        ignored = useFixedBackendUrl_;
        if (!ignored) currentBaseUrl_ = requested;
    }
    if (ignored) {
        CVLog::core().debug("Ignoring base URL change: {} => {}", previous, requested);
    } else {
        CVLog::core().debug("Changing base URL: {} => {}", previous, requested);
    }
}

std::optional<std::string> CVAXAPI::overrideBaseUrl() const { return guarded(overrideBaseUrl_); }

std::optional<CVProxySettings> CVAXAPI::proxySettings() const {
    std::lock_guard lock(mutex_);
    if (!proxySettingsRead_) {
        proxySettingsRead_ = true;
        if (auto host = environment_.value(kProxyHost)) {
            CVProxySettings settings{std::move(*host), 1, std::nullopt};
            if (auto port = environment_.value(kProxyPort)) settings.port = leadingInt32(*port);
            proxySettings_ = std::move(settings);
        }
    }
    return proxySettings_;
}

// MARK: - Tokens

std::optional<std::string> CVAXAPI::sessionToken() const { return guarded(sessionToken_); }

void CVAXAPI::setSessionToken(std::optional<std::string> sessionToken) {
    setGuarded(sessionToken_, std::move(sessionToken));
}

std::optional<std::string> CVAXAPI::accessToken() const { return guarded(accessToken_); }

void CVAXAPI::setAccessToken(std::optional<std::string> accessToken) {
    setGuarded(accessToken_, std::move(accessToken));
}

std::optional<platform::NSError> CVAXAPI::sessionTokenRefreshError() const {
    return guarded(sessionTokenRefreshError_);
}

void CVAXAPI::setSessionTokenRefreshError(std::optional<platform::NSError> sessionTokenRefreshError) {
    setGuarded(sessionTokenRefreshError_, std::move(sessionTokenRefreshError));
}

std::shared_ptr<const CVBackendDetails> CVAXAPI::authDetails() const {
    std::shared_ptr<CVAXAPISessionManager> manager;
    {
        std::lock_guard lock(mutex_);
        manager = sessionManager_;
    }
    return manager ? manager->backendDetails() : nullptr;
}

bool CVAXAPI::isAuthorised() const {
    const auto details = authDetails();
    const bool required = details && details->isAuthRequired();
    const auto token = accessToken();
    const bool signedIn = token && !token->empty();
    return !required || signedIn;
}

// MARK: - Session refresh

std::shared_ptr<CVAXAPISessionManager> CVAXAPI::sessionManager() {
    std::lock_guard lock(mutex_);
    if (!sessionManager_) sessionManager_ = CVAXAPISessionManager::newAPISessionManagerWithDelegate(weak_from_this());
    return sessionManager_;
}

void CVAXAPI::refreshSessionWithCompletion(std::function<void()> completion) {
    auto gateway = gatewayUrl();
    bool startsRequest = false;
    {
        std::lock_guard lock(mutex_);
        refreshCompletions_.push_back(PendingRefresh{gateway, std::move(completion)});
        // One request at a time, so that each answer is known to be that of
        // the running request; a caller of another key waits for its own.
        if (!refreshingGatewayUrl_) {
            refreshingGatewayUrl_ = std::move(gateway);
            startsRequest = true;
        }
    }
    if (startsRequest) startSessionRefreshRequest();
}

void CVAXAPI::startSessionRefreshRequest() {
    auto manager = sessionManager();
    // The gateway request is never started from the main thread.
    if (platform::MainQueue::shared().isCurrent()) {
        boost::asio::post(platform::ThreadPool::shared().executor(), [manager] { manager->refreshSession(); });
    } else {
        manager->refreshSession();
    }
}

void CVAXAPI::sessionManager(CVAXAPISessionManager&, std::optional<std::string> didRefreshSessionToken,
                             std::optional<platform::NSError> error) {
    const bool rejected = error && error->code == AmbrellErrorCode::kInvalidApiKey;
    const bool gotToken = didRefreshSessionToken && !didRefreshSessionToken->empty();
    setSessionTokenRefreshError(error);
    if (rejected || (!error && gotToken)) setApiKeyValid(!rejected);
    if (apiKeyValid()) {
        if (gotToken) {
            setSessionToken(didRefreshSessionToken);
        } else {
            generateLocalSessionToken();
        }
    }
    completeSessionTokenRefresh();
}

void CVAXAPI::generateLocalSessionToken() {
    setSessionToken(platform::UUID::random().uuidString());
    CVLog::core().debug("[W] Generating session token");
}

void CVAXAPI::completeSessionTokenRefresh() {
    const auto current = gatewayUrl();
    std::vector<std::function<void()>> answered;
    bool startsRequest = false;
    {
        std::lock_guard lock(mutex_);
        const auto ran = std::exchange(refreshingGatewayUrl_, std::nullopt);
        std::vector<PendingRefresh> waiting;
        for (auto& pending : refreshCompletions_) {
            // Called without a running request, every caller is answered.
            if (!ran || pending.gatewayUrl == *ran) {
                answered.push_back(std::move(pending.completion));
            } else {
                waiting.push_back(PendingRefresh{current, std::move(pending.completion)});
            }
        }
        refreshCompletions_ = std::move(waiting);
        if (!refreshCompletions_.empty()) {
            refreshingGatewayUrl_ = current;
            startsRequest = true;
        }
    }
    if (startsRequest) startSessionRefreshRequest();
    for (const auto& completion : answered) {
        if (completion) completion();
    }
}

// MARK: - API-key validity

bool CVAXAPI::apiKeyValid() const {
    const auto key = apiKeyValidKey();
    if (!key) return true;
    return storedApiKeyValidity(platform::UserDefaults::standard(), *key);
}

void CVAXAPI::setApiKeyValid(bool apiKeyValid) {
    const auto key = apiKeyValidKey();
    if (!key) return;
    std::lock_guard lock(apiKeyValidMutex_);
    auto& defaults = platform::UserDefaults::standard();
    if (storedApiKeyValidity(defaults, *key) == apiKeyValid) return;
    // Only a rejected key leaves a trace.
    if (apiKeyValid) {
        defaults.removeObjectForKey(*key);
    } else {
        defaults.setBool(*key, false);
    }
}

// MARK: - Sync URLs

std::string CVAXAPI::urlStringForSyncEndpoint(std::string_view endpoint, OptionalText solutionId,
                                              OptionalText language) const {
    std::string url = currentBaseUrl();
    url += "sync/";
    url += endpoint;
    url += "?solutionId=";
    if (solutionId) {
        url += *solutionId;
    } else {
        url += CVContentContext::apiKey().value_or("");
    }
    url += "&lr=";
    if (language) {
        url += *language;
    } else {
        url += CVContentContext::language();
    }
    url += "&v=";
    url += CVAXAPIConfig::apiVersion();
    return url;
}

std::string CVAXAPI::datasetSizeSyncUrl() const { return getDatasetSizeSyncUrlForSolutionId({}, {}); }
std::string CVAXAPI::graphSyncUrl() const { return graphSyncUrlForSolutionId({}, {}); }
std::string CVAXAPI::locationSyncUrl() const { return locationSyncUrlForSolutionId({}, {}); }
std::string CVAXAPI::venueSyncUrl() const { return venueSyncUrlForSolutionId({}, {}); }
std::string CVAXAPI::buildingSyncUrl() const { return buildingSyncUrlForSolutionId({}, {}); }
std::string CVAXAPI::solutionSyncUrl() const { return solutionSyncUrlForSolutionId({}, {}); }
std::string CVAXAPI::appDataSyncUrl() const { return appDataSyncUrlForSolutionId({}, {}); }
std::string CVAXAPI::categorySyncUrl() const { return categorySyncUrlForSolutionId({}, {}); }
std::string CVAXAPI::tileSyncUrl() const { return tileSyncUrlForSolutionId({}, {}); }
std::string CVAXAPI::userRolesSyncUrl() const { return userRolesSyncUrlForSolutionId({}, {}); }

std::string CVAXAPI::getDatasetSizeSyncUrlForSolutionId(OptionalText solutionId, OptionalText language) const {
    return urlStringForSyncEndpoint("dataset", solutionId, language);
}

std::string CVAXAPI::dataSetSyncUrlForSolutionId(OptionalText solutionId, OptionalText language) const {
    return urlStringForSyncEndpoint("dataset", solutionId, language);
}

std::string CVAXAPI::graphSyncUrlForSolutionId(OptionalText solutionId, OptionalText language) const {
    return urlStringForSyncEndpoint("graph", solutionId, language);
}

std::string CVAXAPI::graphSyncUrlForSolutionId(OptionalText solutionId, OptionalText language,
                                               std::string_view venueId) const {
    return venueRestricted(graphSyncUrlForSolutionId(solutionId, language), venueId);
}

std::string CVAXAPI::locationSyncUrlForSolutionId(OptionalText solutionId, OptionalText language) const {
    return locationSyncUrlForSolutionId(solutionId, language, {});
}

std::string CVAXAPI::locationSyncUrlForSolutionId(OptionalText solutionId, OptionalText language,
                                                  const std::vector<CVUserRole>& userRoles) const {
    std::string url = urlStringForSyncEndpoint("locations", solutionId, language);
    if (userRoles.empty()) return url;
    url += "&appUserRoleIds=";
    std::unordered_set<std::string_view> seen;
    bool first = true;
    for (const auto& role : userRoles) {
        if (!seen.insert(role.userRoleId).second) continue;
        if (!first) url += ',';
        url += role.userRoleId;
        first = false;
    }
    return url;
}

std::string CVAXAPI::locationSyncUrlForSolutionId(OptionalText solutionId, OptionalText language,
                                                  const std::vector<CVUserRole>& userRoles,
                                                  std::string_view venueId) const {
    return venueRestricted(locationSyncUrlForSolutionId(solutionId, language, userRoles), venueId);
}

std::string CVAXAPI::venueSyncUrlForSolutionId(OptionalText solutionId, OptionalText language) const {
    return urlStringForSyncEndpoint("venues", solutionId, language);
}

std::string CVAXAPI::buildingSyncUrlForSolutionId(OptionalText solutionId, OptionalText language) const {
    return urlStringForSyncEndpoint("buildings", solutionId, language);
}

std::string CVAXAPI::buildingSyncUrlForSolutionId(OptionalText solutionId, OptionalText language,
                                                  std::string_view venueId) const {
    return venueRestricted(buildingSyncUrlForSolutionId(solutionId, language), venueId);
}

std::string CVAXAPI::solutionSyncUrlForSolutionId(OptionalText solutionId, OptionalText language) const {
    return urlStringForSyncEndpoint("solutions", solutionId, language);
}

std::string CVAXAPI::appDataSyncUrlForSolutionId(OptionalText solutionId, OptionalText language) const {
    return urlStringForSyncEndpoint("appconfig", solutionId, language);
}

std::string CVAXAPI::categorySyncUrlForSolutionId(OptionalText solutionId, OptionalText language) const {
    return urlStringForSyncEndpoint("categories", solutionId, language);
}

std::string CVAXAPI::tileSyncUrlForSolutionId(OptionalText solutionId, OptionalText language) const {
    return urlStringForSyncEndpoint("tiles", solutionId, language);
}

std::string CVAXAPI::userRolesSyncUrlForSolutionId(OptionalText solutionId, OptionalText language) const {
    return urlStringForSyncEndpoint("appuserroles", solutionId, language);
}

std::string CVAXAPI::routeLayerSyncUrlForSolutionId(OptionalText solutionId, OptionalText language) const {
    return urlStringForSyncEndpoint("routelayer", solutionId, language);
}

std::string CVAXAPI::derivedGeometrySyncUrlForSolutionId(OptionalText solutionId, OptionalText language) const {
    return urlStringForSyncEndpoint("derivedGeometry", solutionId, language);
}

std::string CVAXAPI::derivedGeometrySyncUrlForSolutionId(OptionalText solutionId, OptionalText language,
                                                         std::string_view venueId) const {
    return venueRestricted(derivedGeometrySyncUrlForSolutionId(solutionId, language), venueId);
}

std::vector<std::string> CVAXAPI::allEndpointUrlsForSyncingSolutionId(OptionalText solutionId,
                                                                      OptionalText language) const {
    return {
        graphSyncUrlForSolutionId(solutionId, language),
        venueSyncUrlForSolutionId(solutionId, language),
        buildingSyncUrlForSolutionId(solutionId, language),
        solutionSyncUrlForSolutionId(solutionId, language),
        appDataSyncUrlForSolutionId(solutionId, language),
        categorySyncUrlForSolutionId(solutionId, language),
        userRolesSyncUrlForSolutionId(solutionId, language),
        routeLayerSyncUrlForSolutionId(solutionId, language),
        locationSyncUrlForSolutionId(solutionId, language, CVContentContext::userRoles()),
    };
}

// MARK: - Other URLs

std::string CVAXAPI::gatewayUrl() const {
    std::string url = currentBaseUrl();
    const auto apiKey = CVContentContext::apiKey();
    if (apiKey && !apiKey->empty()) {
        appendKeySegment(url, *apiKey);
        url += "/api";
    } else {
        url += "api";
    }
    return url;
}

std::string CVAXAPI::apiKeyValidationUrl(std::string_view apiKey) const {
    std::string url = currentBaseUrl();
    appendKeySegment(url, apiKey);
    url += "/api/validateapikey";
    return url;
}

std::string CVAXAPI::loggingUrl(OptionalText apiKey) const {
    if (!apiKey || apiKey->empty()) return {};
    return appendingPathComponent(appendingKeyComponent(currentBaseUrl(), *apiKey), "api/logpackage");
}

std::string CVAXAPI::liveDataUrl(std::string_view pathComponent, OptionalText apiKey) const {
    std::string url = "https://";
    url += useDevEnvironment() ? CVAXAPIConfig::kLiveDataApiDevHost : CVAXAPIConfig::kLiveDataApiHost;
    url += "/api";
    url = appendingPathComponent(std::move(url), pathComponent);
    if (apiKey) url = appendingKeyComponent(std::move(url), *apiKey);
    return url;
}

std::string CVAXAPI::liveDataStateUrl(std::string_view topic) const {
    std::string url = liveDataUrl("state", std::nullopt);
    url += "?topic=";
    url += topic;
    return url;
}

std::string CVAXAPI::liveUpdateUrl() const {
    return std::string(useDevEnvironment() ? CVAXAPIConfig::kLiveUpdateBrokerDevHost
                                           : CVAXAPIConfig::kLiveUpdateBrokerHost);
}

std::string CVAXAPI::urlForBookingServiceEndpoint(OptionalText endpoint, OptionalText solutionId) const {
    std::string url = "https://";
    url += useDevEnvironment() ? CVAXAPIConfig::kBookingApiDevHost : CVAXAPIConfig::kBookingApiHost;
    url += '/';
    appendKeySegment(url, solutionId ? *solutionId : CVContentContext::apiKey().value_or(""));
    url += "/api/booking";
    if (endpoint) {
        url += '/';
        url += *endpoint;
    }
    return url;
}

std::string CVAXAPI::urlForFetchingBookableLocations(OptionalText solutionId) const {
    return urlForBookingServiceEndpoint("available", solutionId);
}

std::string CVAXAPI::urlForFetchingLocationsConfiguredForBooking(OptionalText solutionId) const {
    return urlForBookingServiceEndpoint("bookable", solutionId);
}

std::string CVAXAPI::urlForFetchingLocationBookings(OptionalText solutionId) const {
    return urlForBookingServiceEndpoint("locationbookings", solutionId);
}

std::string CVAXAPI::urlForFetchingUserBookings(OptionalText solutionId) const {
    return urlForBookingServiceEndpoint("userbookings", solutionId);
}

std::string CVAXAPI::urlForBooking(OptionalText solutionId) const {
    return urlForBookingServiceEndpoint(std::nullopt, solutionId);
}

// MARK: - Backend URLs

bool CVAXAPI::isAmbrellBackendUrl(OptionalText url) const {
    if (!url) return false;
    if (url->starts_with(currentBaseUrl())) return true;
    return isServiceApiUrl(*url);
}

std::string CVAXAPI::urlByNormalizingAmbrellBackendUrls(std::string_view url) const {
    if (!isAmbrellBackendUrl(url)) return std::string(url);
    auto parsed = boost::urls::parse_uri_reference(url);
    // Without an authority there is no host to replace; inventing one would
    // turn a path into a different URL.
    if (!parsed || !parsed->has_authority()) return std::string(url);
    boost::urls::url normalized(*parsed);
    normalized.set_host_name(CVAXAPIConfig::kProductionApiHost);
    return std::string(normalized.buffer());
}

bool CVAXAPI::isEqualAmbrellBackendUrl(std::string_view url, std::string_view otherUrl) const {
    return urlByNormalizingAmbrellBackendUrls(url) == urlByNormalizingAmbrellBackendUrls(otherUrl);
}

}  // namespace ambrell
