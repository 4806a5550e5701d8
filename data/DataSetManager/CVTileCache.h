#pragma once

#include <any>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Image.h"
#include "platform/NotificationCenter.h"

namespace ambrell {

// Where tiles are served from. Values are stored and compared as numbers;
// anything outside the list reads as unknown.
enum class CVTileCacheStrategy : unsigned { unknown = 0, online = 1, tilePackage = 2 };

// Posted on the default notification centre, with the tile cache as object,
// whenever tiles obtained before may no longer be valid: the strategy, the
// base path (after the first) or the package content changed. Observers get
// it on the posting thread.
inline constexpr std::string_view kCVNotificationTileCacheStrategyChanged = "kCVNotificationTileCacheStrategyChanged";

// The process-wide store of floor-plan tiles: which source is in force, where
// its folders are, and which file a tile URL maps to. All members are safe
// from any thread; the fields are guarded by one mutex that is never held
// while logging, posting or touching the disk beyond a folder creation.
class CVTileCache : public std::enable_shared_from_this<CVTileCache> {
public:
    // Caches are made by defaultTileCache() and newWithStrategy() only, so
    // that each is owned by a shared pointer (its notifications carry one).
    struct Token {
        explicit Token() = default;
    };
    explicit CVTileCache(Token /*unused*/);

    // The shared cache, created once on first use (thread-safe).
    static std::shared_ptr<CVTileCache> defaultTileCache();
    static std::shared_ptr<CVTileCache> newWithStrategy(CVTileCacheStrategy strategy);
    // Test-only: the next defaultTileCache() creates a new cache.
    static void resetDefaultTileCacheForTesting();

    // A different path re-derives the strategy (package folder present or
    // not), prepares the cache folder and, unless it is the first base path,
    // posts the notification. An empty path is refused (logged); a relative
    // one is taken from the current folder.
    void setBasePath(const std::filesystem::path& path);
    std::optional<std::filesystem::path> basePath() const;
    CVTileCacheStrategy strategy() const;
    // A different value prepares the cache folder and posts the notification.
    void setStrategy(CVTileCacheStrategy strategy);
    bool haveEmbeddedTiles() const;
    // basePath + "tilecache-package" for the package strategy, else
    // basePath + "tilecache-online"; empty while there is no base path.
    std::filesystem::path cachePath() const;
    // Creates cachePath with its parents; failures are logged only.
    void prepareCache();

    std::filesystem::path cachePathForStrategy(CVTileCacheStrategy strategy) const;
    static std::filesystem::path defaultCachePathForStrategy(CVTileCacheStrategy strategy);
    static std::filesystem::path pathForTilePackageCache();
    static std::filesystem::path pathForOnlineTileCache();
    // folder + "tilecache-package" / folder + "tilecache-online".
    static std::filesystem::path pathForTilePackageCacheInFolder(const std::filesystem::path& folder);
    static std::filesystem::path pathForOnlineTileCacheInFolder(const std::filesystem::path& folder);
    static std::string stringForStrategy(CVTileCacheStrategy strategy);

    // The last four path components of the URL joined with "_"; fewer
    // components give fewer parts. None for a URL without a usable path.
    static std::optional<std::string> filenameForFileCachingImageForUrl(std::string_view url);
    // cachePath + the file name; none without a base path or file name.
    std::optional<std::filesystem::path> pathForFileCachingImageForUrl(std::string_view url) const;

    // Package strategy: the decoded tile file. Online strategy: the same, only
    // when the file's "tilecache:url" attribute is the URL. Otherwise none.
    std::optional<platform::Image> cachedImageForUrl(std::string_view url) const;
    bool shouldCheckForOnlineTiles() const;
    bool shouldCheckForPreloadedTiles() const;
    // Package strategy only: the tile from the resources' "res/<file name>".
    std::optional<platform::Image> preloadedImageForUrl(std::string_view url) const;
    // Writes the tile's PNG (atomically) and its "tilecache:url" attribute on
    // the runtime's pool; returns at once. Failures are logged only. Writes
    // still queued when the runtime shuts down are drained with it.
    void cacheImage(const std::optional<platform::Image>& image, std::optional<std::string_view> url);
    // Writes queued by cacheImage() of any cache and not finished yet.
    static std::size_t pendingImageWrites();

    // Delete the default cache's package / online folder, then prepare the
    // cache again.
    static void flushTilePackageCache();
    static void flushOnlineTileCache();

    // `folder` is the package folder or the data-set folder holding it.
    // After a package was unpacked: switches to the package (or, already on
    // it, posts the notification) and flushes the online tiles; ignored for
    // another data set's package.
    void tilePackageCacheWasUpdated(const std::filesystem::path& folder);
    // After a package was removed: back to online tiles, but only when it is
    // the package in use.
    void tilePackageCacheWasRemoved(const std::filesystem::path& folder);

    std::string debugDescription() const;

private:
    std::filesystem::path cachePathForStrategyLocked(CVTileCacheStrategy strategy) const;
    void postChanged();

    mutable std::mutex mutex_;
    bool haveEmbeddedTiles_ = false;
    CVTileCacheStrategy strategy_ = CVTileCacheStrategy::unknown;
    std::optional<std::filesystem::path> basePath_;
};

// The notification helpers any object can use. The sender is the
// notification's object as given; an observer is identified by its address,
// and observing again replaces its earlier handler. Handlers run on the
// posting thread; once unobserve returns, the handler is not called again.
void tileCachePostTileCacheInvalidationNotification(std::any sender);
void tileCacheObserveTileCacheInvalidationNotifications(const void* observer,
                                                        std::function<void(const platform::Notification&)> handler);
void tileCacheUnobserveTileCacheInvalidationNotifications(const void* observer);

}  // namespace ambrell
