// Binding the core state to an API key, reloading the key's solution and the
// offline check: the operations the entry object runs at every load and reset.

#include <string>

#include "Ambrell/CVLog.h"
#include "data/AmbrellLegacy.h"
#include "data/CVAppDataProvider.h"
#include "data/CVCategoriesProvider.h"
#include "data/CVModelCache.h"
#include "data/CVOfflineBundleHelper.h"
#include "data/CVSolutionProvider.h"
#include "data/CVUserRoleProvider.h"
#include "data/CVVenueProvider.h"
#include "data/DataSetManager/CVDataSetCacheManagerInternal.h"
#include "data/DataSetManager/CVTileCache.h"
#include "foundation/CVAXAPI.h"
#include "foundation/CVLogger.h"
#include "platform/UserDefaults.h"

namespace ambrell {

namespace {

constexpr std::string_view kSolutionIdKey = "ax-solution-id";

// Stands for the core state among the tile cache's observers.
const char kTileCacheObserver = 0;

// The strategy tiles are served by after a bind: the package only while the
// key's data set synchronises it.
void chooseTileStrategy(CVTileCache& tiles, bool haveBundledTiles, const std::shared_ptr<CVDataSetCache>& current) {
    const auto item = current ? current->cacheItem() : nullptr;
    const bool fullScope = item && item->cachingScope() == rawValue(CVDataSetCachingScope::full);
    const bool package =
        tiles.strategy() == CVTileCacheStrategy::tilePackage ? fullScope : haveBundledTiles && fullScope;
    tiles.setStrategy(package ? CVTileCacheStrategy::tilePackage : CVTileCacheStrategy::online);
}

}  // namespace

bool AmbrellLegacy::provideAPIKey(std::optional<std::string> apiKey, Completion completion) {
    return provideSolutionId(std::move(apiKey), std::move(completion));
}

bool AmbrellLegacy::provideSolutionId(std::optional<std::string> solutionId, Completion completion) {
    if (!solutionId) return false;
    initialize();
    const std::string key = std::move(*solutionId);
    // Stored first: the steps below (tile-data key, current data set) read it.
    setApiKey(key);
    clearCacheIfVersionChanged();
    setAuthCallback({});
    if (const auto bundled = CVOfflineBundleHelper::offlineDataSolutionId(); bundled && *bundled != key) {
        CVLog::core().debug(
            "+[AmbrellLegacy provideSolutionId:completion:] [W] NOT using bundled data! App has bundled data, but "
            "for a different datasetId.");
    }
    // What is stored is the date of tiles of an earlier bind; the app's own
    // tiles for this key show through once it is gone.
    CVOfflineBundleHelper::setTileDataTimestamp(std::nullopt);
    setOfflineDataAvailable(false);
    setApiKey(key);
    CVLogger::sharedInstance()->setApiKey(key);
    const bool haveBundledTiles = CVOfflineBundleHelper::tileDataTimestamp().has_value();

    const auto manager = dataSetCacheManager();
    if (manager->addDataSet(key)) {
        if (const auto added = manager->internalDataSetWithId(key)) {
            const auto item = added->cacheItem();
            added->setCachingStrategy(rawValue(CVDataSetCachingStrategy::sdkManaged));
            manager->setCachingStrategy(rawValue(CVDataSetCachingStrategy::sdkManaged), item);
            manager->setCachingScope(haveBundledTiles ? rawValue(CVDataSetCachingScope::full)
                                                      : rawValue(CVDataSetCachingScope::basic),
                                     item);
        }
    }
    manager->registerActiveDataSetId(key);
    const auto current = manager->dataSetForCurrentAmbrellAPIKey();
    platform::UserDefaults::standard().setString(kSolutionIdKey, key);

    const auto tiles = CVTileCache::defaultTileCache();
    tiles->setBasePath(manager->pathForCachingDataSetId(key));
    chooseTileStrategy(*tiles, haveBundledTiles, current);
    tileCacheUnobserveTileCacheInvalidationNotifications(&kTileCacheObserver);

    CVAXAPI::sharedInstance()->refreshSessionWithCompletion([key, completion = std::move(completion)] {
        onSessionRefreshed();
        if (CVAXAPI::sharedInstance()->isAuthorised()) {
            reloadContent(key, completion);
        } else if (completion) {
            completion();
        }
    });
    return true;
}

void AmbrellLegacy::unProvideAPIKey() {
    initialize();
    setApiKey(std::nullopt);
    setSolution(nullptr);
    memoryCache()->clearCache();
}

void AmbrellLegacy::reloadContent(std::optional<std::string> apiKey, Completion completion) {
    // A request keeps its provider alive until it has answered.
    std::make_shared<CVSolutionProvider>()->getSolutionWithCompletion(
        [apiKey = std::move(apiKey), completion = std::move(completion)](
            std::shared_ptr<CVSolutionInternal> solution, const std::optional<platform::NSError>& /*error*/) {
            if (solution && apiKey && getAmbrellAPIKey() == apiKey) {
                const std::string solutionId = solution->solutionId;
                setSolution(std::move(solution));
                checkOfflineDataAvailability();
                if (const auto dataSet = dataSetCacheManager()->internalDataSetWithId(*apiKey)) {
                    dataSet->setRealDatasetId(solutionId);
                }
            }
            if (completion) completion();
        });
}

bool AmbrellLegacy::checkOfflineDataAvailability() {
    const auto key = getAmbrellAPIKey();
    const std::string language = getLanguage();
    bool available = false;
    if (key && !key->empty() && !language.empty()) {
        if (CVOfflineBundleHelper::offlineDataSolutionId() == *key) {
            available = true;
        } else {
            // Every provider is asked, so each logs its answer.
            const bool solution = CVSolutionProvider::isOfflineDataAvailableForSolutionId(*key);
            const bool venues = CVVenueProvider::isOfflineDataAvailableForSolutionId(*key, language);
            const bool categories = CVCategoriesProvider::isOfflineDataAvailableForSolutionId(*key, language);
            const bool appData = CVAppDataProvider::isOfflineDataAvailableForSolutionId(*key, language);
            const bool userRoles = CVUserRoleProvider::isOfflineDataAvailableForSolutionId(*key, language);
            available = solution && venues && categories && appData && userRoles;
        }
    }
    CVLog::core().debug("AmbrellLegacy.isOfflineDataAvailable = {}", available ? "YES" : "NO");
    setOfflineDataAvailable(available);
    return available;
}

void AmbrellLegacy::checkOfflineDataAvailabilityAsync(Completion completion) {
    if (!completion) return;
    initialize();
    if (isOfflineDataAvailable()) {
        completion();
        return;
    }
    std::make_shared<CVSolutionProvider>()->getSolutionWithCompletion(
        [completion = std::move(completion)](std::shared_ptr<CVSolutionInternal> solution,
                                             const std::optional<platform::NSError>& /*error*/) {
            if (solution) checkOfflineDataAvailability();
            completion();
        });
}

}  // namespace ambrell
