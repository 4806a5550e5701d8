#include "data/CVCoreStateLifecycle.h"

#include <mutex>

#include "data/AmbrellLegacy.h"
#include "data/CVLanguageSupport.h"
#include "data/CVUserDefaultCache.h"
#include "foundation/CVAXAPI.h"
#include "foundation/CVLogger.h"
#include "foundation/CVNetworkReachabilityManager.h"
#include "foundation/SdkVersion.h"
#include "platform/UserDefaults.h"

namespace ambrell {

namespace {

constexpr std::string_view kVersionKey = "AX_VERSION";

struct OncePerProcess {
    std::mutex mutex;
    bool started = false;
    bool versionChecked = false;
    platform::NotificationCenter::ObserverToken foreground;
    platform::NotificationCenter::ObserverToken background;
};

OncePerProcess& once() {
    // Never destroyed: hosts may post lifecycle notifications from static destructors.
    static auto* const instance = new OncePerProcess();
    return *instance;
}

}  // namespace

const platform::NotificationName& UIApplicationWillEnterForegroundNotification() {
    static const platform::NotificationName name{"UIApplicationWillEnterForegroundNotification"};
    return name;
}

const platform::NotificationName& UIApplicationDidEnterBackgroundNotification() {
    static const platform::NotificationName name{"UIApplicationDidEnterBackgroundNotification"};
    return name;
}

void CVCoreStateLifecycle::resetForTesting() {
    platform::NotificationCenter::ObserverToken foreground;
    platform::NotificationCenter::ObserverToken background;
    {
        auto& state = once();
        std::lock_guard lock(state.mutex);
        state.started = false;
        state.versionChecked = false;
        foreground = std::move(state.foreground);
        background = std::move(state.background);
    }
}

void AmbrellLegacy::initialize() {
    auto& state = once();
    {
        std::lock_guard lock(state.mutex);
        if (state.started) return;
        state.started = true;
    }
    // The rest runs without the lock: the logger and the reachability
    // manager may come back to the core state while they are made.
    CVLogger::event(CVLogEvent::sdkLoaded, CVLogDomain::appLifeTime);
    auto& center = platform::NotificationCenter::defaultCenter();
    auto foreground = center.addObserver(UIApplicationWillEnterForegroundNotification(),
                                         [](const platform::Notification& n) { willEnterForeground(n); });
    auto background = center.addObserver(UIApplicationDidEnterBackgroundNotification(),
                                         [](const platform::Notification& n) { didEnterBackground(n); });
    {
        std::lock_guard lock(state.mutex);
        std::swap(state.foreground, foreground);
        std::swap(state.background, background);
    }
    CVNetworkReachabilityManager::sharedManager()->startMonitoring();
}

void AmbrellLegacy::willEnterForeground(const platform::Notification& /*notification*/) {
    CVLogger::event(CVLogEvent::enteredForeground, CVLogDomain::appLifeTime);
}

void AmbrellLegacy::didEnterBackground(const platform::Notification& /*notification*/) {
    CVLogger::event(CVLogEvent::enteredBackground, CVLogDomain::appLifeTime);
    CVLogger::sharedInstance()->uploadLog();
}

void AmbrellLegacy::clearCacheIfVersionChanged() {
    {
        auto& state = once();
        std::lock_guard lock(state.mutex);
        if (!state.versionChecked) {
            state.versionChecked = true;
            auto& defaults = platform::UserDefaults::standard();
            const auto stored = defaults.stringForKey(kVersionKey);
            setVersionWasChanged(!stored || *stored != sdkVersion());
            defaults.setString(kVersionKey, sdkVersion());
        }
    }
    if (versionWasChanged()) CVUserDefaultCache::clearCache();
}

// MARK: - Host settings

void AmbrellLegacy::setLanguage(std::string_view language) {
    initialize();
    if (!CVLanguageSupport::ax_setLanguage(language)) return;
    CVLogger::event(CVLogEvent::languageChanged, CVLogDomain::configuration,
                    CVLogEntry::Parameters{{"language", std::string(language)}});
}

void AmbrellLegacy::setEventLoggingDisabled(bool disabled) {
    initialize();
    CVLogger::sharedInstance()->setConfiguration(disabled ? CVLoggingConfig::noLogging()
                                                          : CVLoggingConfig::eventLogging());
}

bool AmbrellLegacy::eventLoggingDisabled() {
    return !CVLogger::sharedInstance()->configuration()->eventLoggingEnabled();
}

void AmbrellLegacy::setAccessToken(std::optional<std::string> accessToken) {
    initialize();
    const auto settings = CVAXAPI::sharedInstance();
    const bool wasAuthorised = settings->isAuthorised();
    settings->setAccessToken(std::move(accessToken));
    // A solution held back for lack of a signed-in user loads once a token arrives.
    if (!wasAuthorised) reloadContent(getAmbrellAPIKey(), [] {});
}

std::optional<std::string> AmbrellLegacy::accessToken() { return CVAXAPI::sharedInstance()->accessToken(); }

void AmbrellLegacy::fetchAuthenticationDetails(AuthCallback callback) {
    initialize();
    setAuthCallback(std::move(callback));
    if (CVAXAPI::sharedInstance()->authDetails()) notifyAuthDetails();
}

void AmbrellLegacy::notifyAuthDetails() {
    if (const auto callback = authCallback()) callback(CVAXAPI::sharedInstance()->authDetails(), std::nullopt);
}

void AmbrellLegacy::onSessionRefreshed() {
    if (!CVAXAPI::sharedInstance()->apiKeyValid()) {
        platform::NotificationCenter::defaultCenter().post(kNotificationAmbrellApiKeyInvalid());
    }
    notifyAuthDetails();
}

}  // namespace ambrell
