#pragma once

#include <any>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/NotificationCenter.h"

namespace ambrell {

// The parsed content models of every provider, under the normalised request
// URL, so that the same content fetched through any environment's host is
// parsed once. Entries may go at any time (a miss is normal for every
// reader); safe from any thread.
class CVModelCache {
public:
    // Empties itself (not the readable-id index) on the memory warning
    // (LRUCacheMemoryWarningNotification) of the centre, as the platform's
    // cache may be emptied under memory pressure.
    explicit CVModelCache(
        platform::NotificationCenter& notificationCenter = platform::NotificationCenter::defaultCenter());
    ~CVModelCache();
    // The observer refers to this very object, so it cannot move.
    CVModelCache(const CVModelCache&) = delete;
    CVModelCache& operator=(const CVModelCache&) = delete;

    // The one cache of the process, created on first use.
    [[nodiscard]] static std::shared_ptr<CVModelCache> memoryCache();
    // Test-only: the next memoryCache() makes a new, empty cache.
    static void resetMemoryCacheForTesting();

    // The web-service URL moved to the production host; other texts unchanged.
    [[nodiscard]] static std::string cacheKeyForUrl(std::string_view url);

    template <typename T>
    void setObject(std::shared_ptr<T> object, const std::string& key) {
        std::lock_guard lock(mutex_);
        if (object) {
            entries_.insert_or_assign(key, std::any(std::move(object)));
        } else {
            entries_.erase(key);
        }
    }

    // Null when nothing is stored under the key or it holds another type.
    template <typename T>
    [[nodiscard]] std::shared_ptr<T> objectForKey(const std::string& key) const {
        std::lock_guard lock(mutex_);
        auto entry = entries_.find(key);
        if (entry == entries_.end()) return nullptr;
        const auto* object = std::any_cast<std::shared_ptr<T>>(&entry->second);
        return object != nullptr ? *object : nullptr;
    }

    void removeObjectForKey(const std::string& key);
    [[nodiscard]] std::size_t count() const;

    // Empties the cache and the readable-id index, which is filled from the
    // same models.
    void clearCache();

private:
    // The models are released outside the lock: their destructors may be long.
    void removeAllObjects();

    mutable std::mutex mutex_;
    std::unordered_map<std::string, std::any> entries_;
    platform::NotificationCenter::ObserverToken memoryWarning_;
};

}  // namespace ambrell
