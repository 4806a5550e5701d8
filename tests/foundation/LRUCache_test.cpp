#include "foundation/LRUCache.h"

#include <gtest/gtest.h>

#include <numeric>
#include <thread>

namespace ambrell {
namespace {

using Cache = LRUCache<std::string, std::string>;
using Strings = std::vector<std::string>;
constexpr std::int64_t kMaxCost = std::numeric_limits<std::int64_t>::max();

class LRUCacheTest : public ::testing::Test {
protected:
    platform::NotificationCenter center_;

    void warnOfLowMemory() { center_.post(LRUCacheMemoryWarningNotification()); }
};

TEST_F(LRUCacheTest, EvictsTheLeastRecentlyUsedEntriesByCountAndByCostAlsoWhenALimitIsLowered) {
    Cache cache(100, 3, center_);
    for (const auto& [value, key] : {std::pair{"A", "a"}, {"B", "b"}, {"C", "c"}}) cache.setValue(value, key, 10);
    EXPECT_EQ(cache.value("a"), "A");
    EXPECT_EQ(cache.value("x"), std::nullopt);  // a miss leaves the order alone
    cache.setValue("D", "d", 10);
    EXPECT_EQ(cache.value("b"), std::nullopt);
    EXPECT_EQ(cache.allValues(), (Strings{"C", "A", "D"}));

    cache.setValue("E", "e", 75);  // 105: the oldest go until the rest fits
    EXPECT_EQ(cache.allValues(), (Strings{"A", "D", "E"}));
    EXPECT_EQ(cache.totalCost(), 95);
    EXPECT_EQ(cache.count(), 3);

    // Lowering a limit evicts the same way.
    cache.setTotalCostLimit(80);
    EXPECT_EQ(cache.allValues(), (Strings{"E"}));
    EXPECT_EQ(cache.totalCost(), 75);
    cache.setValue("F", "f");
    cache.setValue("G", "g");
    cache.setCountLimit(1);
    EXPECT_EQ(cache.allValues(), (Strings{"G"}));

    cache.setValue("Big", "big", 81);  // costs more than the limit: empties the whole cache
    EXPECT_TRUE(cache.isEmpty());
    EXPECT_EQ(cache.totalCost(), 0);
}

TEST_F(LRUCacheTest, ReplacingRemovingAndStoringNothingKeepTheCostRight) {
    Cache cache(100, 10, center_);
    cache.setValue("A", "a", 10);
    cache.setValue("B", "b", 20);
    cache.setValue("A2", "a", 15);  // replaces value and cost and refreshes the key
    EXPECT_EQ(cache.totalCost(), 35);
    EXPECT_EQ(cache.count(), 2);
    EXPECT_EQ(cache.allValues(), (Strings{"B", "A2"}));

    EXPECT_EQ(cache.removeValue("a"), "A2");
    EXPECT_EQ(cache.removeValue("a"), std::nullopt);
    EXPECT_EQ(cache.totalCost(), 20);
    cache.setValue(std::nullopt, "b", 5);
    EXPECT_TRUE(cache.isEmpty());
    EXPECT_EQ(cache.totalCost(), 0);
}

TEST_F(LRUCacheTest, NegativeAndHugeCostsAndLimitsStayWellDefined) {
    Cache negativeCost(10, 10, center_);
    negativeCost.setValue("A", "a", -50);
    negativeCost.setValue("B", "b", 10);
    EXPECT_EQ(negativeCost.totalCost(), 10);
    EXPECT_EQ(negativeCost.count(), 2);

    // Two maximal costs sum past the int64 range before the trim drops one.
    Cache huge(kMaxCost, 10, center_);
    huge.setValue("A", "a", kMaxCost);
    huge.setValue("B", "b", kMaxCost);
    EXPECT_EQ(huge.allValues(), (Strings{"B"}));
    EXPECT_EQ(huge.totalCost(), kMaxCost);

    Cache negativeLimit(-1, 10, center_);
    negativeLimit.setValue("A", "a");
    EXPECT_TRUE(negativeLimit.isEmpty());
}

TEST_F(LRUCacheTest, AMemoryWarningEmptiesTheCacheWhichThenFillsToItsLimitsAgain) {
    Cache cache(100, 3, center_);
    cache.setValue("A", "a", 40);
    cache.setValue("B", "b", 40);
    warnOfLowMemory();
    EXPECT_TRUE(cache.isEmpty());
    EXPECT_EQ(cache.totalCost(), 0);

    cache.setValue("C", "c", 30);
    cache.setValue("D", "d", 30);
    cache.setValue("E", "e", 40);
    EXPECT_EQ(cache.allValues(), (Strings{"C", "D", "E"}));
    EXPECT_EQ(cache.totalCost(), 100);
}

TEST_F(LRUCacheTest, ValuesAreDestroyedOutsideTheLock) {
    // Each value runs code once its last copy is gone, as when releasing a resource whose owner looks into
    // the same cache: inside the cache's lock that would deadlock.
    LRUCache<int, std::shared_ptr<void>> cache(100, 1, center_);
    int destroyed = 0;
    auto value = [&] {
        return std::shared_ptr<void>(nullptr, [&](void*) {
            (void)cache.value(42);
            ++destroyed;
        });
    };
    cache.setValue(value(), 1);
    cache.setValue(value(), 2);  // evicts 1
    cache.setValue(value(), 2);  // replaces 2
    (void)cache.removeValue(2);
    cache.setValue(value(), 3);
    warnOfLowMemory();
    EXPECT_EQ(destroyed, 4);
}

TEST_F(LRUCacheTest, ConcurrentUseKeepsTheBookkeepingConsistent) {
    // Each value is its own cost, so the sum of the values held must equal totalCost once the threads are done.
    LRUCache<int, std::int64_t> cache(500, 16, center_);
    std::atomic<bool> writersDone{false};
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                const int key = (i * 7 + t) % 40;
                const std::int64_t cost = key % 50;
                cache.setValue(cost, key, cost);
                (void)cache.value((key + 3) % 40);
                if (i % 5 == 0) (void)cache.removeValue((key + 1) % 40);
                if (i % 100 == 0) cache.setCountLimit(8 + i % 16);
            }
        });
    }
    std::thread readerAndWarner([&] {
        while (!writersDone.load()) {
            EXPECT_GE(cache.totalCost(), 0);
            EXPECT_GE(cache.count(), 0);
            (void)cache.allValues();
            warnOfLowMemory();
        }
    });
    for (auto& writer : writers) writer.join();
    writersDone = true;
    readerAndWarner.join();

    cache.setCountLimit(16);
    const auto values = cache.allValues();
    EXPECT_EQ(std::accumulate(values.begin(), values.end(), std::int64_t{0}), cache.totalCost());
    EXPECT_EQ(static_cast<std::int64_t>(values.size()), cache.count());
    EXPECT_LE(cache.count(), 16);
    EXPECT_LE(cache.totalCost(), 500);
}

// A destroyed cache is never touched by later warnings (a use after free under the sanitizers).
TEST_F(LRUCacheTest, DestroyingACacheWhileWarningsArePostedIsSafe) {
    std::atomic<bool> done{false};
    std::thread poster([&] {
        while (!done.load()) warnOfLowMemory();
    });
    for (int i = 0; i < 200; ++i) {
        auto cache = std::make_unique<Cache>(100, 3, center_);
        cache->setValue("A", "a");
        cache.reset();
    }
    done = true;
    poster.join();
    warnOfLowMemory();  // with every cache gone
}

}  // namespace
}  // namespace ambrell
