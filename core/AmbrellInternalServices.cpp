#include "core/AmbrellInternal.h"

#include <algorithm>
#include <utility>

#include "Ambrell/CVLog.h"
#include "Ambrell/ErrorObjects.h"
#include "core/AmbrellInternalParts.h"
#include "core/CVHostAnswer.h"
#include "core/CVLocationService.h"
#include "core/CVSubsystemSeams.h"
#include "core/CVVenueLocationSource.h"
#include "data/AmbrellLegacy.h"
#include "data/CVBuildingInternal.h"
#include "data/CVImageProvider.h"
#include "data/CVLocationInternal.h"
#include "data/CVMemoryCache.h"
#include "data/CVVenueHandler.h"
#include "data/CVVenueInternal.h"
#include "data/DataSetManager/CVDataSetCacheManagerInternal.h"
#include "foundation/CVLogger.h"
#include "foundation/CVTextCase.h"
#include "foundation/SdkVersion.h"
#include "platform/runtime/Actor.h"
#include "platform/runtime/Continuation.h"
#include "platform/runtime/Task.h"

namespace ambrell {

using platform::Awaitable;
using detail::alive;
using detail::orNothing;

namespace {

// Kept out of the coroutine: g++ 12 cannot place an initializer list in a
// coroutine frame.
CVLogEntry::Parameters searchParameters(const std::string& text) { return {{"query", text}}; }

// Answers from the task that runs it.
template <typename T>
Awaitable<void> answerFromTask(CVHostAnswer<T> host, T value) {
    host.answer(std::move(value));
    co_return;
}

Awaitable<void> runSearch(std::shared_ptr<CVLocationService> service, CVQuery query, CVFilter filter, bool recordEvent,
                          CVHostAnswer<std::vector<std::shared_ptr<CVLocation>>> host) {
    std::vector<std::shared_ptr<CVLocation>> locations;
    if (service) {
        locations = co_await service->locationsForQuery(query, filter);
    }
    if (recordEvent) {
        std::optional<CVLogEntry::Parameters> parameters;
        if (!query.query.empty()) parameters = searchParameters(query.query);
        CVLogger::event(CVLogEvent::searchPerformed, CVLogDomain::search, std::move(parameters));
    }
    host.answer(std::move(locations));
}

Awaitable<void> answerOfflineAvailability(CVHostAnswer<bool> host) {
    // A wait the runtime's shutdown may cancel: the host then hears false
    // rather than nothing.
    auto checked = co_await platform::Continuation::makeForCurrentExecutor();
    AmbrellLegacy::checkOfflineDataAvailabilityAsync([checked] { checked->resume(); });
    co_await checked->wait();
    host.answer(AmbrellLegacy::isOfflineDataAvailable());
}

}  // namespace

// Look-ups.

bool AmbrellInternal::ready() const {
    std::lock_guard lock(mutex_);
    return state_->ready;
}

std::string AmbrellInternal::sdkVersion() const { return ambrell::sdkVersion(); }

std::optional<std::string> AmbrellInternal::apiKey() const {
    std::lock_guard lock(mutex_);
    return state_->apiKey;
}

std::string AmbrellInternal::language() const {
    {
        std::lock_guard lock(mutex_);
        if (state_->language) return *state_->language;
    }
    return AmbrellLegacy::getLanguage();
}

std::shared_ptr<CVLocationService> AmbrellInternal::locationService() const {
    std::lock_guard lock(mutex_);
    return state_->locationService;
}

std::shared_ptr<CVDisplayRuleManaging> AmbrellInternal::displayRuleManager() const {
    std::lock_guard lock(mutex_);
    return state_->displayRuleManager;
}

std::shared_ptr<const CVDerivedGeometryCollection> AmbrellInternal::loadedDerivedGeometry() const {
    std::lock_guard lock(mutex_);
    return state_->loadedDerivedGeometry;
}

std::shared_ptr<CVAppData> AmbrellInternal::appData() const {
    std::lock_guard lock(mutex_);
    return state_->appData;
}

std::vector<std::shared_ptr<CVDataField>> AmbrellInternal::categories() const {
    std::lock_guard lock(mutex_);
    return state_->categories;
}

std::shared_ptr<CVVenueHandler> AmbrellInternal::venueHandlerForVenueId(const std::string& venueId) const {
    return venueHandlers_.getValue(venueId).value_or(nullptr);
}

std::shared_ptr<CVSolutionInternal> AmbrellInternal::solution() const { return AmbrellLegacy::solution(); }

std::shared_ptr<const CVImageProviderProtocol> AmbrellInternal::imageProvider() const { return imageProvider_; }

std::shared_ptr<CVDirectionsServicing> AmbrellInternal::directionsService() {
    {
        std::lock_guard lock(mutex_);
        if (state_->directionsService) return state_->directionsService;
    }
    // Made outside the lock: the factory may well ask this object for its
    // key, language or roles. Two first calls may both make one; the first
    // kept is the one every caller gets.
    auto made = CVSubsystemSeams::makeDirectionsService();
    std::lock_guard lock(mutex_);
    if (!state_->directionsService) state_->directionsService = std::move(made);
    return state_->directionsService;
}

std::shared_ptr<CVLocation> AmbrellInternal::locationWithLocationId(const std::string& locationId) const {
    const auto service = locationService();
    return service ? service->locationWithLocationId(locationId) : nullptr;
}

void AmbrellInternal::parentOfLocation(const CVLocation& location,
                                       std::function<void(std::shared_ptr<CVLocation>)> completion) const {
    if (!completion) return;
    const auto service = locationService();
    const auto* internal = dynamic_cast<const CVLocationInternal*>(&location);
    if (!service || internal == nullptr) {
        completion(nullptr);
        return;
    }
    const auto parentId = internal->axParentId();
    // The work answers; a task the runtime refuses, or one that fails,
    // answers through its completion, so the answer comes exactly once.
    platform::Task::startOn(
        platform::LocationServiceActor::shared().executor(),
        [service, parentId]() -> Awaitable<std::shared_ptr<CVLocation>> {
            co_return service->axLocationIdToCVLocationMap().getValue(parentId).value_or(nullptr);
        },
        [completion](platform::TaskResult<std::shared_ptr<CVLocation>> result) {
            completion(result.hasValue() ? result.get() : nullptr);
        });
}

void AmbrellInternal::venuesWithCompletionHandler(VenuesCompletion completion) const {
    std::vector<std::shared_ptr<CVVenueInternal>> list;
    {
        std::lock_guard lock(mutex_);
        list = state_->venueList;
    }
    std::vector<std::shared_ptr<CVVenue>> venues;
    for (const auto& venue : list) {
        if (!venue || !venueHandlers_.getValue(venue->venueId)) continue;
        // The cached one, which its handler replaced by one with its buildings.
        const auto loaded = CVMemoryCache::venueCache().getValue(venue->venueId).value_or(nullptr);
        venues.push_back(loaded ? loaded : venue);
    }
    CVHostAnswer<std::vector<std::shared_ptr<CVVenue>>>::startTask(
        "venuesWithCompletionHandler", std::move(completion), {},
        [venues = std::move(venues)](auto host) { return answerFromTask(std::move(host), venues); });
}

void AmbrellInternal::buildingWithId(std::string buildingId, BuildingCompletion completion) const {
    std::shared_ptr<CVBuilding> found;
    if (!buildingId.empty()) {
        for (const auto& handler : loadedHandlers()) {
            for (const auto& building : handler->buildings()) {
                if (building && building->buildingId == buildingId) {
                    found = building;
                    break;
                }
            }
            if (found) break;
        }
    }
    CVHostAnswer<std::shared_ptr<CVBuilding>>::startTask(
        "buildingWithId", std::move(completion), nullptr,
        [found = std::move(found)](auto host) { return answerFromTask(std::move(host), found); });
}

// Search.

void AmbrellInternal::locationsWithQuery(std::optional<CVQuery> query, CVFilter filter,
                                         LocationsCompletion completion) {
    search(std::move(query), std::move(filter), true, std::move(completion));
}

void AmbrellInternal::locationsWithQuery(
    std::optional<CVQuery> query, CVFilter filter,
    std::function<void(std::vector<std::shared_ptr<CVLocation>>)> completion) const {
    search(std::move(query), std::move(filter), true, std::move(completion));
}

void AmbrellInternal::internalLocationsLookupWithQuery(std::optional<CVQuery> query, CVFilter filter,
                                                       LocationsCompletion completion) const {
    search(std::move(query), std::move(filter), false, std::move(completion));
}

void AmbrellInternal::search(std::optional<CVQuery> query, CVFilter filter, bool recordEvent,
                             LocationsCompletion completion) const {
    CVHostAnswer<std::vector<std::shared_ptr<CVLocation>>>::startTask(
        recordEvent ? "locationsWithQuery" : "internalLocationsLookupWithQuery", std::move(completion), {},
        [service = locationService(), query = std::move(query).value_or(CVQuery{}), filter = std::move(filter),
         recordEvent](auto host) { return runSearch(service, query, filter, recordEvent, std::move(host)); });
}

// Host location sources.

void AmbrellInternal::registerLocationSources(const std::vector<std::shared_ptr<CVLocationSource>>& sources) {
    registerLocationSources(sources, {});
}

void AmbrellInternal::registerLocationSources(const std::vector<std::shared_ptr<CVLocationSource>>& sources,
                                              ErrorCompletion completion) {
    std::vector<std::shared_ptr<CVLocationSource>> added;
    std::shared_ptr<CVLocationService> service;
    {
        std::lock_guard lock(mutex_);
        for (const auto& source : sources) {
            if (!source) continue;
            const auto known = std::any_of(state_->hostSources.begin(), state_->hostSources.end(),
                                           [&source](const auto& held) { return held.lock() == source; });
            if (!known) state_->hostSources.push_back(source);
            added.push_back(source);
        }
        // Sources that are gone need no place.
        std::erase_if(state_->hostSources, [](const auto& held) { return held.expired(); });
        service = state_->locationService;
    }
    // Observed too, so that their locations get display rules like the venues' do.
    const auto mapControl = activeMapControlInstance();
    for (const auto& source : added) {
        source->addLocationsObserver(shared_from_this());
        if (mapControl) source->addLocationsObserver(mapControl);
    }
    CVLogger::event(CVLogEvent::locationSourcesRegistered, CVLogDomain::locationSources,
                    CVLogEntry::Parameters{{"count", std::to_string(sources.size())}});
    platform::Task::start([service = std::move(service),
                           added = std::move(added)]() { return registerWithLocationService(service, added); },
                          [completion = orNothing(std::move(completion))](platform::TaskResult<void> outcome) {
                              if (outcome.error()) {
                                  completion(errorObjectFor(outcome.error()));
                              } else {
                                  completion(std::nullopt);
                              }
                          });
}

Awaitable<void> AmbrellInternal::registerWithLocationService(std::shared_ptr<CVLocationService> service,
                                                             std::vector<std::shared_ptr<CVLocationSource>> sources) {
    if (!service) co_return;
    for (auto& source : sources) co_await service->addLocationSource(std::move(source));
}

// Display rules.

std::shared_ptr<CVDisplayRule> AmbrellInternal::displayRuleForLocation(const CVLocation& location) const {
    const auto manager = displayRuleManager();
    return manager ? manager->locationRule(location.getLocationId()) : nullptr;
}

std::shared_ptr<CVDisplayRule> AmbrellInternal::displayRuleForType(const std::string& typeName) const {
    const auto manager = displayRuleManager();
    return manager ? manager->typeRule(lowercasedText(typeName)) : nullptr;
}

std::shared_ptr<CVDisplayRule> AmbrellInternal::displayRuleForDisplayRuleType(int rawType) const {
    const auto manager = displayRuleManager();
    if (!manager || rawType < 0 || rawType > static_cast<int>(CVDisplayRuleType::main)) return nullptr;
    return manager->fixedRule(static_cast<CVDisplayRuleType>(rawType));
}

void AmbrellInternal::setWithDisplayRule(std::shared_ptr<CVDisplayRule> rule, const CVLocation& location) const {
    if (const auto manager = displayRuleManager()) manager->setLocationRule(std::move(rule), location.getLocationId());
}

void AmbrellInternal::onLocationsUpdate(const std::vector<std::shared_ptr<CVLocation>>& locations,
                                        const std::shared_ptr<CVLocationSource>& /*source*/) {
    auto manager = displayRuleManager();
    if (!manager) return;
    platform::Task::startOn(
        platform::LocationServiceActor::shared().executor(),
        [manager = std::move(manager), locations] { return manager->updateLocationRules(locations); });
}

void AmbrellInternal::onLocationsDelete(const std::vector<std::string>& locationIds,
                                        const std::shared_ptr<CVLocationSource>& /*source*/) {
    auto manager = displayRuleManager();
    if (!manager) return;
    platform::Task::startOn(
        platform::LocationServiceActor::shared().executor(),
        [manager = std::move(manager), locationIds] { return manager->removeLocationRules(locationIds); });
}

void AmbrellInternal::onStatusChange(CVLocationSourceStatus /*status*/,
                                     const std::shared_ptr<CVLocationSource>& /*source*/) {}

// Map control.

std::shared_ptr<CVMapControlling> AmbrellInternal::createMapControl(
    std::shared_ptr<const CVMapConfig> mapConfig) const {
    if (!ready()) return nullptr;
    return CVSubsystemSeams::makeMapControl(std::move(mapConfig));
}

void AmbrellInternal::setActiveMapControlInstance(const std::shared_ptr<CVMapControlling>& mapControl) {
    {
        std::lock_guard lock(mutex_);
        if (state_->activeMapControl.lock() == mapControl) return;
        state_->activeMapControl = mapControl;
    }
    if (mapControl) observeWithMapControl(mapControl);
}

std::shared_ptr<CVMapControlling> AmbrellInternal::activeMapControlInstance() const {
    std::lock_guard lock(mutex_);
    return state_->activeMapControl.lock();
}

std::shared_ptr<CVActiveMapControl> AmbrellInternal::activeMapControl() const { return activeMapControlInstance(); }

void AmbrellInternal::observeWithMapControl(const std::shared_ptr<CVMapControlling>& mapControl) {
    mapControl->setPositionProvider(AmbrellLegacy::positionProvider());
    std::weak_ptr<CVMapControlling> weakMapControl = mapControl;
    for (const auto& handler : loadedHandlers()) {
        const auto source = std::dynamic_pointer_cast<CVVenueLocationSource>(handler->locationSource());
        if (!source) continue;
        std::weak_ptr<CVVenueLocationSource> weakSource = source;
        source->queue().async([weakSource, weakMapControl] {
            const auto observed = weakSource.lock();
            const auto observer = weakMapControl.lock();
            if (observed && observer) observed->addLocationsObserver(observer);
        });
    }
    std::vector<std::shared_ptr<CVLocationSource>> hostSources;
    {
        std::lock_guard lock(mutex_);
        hostSources = alive(state_->hostSources);
    }
    for (const auto& source : hostSources) source->addLocationsObserver(mapControl);
    mapControl->refresh();
}

// Settings.

void AmbrellInternal::setLanguage(const std::string& language) { AmbrellLegacy::setLanguage(language); }

void AmbrellInternal::setAccessToken(std::optional<std::string> accessToken) {
    AmbrellLegacy::setAccessToken(std::move(accessToken));
}

std::optional<std::string> AmbrellInternal::accessToken() const { return AmbrellLegacy::accessToken(); }

void AmbrellInternal::setEventLoggingDisabled(bool disabled) { AmbrellLegacy::setEventLoggingDisabled(disabled); }

bool AmbrellInternal::eventLoggingDisabled() const { return AmbrellLegacy::eventLoggingDisabled(); }

void AmbrellInternal::setPositionProvider(std::shared_ptr<CVPositionProvider> provider) {
    AmbrellLegacy::setPositionProvider(provider);
    if (const auto mapControl = activeMapControlInstance()) mapControl->setPositionProvider(std::move(provider));
}

std::shared_ptr<CVPositionProvider> AmbrellInternal::positionProvider() const {
    return AmbrellLegacy::positionProvider();
}

void AmbrellInternal::fetchAuthenticationDetails(AuthCallback callback) {
    AmbrellLegacy::fetchAuthenticationDetails(std::move(callback));
}

void AmbrellInternal::isOfflineDataAvailable(std::optional<std::string> /*apiKey*/,
                                             std::function<void(bool)> completion) {
    CVHostAnswer<bool>::startTask("isOfflineDataAvailable", std::move(completion), false,
                                  [](auto host) { return answerOfflineAvailability(std::move(host)); });
}

std::shared_ptr<CVDataSetCacheManager> AmbrellInternal::dataSetCacheManager() const {
    return AmbrellLegacy::dataSetCacheManager();
}

}  // namespace ambrell
