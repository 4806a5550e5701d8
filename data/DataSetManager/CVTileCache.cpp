#include "data/DataSetManager/CVTileCache.h"

#include <boost/asio/post.hpp>
#include <boost/url/parse.hpp>

#include <atomic>
#include <exception>
#include <system_error>
#include <utility>

#include "Ambrell/CVLog.h"
#include "data/CVOfflineBundleHelper.h"
#include "data/DataSetManager/CVTileFiles.h"
#include "foundation/CVExtendedFileAttributes.h"
#include "platform/Paths.h"
#include "platform/runtime/ThreadPool.h"

namespace ambrell {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kTileUrlAttribute = "tilecache:url";
constexpr std::string_view kPackageFolderName = "tilecache-package";
constexpr std::string_view kOnlineFolderName = "tilecache-online";
// Longer names are refused by the file system; such a tile is simply not cached.
constexpr std::size_t kMaxFileNameLength = 255;

std::atomic<std::size_t> pendingWrites{0};

// Counts a queued write from the moment it is queued until it ran or was
// dropped by a stopped pool.
struct PendingWrite {
    PendingWrite() { ++pendingWrites; }
    ~PendingWrite() { --pendingWrites; }
    PendingWrite(const PendingWrite&) = delete;
    PendingWrite& operator=(const PendingWrite&) = delete;
};

std::mutex defaultCacheMutex;
std::shared_ptr<CVTileCache> defaultCache;  // guarded by defaultCacheMutex

platform::Logger& tileCacheLog() { return CVLog::core(); }

// Folders handed in by callers may be relative or carry a trailing
// separator or "." parts.
fs::path normalized(const fs::path& path) {
    std::error_code error;
    fs::path result = fs::absolute(path, error).lexically_normal();
    if (!result.has_filename() && result.has_parent_path() && result != result.root_path()) {
        result = result.parent_path();
    }
    return result;
}

bool samePath(const fs::path& lhs, const fs::path& rhs) { return normalized(lhs) == normalized(rhs); }

std::optional<platform::Image> imageFromFile(const fs::path& path) {
    const auto bytes = readTileFile(path);
    if (!bytes) return std::nullopt;
    return platform::Image::fromPngData(*bytes);
}

void createFolder(const fs::path& folder, std::string_view failureFormat) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) tileCacheLog().error(fmt::runtime(failureFormat), error.message());
}

}  // namespace

CVTileCache::CVTileCache(Token /*unused*/) {}

std::shared_ptr<CVTileCache> CVTileCache::defaultTileCache() {
    std::shared_ptr<CVTileCache> created;
    {
        std::lock_guard lock(defaultCacheMutex);
        if (defaultCache) return defaultCache;
        defaultCache = newWithStrategy(CVTileCacheStrategy::unknown);
        created = defaultCache;
    }
    tileCacheLog().debug("Created: {}", created->debugDescription());
    return created;
}

std::shared_ptr<CVTileCache> CVTileCache::newWithStrategy(CVTileCacheStrategy /*strategy*/) {
    // A new cache has no folder yet, so any strategy but "none" would point at
    // nothing; the first base path chooses the real one.
    return std::make_shared<CVTileCache>(Token{});
}

void CVTileCache::resetDefaultTileCacheForTesting() {
    std::lock_guard lock(defaultCacheMutex);
    defaultCache.reset();
}

void CVTileCache::setBasePath(const fs::path& given) {
    // An empty path would put the tile folders in whatever the current folder
    // is; a relative one is pinned to it now, so a later change of the current
    // folder cannot move the cache.
    if (given.empty()) {
        tileCacheLog().error("Tile cache: refusing an empty base path");
        return;
    }
    std::error_code absoluteError;
    const fs::path path = fs::absolute(given, absoluteError);
    if (absoluteError) {
        tileCacheLog().error("Tile cache: refusing base path {} ({})", given.string(), absoluteError.message());
        return;
    }
    // Decided before taking the lock: both touch the disk or the user defaults.
    const bool hasPackage = fs::is_directory(pathForTilePackageCacheInFolder(path));
    const bool embedded = CVOfflineBundleHelper::tileDataTimestamp().has_value();
    std::optional<fs::path> old;
    CVTileCacheStrategy strategy = CVTileCacheStrategy::unknown;
    {
        std::lock_guard lock(mutex_);
        if (basePath_ && samePath(*basePath_, path)) return;
        old = std::exchange(basePath_, path);
        strategy_ = hasPackage ? CVTileCacheStrategy::tilePackage : CVTileCacheStrategy::online;
        haveEmbeddedTiles_ = embedded;
        strategy = strategy_;
    }
    tileCacheLog().debug("Switching base path {} => {}", old ? old->string() : std::string("(null)"), path.string());
    tileCacheLog().debug("Tile cache strategy: {}", stringForStrategy(strategy));
    prepareCache();
    if (old) postChanged();
}

std::optional<fs::path> CVTileCache::basePath() const {
    std::lock_guard lock(mutex_);
    return basePath_;
}

CVTileCacheStrategy CVTileCache::strategy() const {
    std::lock_guard lock(mutex_);
    return strategy_;
}

void CVTileCache::setStrategy(CVTileCacheStrategy strategy) {
    CVTileCacheStrategy old = CVTileCacheStrategy::unknown;
    {
        std::lock_guard lock(mutex_);
        if (strategy_ == strategy) return;
        old = std::exchange(strategy_, strategy);
    }
    tileCacheLog().debug("switching strategy {} => {}", stringForStrategy(old), stringForStrategy(strategy));
    prepareCache();
    postChanged();
}

bool CVTileCache::haveEmbeddedTiles() const {
    std::lock_guard lock(mutex_);
    return haveEmbeddedTiles_;
}

fs::path CVTileCache::cachePath() const {
    std::lock_guard lock(mutex_);
    return cachePathForStrategyLocked(strategy_);
}

void CVTileCache::prepareCache() {
    const fs::path folder = cachePath();
    // Without a base path there is no folder of ours; a relative one would
    // land in whatever the current folder is.
    if (folder.empty()) return;
    createFolder(folder, "Failed to create cache folder (err={})");
}

fs::path CVTileCache::cachePathForStrategy(CVTileCacheStrategy strategy) const {
    std::lock_guard lock(mutex_);
    return cachePathForStrategyLocked(strategy);
}

fs::path CVTileCache::cachePathForStrategyLocked(CVTileCacheStrategy strategy) const {
    if (!basePath_) return {};
    return strategy == CVTileCacheStrategy::tilePackage ? pathForTilePackageCacheInFolder(*basePath_)
                                                        : pathForOnlineTileCacheInFolder(*basePath_);
}

fs::path CVTileCache::defaultCachePathForStrategy(CVTileCacheStrategy strategy) {
    return defaultTileCache()->cachePathForStrategy(strategy);
}

fs::path CVTileCache::pathForTilePackageCache() {
    return defaultCachePathForStrategy(CVTileCacheStrategy::tilePackage);
}

fs::path CVTileCache::pathForOnlineTileCache() { return defaultCachePathForStrategy(CVTileCacheStrategy::online); }

fs::path CVTileCache::pathForTilePackageCacheInFolder(const fs::path& folder) {
    return folder / std::string(kPackageFolderName);
}

fs::path CVTileCache::pathForOnlineTileCacheInFolder(const fs::path& folder) {
    return folder / std::string(kOnlineFolderName);
}

std::string CVTileCache::stringForStrategy(CVTileCacheStrategy strategy) {
    switch (strategy) {
        case CVTileCacheStrategy::online: return "CVTileCacheStrategy_Online";
        case CVTileCacheStrategy::tilePackage: return "CVTileCacheStrategy_TilePackage";
        case CVTileCacheStrategy::unknown: break;
    }
    return "CVTileCacheStrategy_Unknown";
}

std::optional<std::string> CVTileCache::filenameForFileCachingImageForUrl(std::string_view url) {
    const auto parsed = boost::urls::parse_uri_reference(url);
    if (!parsed) return std::nullopt;
    std::vector<std::string> components;
    for (const auto& segment : parsed->segments()) {
        if (segment.empty()) continue;
        // A decoded segment may hold "/" (from "%2F") or NUL: neither can be
        // part of a file name.
        std::string component = segment;
        for (char& c : component) {
            if (c == '/' || c == '\0') c = '_';
        }
        components.push_back(std::move(component));
    }
    const std::size_t first = components.size() > 4 ? components.size() - 4 : 0;
    std::string name;
    for (std::size_t i = first; i < components.size(); ++i) {
        if (!name.empty()) name += '_';
        name += components[i];
    }
    if (name.empty() || name == "." || name == ".." || name.size() > kMaxFileNameLength) return std::nullopt;
    return name;
}

std::optional<fs::path> CVTileCache::pathForFileCachingImageForUrl(std::string_view url) const {
    auto name = filenameForFileCachingImageForUrl(url);
    const fs::path folder = cachePath();
    if (!name || folder.empty()) return std::nullopt;
    return folder / *name;
}

std::optional<platform::Image> CVTileCache::cachedImageForUrl(std::string_view url) const {
    const auto current = strategy();
    if (current != CVTileCacheStrategy::online && current != CVTileCacheStrategy::tilePackage) return std::nullopt;
    const auto path = pathForFileCachingImageForUrl(url);
    if (!path) return std::nullopt;
    // Different URLs can share the last four components; an online tile is
    // only ours when it was fetched from this very URL.
    if (current == CVTileCacheStrategy::online && xattr_valueForAttribute(*path, kTileUrlAttribute) != url) {
        return std::nullopt;
    }
    return imageFromFile(*path);
}

bool CVTileCache::shouldCheckForOnlineTiles() const { return strategy() == CVTileCacheStrategy::online; }

bool CVTileCache::shouldCheckForPreloadedTiles() const {
    std::lock_guard lock(mutex_);
    return strategy_ == CVTileCacheStrategy::tilePackage && haveEmbeddedTiles_;
}

std::optional<platform::Image> CVTileCache::preloadedImageForUrl(std::string_view url) const {
    if (strategy() != CVTileCacheStrategy::tilePackage) return std::nullopt;
    const auto name = filenameForFileCachingImageForUrl(url);
    if (!name) return std::nullopt;
    return imageFromFile(platform::Paths::resources() / "res" / *name);
}

void CVTileCache::cacheImage(const std::optional<platform::Image>& image, std::optional<std::string_view> url) {
    if (!image || !url) return;
    // The file is chosen now: a tile fetched for one folder never lands in the
    // folder of a later strategy or data set.
    const fs::path folder = cachePath();
    const auto path = pathForFileCachingImageForUrl(*url);
    if (folder.empty() || !path) return;
    boost::asio::post(platform::ThreadPool::blockingIO().executor(),
                      [pending = std::make_shared<PendingWrite>(), folder, file = *path, image = *image,
                       url = std::string(*url)]() noexcept {
                          try {
                              createFolder(folder, "[E] TileCache: Create folder failed {}");
                              if (const auto png = image.pngData()) {
                                  writeTileFileAtomically(file, *png, kTileUrlAttribute, url);
                              } else {
                                  tileCacheLog().error("[E] TileCache: writeToFile failed: {}", "PNG encoding failed");
                              }
                          } catch (const std::exception& error) {
                              tileCacheLog().error("[E] TileCache: writeToFile failed: {}", error.what());
                          }
                      });
}

std::size_t CVTileCache::pendingImageWrites() { return pendingWrites.load(); }

void CVTileCache::flushTilePackageCache() {
    removeTileFolder(pathForTilePackageCache());
    defaultTileCache()->prepareCache();
}

void CVTileCache::flushOnlineTileCache() {
    removeTileFolder(pathForOnlineTileCache());
    defaultTileCache()->prepareCache();
}

void CVTileCache::tilePackageCacheWasUpdated(const fs::path& folder) {
    const fs::path packagePath = cachePathForStrategy(CVTileCacheStrategy::tilePackage);
    // Callers name either the package folder itself or the data set's folder
    // that holds it; both mean the same package.
    if (packagePath.empty() ||
        !(samePath(folder, packagePath) || samePath(pathForTilePackageCacheInFolder(folder), packagePath))) {
        return;
    }
    if (strategy() != CVTileCacheStrategy::tilePackage) {
        setStrategy(CVTileCacheStrategy::tilePackage);
    } else {
        postChanged();
    }
    flushOnlineTileCache();
}

void CVTileCache::tilePackageCacheWasRemoved(const fs::path& folder) {
    {
        std::lock_guard lock(mutex_);
        if (strategy_ != CVTileCacheStrategy::tilePackage) return;
        const fs::path current = cachePathForStrategyLocked(strategy_);
        if (current.empty() ||
            !(samePath(folder, current) || samePath(pathForTilePackageCacheInFolder(folder), current))) {
            return;
        }
    }
    setStrategy(CVTileCacheStrategy::online);
    prepareCache();
}

std::string CVTileCache::debugDescription() const {
    return fmt::format("<CVTileCache {}: {}>", static_cast<const void*>(this), stringForStrategy(strategy()));
}

void CVTileCache::postChanged() {
    std::any object;
    if (auto self = weak_from_this().lock()) object = std::move(self);
    tileCachePostTileCacheInvalidationNotification(std::move(object));
}

}  // namespace ambrell
