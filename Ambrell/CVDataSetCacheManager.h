#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Ambrell/CVDataSetCache.h"
#include "Ambrell/CVDataSetCacheItem.h"
#include "platform/Error.h"

namespace ambrell {

class CVDataSetCacheManager;

// Told about data sets coming and going and about synchronisations. Every
// operation is optional (the defaults do nothing) and gets the manager first.
// The add and remove calls come on the thread that asked for the change; see
// CVDataSetCacheManager for the synchronisation calls.
class CVDataSetCacheManagerDelegate {
public:
    virtual ~CVDataSetCacheManagerDelegate() = default;

    virtual void dataSetManagerDidAddDataSet(CVDataSetCacheManager& /*manager*/,
                                             const std::shared_ptr<CVDataSetCache>& /*dataSet*/) {}
    virtual void dataSetManagerDidRemoveDataSet(CVDataSetCacheManager& /*manager*/,
                                                const std::shared_ptr<CVDataSetCache>& /*dataSet*/) {}
    virtual void dataSetManagerWillStartSynchronizingItem(CVDataSetCacheManager& /*manager*/,
                                                          const std::shared_ptr<CVDataSetCacheItem>& /*item*/) {}
    virtual void dataSetManagerDidFinishSynchronizingItem(CVDataSetCacheManager& /*manager*/,
                                                          const std::shared_ptr<CVDataSetCacheItem>& /*item*/) {}
    virtual void dataSetManagerWillStartSynchronizingDataSet(CVDataSetCacheManager& /*manager*/,
                                                             const std::shared_ptr<CVDataSetCache>& /*dataSet*/) {}
    virtual void dataSetManagerDidFinishSynchronizingDataSet(CVDataSetCacheManager& /*manager*/,
                                                             const std::shared_ptr<CVDataSetCache>& /*dataSet*/) {}
    virtual void dataSetManagerWillStartSynchronizing(CVDataSetCacheManager& /*manager*/) {}
    virtual void dataSetManagerDidFinishSynchronizing(CVDataSetCacheManager& /*manager*/) {}
};

// Told what a synchronisation of some data sets would download. Every
// operation is optional. The start calls come on the thread that asked, the
// others on the main queue.
class CVDataSetCacheManagerSizeDelegate {
public:
    virtual ~CVDataSetCacheManagerSizeDelegate() = default;

    virtual void dataSetManagerWillStartFetchingSyncSizes(CVDataSetCacheManager& /*manager*/) {}
    virtual void dataSetManagerWillStartFetchingSyncSizesForDataSet(
        CVDataSetCacheManager& /*manager*/, const std::shared_ptr<CVDataSetCache>& /*dataSet*/) {}
    virtual void dataSetManagerDidFetchSyncSizesForDataSet(CVDataSetCacheManager& /*manager*/,
                                                           const std::shared_ptr<CVDataSetCache>& /*dataSet*/) {}
    virtual void dataSetManagerDidFinishFetchingSyncSizes(CVDataSetCacheManager& /*manager*/) {}
};

// Keeps offline copies of whole solutions on disk (data sets) and brings them
// up to date with the web service.
//
// Synchronisation:
//   Completes: the per-item completion once per scheduled item, with the
//     item's sync result, and the overall completion once when the run ends
//     (at once when the call schedules nothing and no run is going), both on
//     the main queue. The delegate hears will-start-synchronizing, then
//     will-start per data set and per item on the calling thread; then on the
//     main queue did-finish per item, did-finish per data set after its last
//     item, and did-finish-synchronizing after the last data set; the overall
//     completions run after that.
//   Errors: the overall completion never gets one. An item's sync result is
//     kDataLoadingFailed with the failures under
//     "syncContent::underlyingError", or kDataSyncCancelled when cancelled.
//     Each failure names the URL it failed in its description and under
//     NSErrorFailingURLStringKey.
//   Cancelling: stops the items' tasks that have not finished; their items
//     finish with kDataSyncCancelled and the run ends as usual.
class CVDataSetCacheManager {
public:
    using Completion = std::function<void(std::optional<platform::NSError>)>;
    using ItemCompletion =
        std::function<void(const std::shared_ptr<CVDataSetCacheItem>&, std::optional<platform::NSError>)>;
    using DataSets = std::vector<std::shared_ptr<CVDataSetCache>>;
    using Items = std::vector<std::shared_ptr<CVDataSetCacheItem>>;

    CVDataSetCacheManager() = default;
    CVDataSetCacheManager(const CVDataSetCacheManager&) = delete;
    CVDataSetCacheManager& operator=(const CVDataSetCacheManager&) = delete;
    virtual ~CVDataSetCacheManager() = default;

    [[nodiscard]] virtual DataSets managedDataSets() const = 0;
    [[nodiscard]] virtual std::shared_ptr<CVDataSetCache> dataSetWithId(std::string_view dataSetId) const = 0;
    [[nodiscard]] virtual std::shared_ptr<CVDataSetCache> existingDataSetCacheForId(
        std::string_view dataSetId) const = 0;
    [[nodiscard]] virtual std::shared_ptr<CVDataSetCache> dataSetForCurrentAmbrellAPIKey() const = 0;

    // The new data set; null when one with that id is managed already.
    virtual std::shared_ptr<CVDataSetCache> addDataSet(std::string_view dataSetId) = 0;
    virtual std::shared_ptr<CVDataSetCache> addDataSet(std::string_view dataSetId, std::int64_t cachingScope) = 0;
    // Deletes the data set's folder. False when it is not managed, or when it
    // is the current API key's, which is kept and handed to the library.
    virtual bool removeDataSet(const std::shared_ptr<CVDataSetCache>& dataSet) = 0;

    virtual bool setCachingStrategy(std::int64_t strategy, const std::shared_ptr<CVDataSetCacheItem>& item) = 0;
    // False when the scope is the item's already or the item is not managed here.
    virtual bool setCachingScope(std::int64_t scope, const std::shared_ptr<CVDataSetCacheItem>& item) = 0;

    // Every host-managed data set and the current API key's.
    virtual void synchronizeContent() = 0;
    virtual void synchronizeContent(Completion completion) = 0;
    virtual void synchronizeCurrentDataSetContent(ItemCompletion perItemCompletion) = 0;
    virtual void synchronizeCacheItems(const Items& items) = 0;
    virtual void synchronizeCacheItems(const Items& items, Completion completion) = 0;
    virtual void synchronizeCacheItems(const Items& items, Completion completion, ItemCompletion perItemCompletion) = 0;
    virtual void cancelSynchronization() = 0;
    virtual void cancelSynchronizationOfCacheItems(const Items& items) = 0;

    // Fetches the web service's description of each data set, which sizes
    // what a synchronisation of its scope would download. Failed fetches keep
    // the previous description.
    virtual void fetchSyncSizesForDataSetCaches(const DataSets& dataSets,
                                                std::shared_ptr<CVDataSetCacheManagerSizeDelegate> delegate) = 0;

    [[nodiscard]] virtual std::shared_ptr<CVDataSetCacheManagerDelegate> delegate() const = 0;
    virtual void setDelegate(std::shared_ptr<CVDataSetCacheManagerDelegate> delegate) = 0;
    [[nodiscard]] virtual bool isSyncing() const = 0;
};

}  // namespace ambrell
