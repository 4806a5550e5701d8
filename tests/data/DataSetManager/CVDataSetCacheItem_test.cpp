// Cache items and data sets without the network: the stored format, the
// sync results, the URL groups per scope and the synchronisation's task graph.

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

#include "Ambrell/CVErrorCodes.h"
#include "data/DataSetManager/CVDataSetCacheItemInternal.h"
#include "data/DataSetManager/CVDataSetCacheTask.h"
#include "data/DataSetManager/CVDataSetCacheWorkScheduler.h"
#include "data/DataSetManager/CVDataSetUrlDownloadTask.h"
#include "data/DataSetManager/CVTilePackageUnzipTask.h"
#include "tests/data/DataSetManager/DataSetFixture.h"
#include "tests/support/AsyncTesting.h"
#include "tests/support/WaitFor.h"

namespace ambrell {
namespace {

namespace json = boost::json;
using Item = CVDataSetCacheItemInternal;
using Date = CVDataSetCacheItem::Date;

std::set<std::string> keysOf(const json::object& object) {
    std::set<std::string> keys;
    for (const auto& entry : object) keys.insert(std::string(entry.key()));
    return keys;
}

TEST(CVDataSetCacheItemTest, DictionaryRoundTripsWithExactlyTheStoredKeys) {
    const auto written = json::parse(R"({"cachingStrategy":0,"cachingItemId":"k","language":"da","name":"N",
        "cachingScope":2,"currentlyCachedScope":1,"isCached":true,"isScheduledForSync":true,
        "cachedTimestamp":1700000000,"syncTimestamp":1699999000,"cachedSize":18446744073709551615,"syncSize":42})")
                             .as_object();
    const auto item = Item::initWithDictionary(&written);
    EXPECT_EQ(item->cachedTimestamp(), Date(std::chrono::seconds(1700000000)));
    EXPECT_EQ(item->cachedSize(), 18446744073709551615ULL);
    EXPECT_EQ(item->asDictionary(), written);
    const auto data = item->asData();
    EXPECT_EQ(json::parse(std::string(data.begin(), data.end())), written);

    // An absent item writes defaults; a 0 timestamp comes back absent, not 1970.
    const auto empty = Item::initWithData(std::vector<std::uint8_t>{'n', 'o', 't'});
    const auto defaults = empty->asDictionary();
    EXPECT_EQ(keysOf(defaults), keysOf(written));
    EXPECT_EQ(defaults.at("language"), "en");
    EXPECT_EQ(defaults.at("name"), "");
    EXPECT_EQ(defaults.at("cachedTimestamp"), 0);
    const auto reread = Item::initWithDictionary(&defaults);
    EXPECT_FALSE(reread->cachedTimestamp());
    EXPECT_FALSE(reread->syncTimestamp());

    // Fractions are dropped; mistyped values read as missing.
    item->setSyncTimestamp(Date(std::chrono::milliseconds(1500)));
    EXPECT_EQ(item->asDictionary().at("syncTimestamp"), 1);
    const auto odd =
        json::parse(R"({"cachingScope":"2","isCached":1,"cachedSize":-5,"cachedTimestamp":1e30})").as_object();
    const auto oddItem = Item::initWithDictionary(&odd);
    EXPECT_EQ(oddItem->cachingScope(), 0);
    EXPECT_TRUE(oddItem->isCached());
    EXPECT_EQ(oddItem->cachedSize(), 0u);
    EXPECT_FALSE(oddItem->cachedTimestamp());
}

TEST(CVDataSetCacheItemTest, SyncResults) {
    const platform::NSError failure{"NSURLErrorDomain", -1004, {}};
    EXPECT_FALSE(Item::createSyncResultWithErrors({}, false));
    const auto cancelled = Item::createSyncResultWithErrors({}, true);
    ASSERT_TRUE(cancelled);
    EXPECT_EQ(cancelled->code, AmbrellErrorCode::kDataSyncCancelled);
    EXPECT_FALSE(cancelled->userInfo.contains("syncContent::underlyingError"));
    const auto failed = Item::createSyncResultWithErrors({failure, failure}, false);
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->domain, "com.corvay.Ambrell");
    EXPECT_EQ(failed->code, AmbrellErrorCode::kDataLoadingFailed);
    const auto& underlying = std::get<std::vector<std::shared_ptr<const platform::NSError>>>(
        failed->userInfo.at("syncContent::underlyingError"));
    ASSERT_EQ(underlying.size(), 2u);
    EXPECT_EQ(*underlying[0], failure);

    const auto item = Item::initWithId("k");
    item->setSyncResult(cancelled);
    item->addSyncResult(failure, "http://host/sync/venues?solutionId=k");
    item->addSyncResult(failure, std::nullopt);
    const auto result = item->syncResult();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->code, AmbrellErrorCode::kDataLoadingFailed);
    EXPECT_TRUE(result->userInfo.contains("/sync/venues"));
    EXPECT_TRUE(result->userInfo.contains("NSURLErrorDomain"));
}

TEST(CVDataSetCacheItemTest, MaximumAgePerGroup) {
    const struct {
        std::string type;
        std::optional<std::chrono::seconds> maxAge;
    } cases[] = {{"images", std::chrono::seconds(7200)},
                 {"ExternalImages", std::chrono::seconds(7200)},
                 {"json", std::nullopt},
                 {"tiles", std::nullopt},
                 {"other", std::nullopt}};
    for (const auto& c : cases) {
        EXPECT_EQ(Item::maxAgeForResourceGroup(CVUrlResourceGroup(c.type, std::nullopt, 0)), c.maxAge) << c.type;
    }
}

// A data set whose description is already on disk, as a finished size fetch
// leaves it.
class DataSetOnDiskTest : public test::DataSetFixture {
protected:
    std::shared_ptr<CVDataSetCacheInternal> makeDataSet() {
        auto cache = CVFileCache::newWithFolder(root() / std::string(test::kDataSetKey));
        const auto document = test::datasetDocument(*service_);
        EXPECT_TRUE(cache->saveData(std::vector<std::uint8_t>(document.begin(), document.end()), datasetUrl()));
        return CVDataSetCacheInternal::initWithId(std::string(test::kDataSetKey), cache);
    }

    static std::vector<std::string> typesOf(const Item& item) {
        std::vector<std::string> types;
        for (const auto& group : item.syncResources()) types.push_back(group.type().value_or("?"));
        return types;
    }
};

TEST_F(DataSetOnDiskTest, GroupsPerScopeWithPrioritiesAndRemovalCandidates) {
    const auto dataSet = makeDataSet();
    const auto& item = *dataSet->item();
    EXPECT_EQ(dataSet->name(), "Fixture Solution");
    EXPECT_EQ(item.cachingStrategy(), 1);
    EXPECT_EQ(typesOf(item), (std::vector<std::string>{"json", "images"}));
    EXPECT_EQ(item.syncResources()[0].urls()->size(), test::syncEndpoints().size());
    EXPECT_EQ(item.syncSize(), 1100u);

    EXPECT_TRUE(dataSet->setCachingScope(2, dataSet->item()));
    EXPECT_FALSE(dataSet->setCachingScope(2, dataSet->item()));
    EXPECT_FALSE(dataSet->setCachingScope(1, Item::initWithId("stranger")));
    EXPECT_EQ(typesOf(item), (std::vector<std::string>{"json", "images", "externalimages", "tiles"}));
    EXPECT_EQ(item.syncPriorities(), (std::vector<unsigned>{2, 2, 1, 0}));
    EXPECT_EQ(item.syncSize(), 1111u);
    EXPECT_FALSE(item.removeCachedTilePackage());

    EXPECT_TRUE(dataSet->setCachingScope(0, dataSet->item()));
    EXPECT_EQ(item.removalCandidates(),
              (std::set<std::string>{service_->url("/ext/photo.jpg"), service_->url("/tiles/package.zip")}));
    EXPECT_TRUE(item.removeCachedTilePackage());

    EXPECT_TRUE(dataSet->setCachingScope(1, dataSet->item()));
    EXPECT_EQ(item.removalCandidates(), (std::set<std::string>{service_->url("/tiles/package.zip")}));
    EXPECT_EQ(item.syncPriorities(), (std::vector<unsigned>{2, 2, 1}));
    EXPECT_TRUE(dataSet->setCachingScope(2, dataSet->item()));
    EXPECT_TRUE(item.removalCandidates().empty());
}

std::vector<std::shared_ptr<CVDataSetCacheTask>> taskDependencies(const platform::Operation& task) {
    std::vector<std::shared_ptr<CVDataSetCacheTask>> tasks;
    for (const auto& dependency : task.dependencies()) {
        if (auto cacheTask = std::dynamic_pointer_cast<CVDataSetCacheTask>(dependency)) tasks.push_back(cacheTask);
    }
    return tasks;
}

TEST_F(DataSetOnDiskTest, TaskGraphOfAFullScope) {
    const auto dataSet = makeDataSet();
    dataSet->setCachingScope(2, dataSet->item());
    const auto tasks = dataSet->item()->getTasksForCaching();
    ASSERT_EQ(tasks.size(), 2u);
    const auto& start = tasks[0];
    const auto& aggregate = tasks[1];
    EXPECT_EQ(start->name(), "Sync start task: ds-key");
    EXPECT_EQ(aggregate->name(), "Sync aggregate task: ds-key");
    EXPECT_EQ(aggregate->priority(), 2u);
    EXPECT_TRUE(aggregate->isOwnedBy(dataSet->item().get()));
    EXPECT_TRUE(start->dependencies().empty());

    // start -> downloads (-> unzip for the tiles) -> aggregate, and start -> aggregate.
    std::map<std::string, unsigned> priorities;
    int unzips = 0;
    int starts = 0;
    for (const auto& task : taskDependencies(*aggregate)) {
        if (task == start) {
            ++starts;
        } else if (auto download = std::dynamic_pointer_cast<CVDataSetUrlDownloadTask>(task)) {
            priorities[download->url()] = download->priority();
            EXPECT_EQ(taskDependencies(*download), (std::vector<std::shared_ptr<CVDataSetCacheTask>>{start}));
            EXPECT_EQ(download->targetFilePath(), dataSet->cache()->pathForCachingItem(download->url()));
        } else if (auto unzip = std::dynamic_pointer_cast<CVTilePackageUnzipTask>(task)) {
            ++unzips;
            const auto deps = taskDependencies(*unzip);
            ASSERT_EQ(deps.size(), 1u);
            EXPECT_EQ(std::dynamic_pointer_cast<CVDataSetUrlDownloadTask>(deps[0])->url(),
                      service_->url("/tiles/package.zip"));
        } else {
            ADD_FAILURE() << "unexpected " << task->name();
        }
    }
    EXPECT_EQ(unzips, 1);
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(priorities.size(), test::syncEndpoints().size() + 3);
    EXPECT_EQ(priorities[service_->url("/img/icon.png")], 2u);
    EXPECT_EQ(priorities[service_->url("/ext/photo.jpg")], 1u);
    EXPECT_EQ(priorities[service_->url("/tiles/package.zip")], 0u);
}

TEST_F(DataSetOnDiskTest, ShrinkingTheScopeTrimsAndSwitchesToOnlineTiles) {
    const auto dataSet = makeDataSet();
    dataSet->setCachingScope(2, dataSet->item());
    dataSet->setCachingScope(0, dataSet->item());
    const auto tasks = dataSet->item()->getTasksForCaching();
    const auto& start = tasks[0];
    int downloads = 0;
    std::vector<std::string> others;
    for (const auto& task : taskDependencies(*tasks[1])) {
        if (std::dynamic_pointer_cast<CVDataSetUrlDownloadTask>(task) || task == start) {
            downloads += task == start ? 0 : 1;
            continue;
        }
        others.push_back(task->name());
        if (task->name().starts_with("Switch")) {
            EXPECT_EQ(taskDependencies(*task), (std::vector<std::shared_ptr<CVDataSetCacheTask>>{start}));
        } else {
            // The trim waits for the switch: tiles are never read from a folder being deleted.
            ASSERT_EQ(taskDependencies(*task).size(), 1u);
            EXPECT_TRUE(taskDependencies(*task)[0]->name().starts_with("Switch to online tiles"));
        }
    }
    EXPECT_EQ(downloads, static_cast<int>(test::syncEndpoints().size()) + 1);
    ASSERT_EQ(others.size(), 2u);
    EXPECT_TRUE(
        std::ranges::any_of(others, [](const auto& n) { return n == "Trim cache: Remove 3 files and folders"; }))
        << others[0] << " / " << others[1];
}

// A data set that never had a description has nothing to fetch: its graph is
// the two marks alone, and the end still waits for the start, so that the
// item is not left syncing once the sync has ended.
TEST_F(DataSetOnDiskTest, AGraphWithNothingToFetchEndsAfterItStarts) {
    const auto dataSet = CVDataSetCacheInternal::initWithId("bare", CVFileCache::newWithFolder(root() / "bare"));
    EXPECT_FALSE(dataSet->hasScopedDataSetSize());
    const auto tasks = dataSet->item()->getTasksForCaching();
    ASSERT_EQ(tasks.size(), 2u);
    EXPECT_EQ(taskDependencies(*tasks[1]), (std::vector<std::shared_ptr<CVDataSetCacheTask>>{tasks[0]}));

    const auto scheduler = CVDataSetCacheWorkScheduler::create();
    std::atomic<bool> ended{false};
    tasks[1]->appendCompletionBlock([&] { ended = true; });
    scheduler->addWorkItems(tasks, true);
    scheduler->start();
    ASSERT_TRUE(test::waitFor([&] { return ended.load(); }));
    EXPECT_FALSE(dataSet->item()->isSyncing());
    EXPECT_TRUE(dataSet->item()->syncTimestamp());
    EXPECT_TRUE(dataSet->isCached());
}

// A cancelled end may come before its start's completion has run; the late
// start must not mark the item syncing again.
TEST_F(DataSetOnDiskTest, AStartThatComesAfterACancelledEndMarksNothing) {
    const auto dataSet = makeDataSet();
    for (int round = 0; round < 20; ++round) {
        const auto tasks = dataSet->item()->getTasksForCaching();
        const auto scheduler = CVDataSetCacheWorkScheduler::create();
        std::atomic<bool> started{false};
        std::atomic<bool> ended{false};
        tasks[0]->appendCompletionBlock([&] { started = true; });
        tasks[1]->appendCompletionBlock([&] { ended = true; });
        scheduler->addWorkItems({tasks[0]}, false);
        scheduler->addWorkItems({tasks[1]}, false);
        scheduler->start();
        test::spinFor(round);
        scheduler->cancelTasksWithOwner(static_cast<const void*>(dataSet->item().get()));
        ASSERT_TRUE(test::waitFor([&] { return ended.load(); }));
        ASSERT_TRUE(test::waitFor([&] { return started.load(); }));
        platform::MainQueue::shared().drain();
        EXPECT_FALSE(dataSet->item()->isSyncing()) << "round " << round;
    }
}

}  // namespace
}  // namespace ambrell
