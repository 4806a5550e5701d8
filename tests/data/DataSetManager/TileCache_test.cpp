#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "data/CVOfflineBundleHelper.h"
#include "data/DataSetManager/CVTileCache.h"
#include "foundation/CVExtendedFileAttributes.h"
#include "platform/Paths.h"
#include "platform/runtime/Runtime.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/TempDirectory.h"
#include "tests/support/WaitFor.h"

namespace ambrell {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kUrl = "https://tiles.example.com/v/default_X2/1/17/100/200.png";
// Shares the last four components with kUrl.
constexpr std::string_view kOtherUrl = "https://tiles.example.com/w/default_X2/1/17/100/200.png";
constexpr std::string_view kTileName = "1_17_100_200.png";

platform::Image tile(std::uint32_t argb) {
    auto image = *platform::Image::create(2, 2);
    for (auto& pixel : image.pixels()) pixel = argb;
    return image;
}

void writeFile(const fs::path& path, const std::vector<std::byte>& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void writeTile(const fs::path& path, const platform::Image& image) { writeFile(path, *image.pngData()); }

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    return names;
}

// Counts the invalidation notifications and keeps the last sender.
class NotificationCounter {
public:
    NotificationCounter() {
        tileCacheObserveTileCacheInvalidationNotifications(this, [this](const platform::Notification& note) {
            std::lock_guard lock(mutex_);
            ++count_;
            sender_ = std::any_cast<std::shared_ptr<CVTileCache>>(note.object);
        });
    }
    ~NotificationCounter() { tileCacheUnobserveTileCacheInvalidationNotifications(this); }
    NotificationCounter(const NotificationCounter&) = delete;
    NotificationCounter& operator=(const NotificationCounter&) = delete;

    int count() const {
        std::lock_guard lock(mutex_);
        return count_;
    }
    std::shared_ptr<CVTileCache> sender() const {
        std::lock_guard lock(mutex_);
        return sender_;
    }

private:
    mutable std::mutex mutex_;
    int count_ = 0;
    std::shared_ptr<CVTileCache> sender_;
};

class TileCacheTest : public test::ContainerFixture {
protected:
    ~TileCacheTest() override { CVTileCache::resetDefaultTileCacheForTesting(); }

    static std::shared_ptr<CVTileCache> freshDefaultCache() {
        CVTileCache::resetDefaultTileCacheForTesting();
        return CVTileCache::defaultTileCache();
    }

    std::shared_ptr<CVTileCache> cache_ = freshDefaultCache();
    test::TempDirectory dataSet_{"tile-dataset"};
    test::TempDirectory otherDataSet_{"tile-other-dataset"};
};

TEST(TileCacheNames, StrategyNames) {
    EXPECT_EQ(CVTileCache::stringForStrategy(CVTileCacheStrategy::unknown), "CVTileCacheStrategy_Unknown");
    EXPECT_EQ(CVTileCache::stringForStrategy(CVTileCacheStrategy::online), "CVTileCacheStrategy_Online");
    EXPECT_EQ(CVTileCache::stringForStrategy(CVTileCacheStrategy::tilePackage), "CVTileCacheStrategy_TilePackage");
    EXPECT_EQ(CVTileCache::stringForStrategy(static_cast<CVTileCacheStrategy>(7)), "CVTileCacheStrategy_Unknown");
}

TEST(TileCacheNames, FileNameIsTheLastFourPathComponents) {
    const std::string longSegment(300, 'a');
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases{
        {std::string(kUrl), std::string(kTileName)},
        {"https://h/a/b/c/d/e.png?v=2#top", "b_c_d_e.png"},  // query and fragment are no part of it
        {"https://h/a/b", "a_b"},                            // fewer components give fewer parts
        {"https://h/a//b/", "a_b"},                          // empty components are skipped
        {"https://h/x/a%2Fb/c/d/e", "a_b_c_d_e"},            // an encoded "/" never makes a folder
        {"https://h/4294967296/4294967297/9999999999", "4294967296_4294967297_9999999999"},
        {"https://h/", std::nullopt},
        {"https://h", std::nullopt},
        {"https://h/..", std::nullopt},
        {"https://h/%zz/a", std::nullopt},  // does not parse
        {"", std::nullopt},
        {"https://h/" + longSegment, std::nullopt},
    };
    for (const auto& [url, expected] : cases) {
        EXPECT_EQ(CVTileCache::filenameForFileCachingImageForUrl(url), expected) << url;
    }
}

TEST_F(TileCacheTest, DefaultCacheIsCreatedOnceAndLogged) {
    CVTileCache::resetDefaultTileCacheForTesting();
    test::ScopedLogCapture capture;
    std::vector<std::shared_ptr<CVTileCache>> seen(8);
    std::vector<std::thread> threads;
    for (auto& slot : seen) threads.emplace_back([&slot] { slot = CVTileCache::defaultTileCache(); });
    for (auto& thread : threads) thread.join();
    for (const auto& cache : seen) EXPECT_EQ(cache, seen.front());
    int created = 0;
    for (const auto& entry : capture.sink().messages()) created += entry.message.starts_with("Created: ") ? 1 : 0;
    EXPECT_EQ(created, 1);
    EXPECT_TRUE(capture.sink().contains("Created: " + seen.front()->debugDescription()));
    EXPECT_EQ(seen.front()->debugDescription(), fmt::format("<CVTileCache {}: CVTileCacheStrategy_Unknown>",
                                                            static_cast<const void*>(seen.front().get())));
}

// Before the first base path nothing may be read, written or created, not
// even relative to the current folder.
TEST_F(TileCacheTest, WithoutBasePathNothingIsServedOrWritten) {
    const auto before = namesIn(fs::current_path());
    cache_->setBasePath("");
    cache_->setStrategy(CVTileCacheStrategy::online);
    EXPECT_EQ(cache_->basePath(), std::nullopt);
    EXPECT_TRUE(cache_->cachePath().empty());
    EXPECT_EQ(cache_->pathForFileCachingImageForUrl(kUrl), std::nullopt);
    EXPECT_EQ(cache_->cachedImageForUrl(kUrl), std::nullopt);
    cache_->cacheImage(tile(0xFF0000FF), kUrl);
    CVTileCache::flushOnlineTileCache();
    EXPECT_EQ(namesIn(fs::current_path()), before);
}

TEST_F(TileCacheTest, BasePathChoosesTheStrategyAndAnnouncesLaterChanges) {
    NotificationCounter notes;
    cache_->setBasePath(dataSet_.path());
    EXPECT_EQ(cache_->strategy(), CVTileCacheStrategy::online);
    EXPECT_EQ(cache_->cachePath(), dataSet_ / "tilecache-online");
    EXPECT_TRUE(fs::is_directory(dataSet_ / "tilecache-online"));
    EXPECT_EQ(notes.count(), 0);  // the first base path invalidates nothing

    cache_->setBasePath(dataSet_.path() / "");  // the same folder
    EXPECT_EQ(notes.count(), 0);

    fs::create_directories(otherDataSet_ / "tilecache-package");
    cache_->setBasePath(otherDataSet_.path());
    EXPECT_EQ(cache_->strategy(), CVTileCacheStrategy::tilePackage);
    EXPECT_EQ(cache_->cachePath(), otherDataSet_ / "tilecache-package");
    EXPECT_EQ(CVTileCache::pathForTilePackageCache(), otherDataSet_ / "tilecache-package");
    EXPECT_EQ(CVTileCache::pathForOnlineTileCache(), otherDataSet_ / "tilecache-online");
    EXPECT_EQ(notes.count(), 1);
    EXPECT_EQ(notes.sender(), cache_);
}

TEST_F(TileCacheTest, StrategySwitchesPostOncePerChange) {
    cache_->setBasePath(dataSet_.path());
    NotificationCounter notes;
    test::ScopedLogCapture capture;
    cache_->setStrategy(CVTileCacheStrategy::online);
    EXPECT_EQ(notes.count(), 0);
    cache_->setStrategy(CVTileCacheStrategy::tilePackage);
    EXPECT_EQ(notes.count(), 1);
    EXPECT_TRUE(fs::is_directory(dataSet_ / "tilecache-package"));
    EXPECT_TRUE(
        capture.sink().contains("switching strategy CVTileCacheStrategy_Online => CVTileCacheStrategy_TilePackage"));
    EXPECT_FALSE(cache_->shouldCheckForOnlineTiles());
    cache_->setStrategy(CVTileCacheStrategy::unknown);
    EXPECT_EQ(notes.count(), 2);
    EXPECT_EQ(cache_->cachedImageForUrl(kUrl), std::nullopt);
}

TEST_F(TileCacheTest, OnlineTilesAreServedOnlyForTheUrlTheyWereFetchedFrom) {
    cache_->setBasePath(dataSet_.path());
    const auto path = dataSet_ / "tilecache-online" / std::string(kTileName);
    EXPECT_EQ(cache_->pathForFileCachingImageForUrl(kUrl), path);
    cache_->cacheImage(tile(0xFF00FF00), kUrl);
    cache_->cacheImage(std::nullopt, kOtherUrl);
    cache_->cacheImage(tile(0xFF00FF00), std::nullopt);
    ASSERT_TRUE(test::waitFor([&] { return cache_->cachedImageForUrl(kUrl).has_value(); }));
    EXPECT_EQ(cache_->cachedImageForUrl(kUrl), tile(0xFF00FF00));
    EXPECT_EQ(xattr_valueForAttribute(path, "tilecache:url"), kUrl);
    EXPECT_EQ(cache_->cachedImageForUrl(kOtherUrl), std::nullopt);
    // Written through a temporary file that is gone once the tile is there.
    EXPECT_EQ(namesIn(dataSet_ / "tilecache-online"), std::vector<std::string>{std::string(kTileName)});

    // A file someone else put there, without the attribute, is not ours.
    writeTile(dataSet_ / "tilecache-online" / "a_b_c_d.png", tile(0xFFFFFFFF));
    EXPECT_EQ(cache_->cachedImageForUrl("https://h/a/b/c/d.png"), std::nullopt);
}

TEST_F(TileCacheTest, PackageTilesNeedNoAttributeAndResourcesAreTheFallback) {
    fs::create_directories(dataSet_ / "tilecache-package");
    cache_->setBasePath(dataSet_.path());
    writeTile(dataSet_ / "tilecache-package" / std::string(kTileName), tile(0xFF0000FF));
    EXPECT_EQ(cache_->cachedImageForUrl(kUrl), tile(0xFF0000FF));
    EXPECT_EQ(cache_->cachedImageForUrl(kOtherUrl), tile(0xFF0000FF));

    // Not decodable: no tile, no crash.
    writeFile(dataSet_ / "tilecache-package" / "a_b_c_d.png", {std::byte{1}, std::byte{2}});
    EXPECT_EQ(cache_->cachedImageForUrl("https://h/a/b/c/d.png"), std::nullopt);

    writeTile(platform::Paths::resources() / "res" / "x_1_2_3.png", tile(0xFFFF0000));
    EXPECT_EQ(cache_->preloadedImageForUrl("https://h/style/x/1/2/3.png"), tile(0xFFFF0000));
    EXPECT_EQ(cache_->preloadedImageForUrl("https://h/style/y/1/2/3.png"), std::nullopt);
    EXPECT_FALSE(cache_->shouldCheckForPreloadedTiles());  // no tile data stamp yet
    CVOfflineBundleHelper::setTileDataTimestamp(std::chrono::system_clock::now());
    cache_->setBasePath(otherDataSet_.path());
    fs::create_directories(dataSet_ / "tilecache-package");
    cache_->setBasePath(dataSet_.path());
    EXPECT_TRUE(cache_->haveEmbeddedTiles());
    EXPECT_TRUE(cache_->shouldCheckForPreloadedTiles());

    cache_->setStrategy(CVTileCacheStrategy::online);
    EXPECT_EQ(cache_->preloadedImageForUrl("https://h/style/x/1/2/3.png"), std::nullopt);
}

TEST_F(TileCacheTest, PackageUpdateForAnotherDataSetChangesNothing) {
    cache_->setBasePath(dataSet_.path());
    writeTile(dataSet_ / "tilecache-online" / std::string(kTileName), tile(0xFF00FF00));
    NotificationCounter notes;
    cache_->tilePackageCacheWasUpdated(otherDataSet_.path());
    cache_->tilePackageCacheWasUpdated(otherDataSet_ / "tilecache-package");
    EXPECT_EQ(cache_->strategy(), CVTileCacheStrategy::online);
    EXPECT_EQ(notes.count(), 0);
    EXPECT_TRUE(fs::exists(dataSet_ / "tilecache-online" / std::string(kTileName)));
}

TEST_F(TileCacheTest, PackageUpdateSwitchesToThePackageAndDropsOnlineTiles) {
    cache_->setBasePath(dataSet_.path());
    writeTile(dataSet_ / "tilecache-online" / std::string(kTileName), tile(0xFF00FF00));
    NotificationCounter notes;
    cache_->tilePackageCacheWasUpdated(dataSet_ / "tilecache-package");
    EXPECT_EQ(cache_->strategy(), CVTileCacheStrategy::tilePackage);
    EXPECT_EQ(notes.count(), 1);
    EXPECT_FALSE(fs::exists(dataSet_ / "tilecache-online"));
    EXPECT_TRUE(fs::is_directory(dataSet_ / "tilecache-package"));

    // A package unpacked again over the one in use: the strategy stays, the
    // tiles read before are stale all the same. The data set's folder names
    // the same package.
    cache_->tilePackageCacheWasUpdated(dataSet_.path());
    EXPECT_EQ(notes.count(), 2);
}

TEST_F(TileCacheTest, PackageRemovalFallsBackToOnlineTiles) {
    fs::create_directories(dataSet_ / "tilecache-package");
    cache_->setBasePath(dataSet_.path());
    NotificationCounter notes;
    cache_->tilePackageCacheWasRemoved(otherDataSet_ / "tilecache-package");
    EXPECT_EQ(cache_->strategy(), CVTileCacheStrategy::tilePackage);
    EXPECT_EQ(notes.count(), 0);

    cache_->tilePackageCacheWasRemoved(dataSet_ / "tilecache-package");
    EXPECT_EQ(cache_->strategy(), CVTileCacheStrategy::online);
    EXPECT_EQ(notes.count(), 1);
    EXPECT_TRUE(fs::is_directory(dataSet_ / "tilecache-online"));
    cache_->tilePackageCacheWasRemoved(dataSet_ / "tilecache-package");  // no longer the package in use
    EXPECT_EQ(notes.count(), 1);
}

TEST_F(TileCacheTest, FlushesEmptyTheFoldersOfTheDefaultCache) {
    fs::create_directories(dataSet_ / "tilecache-package");
    cache_->setBasePath(dataSet_.path());
    writeTile(dataSet_ / "tilecache-package" / std::string(kTileName), tile(0xFF0000FF));
    writeTile(dataSet_ / "tilecache-online" / std::string(kTileName), tile(0xFF0000FF));
    CVTileCache::flushOnlineTileCache();
    EXPECT_FALSE(fs::exists(dataSet_ / "tilecache-online"));
    CVTileCache::flushTilePackageCache();
    // Emptied and made again for the strategy in force.
    EXPECT_TRUE(fs::is_directory(dataSet_ / "tilecache-package"));
    EXPECT_TRUE(fs::is_empty(dataSet_ / "tilecache-package"));
}

TEST_F(TileCacheTest, FolderThatCannotBeMadeIsLoggedNotFatal) {
    writeFile(dataSet_ / "blocked", {std::byte{1}});  // a file where the data set's folder would be
    test::ScopedLogCapture capture;
    cache_->setBasePath(dataSet_ / "blocked");
    EXPECT_TRUE(capture.sink().contains("Failed to create cache folder (err="));
    cache_->cacheImage(tile(0xFF0000FF), kUrl);
    EXPECT_TRUE(test::waitFor([&] { return capture.sink().contains("[E] TileCache: writeToFile failed: "); }));
    EXPECT_TRUE(capture.sink().contains("[E] TileCache: Create folder failed "));
}

TEST_F(TileCacheTest, ObservingAgainReplacesTheHandlerAndUnobservingStopsIt) {
    int first = 0;
    int second = 0;
    int observer = 0;
    tileCacheObserveTileCacheInvalidationNotifications(&observer, [&](const auto&) { ++first; });
    tileCacheObserveTileCacheInvalidationNotifications(&observer, [&](const auto&) { ++second; });
    tileCachePostTileCacheInvalidationNotification(std::string("sender"));
    tileCacheUnobserveTileCacheInvalidationNotifications(&observer);
    tileCachePostTileCacheInvalidationNotification({});
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 1);
}

// The runtime's shutdown ends the process's runtime for good, so the tests
// that make one run in a child process of their own. The child ends with
// exit(), which runs no destructor of a fixture: it makes its folders inside
// the statement and removes them before it exits.
TEST(TileCacheDeathTest, ShutdownDrainsQueuedWrites) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const int code = [] {
                const test::ScopedContainer container;
                const test::TempDirectory dataSet("tile-dataset");
                CVTileCache::resetDefaultTileCacheForTesting();
                const auto cache = CVTileCache::defaultTileCache();
                cache->setBasePath(dataSet.path());
                for (int i = 0; i < 20; ++i)
                    cache->cacheImage(tile(0xFF000000U + static_cast<std::uint32_t>(i)),
                                      fmt::format("https://h/s/1/2/3/{}.png", i));
                platform::Runtime::shared().shutdown();
                const auto pending = CVTileCache::pendingImageWrites();
                const auto written = namesIn(dataSet / "tilecache-online").size();
                if (pending != 0 || written != 20) {
                    std::fprintf(stderr, "%zu writes pending, %zu tiles written\n", pending, written);
                    return 1;
                }
                return 0;
            }();
            std::exit(code);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(TileCacheTest, StrategySwitchesRaceWithTileReadsAndWrites) {
    fs::create_directories(dataSet_ / "tilecache-package");
    cache_->setBasePath(dataSet_.path());
    writeTile(dataSet_ / "tilecache-package" / std::string(kTileName), tile(0xFF0000FF));
    NotificationCounter notes;
    std::atomic<bool> stop{false};
    std::vector<std::thread> readers;
    for (int i = 0; i < 3; ++i) {
        readers.emplace_back([&] {
            while (!stop) {
                (void)cache_->cachedImageForUrl(kUrl);
                cache_->cacheImage(tile(0xFF00FF00), kUrl);
                (void)cache_->debugDescription();
            }
        });
    }
    for (int i = 0; i < 50; ++i) {
        cache_->setStrategy(i % 2 == 0 ? CVTileCacheStrategy::online : CVTileCacheStrategy::tilePackage);
    }
    stop = true;
    for (auto& reader : readers) reader.join();
    EXPECT_EQ(notes.count(), 50);
    EXPECT_TRUE(test::waitFor([] { return CVTileCache::pendingImageWrites() == 0; }));
}

}  // namespace
}  // namespace ambrell
