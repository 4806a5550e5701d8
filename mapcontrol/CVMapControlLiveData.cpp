#include <algorithm>
#include <exception>
#include <iterator>
#include <utility>

#include "Ambrell/CVLog.h"
#include "data/CVLocationInternal.h"
#include "foundation/CVLogger.h"
#include "mapcontrol/CVMapControlInternal.h"
#include "mapcontrol/CVMapLiveDataSeam.h"
#include "platform/runtime/Task.h"

namespace ambrell {

namespace map_control_live_data {
namespace {

// More candidates than a map can sensibly follow: the plan then wants nothing.
constexpr std::size_t kCandidateLimit = 1000;
// Plans waiting beyond this many are refused; the next change plans again.
constexpr std::int64_t kWaitingPlanLimit = 5;

bool isCandidate(const std::shared_ptr<CVLocation>& location) {
    if (!location) return false;
    const auto baseType = location->baseType();
    return baseType == CVLocationBaseType::floor ||
           (baseType == CVLocationBaseType::pointOfInterest && !location->isIndoors());
}

void removeDomain(std::vector<std::string>& domains, const std::string& domainType) {
    domains.erase(std::remove(domains.begin(), domains.end(), domainType), domains.end());
}

}  // namespace
}  // namespace map_control_live_data

void CVMapControlInternal::enableLiveDataWithDomain(const std::string& domainType, CVLiveUpdateListener listener) {
    CVLogger::event(CVLogEvent::livedataEnabledForMap, CVLogDomain::liveData,
                    CVLogEntry::Parameters{{"domain_type", domainType}});
    {
        std::lock_guard lock(mutex_);
        map_control_live_data::removeDomain(enabledLiveDataDomains_, domainType);
        enabledLiveDataDomains_.push_back(domainType);
        if (listener) {
            liveDataDomainListeners_[domainType] = std::move(listener);
        } else {
            liveDataDomainListeners_.erase(domainType);
        }
        liveDataDefaultRenderingEnabled_ = true;
    }
    // A new delegate on every call: it takes over the manager and asks for
    // the live-data details again. Made outside the lock, as it may call back.
    auto self = shared_from_this();
    const auto seam = CVMapLiveDataSeam::installed();
    auto delegate = seam ? seam->makeDelegate(self) : nullptr;
    {
        std::lock_guard lock(mutex_);
        std::swap(liveDataDelegate_, delegate);
    }
    delegate.reset();
    updateLiveDataSubscriptions();
    requestRender(false);
}

void CVMapControlInternal::disableLiveDataWithDomain(const std::string& domainType) {
    {
        std::lock_guard lock(mutex_);
        map_control_live_data::removeDomain(enabledLiveDataDomains_, domainType);
        liveDataDomainListeners_.erase(domainType);
        if (enabledLiveDataDomains_.empty()) liveDataDefaultRenderingEnabled_ = false;
    }
    updateLiveDataSubscriptions();
    requestRender(false);
}

CVLiveUpdateListener CVMapControlInternal::liveDataListener(const std::string& domainType) const {
    std::lock_guard lock(mutex_);
    const auto found = liveDataDomainListeners_.find(domainType);
    return found == liveDataDomainListeners_.end() ? nullptr : found->second;
}

CVMapControlInternal::LiveTopicSet CVMapControlInternal::subscribedTopics() const {
    std::lock_guard lock(mutex_);
    return subscribedTopics_;
}

std::vector<std::string> CVMapControlInternal::enabledLiveDataDomains() const {
    std::lock_guard lock(mutex_);
    return enabledLiveDataDomains_;
}

std::shared_ptr<CVInternalLiveDataDelegate> CVMapControlInternal::liveDataDelegate() const {
    std::lock_guard lock(mutex_);
    return liveDataDelegate_;
}

void CVMapControlInternal::updateLiveDataSubscriptions() {
    auto self = shared_from_this();
    startTracked([self]() -> platform::Awaitable<void> {
        auto queue = self->liveDataSubscriptionPipelineTaskQueue_;
        try {
            // A refused plan is dropped without a trace.
            (void)co_await queue->enqueue(map_control_live_data::kWaitingPlanLimit,
                                          [&self] { return planLiveDataSubscriptions(self); });
        } catch (const std::exception& error) {
            CVLog::core().debug("A live-data plan ended early: {}", error.what());
        }
    });
}

platform::Awaitable<void> CVMapControlInternal::planLiveDataSubscriptions(std::shared_ptr<CVMapControlInternal> self) {
    std::shared_ptr<CVBuilding> building;
    std::shared_ptr<CVVenue> venue;
    std::int64_t floorIndex = 0;
    std::vector<std::string> domains;
    {
        std::lock_guard lock(self->mutex_);
        if (!self->liveDataDefaultRenderingEnabled_) co_return;
        building = self->currentBuilding_;
        venue = self->currentVenue_;
        floorIndex = self->currentFloorIndex_;
        domains = self->enabledLiveDataDomains_;
    }

    CVMapControlEntry::Locations locations;
    if (building) {
        for (const auto& [key, floor] : building->getFloors()) {
            const auto index = floor ? floor->getFloorIndex() : std::nullopt;
            if (!index || *index != static_cast<double>(floorIndex)) continue;
            if (auto floorLocation = self->entry_->locationWithId(floor->getFloorId())) {
                locations.push_back(std::move(floorLocation));
            }
            break;
        }
    }
    if (venue && !venue->getVenueId().empty()) {
        CVFilter filter;
        filter.parents = std::vector<std::string>{venue->getVenueId()};
        filter.ignoreSearchableStatus = true;
        auto found = co_await self->lookUp(std::move(filter));
        locations.insert(locations.end(), std::make_move_iterator(found.begin()), std::make_move_iterator(found.end()));
    }

    CVMapControlEntry::Locations candidates;
    std::copy_if(locations.begin(), locations.end(), std::back_inserter(candidates),
                 map_control_live_data::isCandidate);
    LiveTopicSet wanted;
    if (!candidates.empty() && candidates.size() < map_control_live_data::kCandidateLimit) {
        const auto dataSetId = self->entry_->dataSetId().value_or("");
        for (const auto& candidate : candidates) {
            if (!std::dynamic_pointer_cast<CVLocationInternal>(candidate)) continue;
            const bool isFloor = candidate->baseType() == CVLocationBaseType::floor;
            for (const auto& domain : domains) {
                const CVLiveTopicCriteria criteria(domain);
                auto narrowed = isFloor ? criteria.floorId(candidate->getLocationId())
                                        : criteria.locationId(candidate->getLocationId());
                wanted.insert(std::make_shared<CVLiveTopicCriteria>(narrowed.datasetId(dataSetId)));
            }
        }
    }

    LiveTopicSet previous;
    {
        std::lock_guard lock(self->mutex_);
        previous = self->subscribedTopics_;
    }
    // The manager keeps its own books: the requests need not wait for it, nor
    // for each other.
    if (const auto seam = CVMapLiveDataSeam::installed()) {
        for (const auto& topic : previous) {
            if (wanted.contains(topic)) continue;
            platform::Task::start([seam, topic] { return seam->unsubscribe(topic); });
        }
        for (const auto& topic : wanted) {
            platform::Task::start([seam, topic] { return seam->subscribe(topic); });
        }
    }
    std::lock_guard lock(self->mutex_);
    self->subscribedTopics_ = std::move(wanted);
}

}  // namespace ambrell
