#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Error.h"
#include "platform/NotificationCenter.h"

namespace ambrell {

class CVAuthDetails;
class CVDataSetCacheManagerInternal;
class CVModelCache;
class CVPositionProvider;
class CVRouteNetworkData;
class CVSolutionInternal;

// Posted by setPositionProvider() before the new provider is stored.
[[nodiscard]] const platform::NotificationName& CVPositionProviderReassignedNotification();
// "AMBRELL_API_KEY_INVALID", with no object, on the default centre, on the
// thread that reports the end of a session refresh that found the key rejected.
[[nodiscard]] const platform::NotificationName& kNotificationAmbrellApiKeyInvalid();

// The process-wide state of the content data layer: the API key it is bound to
// (also the solution id and the id of the solution's data set), the solution
// loaded for it, the offline flag, the host's position provider and the loaded
// route networks. Never instantiated. Safe from any thread.
//
// Its first use makes the service foundation read the bound key and the
// content language from here.
class AmbrellLegacy {
public:
    using AuthCallback = std::function<void(std::shared_ptr<const CVAuthDetails>, std::optional<platform::NSError>)>;
    using UnderlyingErrors = std::vector<std::shared_ptr<const platform::NSError>>;
    using Completion = std::function<void()>;

    AmbrellLegacy() = delete;

    // The class's start-up, once per process (the operations below that the
    // host or the entry object calls run it first): records "sdk_loaded",
    // follows the application's foreground and background notifications and
    // starts the shared reachability monitoring.
    static void initialize();

    // Binding. Binds the layer to the key: stores it, clears the "ax-" user
    // defaults when the SDK version changed, registers the key's data set
    // (SDK-managed, scope full when the app carries map tiles for the key),
    // points the default tile cache at it and chooses its strategy, then
    // refreshes the session and reloads the solution.
    //   Completes: once, on the main queue (where the session refresh reports
    //     and the solution answers), also when no solution came: at the
    //     refresh's end while the session is not authorised, else after the
    //     solution's answer.
    //   Errors: none reported; an absent key answers false, changes nothing
    //     and never calls the completion.
    //   Cancelling: not possible; a bind made meanwhile keeps a late solution
    //     of the previous key out.
    static bool provideAPIKey(std::optional<std::string> apiKey, Completion completion);
    static bool provideSolutionId(std::optional<std::string> solutionId, Completion completion);
    // Key and solution become absent; the model memory cache is emptied.
    static void unProvideAPIKey();
    // Fetches the solution of the bound key; stored only while `apiKey` is
    // still bound. Completes once, on the main queue (at once on the caller's
    // thread while no key is bound); errors are not reported.
    static void reloadContent(std::optional<std::string> apiKey, Completion completion);
    // Once per process "AX_VERSION" is compared with the SDK version and then
    // written; at every call after a change the "ax-" values are cleared.
    static void clearCacheIfVersionChanged();

    // Offline availability of the bound key's content in the current
    // language; stores and answers the flag.
    static bool checkOfflineDataAvailability();
    // A none completion does nothing. With the flag already set, completes at
    // once on the caller's thread; otherwise fetches the solution first and
    // completes on the main queue (on the caller's thread while unbound).
    static void checkOfflineDataAvailabilityAsync(Completion completion);

    // Host settings.
    // A change of the stored language is recorded as a usage event.
    static void setLanguage(std::string_view language);
    static void setEventLoggingDisabled(bool disabled);
    [[nodiscard]] static bool eventLoggingDisabled();
    // The first token to arrive while unauthorised fetches the solution.
    static void setAccessToken(std::optional<std::string> accessToken);
    [[nodiscard]] static std::optional<std::string> accessToken();
    // Stores the callback (until the next bind) and calls it at once when
    // sign-in details are known, then after every session refresh.
    static void fetchAuthenticationDetails(AuthCallback callback);
    static void notifyAuthDetails();
    static void onSessionRefreshed();

    // Lifecycle handlers: usage events "entered_foreground" and
    // "entered_background" (after which the usage log is uploaded).
    static void willEnterForeground(const platform::Notification& notification);
    static void didEnterBackground(const platform::Notification& notification);

    // The model memory cache of all providers, made once on first use.
    [[nodiscard]] static std::shared_ptr<CVModelCache> memoryCache();

    // The bound key; none while unbound.
    [[nodiscard]] static std::optional<std::string> getAmbrellAPIKey();
    // Always none: maps come from elsewhere.
    [[nodiscard]] static std::optional<std::string> getGoogleAPIKey();
    [[nodiscard]] static std::shared_ptr<CVSolutionInternal> solution();
    // The stored content language, "en" when none is stored.
    [[nodiscard]] static std::string getLanguage();
    [[nodiscard]] static bool isOfflineDataAvailable();

    // The process-wide data-set cache manager, bound on the first call: that
    // call also starts a session refresh when there is no session token, and
    // registers the data set of the solution the host app carries offline
    // (SDK-managed, scope full when it carries tiles, else basic).
    [[nodiscard]] static std::shared_ptr<CVDataSetCacheManagerInternal> dataSetCacheManager();

    // The library's domain, code kDataLoadingFailed; the errors, when given (even
    // none), under "syncContent::underlyingError".
    [[nodiscard]] static platform::NSError createDataLoadingErrorWithUnderlyingErrors(
        std::optional<UnderlyingErrors> errors);

    // Posts "CV_POSITION_PROVIDER_REASSIGNED" on the calling thread with the
    // new provider (std::shared_ptr<CVPositionProvider>) as the object, or no
    // object for none; observers still read the previous provider. Then stores it.
    static void setPositionProvider(std::shared_ptr<CVPositionProvider> provider);
    [[nodiscard]] static std::shared_ptr<CVPositionProvider> positionProvider();

    // The layer never looks inside the graph.
    static void setLoadedGraph(std::shared_ptr<CVRouteNetworkData> graph);
    [[nodiscard]] static std::shared_ptr<CVRouteNetworkData> getLoadedGraph();

    // The fields the binding and the lifecycle of the layer write.
    static void setApiKey(std::optional<std::string> apiKey);
    static void setSolution(std::shared_ptr<CVSolutionInternal> solution);
    static void setOfflineDataAvailable(bool available);
    static void setAuthCallback(AuthCallback callback);
    [[nodiscard]] static AuthCallback authCallback();
    static void setVersionWasChanged(bool changed);
    [[nodiscard]] static bool versionWasChanged();

    // Test-only: every field back to its start value; the start-up and the
    // version check run again on next use.
    static void resetForTesting();
};

}  // namespace ambrell
