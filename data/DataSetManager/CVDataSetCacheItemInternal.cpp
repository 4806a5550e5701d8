#include "data/DataSetManager/CVDataSetCacheItemInternal.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <boost/json/object.hpp>
#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <boost/json/value.hpp>
#include <boost/url/parse.hpp>
#include <fmt/format.h>

#include "Ambrell/CVErrorCodes.h"
#include "Ambrell/CVLog.h"
#include "data/AmbrellLegacy.h"
#include "data/CVOfflineBundleHelper.h"
#include "data/DataSetManager/CVDataSetCacheInternal.h"
#include "data/DataSetManager/CVDataSetCacheTask.h"
#include "data/DataSetManager/CVDataSetCacheTrimTask.h"
#include "data/DataSetManager/CVDataSetDownloadReaders.h"
#include "data/DataSetManager/CVDataSetUrlDownloadTask.h"
#include "data/DataSetManager/CVSwitchToOnlineTilesTask.h"
#include "data/DataSetManager/CVTileCache.h"
#include "data/DataSetManager/CVTilePackageStaging.h"
#include "data/DataSetManager/CVTilePackageUnzipTask.h"
#include "foundation/CVFileCache.h"

namespace ambrell {

namespace json = boost::json;

namespace {

constexpr std::string_view kUnderlyingErrorKey = "syncContent::underlyingError";
constexpr unsigned kAggregatePriority = 2;

// The stored format's keys.
constexpr std::string_view kCachingStrategy = "cachingStrategy";
constexpr std::string_view kCachingItemId = "cachingItemId";
constexpr std::string_view kLanguage = "language";
constexpr std::string_view kName = "name";
constexpr std::string_view kCachingScope = "cachingScope";
constexpr std::string_view kCurrentlyCachedScope = "currentlyCachedScope";
constexpr std::string_view kIsCached = "isCached";
constexpr std::string_view kIsScheduledForSync = "isScheduledForSync";
constexpr std::string_view kCachedTimestamp = "cachedTimestamp";
constexpr std::string_view kSyncTimestamp = "syncTimestamp";
constexpr std::string_view kCachedSize = "cachedSize";
constexpr std::string_view kSyncSize = "syncSize";

using Date = CVDataSetCacheItem::Date;

const json::value* find(const json::object* dictionary, std::string_view key) {
    return dictionary ? dictionary->if_contains(key) : nullptr;
}

// Numbers are read the way a property list's numbers are: any numeric kind,
// booleans as 0 or 1; anything else is missing.
std::optional<std::int64_t> integerAt(const json::object* dictionary, std::string_view key) {
    const auto* value = find(dictionary, key);
    if (!value) return std::nullopt;
    if (value->is_int64()) return value->as_int64();
    if (value->is_uint64()) {
        const auto number = value->as_uint64();
        if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
        return static_cast<std::int64_t>(number);
    }
    if (value->is_double()) {
        const double number = value->as_double();
        // 2^63 is the first double past the range.
        if (!std::isfinite(number) || number >= 9.2233720368547758e18 || number < -9.2233720368547758e18) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(number);
    }
    if (value->is_bool()) return value->as_bool() ? 1 : 0;
    return std::nullopt;
}

std::uint64_t unsignedAt(const json::object* dictionary, std::string_view key) {
    const auto* value = find(dictionary, key);
    if (!value) return 0;
    if (value->is_uint64()) return value->as_uint64();
    if (value->is_int64()) return value->as_int64() < 0 ? 0 : static_cast<std::uint64_t>(value->as_int64());
    if (value->is_double()) {
        const double number = value->as_double();
        if (!std::isfinite(number) || number < 0 || number >= 1.8446744073709552e19) return 0;
        return static_cast<std::uint64_t>(number);
    }
    return 0;
}

bool booleanAt(const json::object* dictionary, std::string_view key) {
    const auto* value = find(dictionary, key);
    if (!value) return false;
    if (value->is_bool()) return value->as_bool();
    return integerAt(dictionary, key).value_or(0) != 0;
}

std::optional<std::string> textAt(const json::object* dictionary, std::string_view key) {
    const auto* value = find(dictionary, key);
    if (!value || !value->is_string()) return std::nullopt;
    return std::string(value->as_string());
}

// Whole seconds since 1970. 0 is what an absent date is written as, so it
// reads back as absent; seconds the clock cannot hold read as absent too.
std::optional<Date> dateAt(const json::object* dictionary, std::string_view key) {
    const auto seconds = integerAt(dictionary, key);
    constexpr std::int64_t kLimit = 9'000'000'000;  // about 285 years either side of 1970
    if (!seconds || *seconds == 0 || *seconds > kLimit || *seconds < -kLimit) return std::nullopt;
    return Date(std::chrono::seconds(*seconds));
}

std::int64_t secondsOf(const std::optional<Date>& date) {
    if (!date) return 0;
    return std::chrono::duration_cast<std::chrono::seconds>(date->time_since_epoch()).count();
}

std::set<std::string> urlsOf(const std::vector<CVUrlResourceGroup>& groups) {
    std::set<std::string> urls;
    for (const auto& group : groups) {
        if (group.urls()) urls.insert(group.urls()->begin(), group.urls()->end());
    }
    return urls;
}

// The path of the URL as the platform's relative path gives it: decoded,
// without scheme, host or query. The text itself when it is no URL.
std::string relativePathOf(std::string_view url) {
    const auto parsed = boost::urls::parse_uri_reference(url);
    if (!parsed) return std::string(url);
    return std::string(parsed->path());
}

}  // namespace

std::shared_ptr<CVDataSetCacheItemInternal> CVDataSetCacheItemInternal::initWithId(std::string cachingItemId) {
    auto item = std::make_shared<CVDataSetCacheItemInternal>(Token{});
    item->cachingItemId_ = std::move(cachingItemId);
    item->cachingStrategy_ = rawValue(CVDataSetCachingStrategy::hostManaged);
    item->language_ = AmbrellLegacy::getLanguage();
    return item;
}

std::shared_ptr<CVDataSetCacheItemInternal> CVDataSetCacheItemInternal::initWithDictionary(
    const json::object* dictionary) {
    auto item = std::make_shared<CVDataSetCacheItemInternal>(Token{});
    item->cachingStrategy_ = integerAt(dictionary, kCachingStrategy).value_or(0);
    item->cachingItemId_ = textAt(dictionary, kCachingItemId);
    item->language_ = textAt(dictionary, kLanguage);
    item->name_ = textAt(dictionary, kName);
    item->cachingScope_ = integerAt(dictionary, kCachingScope).value_or(0);
    item->currentlyCachedScope_ = integerAt(dictionary, kCurrentlyCachedScope).value_or(0);
    item->isCached_ = booleanAt(dictionary, kIsCached);
    item->isScheduledForSync_ = booleanAt(dictionary, kIsScheduledForSync);
    item->cachedTimestamp_ = dateAt(dictionary, kCachedTimestamp);
    item->syncTimestamp_ = dateAt(dictionary, kSyncTimestamp);
    item->cachedSize_ = unsignedAt(dictionary, kCachedSize);
    item->syncSize_ = unsignedAt(dictionary, kSyncSize);
    return item;
}

std::shared_ptr<CVDataSetCacheItemInternal> CVDataSetCacheItemInternal::initWithData(
    std::span<const std::uint8_t> data) {
    json::error_code error;
    const auto value = json::parse(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()), error);
    if (error || !value.is_object()) return initWithDictionary(nullptr);
    return initWithDictionary(&value.as_object());
}

json::object CVDataSetCacheItemInternal::asDictionary() const {
    std::lock_guard lock(mutex_);
    json::object dictionary;
    dictionary[kCachingStrategy] = cachingStrategy_;
    dictionary[kCachingItemId] = cachingItemId_.value_or("");
    dictionary[kLanguage] = language_.value_or("en");
    dictionary[kName] = name_.value_or("");
    dictionary[kCachingScope] = cachingScope_;
    dictionary[kCurrentlyCachedScope] = currentlyCachedScope_;
    dictionary[kIsCached] = isCached_;
    dictionary[kIsScheduledForSync] = isScheduledForSync_;
    dictionary[kCachedTimestamp] = secondsOf(cachedTimestamp_);
    dictionary[kSyncTimestamp] = secondsOf(syncTimestamp_);
    dictionary[kCachedSize] = cachedSize_;
    dictionary[kSyncSize] = syncSize_;
    return dictionary;
}

CVDataSetCacheItemInternal::Bytes CVDataSetCacheItemInternal::asData() const {
    const auto text = json::serialize(asDictionary());
    return {text.begin(), text.end()};
}

// MARK: - Accessors

#define AMBRELL_ITEM_GETTER(Type, name, expression) \
    Type CVDataSetCacheItemInternal::name() const { \
        std::lock_guard lock(mutex_);               \
        return expression;                          \
    }
#define AMBRELL_ITEM_SETTER(Type, setter, member)         \
    void CVDataSetCacheItemInternal::setter(Type value) { \
        std::lock_guard lock(mutex_);                     \
        member = std::move(value);                        \
    }

AMBRELL_ITEM_GETTER(std::string, cachingItemId, cachingItemId_.value_or(""))
AMBRELL_ITEM_GETTER(std::string, name, name_.value_or(""))
AMBRELL_ITEM_GETTER(std::string, language, language_.value_or(""))
AMBRELL_ITEM_GETTER(std::int64_t, cachingStrategy, cachingStrategy_)
AMBRELL_ITEM_GETTER(std::int64_t, cachingScope, cachingScope_)
AMBRELL_ITEM_GETTER(std::int64_t, currentlyCachedScope, currentlyCachedScope_)
AMBRELL_ITEM_GETTER(bool, isCached, isCached_)
AMBRELL_ITEM_GETTER(bool, isSyncing, isSyncing_)
AMBRELL_ITEM_GETTER(bool, isScheduledForSync, isScheduledForSync_)
AMBRELL_ITEM_GETTER(std::optional<Date>, cachedTimestamp, cachedTimestamp_)
AMBRELL_ITEM_GETTER(std::uint64_t, cachedSize, cachedSize_)
AMBRELL_ITEM_GETTER(std::optional<Date>, syncTimestamp, syncTimestamp_)
AMBRELL_ITEM_GETTER(std::optional<platform::NSError>, syncResult, syncResult_)
AMBRELL_ITEM_GETTER(std::uint64_t, syncSize, syncSize_)
AMBRELL_ITEM_GETTER(std::optional<Date>, syncStart, syncStart_)
AMBRELL_ITEM_GETTER(std::shared_ptr<CVDataSetCacheInternal>, owner, owner_.lock())
AMBRELL_ITEM_GETTER(std::shared_ptr<const CVFileCache>, cache, cache_)
AMBRELL_ITEM_GETTER(std::vector<CVUrlResourceGroup>, syncResources, syncResources_)
AMBRELL_ITEM_GETTER(std::vector<unsigned>, syncPriorities, syncPriorities_)
AMBRELL_ITEM_GETTER(std::set<std::string>, removalCandidates, removalCandidates_)
AMBRELL_ITEM_GETTER(bool, removeCachedTilePackage, removeCachedTilePackage_)

AMBRELL_ITEM_SETTER(std::optional<std::string>, setCachingItemId, cachingItemId_)
AMBRELL_ITEM_SETTER(std::optional<std::string>, setName, name_)
AMBRELL_ITEM_SETTER(std::optional<std::string>, setLanguage, language_)
AMBRELL_ITEM_SETTER(std::int64_t, setCachingStrategy, cachingStrategy_)
AMBRELL_ITEM_SETTER(std::int64_t, setCachingScope, cachingScope_)
AMBRELL_ITEM_SETTER(std::int64_t, setCurrentlyCachedScope, currentlyCachedScope_)
AMBRELL_ITEM_SETTER(bool, setIsCached, isCached_)
AMBRELL_ITEM_SETTER(bool, setIsSyncing, isSyncing_)
AMBRELL_ITEM_SETTER(bool, setIsScheduledForSync, isScheduledForSync_)
AMBRELL_ITEM_SETTER(std::optional<Date>, setCachedTimestamp, cachedTimestamp_)
AMBRELL_ITEM_SETTER(std::uint64_t, setCachedSize, cachedSize_)
AMBRELL_ITEM_SETTER(std::optional<Date>, setSyncTimestamp, syncTimestamp_)
AMBRELL_ITEM_SETTER(std::optional<platform::NSError>, setSyncResult, syncResult_)
AMBRELL_ITEM_SETTER(std::uint64_t, setSyncSize, syncSize_)
AMBRELL_ITEM_SETTER(std::shared_ptr<const CVFileCache>, setCache, cache_)
AMBRELL_ITEM_SETTER(std::weak_ptr<CVDataSetCacheItemDelegate>, setDelegate, delegate_)

#undef AMBRELL_ITEM_GETTER
#undef AMBRELL_ITEM_SETTER

void CVDataSetCacheItemInternal::setOwner(const std::shared_ptr<CVDataSetCacheInternal>& owner) {
    std::lock_guard lock(mutex_);
    owner_ = owner;
}

// MARK: - Resources

void CVDataSetCacheItemInternal::setSyncResources(std::vector<CVUrlResourceGroup> groups,
                                                  std::vector<unsigned> priorities) {
    updateRemovalCandidatesConsideringNewSyncResources(groups);
    std::lock_guard lock(mutex_);
    syncResources_ = std::move(groups);
    syncPriorities_ = std::move(priorities);
}

void CVDataSetCacheItemInternal::updateRemovalCandidatesConsideringNewSyncResources(
    const std::vector<CVUrlResourceGroup>& groups) {
    const auto newUrls = urlsOf(groups);
    const bool hasTiles = std::ranges::any_of(
        groups, [](const auto& group) { return group.type() == std::string(CVUrlResourceGroup::kTypeTiles); });
    std::lock_guard lock(mutex_);
    for (const auto& url : urlsOf(syncResources_)) {
        if (!newUrls.contains(url)) removalCandidates_.insert(url);
    }
    for (const auto& url : newUrls) removalCandidates_.erase(url);
    removeCachedTilePackage_ = !hasTiles;
}

std::optional<CVDataSetCacheItemInternal::Seconds> CVDataSetCacheItemInternal::maxAgeForResourceGroup(
    const CVUrlResourceGroup& group) {
    const auto& type = group.type();
    if (type == std::string(CVUrlResourceGroup::kTypeImages) ||
        type == std::string(CVUrlResourceGroup::kTypeExternalImages)) {
        return Seconds(7200);
    }
    return std::nullopt;
}

// MARK: - Task graph

std::vector<std::shared_ptr<CVDataSetCacheTask>> CVDataSetCacheItemInternal::getTasksForCaching() {
    const std::shared_ptr<const void> self = shared_from_this();
    const std::weak_ptr<CVDataSetCacheItemInternal> weakSelf = shared_from_this();
    const auto id = cachingItemId();
    const auto folderCache = cache();
    const auto dataSet = owner();
    const auto ownerId = dataSet ? dataSet->dataSetId() : id;

    // Shared by the graph's two marks, under the item's mutex: once the
    // aggregate has recorded the outcome, a start that comes late (a cancelled
    // aggregate ends without waiting for it) marks nothing.
    auto ended = std::make_shared<bool>(false);

    auto aggregate = CVDataSetCacheTask::createWithOwner(self);
    aggregate->setName("Sync aggregate task: " + id);
    aggregate->setPriority(kAggregatePriority);
    std::weak_ptr<CVDataSetCacheTask> weakAggregate = aggregate;
    aggregate->setCompletionBlock([weakSelf, weakAggregate, ended] {
        const auto item = weakSelf.lock();
        const auto task = weakAggregate.lock();
        if (item && task) item->finishSync(*task, *ended);
    });

    auto start = CVDataSetCacheTask::createWithOwner(self);
    start->setName("Sync start task: " + id);
    std::weak_ptr<CVDataSetCacheTask> weakStart = start;
    start->setCompletionBlock([weakSelf, weakStart, ended] {
        // A start cancelled before it ran marks nothing: the aggregate's
        // completion may already have run.
        const auto task = weakStart.lock();
        if (task && task->isCancelled()) return;
        if (const auto item = weakSelf.lock()) item->startSync(*ended);
    });
    // Even a graph with nothing to fetch marks its start before its end, or
    // the item would stay syncing for good.
    aggregate->addDependency(start);

    const auto pathFor = [&](const std::string& url) -> std::optional<std::filesystem::path> {
        if (!folderCache) return std::nullopt;
        return folderCache->pathForCachingItem(url);
    };

    const auto candidates = removalCandidates();
    if (!candidates.empty() && folderCache) {
        std::vector<std::filesystem::path> deletions;
        for (const auto& url : candidates) {
            if (auto path = pathFor(url)) deletions.push_back(std::move(*path));
        }
        std::shared_ptr<CVDataSetCacheTask> switchTask;
        if (removeCachedTilePackage()) {
            deletions.push_back(CVTileCache::pathForTilePackageCacheInFolder(folderCache->cacheFolder()));
            switchTask = CVSwitchToOnlineTilesTask::newWithCacheFolder(folderCache->cacheFolder());
            switchTask->addDependency(start);
            aggregate->addDependency(switchTask);
        }
        if (!deletions.empty()) {
            auto trim = CVDataSetCacheTrimTask::newWithDeletions(std::move(deletions));
            trim->addDependency(switchTask ? switchTask : start);
            aggregate->addDependency(trim);
        }
    }

    const auto groups = syncResources();
    const auto priorities = syncPriorities();
    std::vector<std::shared_ptr<platform::Operation>> work;
    for (std::size_t index = 0; index < groups.size(); ++index) {
        const auto& group = groups[index];
        const unsigned priority = index < priorities.size() ? priorities[index] : kAggregatePriority;
        const auto maxAge = maxAgeForResourceGroup(group);
        const bool isTiles = group.type() == std::string(CVUrlResourceGroup::kTypeTiles);
        const auto type = group.type().value_or(std::string());
        for (const auto& url : group.urls().value_or(std::vector<std::string>{})) {
            const auto path = pathFor(url);
            if (!path) {
                CVLog::core().error("[DSM] [E] No caching path for url {}", url);
                continue;
            }
            const auto since = CVOfflineBundleHelper::ifModifiedSinceForBundledUrl(url, *path, ownerId);
            // A package's tiles are unpacked as its check, and wait there
            // until the package has landed.
            const auto staging = isTiles ? std::make_shared<CVTilePackageStaging>(folderCache->cacheFolder()) : nullptr;
            auto read = staging ? CVDataSetDownloadReaders::forTilePackage(staging)
                                : CVDataSetDownloadReaders::forResource(type, url);
            auto download = CVDataSetUrlDownloadTask::newWithOwner(self, url, *path, since, maxAge, std::move(read));
            download->setPriority(priority);
            download->addDependency(start);
            work.push_back(download);
            if (staging) {
                auto unzip =
                    CVTilePackageUnzipTask::newAfterDownload(self, download, staging, folderCache->cacheFolder());
                unzip->addDependency(download);
                work.push_back(unzip);
            }
        }
        if (aggregate->priority() < priority) aggregate->setPriority(priority);
    }
    for (const auto& task : work) aggregate->addDependency(task);
    return {start, aggregate};
}

void CVDataSetCacheItemInternal::startSync(const bool& ended) {
    std::shared_ptr<CVDataSetCacheItemDelegate> delegate;
    {
        std::lock_guard lock(mutex_);
        if (ended) return;
        isSyncing_ = true;
        syncStart_ = std::chrono::system_clock::now();
        delegate = delegate_.lock();
    }
    if (delegate) delegate->syncStarted(*this);
}

void CVDataSetCacheItemInternal::finishSync(const CVDataSetCacheTask& aggregate, bool& ended) {
    const bool cancelled = aggregate.isCancelled() || aggregate.status() == CVDataSetCacheTaskStatus::cancelled;
    auto result = createSyncResultWithErrors(aggregate.accumulateErrors(), cancelled);
    const auto folderCache = cache();
    const std::uint64_t size = folderCache ? folderCache->cacheSize() : 0;
    std::shared_ptr<CVDataSetCacheItemDelegate> delegate;
    {
        std::lock_guard lock(mutex_);
        ended = true;
        isSyncing_ = false;
        if (!result) {
            cachedTimestamp_ = std::chrono::system_clock::now();
            isCached_ = true;
        }
        syncResult_ = std::move(result);
        syncTimestamp_ = syncStart_;
        cachedSize_ = size;
        currentlyCachedScope_ = cachingScope_;
        delegate = delegate_.lock();
    }
    if (delegate) delegate->syncFinished(*this);
}

// MARK: - Results

std::optional<platform::NSError> CVDataSetCacheItemInternal::createSyncResultWithErrors(const Errors& errors,
                                                                                        bool cancelled) {
    if (!cancelled && errors.empty()) return std::nullopt;
    platform::NSError result{std::string(kAmbrellErrorDomain),
                             cancelled ? AmbrellErrorCode::kDataSyncCancelled : AmbrellErrorCode::kDataLoadingFailed,
                             {}};
    if (!errors.empty()) {
        std::vector<std::shared_ptr<const platform::NSError>> underlying;
        underlying.reserve(errors.size());
        for (const auto& error : errors) underlying.push_back(std::make_shared<const platform::NSError>(error));
        result.userInfo.emplace(std::string(kUnderlyingErrorKey), std::move(underlying));
    }
    return result;
}

void CVDataSetCacheItemInternal::addSyncResult(const platform::NSError& error, std::optional<std::string_view> url) {
    std::lock_guard lock(mutex_);
    platform::NSError result{std::string(kAmbrellErrorDomain), AmbrellErrorCode::kDataLoadingFailed, {}};
    if (syncResult_) result.userInfo = syncResult_->userInfo;
    const auto key = url ? relativePathOf(*url) : error.domain;
    result.userInfo.insert_or_assign(key, std::make_shared<const platform::NSError>(error));
    syncResult_ = std::move(result);
}

std::string CVDataSetCacheItemInternal::debugDescription() const {
    return fmt::format("<CVDataSetCacheItemInternal: {}>: {} (syncing={})", static_cast<const void*>(this), name(),
                       isSyncing() ? "true" : "false");
}

}  // namespace ambrell
