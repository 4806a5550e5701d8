#include "data/AmbrellLegacy.h"

#include <any>
#include <mutex>

#include "Ambrell/CVErrorCodes.h"
#include "data/CVCoreStateLifecycle.h"
#include "data/CVLanguageSupport.h"
#include "data/CVModelCache.h"
#include "data/CVOfflineBundleHelper.h"
#include "data/DataSetManager/CVDataSetCacheManagerInternal.h"
#include "foundation/CVAXAPI.h"
#include "foundation/CVContentContext.h"

namespace ambrell {

namespace {

constexpr std::string_view kUnderlyingErrorsKey = "syncContent::underlyingError";

struct Fields {
    std::optional<std::string> apiKey;
    std::shared_ptr<CVSolutionInternal> solution;
    AmbrellLegacy::AuthCallback authCallback;
    bool isOfflineDataAvailable = false;
    bool versionWasChanged = false;
    std::shared_ptr<CVPositionProvider> positionProvider;
    std::shared_ptr<CVRouteNetworkData> graph;
    std::shared_ptr<CVDataSetCacheManagerInternal> dataSetCacheManager;
};

struct State {
    std::mutex mutex;
    Fields fields;
};

void installContentReaders() {
    CVContentContext::setApiKeyReader([] { return AmbrellLegacy::getAmbrellAPIKey(); });
    CVContentContext::setLanguageReader([] { return CVLanguageSupport::ax_getLanguage(); });
}

State& state() {
    // Never destroyed: providers may read the key from static destructors.
    static State* const instance = [] {
        auto* created = new State();
        installContentReaders();
        return created;
    }();
    return *instance;
}

template <typename Read>
auto read(Read&& reader) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    return reader(s.fields);
}

// The old value leaves with the parameter, after the lock is released: its
// destructor may come back here.
template <typename T>
void replace(T Fields::*member, T value) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    std::swap(s.fields.*member, value);
}

}  // namespace

const platform::NotificationName& CVPositionProviderReassignedNotification() {
    static const platform::NotificationName name{"CV_POSITION_PROVIDER_REASSIGNED"};
    return name;
}

const platform::NotificationName& kNotificationAmbrellApiKeyInvalid() {
    static const platform::NotificationName name{"AMBRELL_API_KEY_INVALID"};
    return name;
}

std::shared_ptr<CVModelCache> AmbrellLegacy::memoryCache() { return CVModelCache::memoryCache(); }

std::optional<std::string> AmbrellLegacy::getAmbrellAPIKey() {
    return read([](const Fields& f) { return f.apiKey; });
}

std::optional<std::string> AmbrellLegacy::getGoogleAPIKey() { return std::nullopt; }

std::shared_ptr<CVSolutionInternal> AmbrellLegacy::solution() {
    return read([](const Fields& f) { return f.solution; });
}

std::string AmbrellLegacy::getLanguage() {
    state();  // the readers are in place whenever the language is asked here
    return CVLanguageSupport::ax_getLanguage().value_or("en");
}

bool AmbrellLegacy::isOfflineDataAvailable() {
    return read([](const Fields& f) { return f.isOfflineDataAvailable; });
}

std::shared_ptr<CVDataSetCacheManagerInternal> AmbrellLegacy::dataSetCacheManager() {
    if (auto bound = read([](const Fields& f) { return f.dataSetCacheManager; })) return bound;
    // Made outside the lock: loading the data sets reads the language from here.
    auto manager = CVDataSetCacheManagerInternal::sharedInstance();
    {
        auto& s = state();
        std::lock_guard lock(s.mutex);
        if (s.fields.dataSetCacheManager) return s.fields.dataSetCacheManager;
        // Bound before the steps below, so that what they reach sees it.
        s.fields.dataSetCacheManager = manager;
    }
    const auto settings = CVAXAPI::sharedInstance();
    if (!settings->sessionToken()) settings->refreshSessionWithCompletion([] {});
    if (const auto bundled = CVOfflineBundleHelper::offlineDataSolutionId()) {
        if (const auto dataSet = manager->addDataSet(*bundled)) {
            const auto item = dataSet->cacheItem();
            manager->setCachingStrategy(rawValue(CVDataSetCachingStrategy::sdkManaged), item);
            manager->setCachingScope(CVOfflineBundleHelper::offlineDataHaveMapTilesForSolution(*bundled)
                                         ? rawValue(CVDataSetCachingScope::full)
                                         : rawValue(CVDataSetCachingScope::basic),
                                     item);
        }
    }
    return manager;
}

platform::NSError AmbrellLegacy::createDataLoadingErrorWithUnderlyingErrors(std::optional<UnderlyingErrors> errors) {
    platform::NSError error{std::string(kAmbrellErrorDomain), AmbrellErrorCode::kDataLoadingFailed, {}};
    if (errors) error.userInfo.emplace(kUnderlyingErrorsKey, std::move(*errors));
    return error;
}

void AmbrellLegacy::setPositionProvider(std::shared_ptr<CVPositionProvider> provider) {
    std::any object;
    if (provider) object = provider;
    platform::NotificationCenter::defaultCenter().post(CVPositionProviderReassignedNotification(), std::move(object));
    replace(&Fields::positionProvider, std::move(provider));
}

std::shared_ptr<CVPositionProvider> AmbrellLegacy::positionProvider() {
    return read([](const Fields& f) { return f.positionProvider; });
}

void AmbrellLegacy::setLoadedGraph(std::shared_ptr<CVRouteNetworkData> graph) {
    replace(&Fields::graph, std::move(graph));
}

std::shared_ptr<CVRouteNetworkData> AmbrellLegacy::getLoadedGraph() {
    return read([](const Fields& f) { return f.graph; });
}

void AmbrellLegacy::setApiKey(std::optional<std::string> apiKey) { replace(&Fields::apiKey, std::move(apiKey)); }

void AmbrellLegacy::setSolution(std::shared_ptr<CVSolutionInternal> solution) {
    replace(&Fields::solution, std::move(solution));
}

void AmbrellLegacy::setOfflineDataAvailable(bool available) { replace(&Fields::isOfflineDataAvailable, available); }

void AmbrellLegacy::setAuthCallback(AuthCallback callback) { replace(&Fields::authCallback, std::move(callback)); }

AmbrellLegacy::AuthCallback AmbrellLegacy::authCallback() {
    return read([](const Fields& f) { return f.authCallback; });
}

void AmbrellLegacy::setVersionWasChanged(bool changed) { replace(&Fields::versionWasChanged, changed); }

bool AmbrellLegacy::versionWasChanged() {
    return read([](const Fields& f) { return f.versionWasChanged; });
}

void AmbrellLegacy::resetForTesting() {
    Fields cleared;
    {
        auto& s = state();
        std::lock_guard lock(s.mutex);
        std::swap(s.fields, cleared);
    }
    // A test may have dropped the readers since the state was made.
    installContentReaders();
    CVCoreStateLifecycle::resetForTesting();
}

}  // namespace ambrell
