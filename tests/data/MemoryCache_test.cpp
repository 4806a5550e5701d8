// The process-wide caches that outlive a map: their limits, the cost of an
// image, clearing them together.

#include <gtest/gtest.h>

#include <limits>
#include <set>
#include <thread>
#include <vector>

#include "data/CVMemoryCache.h"
#include "data/CVVenueInternal.h"

namespace ambrell {
namespace {

constexpr auto kMax = std::numeric_limits<std::int64_t>::max();

// 100 x 100 pixels: 400 bytes per row, 40,000 bytes.
std::shared_ptr<const platform::Image> icon() {
    static const auto image = std::make_shared<const platform::Image>(*platform::Image::create(100, 100));
    return image;
}

std::string key(int index) { return "icon-" + std::to_string(index); }

// The caches belong to the process, and so to every test in it.
class MemoryCache : public ::testing::Test {
protected:
    MemoryCache() { CVMemoryCache::clearAllCaches(); }
    ~MemoryCache() override { CVMemoryCache::clearAllCaches(); }

    static void fill(CVMemoryCache::ImageCache& cache, int count) {
        for (int index = 0; index < count; ++index) setImage(cache, icon(), key(index));
    }
};

TEST(ImageCost, IsTheBitmapsBytesAndSaturates) {
    const struct {
        std::int64_t bytesPerRow, height, cost;
    } cases[] = {
        {400, 100, 40'000},           {0, 100, 0},        {400, 0, 0}, {-4, 100, 0}, {kMax, 1, kMax}, {kMax, 2, kMax},
        {1LL << 32, 1LL << 32, kMax}, {kMax, kMax, kMax},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(bitmapCost(c.bytesPerRow, c.height), c.cost) << c.bytesPerRow << " x " << c.height;
    }
    EXPECT_EQ(imageCost(icon().get()), 40'000);
    EXPECT_EQ(imageCost(nullptr), 0);
}

TEST_F(MemoryCache, TheIconCacheHolds250IconsAndEvictsTheLeastRecentlyUsed) {
    auto& cache = CVMemoryCache::iconImageCache();
    fill(cache, 250);
    EXPECT_EQ(cache.count(), 250);
    EXPECT_EQ(cache.totalCost(), 10'000'000);
    ASSERT_TRUE(cache.value(key(0)));  // now the most recently used
    setImage(cache, icon(), key(250));
    EXPECT_EQ(cache.count(), 250);
    EXPECT_TRUE(cache.value(key(0)));
    EXPECT_FALSE(cache.value(key(1)));

    // No image removes the key and its cost.
    setImage(cache, nullptr, key(0));
    EXPECT_FALSE(cache.value(key(0)));
    EXPECT_EQ(cache.totalCost(), 249 * 40'000);
    // A cost that saturated cannot fit: it empties the cache instead of wrapping around.
    cache.setValue(icon(), "huge", bitmapCost(kMax, 2));
    EXPECT_EQ(cache.count(), 0);
    EXPECT_EQ(cache.totalCost(), 0);
}

TEST_F(MemoryCache, ClearingEmptiesAllThreeAndTheLimitsHoldAfterwards) {
    auto& icons = CVMemoryCache::iconImageCache();
    auto& models = CVMemoryCache::modelImageCache();
    fill(icons, 10);
    fill(models, 10);
    CVMemoryCache::venueCache().setValue(std::make_shared<CVVenueInternal>(), "MERIDIAN");
    EXPECT_EQ(CVMemoryCache::venueCache().label(), "Ambrell.VenueCache");

    CVMemoryCache::clearAllCaches();
    for (auto* cache : {&icons, &models}) {
        EXPECT_EQ(cache->count(), 0);
        EXPECT_EQ(cache->totalCost(), 0);
    }
    EXPECT_EQ(CVMemoryCache::venueCache().count(), 0U);

    fill(icons, 260);
    fill(models, 1300);
    EXPECT_EQ(icons.totalCost(), CVMemoryCache::kIconImageCostLimit);
    EXPECT_EQ(models.totalCost(), CVMemoryCache::kModelImageCostLimit);
    EXPECT_EQ(models.count(), 1250);
    EXPECT_EQ(icons.countLimit(), kMax);
}

TEST_F(MemoryCache, TheImageCachesEmptyOnAMemoryWarning) {
    fill(CVMemoryCache::iconImageCache(), 3);
    fill(CVMemoryCache::modelImageCache(), 3);
    platform::NotificationCenter::defaultCenter().post(LRUCacheMemoryWarningNotification());
    EXPECT_TRUE(CVMemoryCache::iconImageCache().isEmpty());
    EXPECT_TRUE(CVMemoryCache::modelImageCache().isEmpty());
}

// Each test runs in a process of its own: here the threads make the caches.
TEST(MemoryCacheCreation, EachCacheIsCreatedOnceWhateverTheThreadsAsking) {
    std::vector<std::thread> threads;
    std::vector<std::vector<const void*>> seen(8);
    for (auto& addresses : seen) {
        threads.emplace_back([&addresses] {
            addresses = {&CVMemoryCache::venueCache(), &CVMemoryCache::iconImageCache(),
                         &CVMemoryCache::modelImageCache()};
            setImage(CVMemoryCache::iconImageCache(), icon(), "shared");
        });
    }
    for (auto& thread : threads) thread.join();
    for (const auto& addresses : seen) EXPECT_EQ(addresses, seen.front());
    EXPECT_EQ(std::set<const void*>(seen.front().begin(), seen.front().end()).size(), 3U);
    EXPECT_EQ(CVMemoryCache::iconImageCache().count(), 1);
    CVMemoryCache::clearAllCaches();
}

}  // namespace
}  // namespace ambrell
