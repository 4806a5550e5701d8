#include "foundation/CVThreadSafeDictionary.h"

#include <gtest/gtest.h>

#include <atomic>
#include <boost/asio/post.hpp>
#include <thread>

#include "platform/runtime/ThreadPool.h"
#include "tests/support/WaitFor.h"

namespace ambrell {
namespace {

TEST(CVThreadSafeDictionary, ReadsWritesAndRemovesAndValuesNeverHoldNothing) {
    CVThreadSafeDictionary<std::string, int> dictionary("test.dictionary");
    dictionary.setValue(1, "a");
    EXPECT_EQ(dictionary.getValue("a"), 1);  // a read after a write on the same thread sees it
    dictionary.setValue(2, "a");
    EXPECT_EQ(dictionary.getValue("a"), 2);
    EXPECT_EQ(dictionary.getValue("missing"), std::nullopt);
    dictionary.set("b", 3);
    dictionary.set("a", std::nullopt);  // setting nothing removes the key
    EXPECT_EQ(dictionary.keys(), std::vector<std::string>{"b"});
    EXPECT_EQ(dictionary.values(), std::vector<int>{3});
    EXPECT_EQ(dictionary.count(), 1u);
    dictionary.removeAll();
    EXPECT_EQ(dictionary.count(), 0u);

    CVThreadSafeDictionary<int, std::vector<int>> lists("test.dictionary");
    lists.modify(7, [](std::optional<std::vector<int>>& v) { v = std::vector<int>{1}; });
    lists.modify(7, [](std::optional<std::vector<int>>& v) { v->push_back(2); });  // the change is written back
    EXPECT_EQ(lists.getValue(7), (std::vector<int>{1, 2}));
    lists.modify(7, [](std::optional<std::vector<int>>& v) { v.reset(); });
    EXPECT_EQ(lists.count(), 0u);
}

TEST(CVThreadSafeDictionary, ConcurrentWritersEachReadTheirOwnWrites) {
    CVThreadSafeDictionary<int, int> dictionary("test.dictionary");
    constexpr int kWriters = 8;
    constexpr int kPerWriter = 200;
    std::vector<std::thread> threads;
    std::atomic<int> mismatches{0};
    for (int w = 0; w < kWriters; ++w) {
        threads.emplace_back([&, w] {
            for (int i = 0; i < kPerWriter; ++i) {
                const int key = w * kPerWriter + i;
                dictionary.setValue(key * 10, key);
                if (dictionary.getValue(key) != key * 10) ++mismatches;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(dictionary.count(), static_cast<std::size_t>(kWriters * kPerWriter));
}

TEST(CVThreadSafeDictionary, ReadsFromEveryPoolThreadAtOnceNeverStarveThePool) {
    CVThreadSafeDictionary<int, int> dictionary("test.dictionary");
    dictionary.setValue(1, 1);
    const unsigned readers = platform::ThreadPool::shared().threadCount() * 4;
    std::atomic<unsigned> done{0};
    // Each reader holds its pool thread until all have started, so every pool
    // thread reads at the same moment.
    std::atomic<unsigned> arrived{0};
    for (unsigned r = 0; r < readers; ++r) {
        boost::asio::post(platform::ThreadPool::shared().executor(), [&] {
            ++arrived;
            while (arrived < platform::ThreadPool::shared().threadCount() && arrived < readers) {
                std::this_thread::yield();
            }
            if (dictionary.getValue(1) == 1 && dictionary.count() == 1) ++done;
        });
    }
    EXPECT_TRUE(test::waitFor([&] { return done == readers; }));
}

}  // namespace
}  // namespace ambrell
