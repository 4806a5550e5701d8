#include "foundation/LRUCache.h"

#include <gtest/gtest.h>

#include <thread>

namespace ambrell {
namespace {

using Cache = LRUCache<std::string, std::string>;
using Strings = std::vector<std::string>;
constexpr std::int64_t maxCost = std::numeric_limits<std::int64_t>::max();

class LRUCacheTest : public ::testing::Test {
protected:
    platform::NotificationCenter center;

    void warnOfLowMemory() { center.post(LRUCacheMemoryWarningNotification()); }
};

TEST_F(LRUCacheTest, EvictsTheLeastRecentlyUsedEntry) {
    Cache cache(100, 2, center);
    cache.setValue("A", "a");
    cache.setValue("B", "b");
    EXPECT_EQ(cache.value("a"), "A");
    EXPECT_EQ(cache.value("x"), std::nullopt);  // a miss leaves the order alone
    cache.setValue("C", "c");
    EXPECT_EQ(cache.value("b"), std::nullopt);
    EXPECT_EQ(cache.allValues(), (Strings{"A", "C"}));
    EXPECT_EQ(cache.count(), 2);
}

TEST_F(LRUCacheTest, ReplacingRemovingAndStoringNothingKeepTheCostRight) {
    Cache cache(100, 10, center);
    cache.setValue("A", "a", 10);
    cache.setValue("B", "b", 20);
    cache.setValue("A2", "a", 15);  // replaces value and cost and refreshes the key
    EXPECT_EQ(cache.totalCost(), 35);
    EXPECT_EQ(cache.count(), 2);
    EXPECT_EQ(cache.allValues(), (Strings{"B", "A2"}));

    EXPECT_EQ(cache.removeValue("a"), "A2");
    EXPECT_EQ(cache.removeValue("a"), std::nullopt);
    EXPECT_EQ(cache.totalCost(), 20);
    EXPECT_EQ(cache.allValues(), (Strings{"B"}));
    cache.setValue(std::nullopt, "b", 5);
    EXPECT_TRUE(cache.isEmpty());
    EXPECT_EQ(cache.totalCost(), 0);
}

TEST_F(LRUCacheTest, LoweringALimitEvictsOldestFirstUntilTheRestFits) {
    Cache cache(100, 10, center);
    for (const auto* key : {"a", "b", "c"}) cache.setValue(std::string(key), key, 30);
    cache.setTotalCostLimit(50);
    EXPECT_EQ(cache.allValues(), (Strings{"c"}));
    EXPECT_EQ(cache.totalCost(), 30);

    cache.setValue("d", "d");
    cache.setValue("e", "e");
    cache.setCountLimit(1);
    EXPECT_EQ(cache.allValues(), (Strings{"e"}));
}

TEST_F(LRUCacheTest, OddCostsAndLimitsStayWellDefined) {
    Cache cache(100, 10, center);
    cache.setValue("A", "a", 10);
    cache.setValue("Big", "big", 101);  // costs more than the limit: empties the whole cache
    EXPECT_TRUE(cache.isEmpty());
    EXPECT_EQ(cache.totalCost(), 0);

    Cache negativeCost(10, 10, center);
    negativeCost.setValue("A", "a", -50);
    negativeCost.setValue("B", "b", 10);
    EXPECT_EQ(negativeCost.totalCost(), 10);
    EXPECT_EQ(negativeCost.count(), 2);

    // Two maximal costs sum past the int64 range before the trim drops one.
    Cache huge(maxCost, 10, center);
    huge.setValue("A", "a", maxCost);
    huge.setValue("B", "b", maxCost);
    EXPECT_EQ(huge.allValues(), (Strings{"B"}));
    EXPECT_EQ(huge.totalCost(), maxCost);

    Cache negativeLimit(-1, 10, center);
    negativeLimit.setValue("A", "a");
    EXPECT_TRUE(negativeLimit.isEmpty());
}

TEST_F(LRUCacheTest, AMemoryWarningEmptiesTheCacheWhichThenFillsToItsLimitsAgain) {
    Cache cache(100, 3, center);
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

// A value that runs arbitrary code when destroyed, e.g. releasing a resource
// whose owner looks into the same cache.
struct Reentrant {
    std::shared_ptr<std::function<void()>> onDestroy;
    ~Reentrant() {
        if (onDestroy && onDestroy.use_count() == 1) (*onDestroy)();
    }
    Reentrant(std::function<void()> f) : onDestroy(std::make_shared<std::function<void()>>(std::move(f))) {}
    Reentrant(const Reentrant&) = default;
    Reentrant(Reentrant&&) = default;
    Reentrant& operator=(const Reentrant&) = default;
    Reentrant& operator=(Reentrant&&) = default;
};

TEST_F(LRUCacheTest, ValuesAreDestroyedOutsideTheLock) {
    LRUCache<int, Reentrant> cache(100, 1, center);
    int destroyed = 0;
    auto lookIntoCache = [&] {
        (void)cache.value(42);
        ++destroyed;
    };
    cache.setValue(Reentrant(lookIntoCache), 1);
    cache.setValue(Reentrant(lookIntoCache), 2);  // evicts 1
    cache.setValue(Reentrant(lookIntoCache), 2);  // replaces 2
    (void)cache.removeValue(2);
    cache.setValue(Reentrant(lookIntoCache), 3);
    warnOfLowMemory();
    EXPECT_EQ(destroyed, 4);
}

TEST_F(LRUCacheTest, ConcurrentUseKeepsTheBookkeepingConsistent) {
    // Each value is its own cost, so the sum of the values held must equal
    // totalCost once the threads are done.
    LRUCache<int, std::int64_t> cache(500, 16, center);
    std::atomic<bool> writersDone{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
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
    threads.emplace_back([&] {
        while (!writersDone.load()) {
            EXPECT_GE(cache.totalCost(), 0);
            EXPECT_GE(cache.count(), 0);
            (void)cache.isEmpty();
            (void)cache.allValues();
        }
    });
    threads.emplace_back([&] {
        while (!writersDone.load()) warnOfLowMemory();
    });
    for (int t = 0; t < 4; ++t) threads[t].join();
    writersDone = true;
    for (std::size_t t = 4; t < threads.size(); ++t) threads[t].join();

    cache.setCountLimit(16);
    std::int64_t sum = 0;
    const auto values = cache.allValues();
    for (const auto v : values) sum += v;
    EXPECT_EQ(sum, cache.totalCost());
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
        auto cache = std::make_unique<Cache>(100, 3, center);
        cache->setValue("A", "a");
        cache.reset();
    }
    done = true;
    poster.join();
    warnOfLowMemory();  // with every cache gone
}

}  // namespace
}  // namespace ambrell
