#include "platform/NetworkMonitor.h"

#include <gtest/gtest.h>
#include <net/if.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <tuple>

#include "tests/support/WaitFor.h"

namespace ambrell::platform {
namespace {

constexpr unsigned kUpAndRunning = IFF_UP | IFF_RUNNING;

NetworkSnapshot::Interface interface(int index, std::string name, unsigned flags = kUpAndRunning, bool global = false,
                                     unsigned short type = 1 /* Ethernet */) {
    return {index, std::move(name), flags, type, global};
}

TEST(NetworkMonitor, AssessesSnapshots) {
    const auto lo = interface(1, "lo", kUpAndRunning | IFF_LOOPBACK, true, 772);
    const auto eth = interface(2, "eth0", kUpAndRunning, true);
    const auto wwan = interface(3, "wwan0", kUpAndRunning, true);
    const auto modem = interface(4, "mhi_hwip0", kUpAndRunning, true, 519);  // raw IP link
    const auto cableOut = interface(5, "eth1", IFF_UP, true);
    const auto down = interface(6, "wlan0", 0, true);

    const std::tuple<const char*, NetworkSnapshot, Connectivity> cases[] = {
        {"nothing", {}, {false, false}},
        {"loopback only", {{lo}, {}}, {false, false}},
        {"default route on ethernet", {{lo, eth}, {{2, 100}}}, {true, false}},
        {"default route on a modem", {{lo, wwan}, {{3, 100}}}, {true, true}},
        {"lowest metric wins", {{eth, wwan}, {{2, 600}, {3, 100}}}, {true, true}},
        {"lowest metric wins the other way", {{eth, wwan}, {{3, 700}, {2, 100}}}, {true, false}},
        {"raw IP link type", {{modem}, {{4, 0}}}, {true, true}},
        {"route on an interface without carrier", {{cableOut}, {{5, 0}}}, {false, false}},
        {"route on a down interface, global address elsewhere", {{down, eth}, {{6, 0}}}, {true, false}},
        {"route on an unknown interface", {{lo}, {{42, 0}}}, {false, false}},
        {"global address, no route", {{lo, eth}, {}}, {true, false}},
        {"only cellular addresses", {{lo, wwan, modem}, {}}, {true, true}},
        {"mixed addresses", {{wwan, eth}, {}}, {true, false}},
        {"no global address", {{interface(2, "eth0")}, {}}, {false, false}},
    };
    for (const auto& [what, snapshot, expected] : cases) EXPECT_EQ(NetworkMonitor::assess(snapshot), expected) << what;

    for (const auto& cellular : {interface(0, "rmnet_data0"), interface(0, "ppp0"), interface(0, "x", 0, false, 512)}) {
        EXPECT_TRUE(NetworkMonitor::isCellular(cellular)) << cellular.name;
    }
    EXPECT_FALSE(NetworkMonitor::isCellular(interface(0, "wlan0")));
}

TEST(NetworkMonitor, ReadsThisMachinesTables) {
    const auto snapshot = NetworkMonitor::readSnapshot();
    ASSERT_TRUE(snapshot.has_value());
    const auto loopback = std::find_if(snapshot->interfaces.begin(), snapshot->interfaces.end(),
                                       [](const auto& i) { return (i.flags & IFF_LOOPBACK) != 0; });
    ASSERT_NE(loopback, snapshot->interfaces.end());
    EXPECT_EQ(loopback->name, "lo");
    EXPECT_EQ(NetworkMonitor::evaluate(), NetworkMonitor::assess(*snapshot));
}

TEST(NetworkMonitor, ReportsAFirstEvaluationStopsEvenFromItsHandlerAndRestarts) {
    NetworkMonitor monitor;
    std::atomic<int> calls{0};
    std::optional<Connectivity> first;
    ASSERT_FALSE(monitor.start([&](Connectivity connectivity) {
        // Written before the count that publishes it.
        if (calls == 0) first = connectivity;
        ++calls;
    }));
    EXPECT_TRUE(monitor.isRunning());
    ASSERT_TRUE(test::waitFor([&] { return calls > 0; }));
    monitor.stop();
    EXPECT_FALSE(monitor.isRunning());
    EXPECT_EQ(first, NetworkMonitor::evaluate());

    calls = 0;
    ASSERT_FALSE(monitor.start([&](Connectivity) {
        ++calls;
        monitor.stop();
    }));
    ASSERT_TRUE(test::waitFor([&] { return !monitor.isRunning(); }));
    EXPECT_EQ(calls.load(), 1);
    ASSERT_FALSE(monitor.start([&](Connectivity) { ++calls; }));
    ASSERT_TRUE(test::waitFor([&] { return calls.load() > 1; }));
}

}  // namespace
}  // namespace ambrell::platform
