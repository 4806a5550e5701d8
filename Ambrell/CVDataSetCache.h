#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Ambrell/CVDataSetCacheItem.h"
#include "platform/Error.h"

namespace ambrell {

// The offline copy of one solution's content on disk. Safe to read from any
// thread.
class CVDataSetCache {
public:
    using Date = std::chrono::system_clock::time_point;

    CVDataSetCache() = default;
    CVDataSetCache(const CVDataSetCache&) = delete;
    CVDataSetCache& operator=(const CVDataSetCache&) = delete;
    virtual ~CVDataSetCache() = default;

    // The solution id the set is kept for, also its folder's name.
    [[nodiscard]] virtual std::string dataSetId() const = 0;
    // The name the web service gives the solution, else the id.
    [[nodiscard]] virtual std::string name() const = 0;
    [[nodiscard]] virtual std::shared_ptr<CVDataSetCacheItem> cacheItem() const = 0;
    [[nodiscard]] virtual std::vector<std::shared_ptr<CVDataSetCacheItem>> allCacheItems() const = 0;

    // The item's state.
    [[nodiscard]] virtual bool isCached() const = 0;
    [[nodiscard]] virtual std::optional<Date> cachedTimestamp() const = 0;
    [[nodiscard]] virtual std::uint64_t cachedSize() const = 0;
    [[nodiscard]] virtual std::optional<Date> syncTimestamp() const = 0;
    [[nodiscard]] virtual std::optional<platform::NSError> syncResult() const = 0;
    [[nodiscard]] virtual std::uint64_t syncSize() const = 0;
    // The item is synchronising, or the set's size is being fetched.
    [[nodiscard]] virtual bool isSyncing() const = 0;
    [[nodiscard]] virtual std::int64_t cachingStrategy() const = 0;

    // The web service's description of the set has been fetched.
    [[nodiscard]] virtual bool hasScopedDataSetSize() const = 0;
    // The host app carries an offline snapshot of this solution.
    [[nodiscard]] virtual bool haveBundledData() const = 0;
};

}  // namespace ambrell
