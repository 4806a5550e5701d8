#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "Ambrell/CVDataSetCacheManager.h"
#include "data/CVDataSetSeams.h"
#include "data/DataSetManager/CVDataSetCacheInternal.h"
#include "data/DataSetManager/CVDataSetCacheItemInternal.h"

namespace ambrell {

namespace platform {
class Operation;
}
class CVDataSetCacheTask;
class CVDataSetCacheWorkScheduler;

// The owner of all data sets on disk: one folder per data set under the root
// folder ("datasets" in the caches folder), found at construction and added
// or removed since. Synchronises their items through task graphs run by one
// work scheduler, reports to a delegate and drops unused SDK-managed sets.
//
// Thread-safe: the data sets and the synchronisation's bookkeeping sit behind
// one re-entrant lock; delegates and completions are called without it,
// except did-add, which comes while the data set is appended. The
// synchronisation's bookkeeping after each item runs on the main queue; see
// CVDataSetCacheManager for what completes where.
class CVDataSetCacheManagerInternal : public CVDataSetCacheManager,
                                      public CVDataSetCachedFiles,
                                      public std::enable_shared_from_this<CVDataSetCacheManagerInternal> {
public:
    using Path = std::filesystem::path;
    using Clock = std::function<std::chrono::system_clock::time_point()>;
    using InternalDataSets = std::vector<std::shared_ptr<CVDataSetCacheInternal>>;

    static constexpr std::chrono::seconds kInactiveDataSetLifetime{604800};

    struct Options {
        Path rootFolder;
        // Made on first use when null; started on first use in any case.
        std::shared_ptr<CVDataSetCacheWorkScheduler> scheduler;
        // The system clock when empty.
        Clock now;
    };

    // Loads the data sets found in the root folder.
    explicit CVDataSetCacheManagerInternal(Options options);
    ~CVDataSetCacheManagerInternal() override;

    // The process-wide manager over Paths::caches()/"datasets", made on first
    // call (thread-safe), which also answers the content models' cached-file
    // questions from then on.
    [[nodiscard]] static std::shared_ptr<CVDataSetCacheManagerInternal> sharedInstance();
    // Test-only: the next sharedInstance() makes a new manager.
    static void resetSharedInstanceForTesting();

    // CVDataSetCacheManager
    [[nodiscard]] DataSets managedDataSets() const override;
    [[nodiscard]] std::shared_ptr<CVDataSetCache> dataSetWithId(std::string_view dataSetId) const override;
    [[nodiscard]] std::shared_ptr<CVDataSetCache> existingDataSetCacheForId(std::string_view dataSetId) const override;
    [[nodiscard]] std::shared_ptr<CVDataSetCache> dataSetForCurrentAmbrellAPIKey() const override;
    std::shared_ptr<CVDataSetCache> addDataSet(std::string_view dataSetId) override;
    std::shared_ptr<CVDataSetCache> addDataSet(std::string_view dataSetId, std::int64_t cachingScope) override;
    bool removeDataSet(const std::shared_ptr<CVDataSetCache>& dataSet) override;
    bool setCachingStrategy(std::int64_t strategy, const std::shared_ptr<CVDataSetCacheItem>& item) override;
    bool setCachingScope(std::int64_t scope, const std::shared_ptr<CVDataSetCacheItem>& item) override;
    void synchronizeContent() override;
    void synchronizeContent(Completion completion) override;
    void synchronizeCurrentDataSetContent(ItemCompletion perItemCompletion) override;
    void synchronizeCacheItems(const Items& items) override;
    void synchronizeCacheItems(const Items& items, Completion completion) override;
    void synchronizeCacheItems(const Items& items, Completion completion, ItemCompletion perItemCompletion) override;
    void cancelSynchronization() override;
    void cancelSynchronizationOfCacheItems(const Items& items) override;
    void fetchSyncSizesForDataSetCaches(const DataSets& dataSets,
                                        std::shared_ptr<CVDataSetCacheManagerSizeDelegate> delegate) override;
    [[nodiscard]] std::shared_ptr<CVDataSetCacheManagerDelegate> delegate() const override;
    void setDelegate(std::shared_ptr<CVDataSetCacheManagerDelegate> delegate) override;
    [[nodiscard]] bool isSyncing() const override;

    // For the rest of the library.
    [[nodiscard]] InternalDataSets internalDataSets() const;
    [[nodiscard]] std::shared_ptr<CVDataSetCacheInternal> internalDataSetWithId(std::string_view dataSetId) const;
    [[nodiscard]] const Path& dataSetCachesRootFolder() const { return rootFolder_; }
    [[nodiscard]] std::shared_ptr<CVDataSetCacheWorkScheduler> workScheduler();
    // Marks the data set as used now; nothing when it is not managed.
    void registerActiveDataSetId(std::string_view dataSetId);
    [[nodiscard]] Path pathForCachingDataSetId(std::string_view dataSetId) const;
    // None for a URL or id that names no file of the data set's folder.
    [[nodiscard]] std::optional<Path> pathForCachingUrl(std::string_view url,
                                                        std::string_view dataSetId) const override;
    [[nodiscard]] std::optional<Path> pathForCachedUrl(std::string_view url, std::string_view dataSetId) const override;
    [[nodiscard]] std::optional<std::string> currentDataSetId() const override;
    [[nodiscard]] std::optional<std::vector<std::uint8_t>> dataForCachedUrl(std::string_view url,
                                                                            std::string_view dataSetId) const;
    // Removes the SDK-managed data sets, other than the current key's and
    // those syncing, unused for at least that long.
    void removeDataSetsInactiveForMoreThan(std::chrono::seconds seconds);
    void saveCacheInfoToDisk() const;
    [[nodiscard]] std::string debugDescription() const;

    // The words usage events name scopes and strategies by.
    [[nodiscard]] static std::string scopeWord(std::int64_t value);

private:
    struct SyncState {
        bool isSyncing = false;
        std::shared_ptr<platform::Operation> syncOperation;
        std::map<std::string, std::shared_ptr<CVDataSetCacheInternal>> syncingCaches;
        std::map<std::string, std::shared_ptr<CVDataSetCacheInternal>> finishedCaches;
        std::map<std::string, std::shared_ptr<CVDataSetCacheItemInternal>> syncingCacheItems;
        std::map<std::string, std::shared_ptr<CVDataSetCacheItemInternal>> finishedCacheItems;
        // Items cancelled before their graph existed: the graph is cancelled
        // as soon as it is scheduled.
        std::set<std::string> cancelledItems;
    };

    void loadExistingCaches();
    std::shared_ptr<CVDataSetCacheInternal> iAddDataSet(const std::string& dataSetId, std::int64_t cachingScope);
    bool iRemoveDataSet(const std::shared_ptr<CVDataSetCacheInternal>& dataSet);
    // Under the lock.
    void resetSyncStateVariables();
    void setIsSyncing(bool isSyncing);
    std::vector<std::shared_ptr<CVDataSetCacheItemInternal>> scheduleCacheItemsForSync(
        const std::vector<std::shared_ptr<CVDataSetCacheItemInternal>>& items);
    void scheduleGraphForItem(const std::shared_ptr<CVDataSetCacheItemInternal>& item,
                              const ItemCompletion& perItemCompletion);
    void manageCacheItemFinishedSync(const std::shared_ptr<CVDataSetCacheItemInternal>& item);
    [[nodiscard]] std::chrono::system_clock::time_point now() const;
    [[nodiscard]] std::shared_ptr<CVDataSetCacheItemInternal> internalItem(
        const std::shared_ptr<CVDataSetCacheItem>& item) const;

    void notify_didAddDataSet(const std::shared_ptr<CVDataSetCacheInternal>& dataSet);
    void notify_didRemoveDataSet(const std::shared_ptr<CVDataSetCacheInternal>& dataSet);
    void notify_willStartSynchronizingItem(const std::shared_ptr<CVDataSetCacheItemInternal>& item);
    void notify_didFinishSynchronizingItem(const std::shared_ptr<CVDataSetCacheItemInternal>& item);
    void notify_willStartSynchronizingDataSet(const std::shared_ptr<CVDataSetCacheInternal>& dataSet);
    void notify_didFinishSynchronizingCache(const std::shared_ptr<CVDataSetCacheInternal>& dataSet);
    void notify_dataSetManagerWillStartSynchronizing();
    void notify_dataSetManagerDidFinishSynchronizing();

    const Path rootFolder_;
    const Clock now_;
    mutable std::recursive_mutex mutex_;
    std::shared_ptr<CVDataSetCacheWorkScheduler> scheduler_;
    bool schedulerStarted_ = false;
    std::shared_ptr<CVDataSetCacheManagerDelegate> delegate_;
    InternalDataSets dataSets_;
    SyncState sync_;
};

}  // namespace ambrell
