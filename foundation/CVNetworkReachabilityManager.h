#pragma once

#include <sys/socket.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/CVReachabilityTarget.h"
#include "platform/NotificationCenter.h"
#include "platform/runtime/Runtime.h"

namespace ambrell {

// A signed integer: hosts may hand in any value.
enum CVNetworkReachabilityStatus : std::int64_t {
    CVNetworkReachabilityStatusUnknown = -1,
    CVNetworkReachabilityStatusNotReachable = 0,
    CVNetworkReachabilityStatusReachableViaWWAN = 1,
    CVNetworkReachabilityStatusReachableViaWiFi = 2,
};

// "Unknown", "Not Reachable", "Reachable via WWAN", "Reachable via WiFi";
// "Unknown" for any other value. The host has no translation table here, so the
// texts are the keys themselves.
[[nodiscard]] std::string CVStringFromNetworkReachabilityStatus(CVNetworkReachabilityStatus status);

// Reachable when kReachable is set and either no connection is required or one
// is made automatically (on traffic or on demand) without the user stepping in;
// then via WWAN when kIsWWAN is set, else via WiFi.
[[nodiscard]] CVNetworkReachabilityStatus CVNetworkReachabilityStatusForFlags(CVNetworkReachabilityFlags flags);

// Posted on the main queue after every report, also when the status is the
// same as before. The object is the manager as a
// std::shared_ptr<CVNetworkReachabilityManager>, or empty when the manager was
// gone by then; the user info holds the status as a std::int64_t.
[[nodiscard]] const platform::NotificationName& CVNetworkingReachabilityDidChangeNotification();
inline constexpr std::string_view CVNetworkingReachabilityNotificationStatusItem =
    "CVNetworkingReachabilityNotificationStatusItem";

// Watches whether the network can be reached and over which kind of link.
// Reports are turned into a status on the main queue, where the status is
// stored, the status block is called and the change notification is posted.
// The status itself may be read from any thread.
class CVNetworkReachabilityManager : public std::enable_shared_from_this<CVNetworkReachabilityManager> {
    struct Passkey {};

public:
    using StatusBlock = std::function<void(CVNetworkReachabilityStatus)>;

    // Managers are always shared (reports hold them weakly): make them with the
    // factories below. There is no manager without a target's say.
    CVNetworkReachabilityManager() = delete;
    CVNetworkReachabilityManager(Passkey, std::shared_ptr<CVReachabilityTarget> target);
    ~CVNetworkReachabilityManager();
    CVNetworkReachabilityManager(const CVNetworkReachabilityManager&) = delete;
    CVNetworkReachabilityManager& operator=(const CVNetworkReachabilityManager&) = delete;

    // The process-wide manager, made once with manager(). Whoever needs it
    // running starts it.
    [[nodiscard]] static std::shared_ptr<CVNetworkReachabilityManager> sharedManager();
    // The machine's general connectivity: the unspecified IPv6 address.
    [[nodiscard]] static std::shared_ptr<CVNetworkReachabilityManager> manager();
    // Throws std::invalid_argument for an empty name or one holding a NUL byte.
    [[nodiscard]] static std::shared_ptr<CVNetworkReachabilityManager> managerForDomain(std::string_view domain);
    // An AF_INET or AF_INET6 address of at least its structure's length; throws
    // std::invalid_argument for anything else.
    [[nodiscard]] static std::shared_ptr<CVNetworkReachabilityManager> managerForAddress(const sockaddr* address,
                                                                                         socklen_t length);
    // A manager for the target (which may be null: it then never reports).
    [[nodiscard]] static std::shared_ptr<CVNetworkReachabilityManager> initWithReachability(
        std::shared_ptr<CVReachabilityTarget> target);

    // Restarts the target's reports and reads its flags once in the background,
    // so a started manager reports a first status without waiting for a change.
    void startMonitoring();
    void stopMonitoring();

    [[nodiscard]] CVNetworkReachabilityStatus networkReachabilityStatus() const;
    [[nodiscard]] bool isReachable() const;
    [[nodiscard]] bool isReachableViaWWAN() const;
    [[nodiscard]] bool isReachableViaWiFi() const;
    [[nodiscard]] std::string localizedNetworkReachabilityStatusString() const;
    [[nodiscard]] const std::shared_ptr<CVReachabilityTarget>& networkReachability() const { return target_; }

    // Called on the main queue with each reported status.
    void setReachabilityStatusChangeBlock(StatusBlock block);

    // Test-only. While set, the shared manager answers this status whatever its
    // target reports; setting a value also posts the change notification for
    // it on the main queue. Reports still store their status and call the block.
    static void setForcedStatusForTesting(std::optional<CVNetworkReachabilityStatus> status);
    // Test-only: stops and drops the shared manager and its forced status; the
    // next sharedManager() makes a new one.
    static void resetSharedManagerForTesting();

private:
    void store(CVNetworkReachabilityStatus status);

    static constexpr std::int64_t kNotForced = std::numeric_limits<std::int64_t>::min();

    const std::shared_ptr<CVReachabilityTarget> target_;
    std::atomic<std::int64_t> status_{CVNetworkReachabilityStatusUnknown};
    std::atomic<std::int64_t> forced_{kNotForced};
    mutable std::mutex blockMutex_;
    StatusBlock block_;
    platform::Runtime::ServiceRegistration stopAtShutdown_;
};

}  // namespace ambrell
