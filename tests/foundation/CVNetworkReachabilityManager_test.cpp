#include "foundation/CVNetworkReachabilityManager.h"

#include <gtest/gtest.h>
#include <netinet/in.h>

#include <any>
#include <atomic>
#include <stdexcept>
#include <thread>
#include <type_traits>
#include <vector>

#include "platform/runtime/MainQueue.h"
#include "tests/support/WaitFor.h"

namespace ambrell {
namespace {

using platform::MainQueue;
using platform::Notification;
using platform::NotificationCenter;
using namespace CVReachabilityFlag;

static_assert(!std::is_default_constructible_v<CVNetworkReachabilityManager>,
              "a manager is only made for a reachability target");

// A target the test drives. Like the platform, it keeps the callback
// registered after stop(), so a late report can still arrive.
class ScriptedTarget : public CVReachabilityTarget {
public:
    explicit ScriptedTarget(std::optional<CVNetworkReachabilityFlags> current = std::nullopt) : current_(current) {}

    std::optional<CVNetworkReachabilityFlags> currentFlags() override { return current_; }
    void start(FlagsCallback callback) override {
        std::lock_guard lock(mutex_);
        callback_ = std::move(callback);
        ++starts_;
        running_ = true;
    }
    void stop() override {
        std::lock_guard lock(mutex_);
        running_ = false;
    }
    void report(CVNetworkReachabilityFlags flags) {
        std::unique_lock lock(mutex_);
        auto callback = callback_;
        lock.unlock();
        callback(flags);
    }

    const std::optional<CVNetworkReachabilityFlags> current_;
    std::mutex mutex_;
    FlagsCallback callback_;
    int starts_ = 0;
    bool running_ = false;
};

struct Posted {
    std::int64_t status = 0;
    bool hadObject = false;
    std::shared_ptr<CVNetworkReachabilityManager> object;
    bool onMainQueue = false;
};

class ChangeRecorder {
public:
    ChangeRecorder() {
        token_ = NotificationCenter::defaultCenter().addObserver(
            CVNetworkingReachabilityDidChangeNotification(), [this](const Notification& notification) {
                using Manager = std::shared_ptr<CVNetworkReachabilityManager>;
                const auto* manager = std::any_cast<Manager>(&notification.object);
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
    mutable std::mutex mutex_;
    std::vector<Posted> posted_;
    NotificationCenter::ObserverToken token_;
};

TEST(CVNetworkReachabilityManager, StatusTexts) {
    const std::pair<std::int64_t, const char*> cases[] = {
        {-1, "Unknown"}, {0, "Not Reachable"}, {1, "Reachable via WWAN"}, {2, "Reachable via WiFi"},
        {7, "Unknown"},  {-2, "Unknown"},
    };
    for (const auto& [value, text] : cases) {
        EXPECT_EQ(CVStringFromNetworkReachabilityStatus(static_cast<CVNetworkReachabilityStatus>(value)), text);
    }

    const auto fresh = CVNetworkReachabilityManager::initWithReachability(std::make_shared<ScriptedTarget>());
    EXPECT_EQ(fresh->networkReachabilityStatus(), CVNetworkReachabilityStatusUnknown);
    EXPECT_FALSE(fresh->isReachable());
    EXPECT_EQ(fresh->localizedNetworkReachabilityStatusString(), "Unknown");
}

TEST(CVNetworkReachabilityManager, StatusFromFlags) {
    const std::pair<CVNetworkReachabilityFlags, CVNetworkReachabilityStatus> cases[] = {
        {0, CVNetworkReachabilityStatusNotReachable},
        {IsWWAN, CVNetworkReachabilityStatusNotReachable},
        {Reachable, CVNetworkReachabilityStatusReachableViaWiFi},
        {Reachable | IsWWAN, CVNetworkReachabilityStatusReachableViaWWAN},
        {Reachable | ConnectionRequired, CVNetworkReachabilityStatusNotReachable},
        {Reachable | ConnectionRequired | ConnectionOnTraffic, CVNetworkReachabilityStatusReachableViaWiFi},
        {Reachable | ConnectionRequired | ConnectionOnDemand, CVNetworkReachabilityStatusReachableViaWiFi},
        {Reachable | ConnectionRequired | ConnectionOnTraffic | IsWWAN, CVNetworkReachabilityStatusReachableViaWWAN},
        {Reachable | ConnectionRequired | ConnectionOnTraffic | InterventionRequired,
         CVNetworkReachabilityStatusNotReachable},
        // Intervention matters only when a connection is required.
        {Reachable | InterventionRequired, CVNetworkReachabilityStatusReachableViaWiFi},
        {ConnectionOnTraffic | ConnectionOnDemand, CVNetworkReachabilityStatusNotReachable},
    };
    for (const auto& [flags, status] : cases) EXPECT_EQ(CVNetworkReachabilityStatusForFlags(flags), status) << flags;
}

TEST(CVNetworkReachabilityManager, StartReportsTheCurrentFlagsOnTheMainQueue) {
    platform::MainQueueThread mainQueue;
    ChangeRecorder recorder;
    const auto target = std::make_shared<ScriptedTarget>(Reachable | IsWWAN);
    const auto manager = CVNetworkReachabilityManager::initWithReachability(target);
    std::vector<bool> blockOnMainQueue;  // written on the main queue only
    manager->setReachabilityStatusChangeBlock([&](CVNetworkReachabilityStatus status) {
        EXPECT_EQ(status, CVNetworkReachabilityStatusReachableViaWWAN);
        blockOnMainQueue.push_back(MainQueue::shared().isCurrent());
    });

    manager->startMonitoring();
    const auto posted = recorder.waitFor(1);
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].status, CVNetworkReachabilityStatusReachableViaWWAN);
    EXPECT_EQ(posted[0].object, manager);
    EXPECT_TRUE(posted[0].onMainQueue);
    EXPECT_EQ(blockOnMainQueue, std::vector<bool>{true});
    EXPECT_TRUE(manager->isReachableViaWWAN());
    EXPECT_EQ(manager->localizedNetworkReachabilityStatusString(), "Reachable via WWAN");
}

TEST(CVNetworkReachabilityManager, EveryReportPostsEvenWithoutChange) {
    platform::MainQueueThread mainQueue;
    ChangeRecorder recorder;
    const auto target = std::make_shared<ScriptedTarget>();  // the first read fails: no first report
    const auto manager = CVNetworkReachabilityManager::initWithReachability(target);
    std::atomic<int> blockCalls{0};
    manager->setReachabilityStatusChangeBlock([&](CVNetworkReachabilityStatus) { ++blockCalls; });
    manager->startMonitoring();

    // A reader on another thread while the main queue stores.
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done) (void)manager->isReachable();
    });
    target->report(Reachable);
    target->report(Reachable);
    target->report(0);
    const auto posted = recorder.waitFor(3);
    done = true;
    reader.join();

    ASSERT_EQ(posted.size(), 3u);
    EXPECT_EQ(posted[0].status, CVNetworkReachabilityStatusReachableViaWiFi);
    EXPECT_EQ(posted[1].status, CVNetworkReachabilityStatusReachableViaWiFi);
    EXPECT_EQ(posted[2].status, CVNetworkReachabilityStatusNotReachable);
    EXPECT_EQ(blockCalls.load(), 3);
    EXPECT_EQ(manager->localizedNetworkReachabilityStatusString(), "Not Reachable");
}

TEST(CVNetworkReachabilityManager, ReportAfterTheManagerIsGonePostsWithoutObject) {
    platform::MainQueueThread mainQueue;
    ChangeRecorder recorder;
    const auto target = std::make_shared<ScriptedTarget>();
    std::atomic<int> blockCalls{0};
    {
        const auto manager = CVNetworkReachabilityManager::initWithReachability(target);
        manager->setReachabilityStatusChangeBlock([&](CVNetworkReachabilityStatus) { ++blockCalls; });
        manager->startMonitoring();
        EXPECT_TRUE(target->running_);
    }
    EXPECT_FALSE(target->running_) << "a manager stops monitoring when it goes";

    target->report(Reachable);
    const auto posted = recorder.waitFor(1);
    EXPECT_FALSE(posted[0].hadObject);
    EXPECT_EQ(posted[0].status, CVNetworkReachabilityStatusReachableViaWiFi);
    EXPECT_EQ(blockCalls.load(), 0);
}

TEST(CVNetworkReachabilityManager, RestartRegistersAgainAndNoTargetDoesNothing) {
    const auto target = std::make_shared<ScriptedTarget>();
    const auto manager = CVNetworkReachabilityManager::initWithReachability(target);
    manager->startMonitoring();
    manager->startMonitoring();
    EXPECT_EQ(target->starts_, 2);

    const auto idle = CVNetworkReachabilityManager::initWithReachability(nullptr);
    idle->startMonitoring();
    EXPECT_EQ(idle->networkReachabilityStatus(), CVNetworkReachabilityStatusUnknown);
}

TEST(CVNetworkReachabilityManager, FactoriesRefuseBadTargets) {
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    const auto* address = reinterpret_cast<const sockaddr*>(&v6);
    sockaddr_storage local{};
    local.ss_family = AF_UNIX;
    using Manager = CVNetworkReachabilityManager;
    EXPECT_THROW((void)Manager::managerForDomain(""), std::invalid_argument);
    EXPECT_THROW((void)Manager::managerForDomain(std::string_view("a\0b", 3)), std::invalid_argument);
    EXPECT_THROW((void)Manager::managerForAddress(nullptr, 0), std::invalid_argument);
    EXPECT_THROW((void)Manager::managerForAddress(address, sizeof(sockaddr_in)), std::invalid_argument);
    EXPECT_THROW((void)Manager::managerForAddress(reinterpret_cast<const sockaddr*>(&local), sizeof(local)),
                 std::invalid_argument);

    for (const auto& manager : {Manager::managerForAddress(address, sizeof(v6)),
                                Manager::managerForDomain("api.example.com"), Manager::manager()}) {
        EXPECT_NE(manager->networkReachability(), nullptr);
        EXPECT_EQ(manager->networkReachabilityStatus(), CVNetworkReachabilityStatusUnknown);
    }
}

TEST(CVNetworkReachabilityManager, SharedManagerWatchesThisMachine) {
    platform::MainQueueThread mainQueue;
    ChangeRecorder recorder;
    const auto shared = CVNetworkReachabilityManager::sharedManager();
    EXPECT_EQ(CVNetworkReachabilityManager::sharedManager(), shared);
    shared->startMonitoring();

    // The first read reports without waiting for a change.
    for (const auto& posted : recorder.waitFor(1)) {
        EXPECT_EQ(posted.object, shared);
        EXPECT_GE(posted.status, CVNetworkReachabilityStatusNotReachable);
        EXPECT_LE(posted.status, CVNetworkReachabilityStatusReachableViaWiFi);
    }
    EXPECT_NE(shared->networkReachabilityStatus(), CVNetworkReachabilityStatusUnknown);

    CVNetworkReachabilityManager::resetSharedManagerForTesting();
    EXPECT_NE(CVNetworkReachabilityManager::sharedManager(), shared);
}

TEST(CVNetworkReachabilityManager, ForcedStatusOverridesTheSharedManager) {
    platform::MainQueueThread mainQueue;
    ChangeRecorder recorder;
    const auto shared = CVNetworkReachabilityManager::sharedManager();

    CVNetworkReachabilityManager::setForcedStatusForTesting(CVNetworkReachabilityStatusNotReachable);
    EXPECT_FALSE(shared->isReachable());
    const auto posted = recorder.waitFor(1);
    EXPECT_EQ(posted[0].status, CVNetworkReachabilityStatusNotReachable);
    EXPECT_EQ(posted[0].object, shared);

    CVNetworkReachabilityManager::setForcedStatusForTesting(CVNetworkReachabilityStatusReachableViaWiFi);
    EXPECT_TRUE(CVNetworkReachabilityManager::sharedManager()->isReachableViaWiFi());

    // Clearing it posts nothing.
    CVNetworkReachabilityManager::setForcedStatusForTesting(std::nullopt);
    EXPECT_EQ(shared->networkReachabilityStatus(), CVNetworkReachabilityStatusUnknown);
    EXPECT_EQ(recorder.waitFor(2).size(), 2u);
}

}  // namespace
}  // namespace ambrell
