#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "Ambrell/CVErrorCodes.h"
#include "data/CVModelCache.h"
#include "data/DataSetManager/CVDataSetCacheTrimTask.h"
#include "data/DataSetManager/CVDataSetCacheWorkScheduler.h"
#include "data/DataSetManager/CVDataSetStaging.h"
#include "data/DataSetManager/CVDataSetUrlDownloadTask.h"
#include "data/DataSetManager/CVSwitchToOnlineTilesTask.h"
#include "data/DataSetManager/CVTileCache.h"
#include "data/DataSetManager/CVTilePackageUnzipTask.h"
#include "data/DataSetManager/NSOperationCorvay.h"
#include "foundation/CVAXAPI.h"
#include "foundation/CVExtendedFileAttributes.h"
#include "platform/FileSystem.h"
#include "platform/runtime/MainQueue.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/LoopbackWebService.h"
#include "tests/support/TempDirectory.h"
#include "tests/support/WaitFor.h"
#include "zip/SSZipArchive.h"

namespace ambrell {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::system_clock;
using Status = CVDataSetCacheTaskStatus;
const auto kLastModified = Clock::from_time_t(784111777);
constexpr const char* kLastModifiedText = "Sun, 06 Nov 1994 08:49:37 GMT";

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeFile(const fs::path& path, std::string_view text) {
    fs::create_directories(path.parent_path());
    ASSERT_FALSE(platform::writeFileAtomically(path, text));
}

// A data set's folder under a container of its own, the web service on
// loopback with a session token, and the main queue running.
class CVDataSetTaskWorkTest : public test::ContainerFixture {
protected:
    CVDataSetTaskWorkTest() {
        ::setenv("AMBRELL_API", service_.baseUrl().c_str(), 1);
        CVAXAPI::resetSharedForTesting();
        CVAXAPI::sharedInstance()->setSessionToken("session-token");
        fs::create_directories(folder());
        CVTileCache::resetDefaultTileCacheForTesting();
        CVModelCache::resetMemoryCacheForTesting();
    }
    ~CVDataSetTaskWorkTest() override {
        platform::MainQueue::shared().drain();
        CVTileCache::resetDefaultTileCacheForTesting();
        CVModelCache::resetMemoryCacheForTesting();
        CVAXAPI::resetSharedForTesting();
        ::unsetenv("AMBRELL_API");
    }

    // Runs the task on a scheduler of its own until its completion ran.
    static void run(const std::shared_ptr<CVDataSetCacheTask>& task) {
        auto scheduler = CVDataSetCacheWorkScheduler::create();
        auto done = std::make_shared<std::atomic<bool>>(false);
        cvAddCompletionBlock(*task, [done] { *done = true; });
        scheduler->addWorkItems({task});
        scheduler->start();
        ASSERT_TRUE(test::waitFor([&] { return done->load(); })) << task->debugDescription();
    }

    std::shared_ptr<CVDataSetUrlDownloadTask> download(const std::string& route,
                                                       std::optional<Clock::time_point> since = {},
                                                       std::optional<std::chrono::seconds> maxAge = {}) {
        return CVDataSetUrlDownloadTask::newWithOwner(owner_, service_.url(route), target(), since, maxAge);
    }

    [[nodiscard]] std::optional<std::string> sentHeader(std::string_view route, std::string_view name) const {
        const auto request = service_.lastRequest(route);
        return request ? request->header(name) : std::nullopt;
    }

    [[nodiscard]] fs::path folder() const { return containerRoot() / "datasets" / "key"; }
    [[nodiscard]] fs::path target() const { return folder() / "venues.json"; }
    // Answers staged beside the data sets' folders and not dealt with yet.
    [[nodiscard]] std::vector<fs::path> stagedFiles() const {
        std::vector<fs::path> staged;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(folder().parent_path(), error)) {
            if (entry.path().filename().string().ends_with(CVDataSetStaging::kSuffix)) {
                staged.push_back(entry.path());
            }
        }
        return staged;
    }

    test::LoopbackWebService service_;
    test::ScopedLogCapture logs_;
    std::shared_ptr<int> owner_ = std::make_shared<int>(0);
    platform::MainQueueThread mainThread_;
};

// MARK: - Download

TEST_F(CVDataSetTaskWorkTest, ADownloadReplacesTheFileAndDropsTheMemoryCacheEntry) {
    service_.serveBody("/sync/venues", R"(["v1"])", "application/json", kLastModified);
    const auto key = CVModelCache::cacheKeyForUrl(service_.url("/sync/venues"));
    CVModelCache::memoryCache()->setObject(std::make_shared<int>(1), key);
    auto task = download("/sync/venues");
    EXPECT_EQ(task->name(), "Fetch " + service_.url("/sync/venues"));
    EXPECT_EQ(task->priority(), 2u);
    run(task);
    EXPECT_EQ(task->status(), Status::finished);
    EXPECT_TRUE(task->didUpdateTargetFile());
    EXPECT_FALSE(task->error());
    ASSERT_TRUE(task->urlResponse());
    EXPECT_EQ(task->urlResponse()->statusCode, 200);
    EXPECT_EQ(readFile(target()), R"(["v1"])");
    EXPECT_EQ(xattr_lastModified(target()), kLastModifiedText);
    EXPECT_EQ(CVModelCache::memoryCache()->objectForKey<int>(key), nullptr);

    // The same again: the stored date makes it conditional, and 304 touches nothing.
    CVModelCache::memoryCache()->setObject(std::make_shared<int>(2), key);
    auto again = download("/sync/venues");
    run(again);
    EXPECT_EQ(sentHeader("/sync/venues", "If-Modified-Since"), kLastModifiedText);
    ASSERT_TRUE(again->urlResponse());
    EXPECT_EQ(again->urlResponse()->statusCode, 304);
    EXPECT_FALSE(again->didUpdateTargetFile());
    EXPECT_EQ(again->status(), Status::finished);
    EXPECT_NE(CVModelCache::memoryCache()->objectForKey<int>(key), nullptr);
    EXPECT_EQ(readFile(target()), R"(["v1"])");
}

TEST_F(CVDataSetTaskWorkTest, AGivenDateIsSentAndNamed) {
    service_.serveBody("/sync/venues", "[]", "application/json", kLastModified - 24h);
    auto task = download("/sync/venues", kLastModified);
    EXPECT_EQ(task->name(), "Fetch " + service_.url("/sync/venues") + " (since " + kLastModifiedText + ")");
    run(task);
    EXPECT_EQ(sentHeader("/sync/venues", "If-Modified-Since"), kLastModifiedText);
    EXPECT_FALSE(task->didUpdateTargetFile());
}

TEST_F(CVDataSetTaskWorkTest, AMaximumAgeSkipsOnlyAYoungFileTheServerDidNotDate) {
    service_.serveBody("/img/icon.png", "icon", "image/png");
    struct Case {
        const char* name;
        std::optional<Clock::duration> downloadedAgo;
        bool withLastModified;
        bool requests;
    };
    const Case cases[] = {
        {"young, undated", 1h, false, false},
        {"young, dated by the server", 1h, true, true},
        {"too old", 3h, false, true},
        {"no download date", std::nullopt, false, true},
    };
    for (const auto& c : cases) {
        service_.clearRequests();
        writeFile(target(), "old");
        if (c.downloadedAgo) xattr_setDownloadDate(target(), Clock::now() - *c.downloadedAgo);
        if (c.withLastModified) xattr_setLastModified(target(), kLastModifiedText);
        auto task = download("/img/icon.png", {}, 7200s);
        run(task);
        EXPECT_EQ(task->status(), Status::finished) << c.name;
        EXPECT_EQ(service_.requestsTo("/img/icon.png").size(), c.requests ? 1u : 0u) << c.name;
        EXPECT_EQ(readFile(target()), c.requests ? "icon" : "old") << c.name;
        fs::remove(target());
    }
}

TEST_F(CVDataSetTaskWorkTest, FailedDownloadsAreLoggedRecordedAndStillFinish) {
    service_.dropConnection("/sync/broken");
    service_.respond("/sync/missing", {404, "{}", {}});
    writeFile(target(), "kept");
    for (const char* route : {"/sync/broken", "/sync/missing"}) {
        auto task = download(route);
        run(task);
        EXPECT_EQ(task->status(), Status::finished) << route;
        EXPECT_TRUE(task->error()) << route;
        EXPECT_FALSE(task->didUpdateTargetFile()) << route;
        EXPECT_EQ(readFile(target()), "kept") << route;
    }
    EXPECT_TRUE(logs_.sink().contains("[E] error "));
}

// A reader fails however it fails: whatever it throws refuses the answer,
// which is then reported as one that did not read and leaves nothing staged.
TEST_F(CVDataSetTaskWorkTest, AReaderThatThrowsAnythingRefusesTheAnswer) {
    service_.serveBody("/sync/venues", R"(["v1"])");
    writeFile(target(), "kept");
    const std::function<void()> failures[] = {
        [] { throw std::runtime_error("unreadable"); },
        [] { throw 42; },
    };
    for (const auto& fail : failures) {
        auto task = CVDataSetUrlDownloadTask::newWithOwner(owner_, service_.url("/sync/venues"), target(), {}, {},
                                                           [fail](const fs::path&) {
                                                               fail();
                                                               return true;
                                                           });
        run(task);
        EXPECT_EQ(task->status(), Status::finished);
        EXPECT_EQ(task->error().value_or(platform::NSError{}).localizedDescription(),
                  "Unreadable answer for " + service_.url("/sync/venues"));
        EXPECT_FALSE(task->didUpdateTargetFile());
        EXPECT_EQ(readFile(target()), "kept");
        EXPECT_TRUE(stagedFiles().empty());
    }
}

TEST_F(CVDataSetTaskWorkTest, ACancelledDownloadIsNotFinishedByItsLateAnswer) {
    std::mutex mutex;
    std::condition_variable released;
    bool open = false;
    std::atomic<bool> arrived{false};
    service_.handle("/sync/slow", [&](const test::RecordedRequest&) {
        arrived = true;
        std::unique_lock lock(mutex);
        released.wait(lock, [&] { return open; });
        return test::LoopbackWebService::Response{200, "late", {}};
    });
    const auto key = CVModelCache::cacheKeyForUrl(service_.url("/sync/slow"));
    CVModelCache::memoryCache()->setObject(std::make_shared<int>(1), key);
    auto task = download("/sync/slow");
    auto scheduler = CVDataSetCacheWorkScheduler::create();
    scheduler->addWorkItems({task});
    scheduler->start();
    ASSERT_TRUE(test::waitFor([&] { return arrived.load(); }));
    scheduler->cancelTasksWithOwner(owner_.get());
    EXPECT_EQ(task->status(), Status::cancelled);
    EXPECT_TRUE(test::waitFor([&] { return scheduler->count() == 0; }));
    {
        std::lock_guard lock(mutex);
        open = true;
    }
    released.notify_all();
    // The answer comes and is stored aside, then dropped: nothing of it
    // lands, and the task stays cancelled.
    ASSERT_TRUE(
        test::waitFor([&] { return logs_.sink().contains("Saved file for url " + service_.url("/sync/slow")); }));
    EXPECT_TRUE(test::waitFor([&] { return stagedFiles().empty(); }));
    EXPECT_FALSE(fs::exists(target()));
    EXPECT_NE(CVModelCache::memoryCache()->objectForKey<int>(key), nullptr);
    EXPECT_FALSE(task->didUpdateTargetFile());
    EXPECT_EQ(task->status(), Status::cancelled);
    EXPECT_FALSE(task->urlResponse());
    EXPECT_FALSE(task->error());
}

// The folder of a data set removed meanwhile is not made again by a download:
// the answer is dropped and the task says it could not store it.
TEST_F(CVDataSetTaskWorkTest, ADownloadIntoAFolderThatIsGoneCreatesNothing) {
    service_.serveBody("/sync/venues", R"(["v1"])");
    fs::remove_all(folder());
    auto task = download("/sync/venues");
    run(task);
    EXPECT_EQ(task->status(), Status::finished);
    ASSERT_TRUE(task->error());
    EXPECT_EQ(task->error()->code, AmbrellErrorCode::kDataLoadingFailed);
    EXPECT_FALSE(task->didUpdateTargetFile());
    EXPECT_FALSE(fs::exists(folder()));
    EXPECT_TRUE(stagedFiles().empty());
}

// MARK: - Tile package

class CVTilePackageTest : public CVDataSetTaskWorkTest {
protected:
    // A real package of two tiles, dated and named as a download leaves it.
    fs::path makePackage() {
        writeFile(source_ / "15" / "1" / "2.png", "tile-a");
        writeFile(source_ / "15" / "1" / "3.png", "tile-b");
        const auto package = folder() / "tiles.zip";
        fs::create_directories(folder());
        EXPECT_TRUE(SSZipArchive::createZipFileAtPath(package.string(), source_.path().string()));
        xattr_setLastModified(package, kLastModifiedText);
        xattr_setDownloadUrl(package, "https://tiles.example/package.zip");
        return package;
    }
    [[nodiscard]] fs::path packageFolder() const { return folder() / "tilecache-package"; }
    [[nodiscard]] fs::path onlineFolder() const { return folder() / "tilecache-online"; }

    test::TempDirectory source_{"ambrell-tiles"};
};

TEST_F(CVTilePackageTest, UnpacksTruncatesKeepingTheAttributesAndSwitchesTheTileCache) {
    const auto package = makePackage();
    writeFile(onlineFolder() / "old.png", "stale");
    auto tileCache = CVTileCache::defaultTileCache();
    tileCache->setBasePath(folder());
    auto task = CVTilePackageUnzipTask::newWithOwner(owner_, package, folder());
    EXPECT_EQ(task->name(), "Unzip Tiles https://tiles.example/package.zip");
    EXPECT_EQ(task->targetFolder(), packageFolder());
    EXPECT_EQ(task->onlineTilesFolder(), onlineFolder());
    run(task);
    EXPECT_EQ(task->status(), Status::finished);
    EXPECT_FALSE(task->error()) << task->error()->localizedDescription();
    EXPECT_EQ(readFile(packageFolder() / "15" / "1" / "2.png"), "tile-a");
    EXPECT_EQ(readFile(packageFolder() / "15" / "1" / "3.png"), "tile-b");
    EXPECT_EQ(fs::file_size(package), 0u);
    EXPECT_EQ(xattr_lastModified(package), kLastModifiedText);
    EXPECT_EQ(xattr_downloadUrl(package), "https://tiles.example/package.zip");
    EXPECT_FALSE(fs::exists(onlineFolder()));
    EXPECT_EQ(tileCache->strategy(), CVTileCacheStrategy::tilePackage);

    // Emptied, it is skipped next time without error.
    fs::remove_all(packageFolder());
    auto again = CVTilePackageUnzipTask::newWithOwner(owner_, package, folder());
    run(again);
    EXPECT_FALSE(again->error());
    EXPECT_FALSE(fs::exists(packageFolder()));
}

TEST_F(CVTilePackageTest, APackageLeftWholeIsUnpackedAgainInPlaceOfTheTilesThere) {
    const auto package = makePackage();
    // What a process killed before the package's tiles took their place
    // leaves: the package whole, the tiles of an older one.
    writeFile(packageFolder() / "15" / "1" / "2.png", "ti");
    auto task = CVTilePackageUnzipTask::newWithOwner(owner_, package, folder());
    EXPECT_EQ(task->name(), "Unzip Tiles https://tiles.example/package.zip");
    run(task);
    EXPECT_FALSE(task->error());
    EXPECT_EQ(readFile(packageFolder() / "15" / "1" / "2.png"), "tile-a");
    EXPECT_EQ(readFile(packageFolder() / "15" / "1" / "3.png"), "tile-b");
}

// A broken package keeps the tiles in place, and loses its date: asked for as
// of it, the next sync would be answered 304 for good.
TEST_F(CVTilePackageTest, AMissingOrBrokenPackageIsUnavailable) {
    writeFile(folder() / "broken.zip", "not a zip archive");
    xattr_setLastModified(folder() / "broken.zip", kLastModifiedText);
    writeFile(packageFolder() / "15" / "1" / "2.png", "tile-a");
    for (const auto& input : {folder() / "missing.zip", folder() / "broken.zip"}) {
        auto task = CVTilePackageUnzipTask::newWithOwner(owner_, input, folder());
        EXPECT_EQ(task->name(), "Unzip Tiles " + input.filename().string());
        run(task);
        EXPECT_EQ(task->status(), Status::finished);
        ASSERT_TRUE(task->error()) << input;
        EXPECT_EQ(task->error()->domain, "com.corvay.Ambrell");
        EXPECT_EQ(task->error()->code, AmbrellErrorCode::kTilePackageUnavailable);
        EXPECT_TRUE(task->error()->userInfo.empty());
    }
    // A broken package is kept for the next sync to replace.
    EXPECT_EQ(readFile(folder() / "broken.zip"), "not a zip archive");
    EXPECT_FALSE(xattr_lastModified(folder() / "broken.zip"));
    EXPECT_EQ(readFile(packageFolder() / "15" / "1" / "2.png"), "tile-a");
    EXPECT_TRUE(stagedFiles().empty());
}

TEST_F(CVTilePackageTest, SwitchingToOnlineTilesLeavesThePackageStrategy) {
    writeFile(packageFolder() / "15" / "1" / "2.png", "tile-a");
    auto tileCache = CVTileCache::defaultTileCache();
    tileCache->setBasePath(folder());
    ASSERT_EQ(tileCache->strategy(), CVTileCacheStrategy::tilePackage);
    auto task = CVSwitchToOnlineTilesTask::newWithCacheFolder(folder());
    EXPECT_EQ(task->name(), "Switch to online tiles " + folder().string());
    EXPECT_EQ(task->priority(), 0u);
    EXPECT_EQ(task->owner(), nullptr);
    run(task);
    EXPECT_EQ(task->status(), Status::finished);
    EXPECT_EQ(tileCache->strategy(), CVTileCacheStrategy::online);
    EXPECT_TRUE(fs::is_directory(onlineFolder()));
}

// MARK: - Trim

TEST_F(CVDataSetTaskWorkTest, TrimRemovesFilesAndFoldersAndSkipsMissingOnes) {
    writeFile(folder() / "stale.json", "x");
    writeFile(folder() / "old" / "deep" / "a.png", "x");
    writeFile(folder() / "keep.json", "x");
    auto task = CVDataSetCacheTrimTask::newWithDeletions(
        {folder() / "stale.json", folder() / "old", folder() / "never-there.json"});
    EXPECT_EQ(task->name(), "Trim cache: Remove 3 files and folders");
    run(task);
    EXPECT_EQ(task->status(), Status::finished);
    EXPECT_FALSE(task->error());
    EXPECT_FALSE(fs::exists(folder() / "stale.json"));
    EXPECT_FALSE(fs::exists(folder() / "old"));
    EXPECT_TRUE(fs::exists(folder() / "keep.json"));

    // Permissions do not hold the superuser back, so only others can see a removal fail.
    if (::geteuid() != 0) {
        writeFile(folder() / "locked" / "a.json", "x");
        fs::permissions(folder() / "locked", fs::perms::owner_read | fs::perms::owner_exec);
        auto failing = CVDataSetCacheTrimTask::newWithDeletions({folder() / "locked" / "a.json"});
        run(failing);
        fs::permissions(folder() / "locked", fs::perms::owner_all);
        ASSERT_TRUE(failing->error());
        EXPECT_EQ(failing->error()->domain, "NSPOSIXErrorDomain");
        EXPECT_EQ(failing->status(), Status::finished);
    }
}

}  // namespace
}  // namespace ambrell
