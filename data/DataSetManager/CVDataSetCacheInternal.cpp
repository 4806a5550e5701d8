#include "data/DataSetManager/CVDataSetCacheInternal.h"

#include <boost/json/object.hpp>
#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <boost/json/value.hpp>
#include <fmt/format.h>

#include "Ambrell/CVErrorCodes.h"
#include "Ambrell/CVLog.h"
#include "Ambrell/ErrorObjects.h"
#include "data/CVOfflineBundleHelper.h"
#include "data/DataSetManager/CVDataSetDownloadReaders.h"
#include "data/DataSetManager/CVDataSetUrlDownloadTask.h"
#include "data/DataSetManager/NSOperationCorvay.h"
#include "foundation/CVAXAPI.h"
#include "foundation/CVExtendedFileAttributes.h"
#include "foundation/CVFileCache.h"
#include "foundation/CVFileCacheJSON.h"

namespace ambrell {

namespace json = boost::json;

namespace {

constexpr unsigned kSizeTaskPriority = 3;
// The json group goes first and with the images, as soon as they can.
constexpr unsigned kJsonPriority = 2;
constexpr unsigned kImagesPriority = 2;
constexpr unsigned kExternalImagesPriority = 1;
constexpr unsigned kTilesPriority = 0;

std::optional<CVUrlResourceGroup> groupOf(const CVUrlResourceCollection& collection, std::string_view type) {
    const auto found = collection.resources().find(std::string(type));
    if (found == collection.resources().end()) return std::nullopt;
    return found->second;
}

std::uint64_t sizeOf(const CVUrlResourceGroup& group) {
    return group.estimatedSize() < 0 ? 0 : static_cast<std::uint64_t>(group.estimatedSize());
}

}  // namespace

CVDataSetCacheInternal::CVDataSetCacheInternal(Token /*unused*/, std::string dataSetId,
                                               std::shared_ptr<const CVFileCache> cache)
    : dataSetId_(std::move(dataSetId)), cache_(std::move(cache)), lastUsedTime_(std::chrono::system_clock::now()) {}

std::shared_ptr<CVDataSetCacheInternal> CVDataSetCacheInternal::initWithId(std::string dataSetId,
                                                                           std::shared_ptr<const CVFileCache> cache) {
    auto dataSet = std::make_shared<CVDataSetCacheInternal>(Token{}, std::move(dataSetId), std::move(cache));
    const auto& id = dataSet->dataSetId_;

    std::shared_ptr<CVDataSetCacheItemInternal> item;
    if (dataSet->cache_) {
        if (const auto data = dataSet->cache_->cachedDataForFilename(filenameForDataSet(id))) {
            json::error_code error;
            const auto info =
                json::parse(std::string_view(reinterpret_cast<const char*>(data->data()), data->size()), error);
            if (!error && info.is_object()) {
                const auto& object = info.as_object();
                const auto* cacheItem = object.if_contains("cacheItem");
                item = CVDataSetCacheItemInternal::initWithDictionary(
                    cacheItem && cacheItem->is_object() ? &cacheItem->as_object() : nullptr);
                if (const auto* real = object.if_contains("realDatasetId"); real && real->is_string()) {
                    dataSet->realDatasetId_ = std::string(real->as_string());
                }
            } else {
                CVLog::core().error("[DSM] [E] Unreadable info file of data set {}; starting afresh", id);
            }
        }
    }
    if (!item) item = CVDataSetCacheItemInternal::initWithId(id);
    // The folder names the data set; an info file copied from another set
    // must not make its item answer for that one.
    item->setCachingItemId(id);
    item->setOwner(dataSet);
    item->setCache(dataSet->cache_);
    item->setName(id);
    dataSet->item_ = std::move(item);

    {
        std::lock_guard lock(dataSet->mutex_);
        const auto language = dataSet->item_->language();
        if (!language.empty()) dataSet->ambrellContentLanguage_ = language;
    }
    if (dataSet->readSizeResponse()) dataSet->updateCacheItems();
    return dataSet;
}

std::string CVDataSetCacheInternal::filenameForDataSet(std::string_view dataSetId) {
    return fmt::format("{}.{}", dataSetId, "json");
}

json::object CVDataSetCacheInternal::asDictionary() const {
    json::object dictionary;
    dictionary["cachingStrategy"] = item_->cachingStrategy();
    dictionary["cacheItem"] = item_->asDictionary();
    dictionary["dataSetId"] = dataSetId_;
    dictionary["realDatasetId"] = realDatasetId();
    return dictionary;
}

bool CVDataSetCacheInternal::saveToDisk() const {
    if (!cache_) return false;
    const auto text = json::serialize(asDictionary());
    const std::vector<std::uint8_t> bytes(text.begin(), text.end());
    return cache_->saveDataWithFilename(bytes, filenameForDataSet(dataSetId_));
}

CVDataSetCacheInternal::Path CVDataSetCacheInternal::folder() const { return cache_ ? cache_->cacheFolder() : Path{}; }

// MARK: - Size scoping

std::string CVDataSetCacheInternal::sizeResponseUrl() const {
    return CVAXAPI::sharedInstance()->dataSetSyncUrlForSolutionId(dataSetId_, std::nullopt);
}

bool CVDataSetCacheInternal::readSizeResponse() {
    if (!cache_) return false;
    const auto url = sizeResponseUrl();
    if (!cache_->pathForCachedItem(url)) return false;
    const auto document = dictionaryFromCachedFileForUrl(*cache_, url);
    if (!document || !document->is_object()) return false;
    // The real id stays the info file's until a new description arrives.
    auto collection = CVUrlResourceCollection::initWithJsonDictionary(document->as_object());
    std::lock_guard lock(mutex_);
    urlResourceCollection_ = std::move(collection);
    return true;
}

std::shared_ptr<CVDataSetCacheTask> CVDataSetCacheInternal::getOrCreateTaskForScopingDataSetSize() {
    std::lock_guard lock(mutex_);
    if (taskForScopingDataSetSize_) {
        const auto status = taskForScopingDataSetSize_->status();
        if (status != CVDataSetCacheTaskStatus::finished && status != CVDataSetCacheTaskStatus::failed &&
            status != CVDataSetCacheTaskStatus::cancelled && !taskForScopingDataSetSize_->isFinished()) {
            return taskForScopingDataSetSize_;
        }
    }
    if (!cache_) return nullptr;
    const auto url = sizeResponseUrl();
    const auto path = cache_->pathForCachingItem(url);
    if (!path) return nullptr;

    auto since = CVOfflineBundleHelper::ifModifiedSinceForBundledUrl(url, *path, dataSetId_);
    // A description fetched for another scope lists other groups: fetch it
    // again whatever the server thinks of its date.
    if (xattr_cachingScope(*path).value_or(0) != item_->cachingScope()) {
        since = std::chrono::system_clock::time_point(std::chrono::seconds(0));
    }
    const std::shared_ptr<const void> owner = shared_from_this();
    auto task = CVDataSetUrlDownloadTask::newWithOwner(owner, url, *path, since, std::nullopt,
                                                       CVDataSetDownloadReaders::forDescription());
    task->setPriority(kSizeTaskPriority);
    const std::weak_ptr<CVDataSetCacheInternal> weakSelf = shared_from_this();
    const std::weak_ptr<CVDataSetUrlDownloadTask> weakTask = task;
    cvAddMainQueueCompletionBlock(*task, [weakSelf, weakTask, url, path = *path] {
        const auto self = weakSelf.lock();
        const auto finished = weakTask.lock();
        if (self && finished) self->sizeTaskFinished(*finished, url, path);
    });
    taskForScopingDataSetSize_ = task;
    return task;
}

void CVDataSetCacheInternal::sizeTaskFinished(CVDataSetCacheTask& task, const std::string& url, const Path& path) {
    if (!task.error()) {
        // A response without a language leaves the one the documents had.
        if (auto language = xattr_contentLanguage(path)) {
            item_->setLanguage(language);
            setAmbrellContentLanguage(std::move(language));
        }
    }
    // A fetch that brought no description must not pass for one that did:
    // the synchronisation waiting for it reports the task's error.
    const auto noDescription = [&](std::string reason) {
        if (task.error() || task.isCancelled()) return;
        task.setError(errorWithDescription(std::string(kAmbrellErrorDomain), AmbrellErrorCode::kDataLoadingFailed,
                                           fmt::format("{}: {}", reason, url)));
    };
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        CVLog::core().error("Error getting data from url: {}", url);
        noDescription("No data set description");
        return;
    }
    const auto document = dictionaryFromCachedFileForUrl(*cache_, url);
    if (!document || !document->is_object()) {
        noDescription("The data set description is not a JSON object");
        return;
    }
    xattr_setCachingScope(path, item_->cachingScope());
    auto collection = CVUrlResourceCollection::initWithJsonDictionary(document->as_object());
    {
        std::lock_guard lock(mutex_);
        realDatasetId_ = collection.datasetId().value_or("");
        urlResourceCollection_ = std::move(collection);
    }
    updateCacheItems();
}

std::shared_ptr<CVDataSetCacheTask> CVDataSetCacheInternal::taskForScopingDataSetSize() const {
    std::lock_guard lock(mutex_);
    return taskForScopingDataSetSize_;
}

// MARK: - Groups

bool CVDataSetCacheInternal::setCachingScope(std::int64_t scope,
                                             const std::shared_ptr<CVDataSetCacheItemInternal>& item) {
    if (!item || item != item_ || item->cachingScope() == scope) return false;
    item->setCachingScope(scope);
    updateCacheItem(*item);
    return true;
}

void CVDataSetCacheInternal::updateCacheItems() {
    if (!hasScopedDataSetSize()) return;
    updateCacheItem(*item_);
}

void CVDataSetCacheInternal::updateCacheItem(CVDataSetCacheItemInternal& item) {
    const auto collection = urlResourceCollection();
    const auto language = ambrellContentLanguage();
    std::vector<CVUrlResourceGroup> groups;
    std::vector<unsigned> priorities;

    const auto jsonGroup = collection ? groupOf(*collection, CVUrlResourceGroup::kTypeJson) : std::nullopt;
    const auto api = CVAXAPI::sharedInstance();
    const auto contentLanguage = language ? std::optional<std::string_view>(*language) : std::nullopt;
    auto jsonUrls = api->allEndpointUrlsForSyncingSolutionId(dataSetId_, contentLanguage);
    // A venue's load fails without its derived geometry, so a data set
    // without the solution-wide copy could load no venue offline.
    jsonUrls.push_back(api->derivedGeometrySyncUrlForSolutionId(dataSetId_, contentLanguage));
    groups.emplace_back(std::string(CVUrlResourceGroup::kTypeJson), std::move(jsonUrls),
                        jsonGroup ? jsonGroup->estimatedSize() : 0);
    priorities.push_back(kJsonPriority);

    const auto take = [&](std::string_view type, unsigned priority) {
        if (!collection) return;
        if (auto group = groupOf(*collection, type)) {
            groups.push_back(std::move(*group));
            priorities.push_back(priority);
        }
    };
    const auto scope = item.cachingScope();
    take(CVUrlResourceGroup::kTypeImages, kImagesPriority);
    if (scope >= rawValue(CVDataSetCachingScope::detailed)) {
        take(CVUrlResourceGroup::kTypeExternalImages, kExternalImagesPriority);
    }
    if (scope >= rawValue(CVDataSetCachingScope::full)) take(CVUrlResourceGroup::kTypeTiles, kTilesPriority);

    std::uint64_t size = 0;
    for (const auto& group : groups) size += sizeOf(group);
    item.setSyncSize(size);
    item.setSyncResources(std::move(groups), std::move(priorities));
}

// MARK: - Accessors

std::optional<CVUrlResourceCollection> CVDataSetCacheInternal::urlResourceCollection() const {
    std::lock_guard lock(mutex_);
    return urlResourceCollection_;
}

std::optional<std::string> CVDataSetCacheInternal::ambrellContentLanguage() const {
    std::lock_guard lock(mutex_);
    return ambrellContentLanguage_;
}

void CVDataSetCacheInternal::setAmbrellContentLanguage(std::optional<std::string> language) {
    std::lock_guard lock(mutex_);
    ambrellContentLanguage_ = std::move(language);
}

std::string CVDataSetCacheInternal::realDatasetId() const {
    std::lock_guard lock(mutex_);
    return realDatasetId_;
}

void CVDataSetCacheInternal::setRealDatasetId(std::string realDatasetId) {
    std::lock_guard lock(mutex_);
    realDatasetId_ = std::move(realDatasetId);
}

std::chrono::system_clock::time_point CVDataSetCacheInternal::lastUsedTime() const {
    std::lock_guard lock(mutex_);
    return lastUsedTime_;
}

void CVDataSetCacheInternal::setLastUsedTime(std::chrono::system_clock::time_point time) {
    std::lock_guard lock(mutex_);
    lastUsedTime_ = time;
}

std::string CVDataSetCacheInternal::name() const {
    std::lock_guard lock(mutex_);
    if (urlResourceCollection_ && urlResourceCollection_->name()) return *urlResourceCollection_->name();
    return dataSetId_;
}

bool CVDataSetCacheInternal::isCached() const { return item_->isCached(); }
std::optional<CVDataSetCache::Date> CVDataSetCacheInternal::cachedTimestamp() const { return item_->cachedTimestamp(); }
std::uint64_t CVDataSetCacheInternal::cachedSize() const { return item_->cachedSize(); }
std::optional<CVDataSetCache::Date> CVDataSetCacheInternal::syncTimestamp() const { return item_->syncTimestamp(); }
std::optional<platform::NSError> CVDataSetCacheInternal::syncResult() const { return item_->syncResult(); }
std::uint64_t CVDataSetCacheInternal::syncSize() const { return item_->syncSize(); }
std::int64_t CVDataSetCacheInternal::cachingStrategy() const { return item_->cachingStrategy(); }
void CVDataSetCacheInternal::setCachingStrategy(std::int64_t strategy) { item_->setCachingStrategy(strategy); }

bool CVDataSetCacheInternal::isSyncing() const {
    if (item_->isSyncing()) return true;
    const auto task = taskForScopingDataSetSize();
    return task && task->status() == CVDataSetCacheTaskStatus::executing;
}

bool CVDataSetCacheInternal::hasScopedDataSetSize() const {
    std::lock_guard lock(mutex_);
    return urlResourceCollection_.has_value();
}

bool CVDataSetCacheInternal::haveBundledData() const {
    return CVOfflineBundleHelper::offlineDataSolutionId() == dataSetId_;
}

std::string CVDataSetCacheInternal::debugDescription() const {
    return fmt::format("<CVDataSetCacheInternal: {}>: {} (syncing={})", static_cast<const void*>(this), name(),
                       isSyncing() ? "true" : "false");
}

}  // namespace ambrell
