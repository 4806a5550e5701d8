#include <fstream>
#include <future>

#include <boost/asio/post.hpp>
#include <gtest/gtest.h>

#include "data/CVVenueInternal.h"
#include "data/DataSetManager/CVTileCache.h"
#include "data/DataSetManager/CVTileProvider.h"
#include "foundation/CVExtendedFileAttributes.h"
#include "platform/Paths.h"
#include "platform/runtime/ThreadPool.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/LoopbackWebService.h"
#include "tests/support/TempDirectory.h"
#include "tests/support/WaitFor.h"

namespace ambrell::tile_provider_test {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kTileName = "1_17_100_200.png";
constexpr std::string_view kTileRoute = "/tiles/default_X2/1/17/100/200.png";

platform::Image tile(std::uint32_t argb) {
    auto image = *platform::Image::create(4, 4);
    for (auto& pixel : image.pixels()) pixel = argb;
    return image;
}

std::string pngText(const platform::Image& image) {
    const auto png = *image.pngData();
    return {reinterpret_cast<const char*>(png.data()), png.size()};
}

void writeText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

const platform::Image kServerTile = tile(0xFF00FF00);
const platform::Image kPackageTile = tile(0xFF0000FF);
const platform::Image kResourceTile = tile(0xFFFF0000);

class TileProviderTest : public test::ContainerFixture {
protected:
    TileProviderTest() {
        CVTileCache::resetDefaultTileCacheForTesting();
        auto style = std::make_shared<CVMapStyleInternal>();
        style->folder = "default";
        venue_.styles.push_back(style);
        venue_.tilesUrl = server_.url("/tiles/{style}/{floor}/{z}/{x}/{y}.png");
        server_.serveBody(std::string(kTileRoute), pngText(kServerTile), "image/png");
    }
    ~TileProviderTest() override {
        // Background writes must not outlive the folders.
        EXPECT_TRUE(test::waitFor([] { return CVTileCache::pendingImageWrites() == 0; }));
        CVTileCache::resetDefaultTileCacheForTesting();
    }

    std::shared_ptr<CVTileCache> cache() const { return CVTileCache::defaultTileCache(); }
    std::optional<platform::Image> getTile() { return provider().getTile(100, 200, 17); }
    CVTileProvider& provider() {
        if (!provider_) provider_.emplace(venue_, 1, 512);
        return *provider_;
    }
    std::size_t downloads() const { return server_.requestsTo(kTileRoute).size(); }
    fs::path onlineTile() const { return dataSet_ / "tilecache-online" / std::string(kTileName); }
    fs::path packageTile() const { return dataSet_ / "tilecache-package" / std::string(kTileName); }
    bool onlineTileCachedFor(const std::string& url) const {
        return xattr_valueForAttribute(onlineTile(), "tilecache:url") == url;
    }

    test::LoopbackWebService server_;
    test::TempDirectory dataSet_{"tile-provider"};
    test::ScopedLogCapture logs_;
    CVVenueInternal venue_;
    std::optional<CVTileProvider> provider_;
};

TEST_F(TileProviderTest, UrlsFillStyleFloorAndCoordinates) {
    EXPECT_EQ(provider().getTileUrl(17, 100, 200), server_.url(kTileRoute));
    EXPECT_EQ(CVTileCache::filenameForFileCachingImageForUrl(provider().getTileUrl(17, 100, 200)), kTileName);
    EXPECT_EQ(provider().templateUrl(), server_.url("/tiles/default_X2/1/{z}/{x}/{y}.png"));
    EXPECT_EQ(provider().tileSize(), 512.0);
    // Beyond what a signed 32-bit number holds.
    EXPECT_EQ(provider().getTileUrl(4294967295U, 2147483648U, 0),
              server_.url("/tiles/default_X2/1/4294967295/2147483648/0.png"));

    CVVenueInternal bare;  // no template, no style
    CVTileProvider fallback(bare, -2, 256);
    EXPECT_EQ(fallback.templateUrl(), "https://api.ambrell.com/tiles/_X2/-2/{z}/{x}/{y}.png");
    EXPECT_EQ(fallback.getTileUrl(1, 2, 3), "https://api.ambrell.com/tiles/_X2/-2/1/2/3.png");
}

TEST_F(TileProviderTest, OnlineTileIsDownloadedOnceThenServedFromTheCache) {
    cache()->setBasePath(dataSet_.path());
    EXPECT_EQ(getTile(), kServerTile);
    EXPECT_EQ(downloads(), 1U);
    ASSERT_TRUE(test::waitFor([&] { return onlineTileCachedFor(server_.url(kTileRoute)); }));
    EXPECT_EQ(getTile(), kServerTile);
    EXPECT_EQ(downloads(), 1U);
}

TEST_F(TileProviderTest, OnlineTileOfAnotherUrlWithTheSameNameIsFetchedAgain) {
    cache()->setBasePath(dataSet_.path());
    writeText(onlineTile(), pngText(kPackageTile));
    ASSERT_TRUE(xattr_setValue(onlineTile(), "https://elsewhere.example.com/x/1/17/100/200.png", "tilecache:url"));
    EXPECT_EQ(getTile(), kServerTile);
    EXPECT_EQ(downloads(), 1U);
    ASSERT_TRUE(test::waitFor([&] { return onlineTileCachedFor(server_.url(kTileRoute)); }));
    EXPECT_EQ(cache()->cachedImageForUrl(server_.url(kTileRoute)), kServerTile);
}

TEST_F(TileProviderTest, EmptyTileFileMarksAMissingTileWithoutDownload) {
    for (const bool package : {true, false}) {
        SCOPED_TRACE(package ? "package" : "online");
        CVTileCache::resetDefaultTileCacheForTesting();
        fs::remove_all(dataSet_ / "tilecache-package");
        if (package) fs::create_directories(dataSet_ / "tilecache-package");
        cache()->setBasePath(dataSet_.path());
        writeText(package ? packageTile() : onlineTile(), "");
        writeText(platform::Paths::resources() / "res" / std::string(kTileName), pngText(kResourceTile));
        EXPECT_EQ(getTile(), std::nullopt);
        EXPECT_EQ(downloads(), 0U);
    }
}

TEST_F(TileProviderTest, PackageTilesThenResourceTilesAndNeverADownload) {
    fs::create_directories(dataSet_ / "tilecache-package");
    cache()->setBasePath(dataSet_.path());
    EXPECT_EQ(getTile(), std::nullopt);  // nowhere: not fetched either

    writeText(platform::Paths::resources() / "res" / std::string(kTileName), pngText(kResourceTile));
    EXPECT_EQ(getTile(), kResourceTile);
    writeText(packageTile(), pngText(kPackageTile));
    EXPECT_EQ(getTile(), kPackageTile);
    EXPECT_EQ(downloads(), 0U);
}

TEST_F(TileProviderTest, FailedDownloadsGiveNoTileAndCacheNothing) {
    cache()->setBasePath(dataSet_.path());
    server_.respond(std::string(kTileRoute), {404, "gone", {}});
    EXPECT_EQ(getTile(), std::nullopt);
    EXPECT_TRUE(logs_.sink().contains("Error getting tile from backend: "));

    server_.serveBody(std::string(kTileRoute), "not a png", "image/png");
    EXPECT_EQ(getTile(), std::nullopt);

    server_.serveBody(std::string(kTileRoute), pngText(kServerTile), "image/png");
    EXPECT_EQ(getTile(), kServerTile);  // each failure left the way open for a retry
    EXPECT_EQ(downloads(), 3U);
}

TEST_F(TileProviderTest, StrategySwitchesChangeWhereTilesComeFrom) {
    cache()->setBasePath(dataSet_.path());
    EXPECT_EQ(getTile(), kServerTile);
    ASSERT_TRUE(test::waitFor([&] { return onlineTileCachedFor(server_.url(kTileRoute)); }));

    int notes = 0;
    tileCacheObserveTileCacheInvalidationNotifications(&notes, [&](const auto&) { ++notes; });
    writeText(packageTile(), pngText(kPackageTile));  // as the unpacking leaves it
    cache()->tilePackageCacheWasUpdated(dataSet_.path());
    EXPECT_EQ(notes, 1);
    EXPECT_FALSE(fs::exists(onlineTile()));
    EXPECT_EQ(getTile(), kPackageTile);

    cache()->tilePackageCacheWasRemoved(dataSet_ / "tilecache-package");
    EXPECT_EQ(notes, 2);
    EXPECT_EQ(getTile(), kServerTile);
    EXPECT_EQ(downloads(), 2U);
    tileCacheUnobserveTileCacheInvalidationNotifications(&notes);
}

TEST_F(TileProviderTest, NoBasePathYetGivesNoTile) {
    EXPECT_EQ(getTile(), std::nullopt);
    EXPECT_EQ(downloads(), 0U);
}

// A pool thread must never block on a download that needs the pool.
TEST_F(TileProviderTest, DownloadOnAPoolThreadIsRefusedNotDeadlocked) {
    cache()->setBasePath(dataSet_.path());
    auto& tiles = provider();
    std::promise<std::optional<platform::Image>> result;
    boost::asio::post(platform::ThreadPool::shared().executor(),
                      [&] { result.set_value(tiles.getTile(100, 200, 17)); });
    auto future = result.get_future();
    ASSERT_EQ(future.wait_for(test::kWaitBound), std::future_status::ready);
    EXPECT_EQ(future.get(), std::nullopt);
    EXPECT_EQ(downloads(), 0U);
    EXPECT_TRUE(logs_.sink().contains("Error getting tile from backend: "));
}

TEST_F(TileProviderTest, ConcurrentRequestsOfOneTile) {
    cache()->setBasePath(dataSet_.path());
    auto& tiles = provider();
    std::vector<std::future<std::optional<platform::Image>>> results;
    for (int i = 0; i < 4; ++i) {
        results.push_back(std::async(std::launch::async, [&] { return tiles.getTile(100, 200, 17); }));
    }
    for (auto& result : results) EXPECT_EQ(result.get(), kServerTile);
}

}  // namespace
}  // namespace ambrell::tile_provider_test
