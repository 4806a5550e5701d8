#include "data/DataSetManager/CVDataSetCacheManagerInternal.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>

#include <fmt/format.h>

#include "Ambrell/CVLog.h"
#include "data/AmbrellLegacy.h"
#include "data/DataSetManager/CVDataSetCacheTask.h"
#include "data/DataSetManager/CVDataSetCacheWorkScheduler.h"
#include "data/DataSetManager/CVDataSetStaging.h"
#include "data/DataSetManager/CVTileCache.h"
#include "data/DataSetManager/NSOperationCorvay.h"
#include "foundation/CVFileCache.h"
#include "foundation/CVLogger.h"
#include "platform/Paths.h"
#include "platform/runtime/MainQueue.h"
#include "platform/runtime/OperationQueue.h"

namespace ambrell {

namespace {

constexpr std::string_view kSyncOperationName = "CVDataSetCacheManager.syncOp";

struct Shared {
    std::mutex mutex;
    std::shared_ptr<CVDataSetCacheManagerInternal> instance;
};

// Never destroyed: the manager's queue must not outlive the runtime's
// shutdown in a static destructor.
Shared& shared() {
    static Shared* const state = new Shared();
    return *state;
}

// Breaches of the synchronisation's bookkeeping are programming errors: a
// run that cannot end would never call its completions.
void check(bool condition, std::string_view text, std::string_view method, int line) {
    if (condition) return;
    CVLog::core().debug("Assertion failure: {} in {} ({}:{}).", text, method, __FILE__, line);
    std::abort();
}

// Runs `block` on the main queue once, after the task has finished. The
// task may finish while the block is being attached, when the attachment
// comes too late; then it is queued here instead.
void onceFinished(const std::shared_ptr<CVDataSetCacheTask>& task, std::function<void()> block) {
    auto once = std::make_shared<std::atomic<bool>>(false);
    auto run = [once, block = std::move(block)] {
        if (!once->exchange(true)) block();
    };
    cvAddMainQueueCompletionBlock(*task, run);
    if (task->isFinished()) platform::MainQueue::shared().deliver(run);
}

}  // namespace

CVDataSetCacheManagerInternal::CVDataSetCacheManagerInternal(Options options)
    : rootFolder_(std::move(options.rootFolder)),
      now_(options.now ? std::move(options.now) : Clock([] { return std::chrono::system_clock::now(); })),
      scheduler_(std::move(options.scheduler)) {
    resetSyncStateVariables();
    loadExistingCaches();
}

CVDataSetCacheManagerInternal::~CVDataSetCacheManagerInternal() = default;

std::shared_ptr<CVDataSetCacheManagerInternal> CVDataSetCacheManagerInternal::sharedInstance() {
    auto& state = shared();
    std::lock_guard lock(state.mutex);
    if (!state.instance) {
        state.instance = std::make_shared<CVDataSetCacheManagerInternal>(
            Options{platform::Paths::caches() / "datasets", nullptr, nullptr});
        CVDataSetSeams::setCachedFiles(state.instance);
    }
    return state.instance;
}

void CVDataSetCacheManagerInternal::resetSharedInstanceForTesting() {
    std::shared_ptr<CVDataSetCacheManagerInternal> old;
    {
        auto& state = shared();
        std::lock_guard lock(state.mutex);
        old.swap(state.instance);
    }
    if (old) CVDataSetSeams::setCachedFiles(nullptr);
}

std::chrono::system_clock::time_point CVDataSetCacheManagerInternal::now() const { return now_(); }

std::shared_ptr<CVDataSetCacheWorkScheduler> CVDataSetCacheManagerInternal::workScheduler() {
    std::lock_guard lock(mutex_);
    if (!scheduler_) scheduler_ = CVDataSetCacheWorkScheduler::create();
    if (!schedulerStarted_) {
        scheduler_->start();
        schedulerStarted_ = true;
    }
    return scheduler_;
}

// MARK: - Data sets

void CVDataSetCacheManagerInternal::loadExistingCaches() {
    // A process killed while it downloaded left files no reader looks at;
    // staged tiles would even pass for data sets.
    CVDataSetStaging::removeLeftovers(rootFolder_);
    std::error_code error;
    std::filesystem::directory_iterator entries(rootFolder_, error);
    if (error) return;
    std::vector<std::string> names;
    for (const auto& entry : entries) {
        std::error_code typeError;
        if (entry.is_directory(typeError)) names.push_back(entry.path().filename().string());
    }
    // Directory order is the file system's; a sorted start is the same on
    // every machine.
    std::ranges::sort(names);
    for (const auto& name : names) {
        // Folders being deleted in the background are no data sets.
        if (name.ends_with(".DELETED") || !CVFileCache::isPlainFilename(name)) continue;
        if (internalDataSetWithId(name)) continue;
        auto cache = CVFileCache::newWithFolder(rootFolder_ / name);
        if (!cache) continue;
        auto dataSet = CVDataSetCacheInternal::initWithId(name, std::move(cache));
        std::lock_guard lock(mutex_);
        dataSets_.push_back(std::move(dataSet));
    }
}

CVDataSetCacheManagerInternal::InternalDataSets CVDataSetCacheManagerInternal::internalDataSets() const {
    std::lock_guard lock(mutex_);
    return dataSets_;
}

CVDataSetCacheManager::DataSets CVDataSetCacheManagerInternal::managedDataSets() const {
    const auto dataSets = internalDataSets();
    return {dataSets.begin(), dataSets.end()};
}

std::shared_ptr<CVDataSetCacheInternal> CVDataSetCacheManagerInternal::internalDataSetWithId(
    std::string_view dataSetId) const {
    std::lock_guard lock(mutex_);
    const auto found =
        std::ranges::find_if(dataSets_, [&](const auto& dataSet) { return dataSet->dataSetId() == dataSetId; });
    return found == dataSets_.end() ? nullptr : *found;
}

std::shared_ptr<CVDataSetCache> CVDataSetCacheManagerInternal::dataSetWithId(std::string_view dataSetId) const {
    return internalDataSetWithId(dataSetId);
}

std::shared_ptr<CVDataSetCache> CVDataSetCacheManagerInternal::existingDataSetCacheForId(
    std::string_view dataSetId) const {
    return internalDataSetWithId(dataSetId);
}

std::shared_ptr<CVDataSetCache> CVDataSetCacheManagerInternal::dataSetForCurrentAmbrellAPIKey() const {
    const auto key = AmbrellLegacy::getAmbrellAPIKey();
    return key ? internalDataSetWithId(*key) : nullptr;
}

std::optional<std::string> CVDataSetCacheManagerInternal::currentDataSetId() const {
    const auto dataSet = dataSetForCurrentAmbrellAPIKey();
    if (!dataSet) return std::nullopt;
    return dataSet->dataSetId();
}

std::string CVDataSetCacheManagerInternal::scopeWord(std::int64_t value) {
    static constexpr std::string_view kWords[] = {"basic", "detailed", "full"};
    if (value < 0 || value >= static_cast<std::int64_t>(std::size(kWords))) return std::to_string(value);
    return std::string(kWords[value]);
}

std::shared_ptr<CVDataSetCache> CVDataSetCacheManagerInternal::addDataSet(std::string_view dataSetId) {
    return addDataSet(dataSetId, rawValue(CVDataSetCachingScope::basic));
}

std::shared_ptr<CVDataSetCache> CVDataSetCacheManagerInternal::addDataSet(std::string_view dataSetId,
                                                                          std::int64_t cachingScope) {
    CVLogger::event(CVLogEvent::datasetAdded, CVLogDomain::datasetManager,
                    CVLogEntry::Parameters{{"sync_scope", scopeWord(cachingScope)}});
    return iAddDataSet(std::string(dataSetId), cachingScope);
}

std::shared_ptr<CVDataSetCacheInternal> CVDataSetCacheManagerInternal::iAddDataSet(const std::string& dataSetId,
                                                                                   std::int64_t cachingScope) {
    if (internalDataSetWithId(dataSetId)) return nullptr;
    // The id names the folder: one that would leave the root is refused.
    // Folders of those names are removed, or being removed, at start.
    if (!CVFileCache::isPlainFilename(dataSetId) || dataSetId.ends_with(".DELETED") ||
        dataSetId.ends_with(CVDataSetStaging::kSuffix)) {
        CVLog::core().error("[DSM] [E] Refusing data set id '{}': it names no folder of {}", dataSetId,
                            rootFolder_.string());
        return nullptr;
    }
    auto cache = CVFileCache::newWithFolder(rootFolder_ / dataSetId);
    if (!cache) return nullptr;
    auto dataSet = CVDataSetCacheInternal::initWithId(dataSetId, std::move(cache));
    dataSet->setCachingScope(cachingScope, dataSet->item());

    std::lock_guard lock(mutex_);
    if (internalDataSetWithId(dataSetId)) return nullptr;
    dataSets_.push_back(dataSet);
    notify_didAddDataSet(dataSet);
    return dataSet;
}

bool CVDataSetCacheManagerInternal::removeDataSet(const std::shared_ptr<CVDataSetCache>& dataSet) {
    if (!dataSet) return false;
    const auto item = dataSet->cacheItem();
    CVLogger::event(CVLogEvent::datasetRemoved, CVLogDomain::datasetManager,
                    CVLogEntry::Parameters{{"sync_scope", scopeWord(item ? item->cachingScope() : 0)},
                                           {"sync_strategy", scopeWord(item ? item->cachingStrategy() : 0)}});
    return iRemoveDataSet(internalDataSetWithId(dataSet->dataSetId()));
}

bool CVDataSetCacheManagerInternal::iRemoveDataSet(const std::shared_ptr<CVDataSetCacheInternal>& dataSet) {
    if (!dataSet) return false;
    std::shared_ptr<CVDataSetCacheWorkScheduler> scheduler;
    {
        std::lock_guard lock(mutex_);
        const auto found = std::ranges::find(dataSets_, dataSet);
        if (found == dataSets_.end()) return false;
        if (dataSet->dataSetId() == AmbrellLegacy::getAmbrellAPIKey()) {
            // The library still uses it; it takes the set over instead.
            dataSet->setCachingStrategy(rawValue(CVDataSetCachingStrategy::sdkManaged));
            return false;
        }
        dataSets_.erase(found);
        scheduler = scheduler_;
        // A graph still to be built for it is cancelled as soon as it is scheduled.
        const auto& item = dataSet->item();
        const auto syncing = sync_.syncingCacheItems.find(item->cachingItemId());
        if (syncing != sync_.syncingCacheItems.end() && syncing->second == item) {
            sync_.cancelledItems.insert(item->cachingItemId());
        }
    }
    // Its queued work would write into the folder again and bring the data set
    // back at the next start; the run still ends, with the item cancelled.
    if (scheduler) {
        scheduler->cancelTasksWithOwner(static_cast<const void*>(dataSet->item().get()));
        scheduler->cancelTasksWithOwner(static_cast<const void*>(dataSet.get()));
    }
    CVTileCache::defaultTileCache()->tilePackageCacheWasRemoved(
        CVTileCache::pathForTilePackageCacheInFolder(dataSet->folder()));
    if (dataSet->cache()) dataSet->cache()->removeCacheFolder();
    notify_didRemoveDataSet(dataSet);
    return true;
}

void CVDataSetCacheManagerInternal::registerActiveDataSetId(std::string_view dataSetId) {
    if (const auto dataSet = internalDataSetWithId(dataSetId)) dataSet->setLastUsedTime(now());
}

void CVDataSetCacheManagerInternal::removeDataSetsInactiveForMoreThan(std::chrono::seconds seconds) {
    const auto key = AmbrellLegacy::getAmbrellAPIKey();
    const auto current = now();
    for (const auto& dataSet : internalDataSets()) {
        if (dataSet->cachingStrategy() != rawValue(CVDataSetCachingStrategy::sdkManaged)) continue;
        if (dataSet->dataSetId() == key || dataSet->isSyncing()) continue;
        if (current - dataSet->lastUsedTime() >= seconds) iRemoveDataSet(dataSet);
    }
}

std::shared_ptr<CVDataSetCacheItemInternal> CVDataSetCacheManagerInternal::internalItem(
    const std::shared_ptr<CVDataSetCacheItem>& item) const {
    return std::dynamic_pointer_cast<CVDataSetCacheItemInternal>(item);
}

bool CVDataSetCacheManagerInternal::setCachingStrategy(std::int64_t strategy,
                                                       const std::shared_ptr<CVDataSetCacheItem>& item) {
    const auto internal = internalItem(item);
    if (!internal) return false;
    internal->setCachingStrategy(strategy);
    internal->setIsScheduledForSync(true);
    saveCacheInfoToDisk();
    return true;
}

bool CVDataSetCacheManagerInternal::setCachingScope(std::int64_t scope,
                                                    const std::shared_ptr<CVDataSetCacheItem>& item) {
    const auto internal = internalItem(item);
    const auto owner = internal ? internal->owner() : nullptr;
    if (!owner || !owner->setCachingScope(scope, internal)) return false;
    internal->setIsScheduledForSync(true);
    saveCacheInfoToDisk();
    return true;
}

void CVDataSetCacheManagerInternal::saveCacheInfoToDisk() const {
    for (const auto& dataSet : internalDataSets()) dataSet->saveToDisk();
}

// MARK: - Cached files

CVDataSetCacheManagerInternal::Path CVDataSetCacheManagerInternal::pathForCachingDataSetId(
    std::string_view dataSetId) const {
    return rootFolder_ / std::string(dataSetId);
}

std::optional<CVDataSetCacheManagerInternal::Path> CVDataSetCacheManagerInternal::pathForCachingUrl(
    std::string_view url, std::string_view dataSetId) const {
    if (!CVFileCache::isPlainFilename(dataSetId)) return std::nullopt;
    return CVFileCache::pathForCachingItem(url, pathForCachingDataSetId(dataSetId));
}

std::optional<CVDataSetCacheManagerInternal::Path> CVDataSetCacheManagerInternal::pathForCachedUrl(
    std::string_view url, std::string_view dataSetId) const {
    auto path = pathForCachingUrl(url, dataSetId);
    std::error_code error;
    if (!path || !std::filesystem::is_regular_file(*path, error)) return std::nullopt;
    return path;
}

std::optional<std::vector<std::uint8_t>> CVDataSetCacheManagerInternal::dataForCachedUrl(
    std::string_view url, std::string_view dataSetId) const {
    if (!CVFileCache::isPlainFilename(dataSetId)) return std::nullopt;
    const auto cache = CVFileCache::initWithFolder(pathForCachingDataSetId(dataSetId));
    if (!cache || !pathForCachedUrl(url, dataSetId)) return std::nullopt;
    return cache->cachedDataForItem(url);
}

// MARK: - Synchronisation

bool CVDataSetCacheManagerInternal::isSyncing() const {
    std::lock_guard lock(mutex_);
    return sync_.isSyncing;
}

void CVDataSetCacheManagerInternal::resetSyncStateVariables() {
    std::lock_guard lock(mutex_);
    sync_.syncingCaches.clear();
    sync_.finishedCaches.clear();
    sync_.syncingCacheItems.clear();
    sync_.finishedCacheItems.clear();
    sync_.cancelledItems.clear();
}

void CVDataSetCacheManagerInternal::setIsSyncing(bool isSyncing) {
    std::lock_guard lock(mutex_);
    sync_.isSyncing = isSyncing;
    if (isSyncing) {
        check(!sync_.syncingCacheItems.empty(), "self.syncingCacheItems.count > 0", "-[setIsSyncing:]", __LINE__);
    } else {
        check(sync_.syncingCacheItems.empty() && sync_.syncingCaches.empty(),
              "self.syncingCacheItems.count == 0 && self.syncingCaches.count == 0", "-[setIsSyncing:]", __LINE__);
    }
}

void CVDataSetCacheManagerInternal::synchronizeContent() { synchronizeContent(nullptr); }

void CVDataSetCacheManagerInternal::synchronizeContent(Completion completion) {
    const auto key = AmbrellLegacy::getAmbrellAPIKey();
    Items items;
    for (const auto& dataSet : internalDataSets()) {
        if (dataSet->cachingStrategy() == rawValue(CVDataSetCachingStrategy::hostManaged) ||
            dataSet->dataSetId() == key) {
            items.push_back(dataSet->item());
        }
    }
    synchronizeCacheItems(items, std::move(completion), nullptr);
}

void CVDataSetCacheManagerInternal::synchronizeCurrentDataSetContent(ItemCompletion perItemCompletion) {
    const auto key = AmbrellLegacy::getAmbrellAPIKey();
    const auto dataSet = key ? internalDataSetWithId(*key) : nullptr;
    if (!dataSet) return;
    synchronizeCacheItems({dataSet->item()}, nullptr, std::move(perItemCompletion));
}

void CVDataSetCacheManagerInternal::synchronizeCacheItems(const Items& items) {
    synchronizeCacheItems(items, nullptr, nullptr);
}

void CVDataSetCacheManagerInternal::synchronizeCacheItems(const Items& items, Completion completion) {
    synchronizeCacheItems(items, std::move(completion), nullptr);
}

void CVDataSetCacheManagerInternal::synchronizeCacheItems(const Items& items, Completion completion,
                                                          ItemCompletion perItemCompletion) {
    std::vector<std::shared_ptr<CVDataSetCacheItemInternal>> internals;
    for (const auto& item : items) {
        auto internal = internalItem(item);
        // Only items of managed data sets: the bookkeeping follows their owners.
        const auto owner = internal ? internal->owner() : nullptr;
        if (owner && internalDataSetWithId(owner->dataSetId()) == owner) internals.push_back(std::move(internal));
    }
    const auto newItems = scheduleCacheItemsForSync(internals);
    for (const auto& item : newItems) scheduleGraphForItem(item, perItemCompletion);

    if (!completion) return;
    auto call = [completion = std::move(completion)] { completion(std::nullopt); };
    std::unique_lock lock(mutex_);
    if (sync_.isSyncing && sync_.syncOperation) {
        cvAddMainQueueCompletionBlock(*sync_.syncOperation, std::move(call));
        return;
    }
    lock.unlock();
    // Nothing to do and no run going: the caller still hears that it is done.
    platform::MainQueue::shared().deliver(std::move(call));
}

std::vector<std::shared_ptr<CVDataSetCacheItemInternal>> CVDataSetCacheManagerInternal::scheduleCacheItemsForSync(
    const std::vector<std::shared_ptr<CVDataSetCacheItemInternal>>& items) {
    std::vector<std::shared_ptr<CVDataSetCacheItemInternal>> newItems;
    std::vector<std::shared_ptr<CVDataSetCacheInternal>> newDataSets;
    bool startsRun = false;
    {
        std::lock_guard lock(mutex_);
        for (const auto& item : items) {
            const auto id = item->cachingItemId();
            if (!sync_.syncingCacheItems.contains(id) && !sync_.finishedCacheItems.contains(id)) {
                sync_.syncingCacheItems.emplace(id, item);
                newItems.push_back(item);
            }
            const auto owner = item->owner();
            const auto ownerId = owner->dataSetId();
            if (!sync_.syncingCaches.contains(ownerId) && !sync_.finishedCaches.contains(ownerId)) {
                sync_.syncingCaches.emplace(ownerId, owner);
                newDataSets.push_back(owner);
            }
        }
        if (!sync_.isSyncing && !sync_.syncingCacheItems.empty()) {
            sync_.syncOperation = std::make_shared<platform::Operation>();
            sync_.syncOperation->setName(std::string(kSyncOperationName));
            setIsSyncing(true);
            startsRun = true;
        }
    }
    if (startsRun) notify_dataSetManagerWillStartSynchronizing();
    for (const auto& dataSet : newDataSets) notify_willStartSynchronizingDataSet(dataSet);
    for (const auto& item : newItems) notify_willStartSynchronizingItem(item);
    return newItems;
}

void CVDataSetCacheManagerInternal::scheduleGraphForItem(const std::shared_ptr<CVDataSetCacheItemInternal>& item,
                                                         const ItemCompletion& perItemCompletion) {
    const std::weak_ptr<CVDataSetCacheManagerInternal> weakSelf = weak_from_this();
    const auto owner = item->owner();
    const auto sizeTask = owner ? owner->getOrCreateTaskForScopingDataSetSize() : nullptr;
    // Held until the graph is built: the task's completion holds this block,
    // and lets it go once it has run.
    const auto buildGraph = [weakSelf, item, perItemCompletion, sizeTask] {
        const auto self = weakSelf.lock();
        if (!self) return;
        const auto tasks = item->getTasksForCaching();
        // A description that could not be fetched is part of the outcome: a
        // sync that fetched nothing must not pass for a complete copy.
        if (sizeTask) {
            if (auto error = sizeTask->error()) tasks.back()->setError(std::move(error));
        }
        cvAddMainQueueCompletionBlock(*tasks.back(), [weakSelf, item, perItemCompletion] {
            if (const auto manager = weakSelf.lock()) manager->manageCacheItemFinishedSync(item);
            if (perItemCompletion) perItemCompletion(item, item->syncResult());
        });
        const auto scheduler = self->workScheduler();
        scheduler->addWorkItems(tasks, true);
        bool cancelled = false;
        {
            std::lock_guard lock(self->mutex_);
            const auto dataSet = item->owner();
            cancelled = self->sync_.cancelledItems.contains(item->cachingItemId()) || !dataSet ||
                        self->internalDataSetWithId(dataSet->dataSetId()) != dataSet;
        }
        if (cancelled) scheduler->cancelTasksWithOwner(static_cast<const void*>(item.get()));
    };

    if (!sizeTask) {
        // Without a description to fetch, the groups known now are synchronised.
        platform::MainQueue::shared().deliver(buildGraph);
        return;
    }
    onceFinished(sizeTask, buildGraph);
    if (!sizeTask->scheduler()) workScheduler()->addWorkItems({sizeTask}, true);
}

void CVDataSetCacheManagerInternal::manageCacheItemFinishedSync(
    const std::shared_ptr<CVDataSetCacheItemInternal>& item) {
    const auto id = item->cachingItemId();
    const auto owner = item->owner();
    {
        std::lock_guard lock(mutex_);
        const auto found = sync_.syncingCacheItems.find(id);
        if (found == sync_.syncingCacheItems.end() || found->second != item) return;
        sync_.syncingCacheItems.erase(found);
        sync_.finishedCacheItems.emplace(id, item);
    }
    notify_didFinishSynchronizingItem(item);

    std::shared_ptr<platform::Operation> endedRun;
    {
        std::lock_guard lock(mutex_);
        const bool ownerBusy = std::ranges::any_of(sync_.syncingCacheItems,
                                                   [&](const auto& entry) { return entry.second->owner() == owner; });
        if (ownerBusy || !owner) return;
        const auto ownerId = owner->dataSetId();
        sync_.syncingCaches.erase(ownerId);
        sync_.finishedCaches.emplace(ownerId, owner);
    }
    saveCacheInfoToDisk();
    {
        std::lock_guard lock(mutex_);
        const bool stillSyncing = !sync_.syncingCaches.empty();
        if (!stillSyncing) {
            // The run ends in one step, so a call in between cannot join a
            // run whose completions have already been started.
            resetSyncStateVariables();
            endedRun = std::move(sync_.syncOperation);
        }
        setIsSyncing(stillSyncing);
    }
    notify_didFinishSynchronizingCache(owner);
    if (!endedRun) return;
    endedRun->start();
    notify_dataSetManagerDidFinishSynchronizing();
    removeDataSetsInactiveForMoreThan(kInactiveDataSetLifetime);
}

void CVDataSetCacheManagerInternal::cancelSynchronization() {
    Items items;
    for (const auto& dataSet : internalDataSets()) items.push_back(dataSet->item());
    cancelSynchronizationOfCacheItems(items);
}

void CVDataSetCacheManagerInternal::cancelSynchronizationOfCacheItems(const Items& items) {
    std::vector<std::shared_ptr<CVDataSetCacheItemInternal>> syncing;
    {
        std::lock_guard lock(mutex_);
        for (const auto& item : items) {
            const auto internal = internalItem(item);
            if (!internal) continue;
            const auto found = sync_.syncingCacheItems.find(internal->cachingItemId());
            if (found == sync_.syncingCacheItems.end() || found->second != internal) continue;
            sync_.cancelledItems.insert(internal->cachingItemId());
            syncing.push_back(internal);
        }
    }
    if (syncing.empty()) return;
    const auto scheduler = workScheduler();
    for (const auto& item : syncing) scheduler->cancelTasksWithOwner(static_cast<const void*>(item.get()));
}

// MARK: - Sizes

void CVDataSetCacheManagerInternal::fetchSyncSizesForDataSetCaches(
    const DataSets& dataSets, std::shared_ptr<CVDataSetCacheManagerSizeDelegate> delegate) {
    if (delegate) delegate->dataSetManagerWillStartFetchingSyncSizes(*this);
    auto aggregate = CVDataSetCacheTask::create();
    aggregate->setName("SyncSize aggregate operation");
    const std::weak_ptr<CVDataSetCacheManagerInternal> weakSelf = weak_from_this();
    std::vector<std::shared_ptr<platform::Operation>> sizeTasks;
    for (const auto& given : dataSets) {
        const auto dataSet = given ? internalDataSetWithId(given->dataSetId()) : nullptr;
        if (!dataSet) continue;
        const auto task = dataSet->getOrCreateTaskForScopingDataSetSize();
        if (!task) continue;
        sizeTasks.push_back(task);
        if (delegate) delegate->dataSetManagerWillStartFetchingSyncSizesForDataSet(*this, dataSet);
        onceFinished(task, [weakSelf, delegate, dataSet] {
            const auto self = weakSelf.lock();
            if (self && delegate) delegate->dataSetManagerDidFetchSyncSizesForDataSet(*self, dataSet);
        });
    }
    cvAddDependencies(*aggregate, sizeTasks);
    cvAddMainQueueCompletionBlock(*aggregate, [weakSelf, delegate] {
        const auto self = weakSelf.lock();
        if (!self) return;
        self->saveCacheInfoToDisk();
        if (delegate) delegate->dataSetManagerDidFinishFetchingSyncSizes(*self);
    });
    workScheduler()->addWorkItems({aggregate}, true);
}

// MARK: - Delegate

std::shared_ptr<CVDataSetCacheManagerDelegate> CVDataSetCacheManagerInternal::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_;
}

void CVDataSetCacheManagerInternal::setDelegate(std::shared_ptr<CVDataSetCacheManagerDelegate> delegate) {
    std::lock_guard lock(mutex_);
    delegate_.swap(delegate);
}

void CVDataSetCacheManagerInternal::notify_didAddDataSet(const std::shared_ptr<CVDataSetCacheInternal>& dataSet) {
    if (const auto d = delegate(); d && dataSet) d->dataSetManagerDidAddDataSet(*this, dataSet);
}

void CVDataSetCacheManagerInternal::notify_didRemoveDataSet(const std::shared_ptr<CVDataSetCacheInternal>& dataSet) {
    if (const auto d = delegate(); d && dataSet) d->dataSetManagerDidRemoveDataSet(*this, dataSet);
}

void CVDataSetCacheManagerInternal::notify_willStartSynchronizingItem(
    const std::shared_ptr<CVDataSetCacheItemInternal>& item) {
    if (const auto d = delegate(); d && item) d->dataSetManagerWillStartSynchronizingItem(*this, item);
}

void CVDataSetCacheManagerInternal::notify_didFinishSynchronizingItem(
    const std::shared_ptr<CVDataSetCacheItemInternal>& item) {
    if (const auto d = delegate(); d && item) d->dataSetManagerDidFinishSynchronizingItem(*this, item);
}

void CVDataSetCacheManagerInternal::notify_willStartSynchronizingDataSet(
    const std::shared_ptr<CVDataSetCacheInternal>& dataSet) {
    if (const auto d = delegate(); d && dataSet) d->dataSetManagerWillStartSynchronizingDataSet(*this, dataSet);
}

void CVDataSetCacheManagerInternal::notify_didFinishSynchronizingCache(
    const std::shared_ptr<CVDataSetCacheInternal>& dataSet) {
    if (!dataSet) return;
    CVLogger::event(CVLogEvent::datasetSynchronized, CVLogDomain::datasetManager,
                    CVLogEntry::Parameters{{"sync_scope", scopeWord(dataSet->item()->cachingScope())},
                                           {"sync_strategy", scopeWord(dataSet->cachingStrategy())}});
    if (const auto d = delegate()) d->dataSetManagerDidFinishSynchronizingDataSet(*this, dataSet);
}

void CVDataSetCacheManagerInternal::notify_dataSetManagerWillStartSynchronizing() {
    if (const auto d = delegate()) d->dataSetManagerWillStartSynchronizing(*this);
}

void CVDataSetCacheManagerInternal::notify_dataSetManagerDidFinishSynchronizing() {
    if (const auto d = delegate()) d->dataSetManagerDidFinishSynchronizing(*this);
}

// MARK: - Debugging

std::string CVDataSetCacheManagerInternal::debugDescription() const {
    std::lock_guard lock(mutex_);
    std::string text = fmt::format("<CVDataSetCacheManagerInternal {}: isSyncing={}>", static_cast<const void*>(this),
                                   sync_.isSyncing ? "true" : "false");
    const auto describe = [&](std::string_view title, const auto& caches) {
        text += fmt::format("\n    {}[ {} ]", title, caches.size());
        for (const auto& [id, dataSet] : caches) {
            text += fmt::format("\n        {} ({}, {})", dataSet->name(), dataSet->isSyncing() ? "true" : "false",
                                dataSet->item()->isSyncing() ? "true" : "false");
        }
    };
    describe("syncingCaches", sync_.syncingCaches);
    describe("finishedCaches", sync_.finishedCaches);
    return text;
}

}  // namespace ambrell
