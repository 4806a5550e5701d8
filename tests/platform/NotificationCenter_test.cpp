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
using Calls = std::vector<std::string>;

const NotificationName kVenueLoaded{"venueLoaded"};
const NotificationName kFloorChanged{"floorChanged"};

TEST(NotificationCenterTest, DeliversToObserversOfTheNameInRegistrationOrder) {
    NotificationCenter center;
    Calls calls;
    const auto postingThread = std::this_thread::get_id();
    auto first = center.addObserver(kVenueLoaded, [&](const Notification&) {
        EXPECT_EQ(std::this_thread::get_id(), postingThread);
        calls.push_back("first");
    });
    auto other = center.addObserver(kFloorChanged, [&](const Notification&) { calls.push_back("other"); });
    auto second = center.addObserver(kVenueLoaded, [&](const Notification& notification) {
        calls.push_back(std::any_cast<std::string>(notification.object) + " " +
                        std::to_string(std::any_cast<int>(notification.userInfo.at("floor"))));
    });
    center.post(kVenueLoaded, std::string("sender"), {{"floor", 2}});
    EXPECT_EQ(calls, (Calls{"first", "sender 2"}));
}

TEST(NotificationCenterTest, TokensRemoveTheirObserverAndMayOutliveTheCenter) {
    NotificationCenter center;
    int calls = 0;
    const auto count = [&](const Notification&) { ++calls; };
    { auto scoped = center.addObserver(kVenueLoaded, count); }
    Token moved(center.addObserver(kVenueLoaded, count));
    center.post(kVenueLoaded);
    EXPECT_EQ(calls, 1);

    NotificationCenter().removeObserver(moved);  // another centre's token: left alone
    EXPECT_TRUE(moved.isActive());
    center.removeObserver(moved);
    center.post(kVenueLoaded);
    EXPECT_EQ(calls, 1);

    Token orphan;
    {
        NotificationCenter shortLived;
        orphan = shortLived.addObserver(kVenueLoaded, count);
    }
    EXPECT_FALSE(orphan.isActive());
}

TEST(NotificationCenterTest, BlocksMayRemoveAddAndPostWhileAPostRuns) {
    NotificationCenter center;
    Calls calls;
    Token self;
    Token later;
    std::optional<Token> added;
    self = center.addObserver(kVenueLoaded, [&](const Notification&) {
        calls.push_back("self");
        self.reset();
        later.reset();  // in this post's snapshot, but removed before its turn
        added = center.addObserver(kVenueLoaded, [&](const Notification&) { calls.push_back("added"); });
        center.post(kFloorChanged);
    });
    later = center.addObserver(kVenueLoaded, [&](const Notification&) { calls.push_back("later"); });
    auto floor = center.addObserver(kFloorChanged, [&](const Notification&) { calls.push_back("floor"); });
    center.post(kVenueLoaded);
    EXPECT_EQ(calls, (Calls{"self", "floor"}));  // the added observer waits for the next post
    center.post(kVenueLoaded);
    EXPECT_EQ(calls, (Calls{"self", "floor", "added"}));
}

TEST(NotificationCenterTest, ThrowingBlockEndsItsDelivery) {
    NotificationCenter center;
    auto token =
        center.addObserver(kVenueLoaded, [](const Notification&) { throw std::runtime_error("observer failed"); });
    EXPECT_THROW(center.post(kVenueLoaded), std::runtime_error);
    std::thread([&] { token.reset(); }).join();  // would wait forever for a delivery still counted
}

TEST(NotificationCenterTest, RemovalFromAnotherThreadWaitsForTheDeliveryInFlight) {
    NotificationCenter center;
    std::atomic<bool> removalStarted{false};
    std::atomic<bool> blockFinished{false};
    std::atomic<int> calls{0};
    auto token = center.addObserver(kVenueLoaded, [&](const Notification&) {
        ++calls;
        ASSERT_TRUE(test::waitFor([&] { return removalStarted.load(); }));
        // Time enough for a removal that did not wait to return while this block runs.
        for (int spin = 0; spin < 1000; ++spin) std::this_thread::yield();
        blockFinished = true;
    });
    std::thread poster([&] { center.post(kVenueLoaded); });
    ASSERT_TRUE(test::waitFor([&] { return calls == 1; }));
    std::thread remover([&] {
        removalStarted = true;
        token.reset();
        EXPECT_TRUE(blockFinished);
    });
    remover.join();
    poster.join();
    center.post(kVenueLoaded);
    EXPECT_EQ(calls.load(), 1);
}

TEST(NotificationCenterTest, ConcurrentPostsAndRegistrations) {
    auto& center = NotificationCenter::defaultCenter();
    std::atomic<int> delivered{0};
    auto steady = center.addObserver(kVenueLoaded, [&](const Notification&) { ++delivered; });
    std::vector<std::thread> threads;
    for (int index = 0; index < 3; ++index) {
        threads.emplace_back([&] {
            for (int post = 0; post < 500; ++post) center.post(kVenueLoaded);
        });
    }
    threads.emplace_back([&] {
        for (int round = 0; round < 200; ++round)
            auto transient = center.addObserver(kVenueLoaded, [](const Notification&) {});
    });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(delivered.load(), 1500);
}

}  // namespace
}  // namespace ambrell::platform
