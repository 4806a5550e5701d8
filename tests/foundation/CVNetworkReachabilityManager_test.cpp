#include "foundation/CVNetworkReachabilityManager.h"

#include <gtest/gtest.h>
#include <netinet/in.h>

#include <any>
#include <stdexcept>
#include <thread>

#include "platform/runtime/MainQueue.h"
#include "tests/support/WaitFor.h"

namespace ambrell {
namespace {

using platform::MainQueue;
using Manager = CVNetworkReachabilityManager;
using namespace CVReachabilityFlag;
constexpr auto kUnknown = CVNetworkReachabilityStatusUnknown;
constexpr auto kNotReachable = CVNetworkReachabilityStatusNotReachable;
constexpr auto kWWAN = CVNetworkReachabilityStatusReachableViaWWAN;
constexpr auto kWiFi = CVNetworkReachabilityStatusReachableViaWiFi;

// A target the test drives from its own thread, the one that starts and stops it. Like the platform, it keeps
// the callback registered after stop(), so a late report can still arrive.
struct ScriptedTarget : CVReachabilityTarget {
    explicit ScriptedTarget(std::optional<CVNetworkReachabilityFlags> current = std::nullopt) : current(current) {}
    std::optional<CVNetworkReachabilityFlags> currentFlags() override { return current; }
    void start(FlagsCallback callback) override {
        report = std::move(callback);
        ++starts;
        running = true;
    }
    void stop() override { running = false; }

    const std::optional<CVNetworkReachabilityFlags> current;
    FlagsCallback report;
    int starts = 0;
    bool running = false;
};

struct Posted {
    std::int64_t status = 0;
    bool hadObject = false;
    std::shared_ptr<Manager> object;
    bool onMainQueue = false;
};

// Records every change notification; runs the main queue for its life.
class ChangeRecorder {
public:
    ChangeRecorder() {
        token_ = platform::NotificationCenter::defaultCenter().addObserver(
            CVNetworkingReachabilityDidChangeNotification(), [this](const platform::Notification& notification) {
                const auto* manager = std::any_cast<std::shared_ptr<Manager>>(&notification.object);
                const auto& status =
                    notification.userInfo.at(std::string(CVNetworkingReachabilityNotificationStatusItem));
                std::lock_guard lock(mutex_);
                posted_.push_back({std::any_cast<std::int64_t>(status), notification.object.has_value(),
                                   manager ? *manager : nullptr, MainQueue::shared().isCurrent()});
            });
    }
    std::vector<Posted> waitFor(std::size_t count) const {
        EXPECT_TRUE(test::waitFor([&] {
            std::lock_guard lock(mutex_);
            return posted_.size() >= count;
        }));
        MainQueue::shared().drain();
        std::lock_guard lock(mutex_);
        return posted_;
    }

private:
    platform::MainQueueThread mainQueue_;
    mutable std::mutex mutex_;
    std::vector<Posted> posted_;
    platform::NotificationCenter::ObserverToken token_;
};

TEST(CVNetworkReachabilityManager, StatusTextsAndStatusFromFlags) {
    const std::pair<std::int64_t, const char*> texts[] = {
        {-1, "Unknown"},           {0, "Not Reachable"}, {1, "Reachable via WWAN"},
        {2, "Reachable via WiFi"}, {7, "Unknown"},       {-2, "Unknown"},
    };
    for (const auto& [value, text] : texts) {
        EXPECT_EQ(CVStringFromNetworkReachabilityStatus(static_cast<CVNetworkReachabilityStatus>(value)), text);
    }

    const std::pair<CVNetworkReachabilityFlags, CVNetworkReachabilityStatus> flags[] = {
        {0, kNotReachable},
        {kIsWWAN, kNotReachable},
        {kReachable, kWiFi},
        {kReachable | kIsWWAN, kWWAN},
        {kReachable | kConnectionRequired, kNotReachable},
        {kReachable | kConnectionRequired | kConnectionOnTraffic, kWiFi},
        {kReachable | kConnectionRequired | kConnectionOnDemand, kWiFi},
        {kReachable | kConnectionRequired | kConnectionOnTraffic | kIsWWAN, kWWAN},
        {kReachable | kConnectionRequired | kConnectionOnTraffic | kInterventionRequired, kNotReachable},
        // Intervention matters only when a connection is required.
        {kReachable | kInterventionRequired, kWiFi},
        {kConnectionOnTraffic | kConnectionOnDemand, kNotReachable},
    };
    for (const auto& [value, status] : flags) EXPECT_EQ(CVNetworkReachabilityStatusForFlags(value), status) << value;
}

TEST(CVNetworkReachabilityManager, StartReportsTheCurrentFlagsAndEveryReportPostsOnTheMainQueue) {
    ChangeRecorder recorder;
    const auto target = std::make_shared<ScriptedTarget>(kReachable | kIsWWAN);
    const auto manager = Manager::initWithReachability(target);
    std::vector<std::pair<CVNetworkReachabilityStatus, bool>> blockCalls;  // written on the main queue only
    manager->setReachabilityStatusChangeBlock(
        [&](CVNetworkReachabilityStatus status) { blockCalls.emplace_back(status, MainQueue::shared().isCurrent()); });
    manager->startMonitoring();
    EXPECT_EQ(recorder.waitFor(1).size(), 1u);
    EXPECT_TRUE(manager->isReachableViaWWAN());

    // A reader on another thread while the main queue stores; a report without a change posts too.
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done) (void)manager->isReachable();
    });
    target->report(kReachable);
    target->report(kReachable);
    target->report(0);
    const auto posted = recorder.waitFor(4);
    done = true;
    reader.join();

    const CVNetworkReachabilityStatus expected[] = {kWWAN, kWiFi, kWiFi, kNotReachable};
    ASSERT_EQ(posted.size(), 4u);
    ASSERT_EQ(blockCalls.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(posted[i].status, expected[i]);
        EXPECT_EQ(posted[i].object, manager);
        EXPECT_TRUE(posted[i].onMainQueue);
        EXPECT_EQ(blockCalls[i], std::make_pair(expected[i], true));
    }
    EXPECT_EQ(manager->localizedNetworkReachabilityStatusString(), "Not Reachable");
}

TEST(CVNetworkReachabilityManager, EveryStartRegistersAndAReportAfterTheManagerIsGonePostsWithoutObject) {
    ChangeRecorder recorder;
    const auto target = std::make_shared<ScriptedTarget>();  // the first read fails: no first report
    std::atomic<int> blockCalls{0};
    {
        const auto manager = Manager::initWithReachability(target);
        manager->setReachabilityStatusChangeBlock([&](CVNetworkReachabilityStatus) { ++blockCalls; });
        manager->startMonitoring();
        manager->startMonitoring();
        EXPECT_EQ(target->starts, 2);
        EXPECT_TRUE(target->running);
    }
    EXPECT_FALSE(target->running) << "a manager stops monitoring when it goes";

    target->report(kReachable);
    const auto posted = recorder.waitFor(1);
    EXPECT_FALSE(posted[0].hadObject);
    EXPECT_EQ(posted[0].status, kWiFi);
    EXPECT_EQ(blockCalls.load(), 0);
}

TEST(CVNetworkReachabilityManager, FactoriesRefuseBadTargetsAndStartUnknown) {
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    const auto* address = reinterpret_cast<const sockaddr*>(&v6);
    sockaddr_storage local{};
    local.ss_family = AF_UNIX;
    EXPECT_THROW((void)Manager::managerForDomain(""), std::invalid_argument);
    EXPECT_THROW((void)Manager::managerForDomain(std::string_view("a\0b", 3)), std::invalid_argument);
    EXPECT_THROW((void)Manager::managerForAddress(nullptr, 0), std::invalid_argument);
    EXPECT_THROW((void)Manager::managerForAddress(address, sizeof(sockaddr_in)), std::invalid_argument);
    EXPECT_THROW((void)Manager::managerForAddress(reinterpret_cast<const sockaddr*>(&local), sizeof(local)),
                 std::invalid_argument);
    for (const auto& manager : {Manager::managerForAddress(address, sizeof(v6)),
                                Manager::managerForDomain("api.example.com"), Manager::manager()}) {
        EXPECT_NE(manager->networkReachability(), nullptr);
        EXPECT_EQ(manager->networkReachabilityStatus(), kUnknown);
        EXPECT_FALSE(manager->isReachable());
        EXPECT_EQ(manager->localizedNetworkReachabilityStatusString(), "Unknown");
    }
    // Without a target it never reports.
    const auto idle = Manager::initWithReachability(nullptr);
    idle->startMonitoring();
    EXPECT_EQ(idle->networkReachabilityStatus(), kUnknown);
}

TEST(CVNetworkReachabilityManager, SharedManagerAnswersAForcedStatusAndOtherwiseWatchesThisMachine) {
    ChangeRecorder recorder;
    const auto shared = Manager::sharedManager();
    EXPECT_EQ(Manager::sharedManager(), shared);
    Manager::setForcedStatusForTesting(kNotReachable);
    EXPECT_FALSE(shared->isReachable());
    EXPECT_EQ(recorder.waitFor(1)[0].status, kNotReachable);
    Manager::setForcedStatusForTesting(kWiFi);
    EXPECT_TRUE(Manager::sharedManager()->isReachableViaWiFi());
    // Clearing it posts nothing.
    Manager::setForcedStatusForTesting(std::nullopt);
    EXPECT_EQ(shared->networkReachabilityStatus(), kUnknown);
    EXPECT_EQ(recorder.waitFor(2).size(), 2u);

    // The first read reports without waiting for a change.
    shared->startMonitoring();
    for (const auto& posted : recorder.waitFor(3)) {
        EXPECT_EQ(posted.object, shared);
        EXPECT_GE(posted.status, kNotReachable);
        EXPECT_LE(posted.status, kWiFi);
    }
    EXPECT_NE(shared->networkReachabilityStatus(), kUnknown);

    Manager::resetSharedManagerForTesting();
    EXPECT_NE(Manager::sharedManager(), shared);
}

}  // namespace
}  // namespace ambrell
