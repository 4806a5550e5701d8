// The data-set cache manager against the loopback web service: data sets on
// disk at start, size fetches, a whole synchronisation online and offline,
// the delegate's order, and the removal of unused data sets.

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <functional>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

#include "Ambrell/CVErrorCodes.h"
#include "data/CVDataSetSeams.h"
#include "data/CVOfflineBundleHelper.h"
#include "data/DataSetManager/CVDataSetCacheWorkScheduler.h"
#include "foundation/CVExtendedFileAttributes.h"
#include "foundation/CVLogger.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/UUID.h"
#include "platform/runtime/BlockingWait.h"
#include "platform/runtime/ThreadPool.h"
#include "tests/data/DataSetManager/DataSetFixture.h"
#include "tests/data/DataSetManager/TilePackage.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/WaitFor.h"

namespace ambrell::cv_data_set_cache_manager_test {
namespace {

namespace fs = std::filesystem;
namespace json = boost::json;
using test::kDataSetKey;
using test::waitFor;
using Manager = CVDataSetCacheManagerInternal;

// Writes down every delegate call, in order, with the thread it came on.
class RecordingDelegate : public CVDataSetCacheManagerDelegate, public CVDataSetCacheManagerSizeDelegate {
public:
    void dataSetManagerDidAddDataSet(CVDataSetCacheManager&, const std::shared_ptr<CVDataSetCache>& d) override {
        record("added " + d->dataSetId());
    }
    void dataSetManagerDidRemoveDataSet(CVDataSetCacheManager&, const std::shared_ptr<CVDataSetCache>& d) override {
        record("removed " + d->dataSetId());
    }
    void dataSetManagerWillStartSynchronizingItem(CVDataSetCacheManager&,
                                                  const std::shared_ptr<CVDataSetCacheItem>& i) override {
        record("willStartItem " + i->cachingItemId());
    }
    void dataSetManagerDidFinishSynchronizingItem(CVDataSetCacheManager&,
                                                  const std::shared_ptr<CVDataSetCacheItem>& i) override {
        record("didFinishItem " + i->cachingItemId(), true);
    }
    void dataSetManagerWillStartSynchronizingDataSet(CVDataSetCacheManager&,
                                                     const std::shared_ptr<CVDataSetCache>& d) override {
        record("willStartDataSet " + d->dataSetId());
    }
    void dataSetManagerDidFinishSynchronizingDataSet(CVDataSetCacheManager&,
                                                     const std::shared_ptr<CVDataSetCache>& d) override {
        record("didFinishDataSet " + d->dataSetId(), true);
    }
    void dataSetManagerWillStartSynchronizing(CVDataSetCacheManager&) override { record("willStart"); }
    void dataSetManagerDidFinishSynchronizing(CVDataSetCacheManager&) override { record("didFinish", true); }

    void dataSetManagerWillStartFetchingSyncSizes(CVDataSetCacheManager&) override { record("sizes"); }
    void dataSetManagerWillStartFetchingSyncSizesForDataSet(CVDataSetCacheManager&,
                                                            const std::shared_ptr<CVDataSetCache>& d) override {
        record("sizesFor " + d->dataSetId());
    }
    void dataSetManagerDidFetchSyncSizesForDataSet(CVDataSetCacheManager&,
                                                   const std::shared_ptr<CVDataSetCache>& d) override {
        record("fetched " + d->dataSetId(), true);
    }
    void dataSetManagerDidFinishFetchingSyncSizes(CVDataSetCacheManager&) override { record("sizesDone", true); }

    void record(std::string event, bool onMain = false) {
        std::lock_guard lock(mutex_);
        if (onMain && !platform::MainQueue::shared().isCurrent()) event += " (off the main queue)";
        events_.push_back(std::move(event));
    }
    std::vector<std::string> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    bool saw(std::string_view event) const {
        const auto all = events();
        return std::ranges::find(all, event) != all.end();
    }
    void clear() {
        std::lock_guard lock(mutex_);
        events_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
};

// An answer held back until the test lets it go (or the wait's bound
// passes): a download stays under way for as long as the test needs.
test::LoopbackWebService::Handler heldAnswer(std::shared_ptr<std::atomic<bool>> released, std::string body,
                                             std::string type = "application/json") {
    return [released = std::move(released), body = std::move(body), type = std::move(type)](const auto&) {
        (void)waitFor([&] { return released->load(); });
        return test::LoopbackWebService::Response{200, body, {{"Content-Type", type}}};
    };
}

class DataSetManagerTest : public test::DataSetFixture {
protected:
    // Synchronises the items and waits for the run's completion.
    std::optional<platform::NSError> synchronize(Manager& manager, const std::shared_ptr<CVDataSetCacheItem>& item) {
        std::atomic<int> completions{0};
        std::optional<platform::NSError> itemResult;
        std::mutex mutex;
        manager.synchronizeCacheItems(
            {item},
            [&](auto) {
                recorder_->record("completion", true);
                ++completions;
            },
            [&](const auto&, auto result) {
                std::lock_guard lock(mutex);
                itemResult = std::move(result);
            });
        EXPECT_TRUE(waitFor([&] { return completions.load() == 1; }, std::chrono::seconds(30)));
        platform::MainQueue::shared().drain();
        EXPECT_EQ(completions.load(), 1);
        std::lock_guard lock(mutex);
        return itemResult;
    }

    std::shared_ptr<RecordingDelegate> recorder_ = std::make_shared<RecordingDelegate>();
};

TEST_F(DataSetManagerTest, LoadsDataSetFoldersFoundAtStartWithAndWithoutInfoFile) {
    fs::create_directories(root() / "bare");
    fs::create_directories(root() / "old.DELETED");
    std::ofstream(root() / "stray.json") << "{}";
    {
        auto cache = CVFileCache::newWithFolder(root() / "kept");
        const std::string info =
            R"({"cachingStrategy":0,"cacheItem":{"cachingStrategy":0,"cachingItemId":"other","cachingScope":2,)"
            R"("isCached":true,"cachedTimestamp":1700000000,"language":"da"},"dataSetId":"kept","realDatasetId":"R"})";
        ASSERT_TRUE(cache->saveDataWithFilename(std::vector<std::uint8_t>(info.begin(), info.end()), "kept.json"));
    }
    const auto manager = makeManager();
    const auto sets = manager->internalDataSets();
    ASSERT_EQ(sets.size(), 2u);
    const auto bare = manager->internalDataSetWithId("bare");
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->cachingStrategy(), 1);
    EXPECT_FALSE(bare->isCached());
    EXPECT_EQ(bare->item()->language(), "en");
    const auto kept = manager->internalDataSetWithId("kept");
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->item()->cachingItemId(), "kept");
    EXPECT_EQ(kept->item()->cachingScope(), 2);
    EXPECT_EQ(kept->cachingStrategy(), 0);
    EXPECT_TRUE(kept->isCached());
    EXPECT_EQ(kept->realDatasetId(), "R");
    EXPECT_EQ(kept->ambrellContentLanguage(), "da");

    // Written back in the stored format.
    manager->saveCacheInfoToDisk();
    const auto written = CVFileCache::initWithFolder(root() / "bare")->cachedDataForFilename("bare.json");
    ASSERT_TRUE(written);
    const auto info = json::parse(std::string(written->begin(), written->end())).as_object();
    EXPECT_EQ(info.size(), 4u);
    EXPECT_EQ(info.at("dataSetId"), "bare");
    EXPECT_EQ(info.at("realDatasetId"), "");
    EXPECT_EQ(info.at("cachingStrategy"), 1);
    EXPECT_EQ(info.at("cacheItem").as_object().size(), 12u);
}

// A process killed while it refreshed a stored copy left its incoming file
// beside the copy, and the HTTP layer's temporary file with it; every content
// download goes through such files. A start removes them at any depth of a
// data set's folder, and the staged downloads beside the folders, and nothing
// else.
TEST_F(DataSetManagerTest, AStartRemovesWhatAKilledProcessLeftOfItsDownloadsAndNothingElse) {
    const auto uuid = platform::UUID::random().uuidString();
    const struct {
        std::string path;
        bool leftover;
    } files[] = {
        {"ds-key/.venues.json.incoming-" + uuid, true},
        {"ds-key/images/.icon.png.incoming-" + uuid, true},
        {"ds-key/ambrell-download-a1B2c3.tmp", true},
        {"ds-key/images/deep/ambrell-download-Zz9Yy8.tmp", true},
        {"other/.x.incoming-" + uuid, true},
        {"ds-key." + uuid + ".download", true},
        {"ds-key." + platform::UUID::random().uuidString() + ".download/15_1_2.png", true},
        {"ds-key/venues.json", false},
        {"ds-key/.venues.json.incoming-unfinished", false},
        {"ds-key/venues.json.incoming-" + uuid, false},
        {"ds-key/.incoming-" + uuid, false},
        {"ds-key/ambrell-download-a1B2c3.png", false},
        {"ds-key/images/icon.png", false},
        {"ds-key/tilecache-package/15_1_2.png", false},
        {"ds-key/.hidden", false},
    };
    for (const auto& file : files) {
        fs::create_directories((root() / file.path).parent_path());
        ASSERT_FALSE(platform::writeFileAtomically(root() / file.path, file.path));
    }
    const auto manager = makeManager();
    for (const auto& file : files) {
        const auto path = root() / file.path;
        if (file.leftover) {
            EXPECT_FALSE(fs::exists(path)) << file.path;
            EXPECT_FALSE(fs::exists(path.parent_path()) && path.parent_path().extension() == ".download") << file.path;
        } else {
            EXPECT_EQ(platform::readTextFile(path), file.path);
        }
    }
    std::vector<std::string> ids;
    for (const auto& dataSet : manager->internalDataSets()) ids.push_back(dataSet->dataSetId());
    EXPECT_EQ(ids, (std::vector<std::string>{"ds-key", "other"}));
}

// The usage events recorded so far, once there are `count`.
std::vector<CVLogEntry> loggedEvents(std::size_t count) {
    const auto actor = CVLogger::sharedInstance()->loggerActor();
    const auto entries = [&] {
        return platform::blockingWait(platform::ThreadPool::shared().makeStrand(), actor->logEntries());
    };
    EXPECT_TRUE(waitFor([&] { return entries().size() >= count; }));
    return entries();
}

TEST_F(DataSetManagerTest, AddsLooksUpAndRemovesDataSets) {
    CVLogger::resetSharedForTesting();
    CVLogger::sharedInstance()->setConfiguration(CVLoggingConfig::eventLogging());
    const auto manager = makeManager();
    manager->setDelegate(recorder_);
    const auto added = manager->addDataSet("host-set", 1);
    ASSERT_TRUE(added);
    EXPECT_FALSE(manager->addDataSet("host-set"));
    EXPECT_FALSE(manager->addDataSet(".."));
    EXPECT_FALSE(manager->addDataSet("a/b"));
    EXPECT_EQ(manager->dataSetWithId("host-set"), added);
    EXPECT_EQ(manager->existingDataSetCacheForId("host-set"), added);
    EXPECT_EQ(added->cacheItem()->cachingScope(), 1);
    EXPECT_TRUE(fs::is_directory(root() / "host-set"));
    EXPECT_EQ(manager->pathForCachingDataSetId("host-set"), root() / "host-set");
    EXPECT_EQ(manager->pathForCachingUrl("http://h/a/b.json", "host-set"), root() / "host-set" / "http:__h_a_b.json");
    EXPECT_FALSE(manager->pathForCachedUrl("http://h/a/b.json", "host-set"));
    EXPECT_FALSE(manager->pathForCachingUrl("http://h/a/b.json", "../x"));

    EXPECT_FALSE(manager->currentDataSetId());
    AmbrellLegacy::setApiKey(std::string(kDataSetKey));
    EXPECT_FALSE(manager->currentDataSetId());
    const auto current = manager->addDataSet(kDataSetKey);
    ASSERT_TRUE(current);
    EXPECT_EQ(manager->dataSetForCurrentAmbrellAPIKey(), current);
    EXPECT_EQ(manager->currentDataSetId(), std::string(kDataSetKey));
    EXPECT_FALSE(manager->removeDataSet(current));
    EXPECT_EQ(current->cachingStrategy(), 0);
    EXPECT_TRUE(manager->dataSetWithId(kDataSetKey));

    EXPECT_TRUE(manager->removeDataSet(added));
    EXPECT_FALSE(manager->removeDataSet(added));
    EXPECT_FALSE(manager->dataSetWithId("host-set"));
    EXPECT_FALSE(fs::exists(root() / "host-set"));
    EXPECT_EQ(recorder_->events(), (std::vector<std::string>{"added host-set", "added ds-key", "removed host-set"}));

    // Every call is recorded, also the refused ones, before it acts.
    const auto events = loggedEvents(8);
    ASSERT_EQ(events.size(), 8u);
    EXPECT_EQ(events[0].name, CVLogEvent::datasetAdded);
    EXPECT_EQ(events[0].domain, CVLogDomain::datasetManager);
    EXPECT_EQ(events[0].parameters, (CVLogEntry::Parameters{{"sync_scope", "detailed"}}));
    EXPECT_EQ(events[5].name, CVLogEvent::datasetRemoved);
    EXPECT_EQ(events[5].parameters, (CVLogEntry::Parameters{{"sync_scope", "basic"}, {"sync_strategy", "detailed"}}));
    EXPECT_EQ(std::ranges::count(events, CVLogEvent::datasetRemoved, &CVLogEntry::name), 3);
    CVLogger::resetSharedForTesting();
}

TEST_F(DataSetManagerTest, SizeFetchScopesTheDataSetFromTheServiceDescription) {
    serveSolution();
    const auto manager = makeManager();
    const auto dataSet = manager->internalDataSetWithId(
        manager->addDataSet(kDataSetKey, rawValue(CVDataSetCachingScope::full))->dataSetId());
    EXPECT_FALSE(dataSet->hasScopedDataSetSize());
    const auto fetchSizes = [&] {
        recorder_->clear();
        manager->fetchSyncSizesForDataSetCaches({dataSet}, recorder_);
        ASSERT_TRUE(waitFor([&] { return recorder_->saw("sizesDone"); }));
        EXPECT_EQ(recorder_->events(),
                  (std::vector<std::string>{"sizes", "sizesFor ds-key", "fetched ds-key", "sizesDone"}));
    };
    ASSERT_NO_FATAL_FAILURE(fetchSizes());

    const auto cached = manager->pathForCachedUrl(datasetUrl(), kDataSetKey);
    ASSERT_TRUE(cached);
    const auto& path = *cached;
    EXPECT_TRUE(dataSet->hasScopedDataSetSize());
    EXPECT_EQ(dataSet->item()->language(), "da");
    EXPECT_EQ(dataSet->ambrellContentLanguage(), "da");
    EXPECT_EQ(dataSet->realDatasetId(), "real-fixture");
    EXPECT_EQ(xattr_cachingScope(path), 2);
    EXPECT_EQ(dataSet->syncSize(), 1111u);
    // The documents are fetched in the content language of the description.
    const auto jsonUrls = *dataSet->item()->syncResources().at(0).urls();
    EXPECT_NE(jsonUrls.at(0).find("&lr=da&"), std::string::npos) << jsonUrls.at(0);
    const auto info = CVFileCache::initWithFolder(dataSet->folder())->cachedDataForFilename("ds-key.json");
    ASSERT_TRUE(info);
    EXPECT_NE(std::string(info->begin(), info->end()).find(R"("language":"da")"), std::string::npos);

    // Same scope: a conditional request on the stored date.
    ASSERT_NO_FATAL_FAILURE(fetchSizes());
    const auto stored = xattr_lastModified(path);
    ASSERT_TRUE(stored);
    EXPECT_EQ(service_->lastRequest("/sync/dataset")->header("If-Modified-Since"), stored);

    // Another scope: the description is fetched again in full.
    EXPECT_TRUE(manager->setCachingScope(1, dataSet->item()));
    EXPECT_TRUE(dataSet->item()->isScheduledForSync());
    ASSERT_NO_FATAL_FAILURE(fetchSizes());
    EXPECT_EQ(service_->lastRequest("/sync/dataset")->header("If-Modified-Since"), "Thu, 01 Jan 1970 00:00:00 GMT");
    EXPECT_EQ(xattr_cachingScope(path), 1);
}

TEST_F(DataSetManagerTest, SynchronisesAWholeSolutionThenFailsCleanlyOffline) {
    serveSolution();
    const test::TempDirectory work;
    const auto package = test::writeTilePackage(work.path(), {"15_100_200.png", "15_101_200.png"});
    service_->serveFile("/tiles/package.zip", package);
    AmbrellLegacy::setApiKey(std::string(kDataSetKey));
    const auto manager = makeManager();
    manager->setDelegate(recorder_);
    const auto dataSet = manager->addDataSet(kDataSetKey, rawValue(CVDataSetCachingScope::full));
    recorder_->clear();

    EXPECT_FALSE(synchronize(*manager, dataSet->cacheItem()));
    EXPECT_EQ(recorder_->events(),
              (std::vector<std::string>{"willStart", "willStartDataSet ds-key", "willStartItem ds-key",
                                        "didFinishItem ds-key", "didFinishDataSet ds-key", "didFinish", "completion"}));
    for (const auto& endpoint : test::syncEndpoints()) {
        EXPECT_EQ(service_->requestsTo("/sync/" + endpoint).size(), 1u) << endpoint;
    }
    const auto folder = root() / std::string(kDataSetKey);
    for (const auto* resource : {"/img/icon.png", "/ext/photo.jpg"}) {
        EXPECT_TRUE(manager->pathForCachedUrl(service_->url(resource), kDataSetKey)) << resource;
    }
    EXPECT_TRUE(fs::is_regular_file(folder / "tilecache-package" / "15_100_200.png"));
    EXPECT_TRUE(fs::is_regular_file(folder / "tilecache-package" / "15_101_200.png"));
    EXPECT_TRUE(dataSet->isCached());
    EXPECT_FALSE(dataSet->isSyncing());
    EXPECT_FALSE(manager->isSyncing());
    EXPECT_GT(dataSet->cachedSize(), 0u);
    EXPECT_EQ(dataSet->cacheItem()->currentlyCachedScope(), 2);
    const auto cachedAt = dataSet->cachedTimestamp();
    ASSERT_TRUE(cachedAt);
    EXPECT_TRUE(dataSet->syncTimestamp());
    const auto info = CVFileCache::initWithFolder(folder)->cachedDataForFilename("ds-key.json");
    ASSERT_TRUE(info);
    const auto item = json::parse(std::string(info->begin(), info->end())).at("cacheItem");
    EXPECT_EQ(item.at("isCached"), true);
    EXPECT_EQ(item.at("cachedTimestamp"),
              std::chrono::duration_cast<std::chrono::seconds>(cachedAt->time_since_epoch()).count());
    EXPECT_NE(manager->debugDescription().find("finishedCaches[ 0 ]"), std::string::npos);

    // Offline: every fetch fails, the run says so, and the copy stays as it was.
    service_.reset();
    recorder_->clear();
    const auto result = synchronize(*manager, dataSet->cacheItem());
    ASSERT_TRUE(result);
    EXPECT_EQ(result->domain, "com.corvay.Ambrell");
    EXPECT_EQ(result->code, AmbrellErrorCode::kDataLoadingFailed);
    const auto& underlying = std::get<std::vector<std::shared_ptr<const platform::NSError>>>(
        result->userInfo.at("syncContent::underlyingError"));
    EXPECT_GE(underlying.size(), test::syncEndpoints().size());
    EXPECT_EQ(dataSet->syncResult(), result);
    EXPECT_EQ(dataSet->cachedTimestamp(), cachedAt);
    EXPECT_TRUE(dataSet->isCached());
    EXPECT_EQ(recorder_->events().back(), "completion");
    EXPECT_TRUE(fs::is_regular_file(folder / "tilecache-package" / "15_100_200.png"));
    EXPECT_EQ(CVFileCache::initWithFolder(folder)->cachedDataForItem(
                  CVAXAPI::sharedInstance()->venueSyncUrlForSolutionId(kDataSetKey, "da")),
              (std::vector<std::uint8_t>{'[', ']'}));
}

// An image in any format recognised is kept as served, for the image provider
// or the host to read; a page in its place is a failed download.
TEST_F(DataSetManagerTest, ImagesAreStoredAsServedAndAPageInPlaceOfOneFailsItsUrl) {
    serveSolution();
    const struct {
        std::string dataSet, group, path, body, type;
        bool stored;
    } rows[] = {
        {"ds-jpeg", "externalimages", "/ext/photo.jpg", test::jpegFile(16, 16, 0xFF3A7BC8), "image/jpeg", true},
        {"ds-webp", "externalimages", "/ext/photo.webp", test::webpFile(16, 16, 0xFF3A7BC8), "image/webp", true},
        {"ds-svg", "images", "/img/icon.svg",
         R"(<?xml version="1.0"?><svg xmlns="http://www.w3.org/2000/svg" width="8" height="8"/>)", "image/svg+xml",
         true},
        {"ds-page", "externalimages", "/ext/login.jpg",
         "<html><body><form action=\"/login\">Sign in</form></body></html>", "text/html", false},
    };
    // Each data set's description lists its one image.
    service_->handle("/sync/dataset", [rows, this](const test::RecordedRequest& request) {
        for (const auto& row : rows) {
            if (request.query.find("solutionId=" + row.dataSet + "&") == std::string::npos) continue;
            const json::value document = {
                {"id", row.dataSet},
                {"name", row.dataSet},
                {"resources", {{{"type", row.group}, {"urls", {service_->url(row.path)}}, {"estimatedSize", 10}}}}};
            return test::LoopbackWebService::Response{200, json::serialize(document), {}};
        }
        return test::LoopbackWebService::Response{404, "", {}};
    });
    // The descriptions of the URLs a sync failed.
    auto failures = [](const std::optional<platform::NSError>& result) {
        std::vector<std::string> texts;
        if (!result) return texts;
        for (const auto& cause : std::get<std::vector<std::shared_ptr<const platform::NSError>>>(
                 result->userInfo.at("syncContent::underlyingError"))) {
            texts.push_back(cause->localizedDescription());
        }
        return texts;
    };
    const auto manager = makeManager();
    for (const auto& row : rows) {
        service_->serveBody(row.path, row.body, row.type);
        const auto url = service_->url(row.path);
        const auto dataSet = manager->addDataSet(row.dataSet, rawValue(CVDataSetCachingScope::full));
        const auto result = synchronize(*manager, dataSet->cacheItem());
        const auto stored = manager->pathForCachedUrl(url, row.dataSet);
        if (row.stored) {
            EXPECT_EQ(failures(result), std::vector<std::string>{}) << row.path;
            const auto bytes = stored ? platform::readFile(*stored) : std::nullopt;
            EXPECT_TRUE(bytes && std::string(bytes->begin(), bytes->end()) == row.body) << row.path;
        } else {
            EXPECT_EQ(failures(result), std::vector<std::string>{"Unreadable answer for " + url});
            EXPECT_FALSE(stored) << row.path;
        }
    }
}

TEST_F(DataSetManagerTest, ASynchronisationJoinsTheSizeFetchUnderWay) {
    serveSolution();
    // Held back, so that the size task is still queued or running when the sync comes.
    service_->delay("/sync/dataset", std::chrono::milliseconds(100));
    const auto manager = makeManager();
    const auto dataSet = manager->addDataSet("host", rawValue(CVDataSetCachingScope::detailed));
    manager->fetchSyncSizesForDataSetCaches({dataSet}, recorder_);
    EXPECT_FALSE(synchronize(*manager, dataSet->cacheItem()));
    EXPECT_TRUE(waitFor([&] { return recorder_->saw("sizesDone"); }));
    EXPECT_EQ(service_->requestsTo("/sync/dataset").size(), 1u);
    EXPECT_TRUE(manager->pathForCachedUrl(service_->url("/ext/photo.jpg"), "host"));
    EXPECT_TRUE(dataSet->isCached());
}

TEST_F(DataSetManagerTest, ASynchronisationOfNothingStillCompletesOnce) {
    const auto manager = makeManager();
    std::atomic<int> calls{0};
    std::atomic<bool> onMain{false};
    manager->synchronizeContent([&](auto error) {
        onMain = platform::MainQueue::shared().isCurrent() && !error;
        ++calls;
    });
    ASSERT_TRUE(waitFor([&] { return calls.load() == 1; }));
    platform::MainQueue::shared().drain();
    EXPECT_EQ(calls.load(), 1);
    EXPECT_TRUE(onMain.load());
    EXPECT_FALSE(manager->isSyncing());
}

TEST_F(DataSetManagerTest, CancellingMarksTheItemsResultCancelled) {
    serveSolution();
    service_->delay("/sync/graph", std::chrono::seconds(20));
    const auto manager = makeManager();
    const auto dataSet = manager->addDataSet("host-set");
    std::atomic<bool> done{false};
    std::optional<platform::NSError> result;
    manager->synchronizeCacheItems({dataSet->cacheItem()}, nullptr, [&](const auto&, auto error) {
        result = std::move(error);
        done = true;
    });
    ASSERT_TRUE(waitFor([&] { return !service_->requestsTo("/sync/graph").empty(); }));
    manager->cancelSynchronization();
    ASSERT_TRUE(waitFor([&] { return done.load(); }));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->code, AmbrellErrorCode::kDataSyncCancelled);
    EXPECT_TRUE(waitFor([&] { return !manager->isSyncing(); }));
    EXPECT_FALSE(dataSet->isCached());
}

TEST_F(DataSetManagerTest, CoreStateBindsTheSharedManagerWhichAnswersTheContentModels) {
    // The app carries a snapshot of the solution "bundled", with tiles.
    const auto res = platform::Paths::resources() / "res";
    fs::create_directories(res);
    std::ofstream(res / "ax_sync_solutionid.json") << R"({"solutionId":"bundled"})";
    std::ofstream(res / "ax_sync_tiles.json") << R"({"tiles":true})";
    CVOfflineBundleHelper::resetForTesting();

    const auto manager = AmbrellLegacy::dataSetCacheManager();
    EXPECT_EQ(manager, AmbrellLegacy::dataSetCacheManager());
    EXPECT_EQ(manager, Manager::sharedInstance());
    EXPECT_EQ(manager->dataSetCachesRootFolder(), platform::Paths::caches() / "datasets");
    const auto bundled = manager->dataSetWithId("bundled");
    ASSERT_TRUE(bundled);
    EXPECT_TRUE(bundled->haveBundledData());
    EXPECT_EQ(bundled->cachingStrategy(), 0);
    EXPECT_EQ(bundled->cacheItem()->cachingScope(), 2);
    EXPECT_TRUE(fs::is_regular_file(manager->pathForCachingDataSetId("bundled") / "bundled.json"));

    const std::string url = "http://host/sync/graph?solutionId=bundled";
    EXPECT_FALSE(CVDataSetSeams::pathForCachedUrl(url, "bundled"));
    ASSERT_TRUE(CVFileCache::initWithFolder(manager->pathForCachingDataSetId("bundled"))
                    ->saveData(std::vector<std::uint8_t>{'{', '}'}, url));
    EXPECT_EQ(CVDataSetSeams::pathForCachedUrl(url, "bundled"), manager->pathForCachingUrl(url, "bundled"));
    EXPECT_EQ(manager->dataForCachedUrl(url, "bundled"), (std::vector<std::uint8_t>{'{', '}'}));
    Manager::resetSharedInstanceForTesting();
    EXPECT_FALSE(CVDataSetSeams::pathForCachedUrl(url, "bundled"));
    CVOfflineBundleHelper::resetForTesting();
}

TEST_F(DataSetManagerTest, SynchronizeContentTakesHostSetsAndTheCurrentKeysOnceEach) {
    serveSolution();
    AmbrellLegacy::setApiKey(std::string(kDataSetKey));
    const auto manager = makeManager();
    manager->setDelegate(recorder_);
    const auto host = manager->addDataSet("host");
    manager->setCachingStrategy(0, manager->addDataSet(kDataSetKey)->cacheItem());
    manager->setCachingStrategy(0, manager->addDataSet("unused")->cacheItem());
    recorder_->clear();

    std::atomic<int> first{0};
    std::atomic<int> second{0};
    manager->synchronizeContent([&](auto) { ++first; });
    // Joins the run: nothing new is scheduled, the completion waits for the end.
    manager->synchronizeCacheItems({host->cacheItem()}, [&](auto) {
        EXPECT_TRUE(recorder_->saw("didFinish"));
        ++second;
    });
    ASSERT_TRUE(waitFor([&] { return first.load() == 1 && second.load() == 1; }));
    platform::MainQueue::shared().drain();
    EXPECT_EQ(first.load() + second.load(), 2);
    const auto events = recorder_->events();
    EXPECT_EQ(std::ranges::count(events, std::string("willStart")), 1);
    EXPECT_EQ(std::ranges::count(events, std::string("willStartItem host")), 1);
    EXPECT_EQ(std::ranges::count(events, std::string("willStartItem ds-key")), 1);
    EXPECT_FALSE(recorder_->saw("willStartItem unused"));
    EXPECT_TRUE(host->isCached());
    EXPECT_FALSE(manager->isSyncing());
}

TEST_F(DataSetManagerTest, RemovesUnusedSdkManagedDataSetsAfterExactlySevenDays) {
    const auto start = std::chrono::system_clock::now();
    std::atomic<std::int64_t> offset{0};
    const auto manager = makeManager([&] { return start + std::chrono::seconds(offset.load()); });
    AmbrellLegacy::setApiKey(std::string(kDataSetKey));
    for (const auto* id : {"old", "recent", "host", "ds-key"}) {
        const auto dataSet = manager->internalDataSetWithId(manager->addDataSet(id)->dataSetId());
        if (std::string_view(id) != "host") manager->setCachingStrategy(0, dataSet->cacheItem());
        dataSet->setLastUsedTime(start);
    }
    offset = 604800 - 1;
    manager->registerActiveDataSetId("recent");
    manager->removeDataSetsInactiveForMoreThan(Manager::kInactiveDataSetLifetime);
    EXPECT_EQ(manager->internalDataSets().size(), 4u);

    offset = 604800;
    manager->removeDataSetsInactiveForMoreThan(Manager::kInactiveDataSetLifetime);
    std::vector<std::string> left;
    for (const auto& dataSet : manager->internalDataSets()) left.push_back(dataSet->dataSetId());
    EXPECT_EQ(left, (std::vector<std::string>{"recent", "host", "ds-key"}));
    EXPECT_FALSE(fs::exists(root() / "old"));
}

// A synchronisation whose description cannot be had fetches nothing; it must
// never pass for a complete copy, and the item must not stay syncing.
TEST_F(DataSetManagerTest, AFirstSynchronisationThatFetchedNothingReportsTheFetchsFailure) {
    const struct {
        const char* name;
        std::function<void()> arrange;
    } cases[] = {
        {"a server error",
         [&] {
             service_->respond("/sync/dataset", {500, "", {}});
         }},
        {"an answer that is not an object", [&] { service_->serveBody("/sync/dataset", "[1, 2]"); }},
        {"offline", [&] { service_.reset(); }},
    };
    const auto manager = makeManager();
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.arrange();
        const auto id = "fresh-" + std::to_string(index++);
        const auto dataSet = manager->addDataSet(id);
        ASSERT_TRUE(dataSet);
        const auto result = synchronize(*manager, dataSet->cacheItem());
        ASSERT_TRUE(result);
        EXPECT_EQ(result->domain, "com.corvay.Ambrell");
        EXPECT_EQ(result->code, AmbrellErrorCode::kDataLoadingFailed);
        const auto& underlying = std::get<std::vector<std::shared_ptr<const platform::NSError>>>(
            result->userInfo.at("syncContent::underlyingError"));
        EXPECT_EQ(underlying.size(), 1u);
        EXPECT_EQ(dataSet->syncResult(), result);
        EXPECT_FALSE(dataSet->isCached());
        EXPECT_FALSE(dataSet->cachedTimestamp());
        EXPECT_FALSE(dataSet->isSyncing());
        EXPECT_FALSE(dataSet->cacheItem()->isSyncing());
        EXPECT_FALSE(manager->isSyncing());
        const auto info = CVFileCache::initWithFolder(root() / id)->cachedDataForFilename(id + ".json");
        ASSERT_TRUE(info);
        const auto item = json::parse(std::string(info->begin(), info->end())).at("cacheItem");
        EXPECT_EQ(item.at("isCached"), false);
        EXPECT_EQ(item.at("cachedTimestamp"), 0);
    }
}

// Removed while its documents download: the queued downloads are cancelled,
// the answers of those under way never land, and a restart does not find the
// data set again.
TEST_F(DataSetManagerTest, ADataSetRemovedWhileItSynchronisesStaysGoneAfterARestart) {
    serveSolution();
    const test::ScopedLogCapture logs;
    auto released = std::make_shared<std::atomic<bool>>(false);
    const auto heldRequests = [&] {
        std::size_t count = 0;
        for (const auto& endpoint : test::syncEndpoints()) count += service_->requestsTo("/sync/" + endpoint).size();
        return count;
    };
    for (const auto& endpoint : test::syncEndpoints())
        service_->handle("/sync/" + endpoint, heldAnswer(released, "[]"));
    const auto manager = makeManager();
    const auto dataSet = manager->addDataSet("leaving");
    std::atomic<int> completions{0};
    std::mutex mutex;
    std::optional<platform::NSError> result;
    manager->synchronizeCacheItems(
        {dataSet->cacheItem()}, [&](auto) { ++completions; },
        [&](const auto&, auto error) {
            std::lock_guard lock(mutex);
            result = std::move(error);
        });
    // Six downloads wait for their answers, the other documents in the queue.
    const auto underWay = static_cast<std::size_t>(CVDataSetCacheWorkScheduler::kMaxConcurrentTasks);
    ASSERT_TRUE(waitFor([&] { return heldRequests() == underWay; }));
    ASSERT_GT(test::syncEndpoints().size(), underWay);

    EXPECT_TRUE(manager->removeDataSet(dataSet));
    EXPECT_FALSE(fs::exists(root() / "leaving"));
    released->store(true);
    ASSERT_TRUE(waitFor([&] { return completions.load() == 1; }));
    platform::MainQueue::shared().drain();
    {
        std::lock_guard lock(mutex);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->code, AmbrellErrorCode::kDataSyncCancelled);
    }
    EXPECT_FALSE(manager->isSyncing());
    // Every answer under way came, and what it brought has been dealt with.
    const auto handled = [&] {
        int count = 0;
        for (const auto& entry : logs.sink().messages()) {
            count += entry.message.starts_with("Saved file for url") || entry.message.starts_with("Failed moving file");
        }
        return count;
    };
    ASSERT_TRUE(waitFor([&] { return handled() >= static_cast<int>(underWay); }));
    const auto staged = [&] {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(root(), error)) {
            if (entry.path().filename().string().ends_with(".download")) return true;
        }
        return false;
    };
    EXPECT_TRUE(waitFor([&] { return !staged(); }));
    EXPECT_EQ(heldRequests(), underWay) << "a queued download ran after the removal";
    EXPECT_FALSE(fs::exists(root() / "leaving"));

    const auto restarted = makeManager();
    EXPECT_FALSE(restarted->dataSetWithId("leaving"));
    EXPECT_TRUE(restarted->managedDataSets().empty());
}

// An unused data set is spared while it synchronises, and goes once its run is over.
TEST_F(DataSetManagerTest, InactiveRemovalSparesADataSetThatSynchronises) {
    serveSolution();
    auto released = std::make_shared<std::atomic<bool>>(false);
    service_->handle("/img/icon.png", heldAnswer(released, "icon", "image/png"));
    const auto start = std::chrono::system_clock::now();
    std::atomic<std::int64_t> offset{0};
    const auto manager = makeManager([&] { return start + std::chrono::seconds(offset.load()); });
    const auto dataSet = manager->internalDataSetWithId(manager->addDataSet("busy")->dataSetId());
    manager->setCachingStrategy(0, dataSet->cacheItem());
    dataSet->setLastUsedTime(start);
    std::atomic<int> completions{0};
    manager->synchronizeCacheItems({dataSet->cacheItem()}, [&](auto) { ++completions; });
    ASSERT_TRUE(waitFor([&] { return !service_->requestsTo("/img/icon.png").empty() && dataSet->isSyncing(); }));

    offset = Manager::kInactiveDataSetLifetime.count() + 24 * 3600;
    manager->removeDataSetsInactiveForMoreThan(Manager::kInactiveDataSetLifetime);
    EXPECT_EQ(manager->internalDataSetWithId("busy"), dataSet);
    EXPECT_TRUE(fs::is_directory(root() / "busy"));

    released->store(true);
    ASSERT_TRUE(waitFor([&] { return completions.load() == 1; }));
    EXPECT_FALSE(manager->dataSetWithId("busy"));
}

}  // namespace
}  // namespace ambrell::cv_data_set_cache_manager_test
