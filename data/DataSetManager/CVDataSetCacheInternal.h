#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <boost/json/fwd.hpp>

#include "Ambrell/CVDataSetCache.h"
#include "data/CVUrlResourceCollection.h"
#include "data/DataSetManager/CVDataSetCacheItemInternal.h"

namespace ambrell {

class CVDataSetCacheTask;
class CVFileCache;

// One data set: a folder named by the id holding the cached files of one
// solution, its info file ("<id>.json": the cache item and the real data-set
// id) and the web service's description of the solution's resources (the
// cached "dataset" sync document), from which the item's URL groups come.
// Every member is safe from any thread.
class CVDataSetCacheInternal : public CVDataSetCache, public std::enable_shared_from_this<CVDataSetCacheInternal> {
public:
    using Path = std::filesystem::path;
    struct Token {
        explicit Token() = default;
    };

    CVDataSetCacheInternal(Token /*unused*/, std::string dataSetId, std::shared_ptr<const CVFileCache> cache);

    // Loads the data set from its folder: the item from the info file (a
    // fresh one when the file is missing or unreadable) and the groups from
    // the cached description, when there is one.
    [[nodiscard]] static std::shared_ptr<CVDataSetCacheInternal> initWithId(std::string dataSetId,
                                                                            std::shared_ptr<const CVFileCache> cache);

    // "<id>.json"
    [[nodiscard]] static std::string filenameForDataSet(std::string_view dataSetId);
    [[nodiscard]] boost::json::object asDictionary() const;
    // Writes the info file atomically; false when it could not be written.
    bool saveToDisk() const;

    // The task that fetches the description again: the running one when it
    // has neither finished nor been cancelled, else a new one, not scheduled.
    // Completes: its completion reads the fetched description on the main
    // queue and rebuilds the item's groups. A failed fetch keeps the previous
    // description (it is read again); the task's error says what failed, and
    // a fetch that leaves no readable description gets one there too.
    [[nodiscard]] std::shared_ptr<CVDataSetCacheTask> getOrCreateTaskForScopingDataSetSize();
    [[nodiscard]] std::shared_ptr<CVDataSetCacheTask> taskForScopingDataSetSize() const;

    // True when the scope changed: the item is this set's and had another
    // scope. Its groups are rebuilt.
    bool setCachingScope(std::int64_t scope, const std::shared_ptr<CVDataSetCacheItemInternal>& item);
    void updateCacheItems();
    void updateCacheItem(CVDataSetCacheItemInternal& item);

    [[nodiscard]] const std::shared_ptr<CVDataSetCacheItemInternal>& item() const { return item_; }
    [[nodiscard]] const std::shared_ptr<const CVFileCache>& cache() const { return cache_; }
    [[nodiscard]] Path folder() const;
    [[nodiscard]] std::optional<CVUrlResourceCollection> urlResourceCollection() const;
    [[nodiscard]] std::optional<std::string> ambrellContentLanguage() const;
    void setAmbrellContentLanguage(std::optional<std::string> language);
    [[nodiscard]] std::string realDatasetId() const;
    void setRealDatasetId(std::string realDatasetId);
    [[nodiscard]] std::chrono::system_clock::time_point lastUsedTime() const;
    void setLastUsedTime(std::chrono::system_clock::time_point time);
    void setCachingStrategy(std::int64_t strategy);

    [[nodiscard]] std::string debugDescription() const;

    // CVDataSetCache
    [[nodiscard]] std::string dataSetId() const override { return dataSetId_; }
    [[nodiscard]] std::string name() const override;
    [[nodiscard]] std::shared_ptr<CVDataSetCacheItem> cacheItem() const override { return item_; }
    [[nodiscard]] std::vector<std::shared_ptr<CVDataSetCacheItem>> allCacheItems() const override { return {item_}; }
    [[nodiscard]] bool isCached() const override;
    [[nodiscard]] std::optional<Date> cachedTimestamp() const override;
    [[nodiscard]] std::uint64_t cachedSize() const override;
    [[nodiscard]] std::optional<Date> syncTimestamp() const override;
    [[nodiscard]] std::optional<platform::NSError> syncResult() const override;
    [[nodiscard]] std::uint64_t syncSize() const override;
    [[nodiscard]] bool isSyncing() const override;
    [[nodiscard]] std::int64_t cachingStrategy() const override;
    [[nodiscard]] bool hasScopedDataSetSize() const override;
    [[nodiscard]] bool haveBundledData() const override;

private:
    [[nodiscard]] std::string sizeResponseUrl() const;
    // Reads the cached description; true when it parsed.
    bool readSizeResponse();
    void sizeTaskFinished(CVDataSetCacheTask& task, const std::string& url, const Path& path);

    const std::string dataSetId_;
    const std::shared_ptr<const CVFileCache> cache_;
    std::shared_ptr<CVDataSetCacheItemInternal> item_;

    mutable std::mutex mutex_;
    std::optional<CVUrlResourceCollection> urlResourceCollection_;
    std::optional<std::string> ambrellContentLanguage_;
    std::string realDatasetId_;
    std::chrono::system_clock::time_point lastUsedTime_;
    std::shared_ptr<CVDataSetCacheTask> taskForScopingDataSetSize_;
};

}  // namespace ambrell
