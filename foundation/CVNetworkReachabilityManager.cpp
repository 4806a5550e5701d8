#include "foundation/CVNetworkReachabilityManager.h"

#include <netinet/in.h>

#include <any>
#include <boost/asio/post.hpp>
#include <stdexcept>

#include "platform/runtime/MainQueue.h"
#include "platform/runtime/Runtime.h"
#include "platform/runtime/ThreadPool.h"

namespace ambrell {

namespace {

// What a report runs on the main queue: stores the status in the manager and
// yields it, or yields nothing once the manager is gone.
using StatusCallback = std::function<std::shared_ptr<CVNetworkReachabilityManager>(CVNetworkReachabilityStatus)>;

void postNotification(std::shared_ptr<CVNetworkReachabilityManager> manager, CVNetworkReachabilityStatus status) {
    std::any object;
    if (manager) object = std::move(manager);
    platform::NotificationCenter::defaultCenter().post(
        CVNetworkingReachabilityDidChangeNotification(), std::move(object),
        {{std::string(CVNetworkingReachabilityNotificationStatusItem), static_cast<std::int64_t>(status)}});
}

void postStatusChange(CVNetworkReachabilityFlags flags, const StatusCallback& callback) {
    const auto status = CVNetworkReachabilityStatusForFlags(flags);
    platform::MainQueue::shared().async([status, callback] { postNotification(callback(status), status); });
}

struct SharedManager {
    std::mutex mutex;
    std::shared_ptr<CVNetworkReachabilityManager> manager;
};

SharedManager& sharedManagerState() {
    // Never destroyed: the monitor may still report while the process exits.
    static auto* const state = new SharedManager();
    return *state;
}

}  // namespace

std::string CVStringFromNetworkReachabilityStatus(CVNetworkReachabilityStatus status) {
    switch (static_cast<std::int64_t>(status)) {
        case CVNetworkReachabilityStatusNotReachable: return "Not Reachable";
        case CVNetworkReachabilityStatusReachableViaWWAN: return "Reachable via WWAN";
        case CVNetworkReachabilityStatusReachableViaWiFi: return "Reachable via WiFi";
        default: return "Unknown";
    }
}

CVNetworkReachabilityStatus CVNetworkReachabilityStatusForFlags(CVNetworkReachabilityFlags flags) {
    namespace flag = CVReachabilityFlag;
    const bool connectsAutomatically = (flags & (flag::kConnectionOnDemand | flag::kConnectionOnTraffic)) != 0;
    const bool connectsWithoutUser = connectsAutomatically && (flags & flag::kInterventionRequired) == 0;
    const bool reachable =
        (flags & flag::kReachable) != 0 && ((flags & flag::kConnectionRequired) == 0 || connectsWithoutUser);
    if (!reachable) return CVNetworkReachabilityStatusNotReachable;
    if ((flags & flag::kIsWWAN) != 0) return CVNetworkReachabilityStatusReachableViaWWAN;
    return CVNetworkReachabilityStatusReachableViaWiFi;
}

const platform::NotificationName& CVNetworkingReachabilityDidChangeNotification() {
    static const platform::NotificationName name{"com.ambrell.networking.reachability.change"};
    return name;
}

CVNetworkReachabilityManager::CVNetworkReachabilityManager(Passkey, std::shared_ptr<CVReachabilityTarget> target)
    : target_(std::move(target)) {}

CVNetworkReachabilityManager::~CVNetworkReachabilityManager() { stopMonitoring(); }

std::shared_ptr<CVNetworkReachabilityManager> CVNetworkReachabilityManager::sharedManager() {
    auto& shared = sharedManagerState();
    std::lock_guard lock(shared.mutex);
    if (!shared.manager) shared.manager = manager();
    return shared.manager;
}

std::shared_ptr<CVNetworkReachabilityManager> CVNetworkReachabilityManager::manager() {
    sockaddr_in6 unspecified{};
    unspecified.sin6_family = AF_INET6;
    return managerForAddress(reinterpret_cast<const sockaddr*>(&unspecified), sizeof(unspecified));
}

std::shared_ptr<CVNetworkReachabilityManager> CVNetworkReachabilityManager::managerForDomain(std::string_view domain) {
    if (domain.empty()) throw std::invalid_argument("managerForDomain: the host name is empty");
    if (domain.find('\0') != std::string_view::npos) {
        throw std::invalid_argument("managerForDomain: the host name holds a NUL byte");
    }
    return initWithReachability(makeConnectivityReachabilityTarget());
}

std::shared_ptr<CVNetworkReachabilityManager> CVNetworkReachabilityManager::managerForAddress(const sockaddr* address,
                                                                                              socklen_t length) {
    if (address == nullptr) throw std::invalid_argument("managerForAddress: no address");
    if (length < static_cast<socklen_t>(sizeof(sa_family_t))) {
        throw std::invalid_argument("managerForAddress: the address is shorter than its family field");
    }
    const bool known = (address->sa_family == AF_INET && length >= static_cast<socklen_t>(sizeof(sockaddr_in))) ||
                       (address->sa_family == AF_INET6 && length >= static_cast<socklen_t>(sizeof(sockaddr_in6)));
    if (!known) {
        throw std::invalid_argument("managerForAddress: not an IPv4 or IPv6 socket address of its full length");
    }
    return initWithReachability(makeConnectivityReachabilityTarget());
}

std::shared_ptr<CVNetworkReachabilityManager> CVNetworkReachabilityManager::initWithReachability(
    std::shared_ptr<CVReachabilityTarget> target) {
    return std::make_shared<CVNetworkReachabilityManager>(Passkey{}, std::move(target));
}

void CVNetworkReachabilityManager::startMonitoring() {
    stopMonitoring();
    if (!target_) return;

    StatusCallback callback = [weak = weak_from_this()](CVNetworkReachabilityStatus status) {
        auto manager = weak.lock();
        if (manager) manager->store(status);
        return manager;
    };
    target_->start([callback](CVNetworkReachabilityFlags flags) { postStatusChange(flags, callback); });
    // The monitor's thread ends with the runtime, before static objects go.
    stopAtShutdown_ = platform::Runtime::shared().registerService([weak = weak_from_this()] {
        if (auto manager = weak.lock()) manager->stopMonitoring();
    });
    // Reading the first snapshot talks to the kernel: blocking work.
    boost::asio::post(platform::ThreadPool::blockingIO().executor(), [target = target_, callback] {
        if (const auto flags = target->currentFlags()) postStatusChange(*flags, callback);
    });
}

void CVNetworkReachabilityManager::stopMonitoring() {
    if (target_) target_->stop();
}

void CVNetworkReachabilityManager::store(CVNetworkReachabilityStatus status) {
    status_.store(status);
    StatusBlock block;
    {
        std::lock_guard lock(blockMutex_);
        block = block_;
    }
    if (block) block(status);
}

CVNetworkReachabilityStatus CVNetworkReachabilityManager::networkReachabilityStatus() const {
    const auto forced = forced_.load();
    return static_cast<CVNetworkReachabilityStatus>(forced != kNotForced ? forced : status_.load());
}

bool CVNetworkReachabilityManager::isReachable() const { return isReachableViaWWAN() || isReachableViaWiFi(); }

bool CVNetworkReachabilityManager::isReachableViaWWAN() const {
    return networkReachabilityStatus() == CVNetworkReachabilityStatusReachableViaWWAN;
}

bool CVNetworkReachabilityManager::isReachableViaWiFi() const {
    return networkReachabilityStatus() == CVNetworkReachabilityStatusReachableViaWiFi;
}

std::string CVNetworkReachabilityManager::localizedNetworkReachabilityStatusString() const {
    return CVStringFromNetworkReachabilityStatus(networkReachabilityStatus());
}

void CVNetworkReachabilityManager::setReachabilityStatusChangeBlock(StatusBlock block) {
    std::lock_guard lock(blockMutex_);
    block_ = std::move(block);
}

void CVNetworkReachabilityManager::setForcedStatusForTesting(std::optional<CVNetworkReachabilityStatus> status) {
    auto manager = sharedManager();
    manager->forced_.store(status ? static_cast<std::int64_t>(*status) : kNotForced);
    if (!status) return;
    platform::MainQueue::shared().async(
        [manager = std::move(manager), status = *status]() mutable { postNotification(std::move(manager), status); });
}

void CVNetworkReachabilityManager::resetSharedManagerForTesting() {
    std::shared_ptr<CVNetworkReachabilityManager> dropped;
    {
        auto& shared = sharedManagerState();
        std::lock_guard lock(shared.mutex);
        dropped = std::move(shared.manager);
    }
    // Someone may still hold it: it must not go on reporting all the same.
    if (dropped) dropped->stopMonitoring();
}

}  // namespace ambrell
