#include "platform/NotificationCenter.h"

#include <atomic>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/WaitFor.h"

namespace ambrell::platform {
namespace {

const NotificationName venueLoaded{"venueLoaded"};
const NotificationName floorChanged{"floorChanged"};

TEST(NotificationCenterTest, DeliversToObserversOfTheNameInRegistrationOrder) {
    NotificationCenter center;
    std::vector<std::string> calls;
    auto first = center.addObserver(venueLoaded, [&](const Notification&) { calls.push_back("first"); });
    auto other = center.addObserver(floorChanged, [&](const Notification&) { calls.push_back("other"); });
    auto second = center.addObserver(venueLoaded, [&](const Notification& notification) {
        calls.push_back("second " + std::any_cast<std::string>(notification.object) + " " +
                        std::to_string(std::any_cast<int>(notification.userInfo.at("floor"))));
    });

    center.post(venueLoaded, std::string("sender"), {{"floor", 2}});
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "second sender 2"}));
}

TEST(NotificationCenterTest, TokenRemovesItsObserver) {
    NotificationCenter center;
    int calls = 0;
    {
        auto token = center.addObserver(venueLoaded, [&](const Notification&) { ++calls; });
        EXPECT_TRUE(token.isActive());
        center.post(venueLoaded);
    }
    center.post(venueLoaded);
    EXPECT_EQ(calls, 1);

    auto token = center.addObserver(venueLoaded, [&](const Notification&) { ++calls; });
    token.reset();
    token.reset();
    EXPECT_FALSE(token.isActive());
    center.post(venueLoaded);
    EXPECT_EQ(calls, 1);
}

TEST(NotificationCenterTest, MovedTokenKeepsTheObservation) {
    NotificationCenter center;
    int calls = 0;
    NotificationCenter::ObserverToken kept;
    EXPECT_FALSE(kept.isActive());
    {
        auto token = center.addObserver(venueLoaded, [&](const Notification&) { ++calls; });
        kept = std::move(token);
        EXPECT_FALSE(token.isActive());  // NOLINT(bugprone-use-after-move): a moved-from token is empty
    }
    center.post(venueLoaded);
    EXPECT_EQ(calls, 1);

    // Assigning over an active token removes the observer it held.
    int replacedCalls = 0;
    kept = center.addObserver(venueLoaded, [&](const Notification&) { ++replacedCalls; });
    center.post(venueLoaded);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(replacedCalls, 1);
}

TEST(NotificationCenterTest, RemoveObserverIgnoresTokensOfAnotherCenter) {
    NotificationCenter center;
    NotificationCenter other;
    int calls = 0;
    auto token = other.addObserver(venueLoaded, [&](const Notification&) { ++calls; });
    center.removeObserver(token);
    other.post(venueLoaded);
    EXPECT_EQ(calls, 1);
    other.removeObserver(token);
    other.post(venueLoaded);
    EXPECT_EQ(calls, 1);
}

TEST(NotificationCenterTest, TokenMayOutliveItsCenter) {
    NotificationCenter::ObserverToken token;
    {
        NotificationCenter center;
        token = center.addObserver(venueLoaded, [](const Notification&) {});
    }
    EXPECT_FALSE(token.isActive());
    token.reset();
}

TEST(NotificationCenterTest, BlockMayRemoveItsOwnObserver) {
    NotificationCenter center;
    int calls = 0;
    NotificationCenter::ObserverToken token;
    token = center.addObserver(venueLoaded, [&](const Notification&) {
        ++calls;
        token.reset();
    });
    center.post(venueLoaded);
    center.post(venueLoaded);
    EXPECT_EQ(calls, 1);
}

TEST(NotificationCenterTest, ObserverRemovedDuringAPostIsNotCalledByIt) {
    NotificationCenter center;
    bool laterCalled = false;
    NotificationCenter::ObserverToken later;
    auto earlier = center.addObserver(venueLoaded, [&](const Notification&) { center.removeObserver(later); });
    later = center.addObserver(venueLoaded, [&](const Notification&) { laterCalled = true; });
    center.post(venueLoaded);
    EXPECT_FALSE(laterCalled);
}

TEST(NotificationCenterTest, ObserverAddedDuringAPostWaitsForTheNext) {
    NotificationCenter center;
    int addedCalls = 0;
    std::optional<NotificationCenter::ObserverToken> added;
    auto adder = center.addObserver(venueLoaded, [&](const Notification&) {
        if (!added) added = center.addObserver(venueLoaded, [&](const Notification&) { ++addedCalls; });
    });
    center.post(venueLoaded);
    EXPECT_EQ(addedCalls, 0);
    center.post(venueLoaded);
    EXPECT_EQ(addedCalls, 1);
}

TEST(NotificationCenterTest, BlockMayPostAgain) {
    NotificationCenter center;
    std::vector<std::string> calls;
    auto relay = center.addObserver(venueLoaded, [&](const Notification&) {
        calls.push_back("venue");
        center.post(floorChanged);
    });
    auto floor = center.addObserver(floorChanged, [&](const Notification&) { calls.push_back("floor"); });
    center.post(venueLoaded);
    EXPECT_EQ(calls, (std::vector<std::string>{"venue", "floor"}));
}

TEST(NotificationCenterTest, ThrowingBlockEndsItsDelivery) {
    NotificationCenter center;
    auto token = center.addObserver(venueLoaded, [](const Notification&) { throw std::runtime_error("observer failed"); });
    EXPECT_THROW(center.post(venueLoaded), std::runtime_error);
    // A removal from another thread would wait forever for a delivery still counted.
    std::thread remover([&] { token.reset(); });
    remover.join();
    EXPECT_FALSE(token.isActive());
}

TEST(NotificationCenterTest, RemovalFromAnotherThreadWaitsForTheDeliveryInFlight) {
    NotificationCenter center;
    std::atomic<bool> delivering{false};
    std::atomic<bool> removalStarted{false};
    std::atomic<bool> removalReturned{false};
    std::atomic<bool> blockFinished{false};
    std::atomic<int> calls{0};
    auto token = center.addObserver(venueLoaded, [&](const Notification&) {
        ++calls;
        delivering = true;
        ASSERT_TRUE(test::waitFor([&] { return removalStarted.load(); }));
        // Were the removal not waiting, it would return while this block runs.
        for (int spin = 0; spin < 1000; ++spin) {
            EXPECT_FALSE(removalReturned);
            std::this_thread::yield();
        }
        blockFinished = true;
    });

    std::thread poster([&] { center.post(venueLoaded); });
    ASSERT_TRUE(test::waitFor([&] { return delivering.load(); }));
    std::thread remover([&] {
        removalStarted = true;
        token.reset();
        EXPECT_TRUE(blockFinished);
        removalReturned = true;
    });
    remover.join();
    poster.join();
    center.post(venueLoaded);
    EXPECT_EQ(calls.load(), 1);
}

TEST(NotificationCenterTest, ConcurrentPostsAndRegistrations) {
    NotificationCenter center;
    std::atomic<int> delivered{0};
    auto steady = center.addObserver(venueLoaded, [&](const Notification&) { ++delivered; });
    constexpr int postsPerThread = 500;

    std::vector<std::thread> threads;
    for (int index = 0; index < 3; ++index) {
        threads.emplace_back([&] {
            for (int post = 0; post < postsPerThread; ++post) center.post(venueLoaded);
        });
    }
    threads.emplace_back([&] {
        for (int round = 0; round < 200; ++round) {
            auto transient = center.addObserver(venueLoaded, [](const Notification&) {});
        }
    });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(delivered.load(), 3 * postsPerThread);
}

TEST(NotificationCenterTest, DefaultCenterIsOneInstance) {
    EXPECT_EQ(&NotificationCenter::defaultCenter(), &NotificationCenter::defaultCenter());
    int calls = 0;
    auto token = NotificationCenter::defaultCenter().addObserver(venueLoaded, [&](const Notification&) { ++calls; });
    NotificationCenter::defaultCenter().post(venueLoaded);
    EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace ambrell::platform
