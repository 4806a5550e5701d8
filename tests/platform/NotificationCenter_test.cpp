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

using Token = NotificationCenter::ObserverToken;

const NotificationName venueLoaded{"venueLoaded"};
const NotificationName floorChanged{"floorChanged"};

TEST(NotificationCenterTest, DeliversToObserversOfTheNameInRegistrationOrder) {
    NotificationCenter center;
    std::vector<std::string> calls;
    auto first = center.addObserver(venueLoaded, [&](const Notification&) { calls.push_back("first"); });
    auto other = center.addObserver(floorChanged, [&](const Notification&) { calls.push_back("other"); });
    auto second = center.addObserver(venueLoaded, [&](const Notification& notification) {
        calls.push_back(std::any_cast<std::string>(notification.object) + " " +
                        std::to_string(std::any_cast<int>(notification.userInfo.at("floor"))));
    });
    center.post(venueLoaded, std::string("sender"), {{"floor", 2}});
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "sender 2"}));
}

TEST(NotificationCenterTest, TokensRemoveTheirObserverAndMoveIt) {
    NotificationCenter center;
    NotificationCenter other;
    int calls = 0;
    const auto count = [&](const Notification&) { ++calls; };
    { auto scoped = center.addObserver(venueLoaded, count); }

    Token kept;
    EXPECT_FALSE(kept.isActive());
    kept = center.addObserver(venueLoaded, count);
    Token moved(std::move(kept));
    EXPECT_TRUE(moved.isActive());
    center.post(venueLoaded);
    EXPECT_EQ(calls, 1);

    other.removeObserver(moved);  // not that centre's
    center.post(venueLoaded);
    EXPECT_EQ(calls, 2);
    center.removeObserver(moved);
    moved.reset();
    center.post(venueLoaded);
    EXPECT_EQ(calls, 2);

    // A token may outlive its centre.
    Token orphan;
    {
        NotificationCenter shortLived;
        orphan = shortLived.addObserver(venueLoaded, count);
    }
    EXPECT_FALSE(orphan.isActive());
}

TEST(NotificationCenterTest, BlocksMayRemoveObserversWhileAPostRuns) {
    NotificationCenter center;
    int selfCalls = 0;
    bool laterCalled = false;
    Token self;
    Token later;
    self = center.addObserver(venueLoaded, [&](const Notification&) {
        ++selfCalls;
        self.reset();
        later.reset();
    });
    later = center.addObserver(venueLoaded, [&](const Notification&) { laterCalled = true; });
    center.post(venueLoaded);
    center.post(venueLoaded);
    EXPECT_EQ(selfCalls, 1);
    EXPECT_FALSE(laterCalled);  // in the post's snapshot, but removed before its turn
}

TEST(NotificationCenterTest, BlocksMayAddObserversAndPostAgain) {
    NotificationCenter center;
    std::vector<std::string> calls;
    std::optional<Token> added;
    auto relay = center.addObserver(venueLoaded, [&](const Notification&) {
        calls.push_back("venue");
        if (!added) added = center.addObserver(venueLoaded, [&](const Notification&) { calls.push_back("added"); });
        center.post(floorChanged);
    });
    auto floor = center.addObserver(floorChanged, [&](const Notification&) { calls.push_back("floor"); });
    center.post(venueLoaded);
    EXPECT_EQ(calls, (std::vector<std::string>{"venue", "floor"}));  // the added one waits for the next post
    center.post(venueLoaded);
    EXPECT_EQ(calls, (std::vector<std::string>{"venue", "floor", "venue", "floor", "added"}));
}

TEST(NotificationCenterTest, ThrowingBlockEndsItsDelivery) {
    NotificationCenter center;
    auto token = center.addObserver(venueLoaded, [](const Notification&) { throw std::runtime_error("observer failed"); });
    EXPECT_THROW(center.post(venueLoaded), std::runtime_error);
    // Would wait forever for a delivery still counted as in flight.
    std::thread([&] { token.reset(); }).join();
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
    auto& center = NotificationCenter::defaultCenter();
    std::atomic<int> delivered{0};
    auto steady = center.addObserver(venueLoaded, [&](const Notification&) { ++delivered; });
    std::vector<std::thread> threads;
    for (int index = 0; index < 3; ++index) {
        threads.emplace_back([&] {
            for (int post = 0; post < 500; ++post) center.post(venueLoaded);
        });
    }
    threads.emplace_back([&] {
        for (int round = 0; round < 200; ++round) auto transient = center.addObserver(venueLoaded, [](const Notification&) {});
    });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(delivered.load(), 1500);
}

}  // namespace
}  // namespace ambrell::platform
