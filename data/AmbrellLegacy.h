#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Error.h"
#include "platform/NotificationCenter.h"

namespace ambrell {

class CVAuthDetails;
class CVDataSetCacheManagerInternal;
class CVPositionProvider;
class CVRouteNetworkData;
class CVSolutionInternal;

// Posted by setPositionProvider() before the new provider is stored.
[[nodiscard]] const platform::NotificationName& CVPositionProviderReassignedNotification();

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

    AmbrellLegacy() = delete;

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

    // Test-only: every field back to its start value.
    static void resetForTesting();
};

}  // namespace ambrell
