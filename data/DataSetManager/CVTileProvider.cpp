#include "data/DataSetManager/CVTileProvider.h"

#include <exception>
#include <span>
#include <utility>

#include "Ambrell/CVLog.h"
#include "data/CVVenueInternal.h"
#include "data/DataSetManager/CVTileCache.h"
#include "data/DataSetManager/CVTileFiles.h"
#include "foundation/CVAXAPIConfig.h"
#include "foundation/CVDataProvider.h"
#include "foundation/CVURITemplate.h"
#include "platform/NSErrorException.h"
#include "platform/runtime/BlockingWait.h"
#include "platform/runtime/ThreadPool.h"

namespace ambrell {

namespace {

std::string replaceAll(std::string text, std::string_view from, std::string_view to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

std::string describe(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const platform::NSErrorException& exception) {
        return exception.error().localizedDescription();
    } catch (const std::exception& exception) {
        return exception.what();
    } catch (...) {
        return "unknown error";
    }
}

struct Download {
    std::optional<CVDataProvider::Bytes> bytes;
    std::string error;
};

// Fetched without the session token: tiles are public, and a tile thread
// must not wait on the token's refresh. Failures are caught on the
// fetching side, so only plain values cross back to the waiting thread.
platform::Awaitable<Download> fetch(std::string url) {
    try {
        auto result = co_await CVDataProvider::data(std::move(url), std::nullopt, std::nullopt, false);
        co_return Download{result.data.value_or(CVDataProvider::Bytes{}), {}};
    } catch (...) {
        co_return Download{std::nullopt, describe(std::current_exception())};
    }
}

std::optional<CVDataProvider::Bytes> download(const std::string& url) {
    Download result;
    try {
        result = platform::blockingWait(platform::ThreadPool::shared().makeStrand(), fetch(url));
    } catch (...) {
        result.error = describe(std::current_exception());
    }
    if (!result.bytes) CVLog::core().error("Error getting tile from backend: " + result.error);
    return std::move(result.bytes);
}

}  // namespace

CVTileProvider::CVTileProvider(const CVVenueInternal& venue, int floor, int tileSize)
    : cvTileSize_(tileSize), cvFloor_(floor) {
    if (const auto style = venue.defaultStyle()) cvStyle_ = style->getFolder();
    cvUrlTemplate_ = replaceAll(venue.tilesUrl.value_or(sampleTemplateUrl()), "/{style}", "/{style}_X2");
    buildTileUrl();
}

std::string CVTileProvider::sampleTemplateUrl() {
    return "https://" + std::string(CVAXAPIConfig::kProductionApiHost) + "/tiles/{style}/{floor}/{z}/{x}/{y}.png";
}

void CVTileProvider::buildTileUrl() {
    CVURITemplate uriTemplate(cvUrlTemplate_);
    uriTemplate.addParam("style", cvStyle_);
    uriTemplate.addParam("floor", std::to_string(cvFloor_));
    std::lock_guard lock(mutex_);
    cvUrl_ = uriTemplate.resultURI();
}

std::string CVTileProvider::getTileUrl(std::uint32_t zoom, std::uint32_t x, std::uint32_t y) {
    std::string url;
    {
        std::lock_guard lock(mutex_);
        url = cvUrl_.value_or(sampleTemplateUrl());
    }
    // Filled as decimal text rather than 32-bit signed numbers, so that
    // coordinates beyond 2^31 still name the tile asked for.
    CVURITemplate uriTemplate(std::move(url));
    uriTemplate.addParam("z", std::to_string(zoom));
    uriTemplate.addParam("x", std::to_string(x));
    uriTemplate.addParam("y", std::to_string(y));
    return uriTemplate.resultURI();
}

double CVTileProvider::tileSize() const { return static_cast<double>(cvTileSize_); }

std::string CVTileProvider::templateUrl() {
    buildTileUrl();
    std::lock_guard lock(mutex_);
    return cvUrl_.value_or(sampleTemplateUrl());
}

std::optional<platform::Image> CVTileProvider::getTile(std::uint32_t x, std::uint32_t y, std::uint32_t zoom) {
    const auto cache = CVTileCache::defaultTileCache();
    const bool online = cache->shouldCheckForOnlineTiles();
    const std::string url = getTileUrl(zoom, x, y);
    const auto path = cache->pathForFileCachingImageForUrl(url);

    if (auto image = cache->cachedImageForUrl(url)) return image;
    if (path && tileFileMarksMissingTile(*path)) return std::nullopt;
    if (auto image = cache->preloadedImageForUrl(url)) return image;
    if (!online) return std::nullopt;

    const auto bytes = download(url);
    if (!bytes) return std::nullopt;
    auto image = platform::Image::fromPngData(std::as_bytes(std::span(*bytes)));
    if (!image) return std::nullopt;
    cache->cacheImage(image, url);
    return image;
}

}  // namespace ambrell
