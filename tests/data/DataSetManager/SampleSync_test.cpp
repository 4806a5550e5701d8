// A whole synchronisation of the sample solution at the full scope, from its
// loopback web service into a data set on disk, and the same again with the
// service gone.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <set>

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>

#include "Ambrell/CVDataSetCacheItem.h"
#include "Ambrell/CVErrorCodes.h"
#include "data/AmbrellLegacy.h"
#include "data/CVUrlResourceCollection.h"
#include "data/DataSetManager/CVDataSetCacheManagerInternal.h"
#include "data/DataSetManager/CVTileCache.h"
#include "foundation/CVAXAPI.h"
#include "foundation/CVExtendedFileAttributes.h"
#include "foundation/CVFileCache.h"
#include "platform/FileSystem.h"
#include "platform/runtime/MainQueue.h"
#include "tests/support/SampleSolutionService.h"
#include "tests/support/TempDirectory.h"
#include "tests/support/WaitFor.h"

namespace ambrell {
namespace {

namespace fs = std::filesystem;
namespace json = boost::json;
using Events = std::vector<std::string>;

class OrderDelegate : public CVDataSetCacheManagerDelegate {
public:
    void dataSetManagerWillStartSynchronizing(CVDataSetCacheManager&) override { record("willStart"); }
    void dataSetManagerWillStartSynchronizingDataSet(CVDataSetCacheManager&,
                                                     const std::shared_ptr<CVDataSetCache>&) override {
        record("willStartDataSet");
    }
    void dataSetManagerWillStartSynchronizingItem(CVDataSetCacheManager&,
                                                  const std::shared_ptr<CVDataSetCacheItem>&) override {
        record("willStartItem");
    }
    void dataSetManagerDidFinishSynchronizingItem(CVDataSetCacheManager&,
                                                  const std::shared_ptr<CVDataSetCacheItem>&) override {
        record("didFinishItem", true);
    }
    void dataSetManagerDidFinishSynchronizingDataSet(CVDataSetCacheManager&,
                                                     const std::shared_ptr<CVDataSetCache>&) override {
        record("didFinishDataSet", true);
    }
    void dataSetManagerDidFinishSynchronizing(CVDataSetCacheManager&) override { record("didFinish", true); }

    void record(std::string event, bool onMain = false) {
        if (onMain && !platform::MainQueue::shared().isCurrent()) event += " (off the main queue)";
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }
    Events take() {
        std::lock_guard lock(mutex_);
        return std::exchange(events_, {});
    }

private:
    std::mutex mutex_;
    Events events_;
};

// Every file of a folder tree by its relative path, with its bytes.
std::map<std::string, std::string> filesBelow(const fs::path& folder) {
    std::map<std::string, std::string> files;
    if (!fs::is_directory(folder)) return files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            files[entry.path().lexically_relative(folder).generic_string()] =
                platform::readTextFile(entry.path()).value_or("");
        }
    }
    return files;
}

class SampleSync : public test::ContainerFixture {
protected:
    SampleSync() {
        ::setenv("AMBRELL_API", service_.baseUrl().c_str(), 1);
        CVAXAPI::resetSharedForTesting();
        AmbrellLegacy::resetForTesting();
        CVTileCache::resetDefaultTileCacheForTesting();
        CVAXAPI::sharedInstance()->setSessionToken("session-token");
        AmbrellLegacy::setApiKey(service_.solutionId());
    }
    ~SampleSync() override {
        platform::MainQueue::shared().drain();
        AmbrellLegacy::resetForTesting();
        CVTileCache::resetDefaultTileCacheForTesting();
        CVAXAPI::resetSharedForTesting();
        ::unsetenv("AMBRELL_API");
    }

    // One run over the data set; the item's result once the run's completion came.
    std::optional<platform::NSError> synchronize(CVDataSetCacheManagerInternal& manager, const CVDataSetCache& set) {
        std::atomic<int> completions{0};
        std::mutex mutex;
        std::optional<platform::NSError> result;
        manager.synchronizeCacheItems(
            {set.cacheItem()},
            [&](auto) {
                delegate_->record("completion", true);
                ++completions;
            },
            [&](const auto&, auto error) {
                std::lock_guard lock(mutex);
                result = std::move(error);
            });
        EXPECT_TRUE(test::waitFor([&] { return completions.load() == 1; }, std::chrono::seconds(60)));
        platform::MainQueue::shared().drain();
        std::lock_guard lock(mutex);
        return result;
    }

    test::SampleSolutionService service_;
    std::shared_ptr<OrderDelegate> delegate_ = std::make_shared<OrderDelegate>();
    platform::MainQueueThread mainThread_;
};

TEST_F(SampleSync, FullScopeFetchesEverythingOnceThenOfflineKeepsTheCopy) {
    const std::string id = service_.solutionId();
    const auto manager = std::make_shared<CVDataSetCacheManagerInternal>(
        CVDataSetCacheManagerInternal::Options{containerRoot() / "datasets", nullptr, {}});
    manager->setDelegate(delegate_);
    const auto dataSet = manager->addDataSet(id, rawValue(CVDataSetCachingScope::full));
    ASSERT_NE(dataSet, nullptr);

    EXPECT_FALSE(synchronize(*manager, *dataSet));
    EXPECT_EQ(delegate_->take(), (Events{"willStart", "willStartDataSet", "willStartItem", "didFinishItem",
                                         "didFinishDataSet", "didFinish", "completion"}));

    // Each URL of the size response and each sync URL was asked for once, and nothing else.
    const auto api = CVAXAPI::sharedInstance();
    const auto sizeUrl = api->dataSetSyncUrlForSolutionId(id, std::nullopt);
    const auto collection =
        CVUrlResourceCollection::initWithJsonValue(json::parse(service_.syncDocument("dataset", "en")));
    ASSERT_TRUE(collection);
    std::multiset<std::string> expected{sizeUrl};
    for (const auto& url : api->allEndpointUrlsForSyncingSolutionId(id, "en")) expected.insert(url);
    expected.insert(api->derivedGeometrySyncUrlForSolutionId(id, "en"));
    for (const auto* type : {"images", "externalimages", "tiles"}) {
        for (const auto& url : *collection->resources().at(type).urls()) expected.insert(url);
    }
    std::multiset<std::string> asked;
    for (const auto& request : service_.web().requests()) asked.insert(service_.url(request.target));
    EXPECT_EQ(asked, expected);

    // The JSON documents and images are on disk as served, with the content language; the package is unpacked
    // into the data set's tile folder and its tiles are the app's bundled ones.
    const auto folder = manager->pathForCachingDataSetId(id);
    const auto cache = CVFileCache::initWithFolder(folder);
    ASSERT_TRUE(cache);
    for (const auto& url : expected) {
        const auto path = manager->pathForCachedUrl(url, id);
        ASSERT_TRUE(path) << url;
        if (url.find("/sync/") != std::string::npos) {
            EXPECT_EQ(xattr_contentLanguage(*path), "en") << url;
        }
    }
    const auto venues = cache->cachedDataForItem(api->venueSyncUrlForSolutionId(id, "en"));
    ASSERT_TRUE(venues);
    EXPECT_EQ(std::string(venues->begin(), venues->end()), service_.syncDocument("venues", "en"));
    const auto tiles = filesBelow(folder / "tilecache-package");
    std::size_t bundled = 0;
    for (const auto& [name, bytes] : tiles) {
        EXPECT_EQ(bytes, platform::readTextFile(service_.sample() / "bundle" / "res" / name)) << name;
        ++bundled;
    }
    const auto counts = json::parse(*platform::readTextFile(service_.sample() / "expected-counts.json"));
    EXPECT_EQ(bundled, counts.at("tiles").at("total").to_number<std::size_t>());

    // The item says what it holds, and its info file says the same.
    EXPECT_TRUE(dataSet->isCached());
    EXPECT_FALSE(dataSet->isSyncing());
    EXPECT_EQ(dataSet->cacheItem()->currentlyCachedScope(), rawValue(CVDataSetCachingScope::full));
    std::uint64_t bytes = 0;
    for (const auto& [name, content] : filesBelow(folder)) bytes += name == id + ".json" ? 0 : content.size();
    EXPECT_GE(dataSet->cachedSize(), bytes);  // folders count too
    EXPECT_LE(dataSet->cachedSize(), cache->cacheSize());
    EXPECT_EQ(dataSet->syncSize(), static_cast<std::uint64_t>(collection->totalEstimatedSize()));
    const auto cachedAt = dataSet->cachedTimestamp();
    ASSERT_TRUE(cachedAt);
    const auto infoText = platform::readTextFile(folder / (id + ".json"));
    ASSERT_TRUE(infoText);
    const auto info = json::parse(*infoText);
    EXPECT_EQ(info.at("dataSetId"), json::value(id));
    EXPECT_EQ(info.at("realDatasetId"), json::value(id));
    EXPECT_EQ(info.at("cacheItem").at("isCached"), true);
    EXPECT_EQ(info.at("cacheItem").at("cachingScope"), 2);
    EXPECT_EQ(info.at("cacheItem").at("cachedSize"), dataSet->cachedSize());
    EXPECT_EQ(info.at("cacheItem").at("language"), "en");

    // Offline: the run ends, the item fails with the fetches' errors, and the copy stays as it was.
    const auto before = filesBelow(folder);
    service_.stop();
    const auto result = synchronize(*manager, *dataSet);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->code, AmbrellErrorCode::kDataLoadingFailed);
    EXPECT_TRUE(result->userInfo.contains("syncContent::underlyingError"));
    EXPECT_EQ(delegate_->take().back(), "completion");
    EXPECT_FALSE(manager->isSyncing());
    EXPECT_TRUE(dataSet->isCached());
    EXPECT_EQ(dataSet->cachedTimestamp(), cachedAt);
    auto after = filesBelow(folder);
    // Only the info file moves on: it records the failed run.
    after.erase(id + ".json");
    auto kept = before;
    kept.erase(id + ".json");
    EXPECT_EQ(after, kept);
    const auto infoAfter = json::parse(*platform::readTextFile(folder / (id + ".json")));
    EXPECT_EQ(infoAfter.at("cacheItem").at("cachedTimestamp"), info.at("cacheItem").at("cachedTimestamp"));
    EXPECT_EQ(infoAfter.at("cacheItem").at("isCached"), true);
}

}  // namespace
}  // namespace ambrell
