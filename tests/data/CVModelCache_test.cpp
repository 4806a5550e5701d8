#include "data/CVModelCache.h"

#include <gtest/gtest.h>

#include "data/CVLocationSourceIndex.h"
#include "data/CVUserDefaultCache.h"
#include "platform/UserDefaults.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/TempDirectory.h"

namespace ambrell {
namespace {

TEST(CVModelCache, KeysAreTheUrlsOnTheProductionHost) {
    const std::pair<const char*, const char*> table[] = {
        {"https://api-dev.ambrell.com/sync/v1/locations?lang=en", "https://api.ambrell.com/sync/v1/locations?lang=en"},
        {"https://api-staging.ambrell.com/sync/v1/venues", "https://api.ambrell.com/sync/v1/venues"},
        {"https://api.ambrell.com/sync/v1/venues", "https://api.ambrell.com/sync/v1/venues"},
        {"https://example.com/file.json", "https://example.com/file.json"},
    };
    for (const auto& [url, key] : table) EXPECT_EQ(CVModelCache::cacheKeyForUrl(url), key) << url;
}

TEST(CVModelCache, OneInstanceHoldsModelsByTypeAndClearsWithTheIndex) {
    auto cache = CVModelCache::memoryCache();
    EXPECT_EQ(CVModelCache::memoryCache(), cache);

    const auto key = CVModelCache::cacheKeyForUrl("https://api-dev.ambrell.com/sync/v1/solutions");
    cache->setObject(std::make_shared<std::string>("solution"), key);
    const auto productionKey = CVModelCache::cacheKeyForUrl("https://api.ambrell.com/sync/v1/solutions");
    EXPECT_EQ(*cache->objectForKey<std::string>(productionKey), "solution");
    EXPECT_EQ(cache->objectForKey<int>(key), nullptr);  // another type is a miss, never a bad cast

    auto index = CVLocationSourceIndex::current();
    index->setParentId("floor", "b1-1");
    test::ScopedLogCapture log;
    cache->clearCache();
    EXPECT_EQ(cache->count(), 0u);
    EXPECT_TRUE(log.sink().contains("-[CVModelCache clearCache] Clearing memory cache data"));
    EXPECT_NE(CVLocationSourceIndex::current(), index);
    EXPECT_TRUE(CVLocationSourceIndex::current()->readableLocationIdMap().empty());
    EXPECT_EQ(index->parentIdForReadableId("b1-1"), "floor");  // an old holder keeps its copy
}

class CVUserDefaultCacheTest : public test::ContainerFixture {};

TEST_F(CVUserDefaultCacheTest, PrefixesKeysOnceAndRefusesHugeTexts) {
    EXPECT_EQ(CVUserDefaultCache::userDefaultsKeyForCacheKey("venues"), "ax-venues");
    EXPECT_EQ(CVUserDefaultCache::userDefaultsKeyForCacheKey("ax-venues"), "ax-venues");

    CVUserDefaultCache::setString("one", "ax-venues");
    EXPECT_EQ(platform::UserDefaults::standard().stringForKey("ax-venues"), "one");
    EXPECT_EQ(CVUserDefaultCache::getStringFromCache("venues"), "one");

    CVUserDefaultCache::setString(std::string(CVUserDefaultCache::maximumLength, 'x'), "big");
    EXPECT_FALSE(CVUserDefaultCache::getStringFromCache("big"));
    platform::UserDefaults::standard().setInteger("ax-number", 4);
    EXPECT_FALSE(CVUserDefaultCache::getStringFromCache("number"));
}

TEST_F(CVUserDefaultCacheTest, ClearingKeepsKeyValidityLanguageAndForeignKeys) {
    auto& defaults = platform::UserDefaults::standard();
    const char* kept[] = {"ax-apikeyvalid-key1", "ax-apikeyvalid-key2", "ax-language", "AX_VERSION", "other"};
    const char* removed[] = {"ax-default-language", "ax-available-languages", "ax-solution-id",
                             "ax-tileDataTimestamp-sol1"};
    for (const char* key : kept) defaults.setString(key, "v");
    for (const char* key : removed) defaults.setString(key, "v");

    test::ScopedLogCapture log;
    CVUserDefaultCache::clearCache();
    for (const char* key : kept) EXPECT_TRUE(defaults.hasKey(key)) << key;
    for (const char* key : removed) EXPECT_FALSE(defaults.hasKey(key)) << key;
    EXPECT_TRUE(log.sink().contains(
        "+[CVUserDefaultCache clearCache] [I] Ambrell: Clearing persistent cache data\nax-available-languages\n"
        "ax-default-language\nax-solution-id\nax-tileDataTimestamp-sol1"));
}

TEST(CVLocationSourceIndex, MapsReadableIdsUntilCleared) {
    auto index = CVLocationSourceIndex::current();
    EXPECT_EQ(CVLocationSourceIndex::current(), index);
    index->setParentId("b-1", "ax_b_b1");
    index->setParentId("b-2", "ax_b_b1");  // a later registration wins
    EXPECT_EQ(index->parentIdForReadableId("ax_b_b1"), "b-2");
    EXPECT_EQ(index->parentIdForReadableId("ax_b_b2"), std::nullopt);
    CVLocationSourceIndex::clear();
    EXPECT_EQ(CVLocationSourceIndex::current()->parentIdForReadableId("ax_b_b1"), std::nullopt);
}

}  // namespace
}  // namespace ambrell
