#include <chrono>
#include <mutex>
#include <shared_mutex>

#include <fmt/format.h>

#include "Ambrell/CVLog.h"
#include "data/CVLocationInternal.h"

namespace ambrell {

namespace {

constexpr std::string_view kAssignOperation = "-[CVLocationInternal assignLiveUpdate:]";
constexpr double kLiveUpdatePriority = 2147483647;

// One lock for the live updates of every location: writers exclusive,
// readers shared, so a reader never sees a position update half-applied.
std::shared_mutex& liveUpdatesLock() {
    static std::shared_mutex lock;
    return lock;
}

std::string timestampText(CVLiveUpdate::Timestamp timestamp) {
    return fmt::format("{}ms",
                       std::chrono::duration_cast<std::chrono::milliseconds>(timestamp.time_since_epoch()).count());
}

}  // namespace

bool CVLocationInternal::assignLiveUpdate(const std::shared_ptr<const CVLiveUpdate>& update) {
    if (!update) return false;
    if (!update->topic.domainType) {
        CVLog::core().debug("{} LIVE DATA | Rejecting LiveUpdate without a domain type, id={}", kAssignOperation,
                            update->itemId);
        return false;
    }
    const std::string& domain = *update->topic.domainType;
    std::unique_lock lock(liveUpdatesLock());
    auto& byDomain = liveUpdates_.byDomain;
    if (!byDomain) byDomain.emplace();
    if (auto existing = byDomain->find(domain);
        existing != byDomain->end() && existing->second && existing->second->timestamp > update->timestamp) {
        CVLog::core().debug("{} LIVE DATA | Rejecting out of order LiveUpdate: {} > {}, {}, id={}", kAssignOperation,
                            timestampText(existing->second->timestamp), timestampText(update->timestamp), domain,
                            update->itemId);
        return false;
    }
    if (const auto* positionUpdate = dynamic_cast<const CVPositionLiveUpdate*>(update.get())) {
        setPosition(CVPoint(positionUpdate->latitude, positionUpdate->longitude));
        setFloorIndex(static_cast<double>(positionUpdate->floorIndex));
        priority = kLiveUpdatePriority;
    }
    (*byDomain)[domain] = update;
    return true;
}

std::shared_ptr<const CVLiveUpdate> CVLocationInternal::getLiveUpdateForDomainType(
    const std::string& domainType) const {
    std::shared_lock lock(liveUpdatesLock());
    if (!liveUpdates_.byDomain) return nullptr;
    auto found = liveUpdates_.byDomain->find(domainType);
    return found != liveUpdates_.byDomain->end() ? found->second : nullptr;
}

std::optional<boost::json::value> CVLocationInternal::getLiveValueForKey(const std::string& key,
                                                                         const std::string& domainType) const {
    auto update = getLiveUpdateForDomainType(domainType);
    if (!update) return std::nullopt;
    return update->getLiveValueForKey(key);
}

}  // namespace ambrell
