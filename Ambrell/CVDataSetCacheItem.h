#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/Error.h"

namespace ambrell {

// How much of a solution a data set keeps. Stored and compared as numbers, so
// a value written by a later version still round-trips; these are the ones
// the library knows.
enum class CVDataSetCachingScope : std::int64_t {
    // The sync documents and the images they name.
    basic = 0,
    // As basic, plus images hosted elsewhere.
    detailed = 1,
    // As detailed, plus the map tile package.
    full = 2,
};

// Who looks after a data set: the library keeps the current API key's set in
// step and drops such sets once they go unused; host-added sets are always
// synchronised and never dropped on their own.
enum class CVDataSetCachingStrategy : std::int64_t {
    sdkManaged = 0,
    hostManaged = 1,
};

[[nodiscard]] constexpr std::int64_t rawValue(CVDataSetCachingScope scope) noexcept {
    return static_cast<std::int64_t>(scope);
}
[[nodiscard]] constexpr std::int64_t rawValue(CVDataSetCachingStrategy strategy) noexcept {
    return static_cast<std::int64_t>(strategy);
}

// The part of a data set that is synchronised, with the state of its last
// synchronisation. Safe to read from any thread.
class CVDataSetCacheItem {
public:
    using Date = std::chrono::system_clock::time_point;

    CVDataSetCacheItem() = default;
    CVDataSetCacheItem(const CVDataSetCacheItem&) = delete;
    CVDataSetCacheItem& operator=(const CVDataSetCacheItem&) = delete;
    virtual ~CVDataSetCacheItem() = default;

    // The id of the data set the item belongs to.
    [[nodiscard]] virtual std::string cachingItemId() const = 0;
    [[nodiscard]] virtual std::string name() const = 0;
    // The content language of the synchronised documents.
    [[nodiscard]] virtual std::string language() const = 0;
    // A CVDataSetCachingStrategy value.
    [[nodiscard]] virtual std::int64_t cachingStrategy() const = 0;
    // A CVDataSetCachingScope value: what the next synchronisation fetches.
    [[nodiscard]] virtual std::int64_t cachingScope() const = 0;
    // The scope of the last finished synchronisation.
    [[nodiscard]] virtual std::int64_t currentlyCachedScope() const = 0;
    // A synchronisation has completed without error at least once.
    [[nodiscard]] virtual bool isCached() const = 0;
    [[nodiscard]] virtual bool isSyncing() const = 0;
    [[nodiscard]] virtual bool isScheduledForSync() const = 0;
    // When the last error-free synchronisation ended.
    [[nodiscard]] virtual std::optional<Date> cachedTimestamp() const = 0;
    // Bytes on disk after the last synchronisation.
    [[nodiscard]] virtual std::uint64_t cachedSize() const = 0;
    // When the last synchronisation started.
    [[nodiscard]] virtual std::optional<Date> syncTimestamp() const = 0;
    // The error of the last synchronisation; none after a clean one.
    [[nodiscard]] virtual std::optional<platform::NSError> syncResult() const = 0;
    // Estimated bytes a synchronisation of the current scope fetches.
    [[nodiscard]] virtual std::uint64_t syncSize() const = 0;
};

}  // namespace ambrell
