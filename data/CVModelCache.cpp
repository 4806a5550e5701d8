#include "data/CVModelCache.h"

#include "Ambrell/CVLog.h"
#include "data/CVLocationSourceIndex.h"
#include "foundation/CVAXAPI.h"
#include "foundation/LRUCache.h"

namespace ambrell {

namespace {

std::mutex sharedMutex;
std::shared_ptr<CVModelCache> sharedCache;

}  // namespace

CVModelCache::CVModelCache(platform::NotificationCenter& notificationCenter) {
    // The block captures a plain pointer: the token is removed first thing in
    // the destructor, and removal waits for a delivery in flight.
    memoryWarning_ = notificationCenter.addObserver(LRUCacheMemoryWarningNotification(),
                                                    [this](const platform::Notification&) { removeAllObjects(); });
}

CVModelCache::~CVModelCache() { memoryWarning_.reset(); }

std::shared_ptr<CVModelCache> CVModelCache::memoryCache() {
    std::lock_guard lock(sharedMutex);
    if (!sharedCache) sharedCache = std::make_shared<CVModelCache>();
    return sharedCache;
}

void CVModelCache::resetMemoryCacheForTesting() {
    std::shared_ptr<CVModelCache> previous;
    std::lock_guard lock(sharedMutex);
    previous.swap(sharedCache);
}

std::string CVModelCache::cacheKeyForUrl(std::string_view url) {
    return CVAXAPI::sharedInstance()->urlByNormalizingAmbrellBackendUrls(url);
}

void CVModelCache::removeObjectForKey(const std::string& key) {
    std::lock_guard lock(mutex_);
    entries_.erase(key);
}

std::size_t CVModelCache::count() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

void CVModelCache::clearCache() {
    CVLog::core().debug("-[CVModelCache clearCache] Clearing memory cache data");
    removeAllObjects();
    CVLocationSourceIndex::clear();
}

void CVModelCache::removeAllObjects() {
    std::unordered_map<std::string, std::any> removed;
    {
        std::lock_guard lock(mutex_);
        removed.swap(entries_);
    }
    removed.clear();
}

}  // namespace ambrell
