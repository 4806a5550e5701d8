#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <boost/json/fwd.hpp>

#include "Ambrell/CVDataSetCacheItem.h"
#include "data/CVUrlResourceCollection.h"
#include "platform/Error.h"

namespace ambrell {

class CVDataSetCacheInternal;
class CVDataSetCacheItemInternal;
class CVDataSetCacheTask;
class CVFileCache;

// Hears when an item's synchronisation starts and ends, on the task thread
// that marks it.
class CVDataSetCacheItemDelegate {
public:
    virtual ~CVDataSetCacheItemDelegate() = default;
    virtual void syncStarted(CVDataSetCacheItemInternal& /*item*/) {}
    virtual void syncFinished(CVDataSetCacheItemInternal& /*item*/) {}
};

// What of a data set is synchronised and how the last synchronisation went.
// Persists as the "cacheItem" dictionary of the data set's info file. Every
// member is safe from any thread: the fields sit behind one mutex that is
// never held while calling out.
class CVDataSetCacheItemInternal : public CVDataSetCacheItem,
                                   public std::enable_shared_from_this<CVDataSetCacheItemInternal> {
public:
    using Bytes = std::vector<std::uint8_t>;
    using Seconds = std::chrono::seconds;
    using Errors = std::vector<platform::NSError>;
    struct Token {
        explicit Token() = default;
    };

    explicit CVDataSetCacheItemInternal(Token /*unused*/) {}

    // A fresh item: host-managed, the current content language, scope basic.
    [[nodiscard]] static std::shared_ptr<CVDataSetCacheItemInternal> initWithId(std::string cachingItemId);
    // Missing or mistyped keys read as 0, false or none; a timestamp of 0
    // reads as none. Null stands for an absent dictionary.
    [[nodiscard]] static std::shared_ptr<CVDataSetCacheItemInternal> initWithDictionary(
        const boost::json::object* dictionary);
    // JSON bytes of the dictionary; bytes that are no JSON object give an
    // item from an absent dictionary.
    [[nodiscard]] static std::shared_ptr<CVDataSetCacheItemInternal> initWithData(std::span<const std::uint8_t> data);

    // Exactly the 12 keys of the stored format.
    [[nodiscard]] boost::json::object asDictionary() const;
    [[nodiscard]] Bytes asData() const;

    // CVDataSetCacheItem
    [[nodiscard]] std::string cachingItemId() const override;
    [[nodiscard]] std::string name() const override;
    [[nodiscard]] std::string language() const override;
    [[nodiscard]] std::int64_t cachingStrategy() const override;
    [[nodiscard]] std::int64_t cachingScope() const override;
    [[nodiscard]] std::int64_t currentlyCachedScope() const override;
    [[nodiscard]] bool isCached() const override;
    [[nodiscard]] bool isSyncing() const override;
    [[nodiscard]] bool isScheduledForSync() const override;
    [[nodiscard]] std::optional<Date> cachedTimestamp() const override;
    [[nodiscard]] std::uint64_t cachedSize() const override;
    [[nodiscard]] std::optional<Date> syncTimestamp() const override;
    [[nodiscard]] std::optional<platform::NSError> syncResult() const override;
    [[nodiscard]] std::uint64_t syncSize() const override;

    void setCachingItemId(std::optional<std::string> value);
    void setName(std::optional<std::string> value);
    void setLanguage(std::optional<std::string> value);
    void setCachingStrategy(std::int64_t value);
    void setCachingScope(std::int64_t value);
    void setCurrentlyCachedScope(std::int64_t value);
    void setIsCached(bool value);
    void setIsSyncing(bool value);
    void setIsScheduledForSync(bool value);
    void setCachedTimestamp(std::optional<Date> value);
    void setCachedSize(std::uint64_t value);
    void setSyncTimestamp(std::optional<Date> value);
    void setSyncResult(std::optional<platform::NSError> value);
    void setSyncSize(std::uint64_t value);
    [[nodiscard]] std::optional<Date> syncStart() const;

    [[nodiscard]] std::shared_ptr<CVDataSetCacheInternal> owner() const;
    void setOwner(const std::shared_ptr<CVDataSetCacheInternal>& owner);
    [[nodiscard]] std::shared_ptr<const CVFileCache> cache() const;
    void setCache(std::shared_ptr<const CVFileCache> cache);
    void setDelegate(std::weak_ptr<CVDataSetCacheItemDelegate> delegate);

    // The groups a synchronisation fetches and their task priorities, one per
    // group. URLs the new groups drop become removal candidates first.
    void setSyncResources(std::vector<CVUrlResourceGroup> groups, std::vector<unsigned> priorities);
    [[nodiscard]] std::vector<CVUrlResourceGroup> syncResources() const;
    [[nodiscard]] std::vector<unsigned> syncPriorities() const;
    [[nodiscard]] std::set<std::string> removalCandidates() const;
    [[nodiscard]] bool removeCachedTilePackage() const;

    // Images may be served from disk for two hours without asking again.
    [[nodiscard]] static std::optional<Seconds> maxAgeForResourceGroup(const CVUrlResourceGroup& group);

    // The graph that brings the data set's folder up to date: [start task,
    // aggregate task]. Scheduling the list with dependencies schedules all of it.
    [[nodiscard]] std::vector<std::shared_ptr<CVDataSetCacheTask>> getTasksForCaching();

    // None when not cancelled and nothing failed; else kDataSyncCancelled or
    // kDataLoadingFailed with the errors under "syncContent::underlyingError".
    [[nodiscard]] static std::optional<platform::NSError> createSyncResultWithErrors(const Errors& errors,
                                                                                     bool cancelled);
    // The result becomes kDataLoadingFailed, keeping what it held, plus the
    // error under the URL's path (under the error's domain without a URL).
    void addSyncResult(const platform::NSError& error, std::optional<std::string_view> url);

    [[nodiscard]] std::string debugDescription() const;

private:
    void updateRemovalCandidatesConsideringNewSyncResources(const std::vector<CVUrlResourceGroup>& groups);
    // The aggregate's completion: the sync's outcome recorded on the item.
    // `ended` is the graph's mark, set here and read by startSync(); both are
    // read and written under the mutex.
    void finishSync(const CVDataSetCacheTask& aggregate, bool& ended);
    void startSync(const bool& ended);

    mutable std::mutex mutex_;
    bool isCached_ = false;
    bool isSyncing_ = false;
    bool isScheduledForSync_ = false;
    bool removeCachedTilePackage_ = false;
    std::optional<std::string> cachingItemId_;
    std::optional<std::string> name_;
    std::optional<std::string> language_;
    std::int64_t cachingStrategy_ = 0;
    std::int64_t cachingScope_ = 0;
    std::optional<Date> cachedTimestamp_;
    std::uint64_t cachedSize_ = 0;
    std::optional<Date> syncTimestamp_;
    std::optional<platform::NSError> syncResult_;
    std::uint64_t syncSize_ = 0;
    std::weak_ptr<CVDataSetCacheInternal> owner_;
    std::shared_ptr<const CVFileCache> cache_;
    std::weak_ptr<CVDataSetCacheItemDelegate> delegate_;
    std::int64_t currentlyCachedScope_ = 0;
    std::vector<CVUrlResourceGroup> syncResources_;
    std::vector<unsigned> syncPriorities_;
    std::optional<Date> syncStart_;
    std::set<std::string> removalCandidates_;
};

}  // namespace ambrell
