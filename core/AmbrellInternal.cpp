#include "core/AmbrellInternal.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <set>
#include <utility>

#include <boost/asio/post.hpp>
#include <boost/asio/use_awaitable.hpp>

#include "Ambrell/CVError.h"
#include "Ambrell/CVLog.h"
#include "Ambrell/ErrorObjects.h"
#include "core/AmbrellInternalParts.h"
#include "core/CVAwaitCallback.h"
#include "core/CVLocationDocuments.h"
#include "core/CVLocationService.h"
#include "core/CVSubsystemSeams.h"
#include "core/CVVenueLocationSource.h"
#include "data/AmbrellLegacy.h"
#include "data/CVAppData.h"
#include "data/CVAppDataProvider.h"
#include "data/CVCategoriesProvider.h"
#include "data/CVDerivedGeometry.h"
#include "data/CVImageProvider.h"
#include "data/CVMemoryCache.h"
#include "data/CVRouteNetworkSeams.h"
#include "data/CVSolutionInternal.h"
#include "data/CVSolutionProvider.h"
#include "data/CVVenueHandler.h"
#include "data/CVVenueInternal.h"
#include "data/CVVenueProvider.h"
#include "foundation/AsyncSemaphore.h"
#include "foundation/CVAXAPI.h"
#include "foundation/CVContentContext.h"
#include "foundation/CVDataProvider.h"
#include "foundation/CVLogger.h"
#include "platform/NSErrorException.h"
#include "platform/runtime/Actor.h"
#include "platform/runtime/Task.h"

namespace ambrell {

using platform::Awaitable;
using platform::NSError;
using detail::alive;
using detail::describe;
using detail::orNothing;

namespace detail {

std::vector<std::shared_ptr<CVLocationSource>> alive(const std::vector<std::weak_ptr<CVLocationSource>>& sources) {
    std::vector<std::shared_ptr<CVLocationSource>> live;
    for (const auto& source : sources) {
        if (auto strong = source.lock()) live.push_back(std::move(strong));
    }
    return live;
}

std::string describe(const std::exception_ptr& error) { return errorDescription(errorObjectFor(error)); }

AmbrellShared::ErrorCompletion orNothing(AmbrellShared::ErrorCompletion completion) {
    if (completion) return completion;
    return [](const std::optional<NSError>&) {};
}

}  // namespace detail

namespace {

// The coroutines below await only named objects and call no initializer
// lists: g++ 12 destroys the temporaries of a co_await expression twice and
// cannot place an initializer list in a coroutine frame.

void throwIfError(const std::optional<NSError>& error) {
    if (error) throw platform::NSErrorException(*error);
}

std::vector<std::string> withoutDuplicates(const std::vector<std::string>& ids) {
    std::vector<std::string> unique;
    std::set<std::string> seen;
    for (const auto& id : ids) {
        if (seen.insert(id).second) unique.push_back(id);
    }
    return unique;
}

// Each drops the rule of one id.
Awaitable<void> removeRulesOneByOne(std::shared_ptr<CVDisplayRuleManaging> manager, std::vector<std::string> ids) {
    for (const auto& id : ids) {
        std::vector<std::string> one(1, id);
        co_await manager->removeLocationRules(std::move(one));
    }
}

}  // namespace

std::shared_ptr<AmbrellInternal> AmbrellInternal::create() {
    return std::shared_ptr<AmbrellInternal>(new AmbrellInternal());
}

AmbrellInternal::AmbrellInternal()
    : imageProvider_(std::make_shared<CVImageProviderImpl>()),
      venueProvider_(std::make_shared<CVVenueProvider>()),
      loadingSemaphore_(AsyncSemaphore::make(1)),
      state_(std::make_unique<State>()) {}

AmbrellInternal::~AmbrellInternal() = default;

void AmbrellInternal::installSeams() {
    CVEntryObjectSeam::install(shared_from_this());
    std::weak_ptr<AmbrellInternal> weak = weak_from_this();
    CVContentContext::setUserRolesReader([weak] {
        const auto self = weak.lock();
        return self ? self->userRoles() : std::vector<CVUserRole>{};
    });
}

// Turns.

Awaitable<void> AmbrellInternal::Turn::waitFor(std::shared_ptr<Turn> turn) {
    auto resumed = co_await platform::Continuation::makeForCurrentExecutor();
    {
        std::lock_guard lock(turn->mutex);
        if (turn->ended) {
            resumed->resume();
        } else {
            turn->waiters.push_back(resumed);
        }
    }
    co_await resumed->waitIgnoringCancellation();
}

std::pair<std::shared_ptr<AmbrellInternal::Turn>, std::shared_ptr<AmbrellInternal::Turn>> AmbrellInternal::nextTurn() {
    auto mine = std::make_shared<Turn>();
    std::lock_guard lock(mutex_);
    auto previous = std::exchange(lastTurn_, mine);
    return {std::move(previous), std::move(mine)};
}

Awaitable<void> AmbrellInternal::runInTurn(std::shared_ptr<Turn> previous, std::shared_ptr<Turn> mine,
                                           bool onLoadingActor, Operation operation, ErrorCompletion completion) {
    if (previous) co_await Turn::waitFor(std::move(previous));
    std::exception_ptr failure;
    try {
        auto& actor = onLoadingActor ? platform::LoadingActor::shared() : platform::LocationServiceActor::shared();
        co_await actor.run(std::move(operation));
    } catch (...) {
        failure = std::current_exception();
    }
    // Before the next turn begins: the completions come in the order the
    // operations were asked for.
    std::optional<NSError> error;
    if (failure) error = errorObjectFor(failure);
    try {
        completion(std::move(error));
    } catch (...) {
        CVLog::core().error("A completion handler threw: {}", describe(std::current_exception()));
    }
    mine->end();
}

void AmbrellInternal::inTurn(bool onLoadingActor, Operation operation, ErrorCompletion completion) {
    auto [previous, mine] = nextTurn();
    completion = orNothing(std::move(completion));
    platform::Task::start(
        [previous = std::move(previous), mine, onLoadingActor, operation = std::move(operation), completion]() mutable {
            return runInTurn(std::move(previous), std::move(mine), onLoadingActor, std::move(operation),
                             std::move(completion));
        },
        // Only when the work could not run (the runtime is shutting down),
        // or ended before its completion.
        [completion, mine](platform::TaskResult<void> outcome) {
            if (!outcome.error()) return;
            completion(errorObjectFor(outcome.error()));
            mine->end();
        });
}

// Load.

void AmbrellInternal::load(std::optional<std::string> apiKey, std::optional<std::vector<std::string>> venueIds,
                           ErrorCompletion completion) {
    inTurn(
        false,
        [self = shared_from_this(), apiKey = std::move(apiKey), venueIds = std::move(venueIds)] {
            return loadNow(self, apiKey, venueIds);
        },
        std::move(completion));
}

void AmbrellInternal::reload(ErrorCompletion completion) {
    inTurn(
        false, [self = shared_from_this()] { return reloadNow(self); }, std::move(completion));
}

Awaitable<void> AmbrellInternal::reloadNow(std::shared_ptr<AmbrellInternal> self) {
    std::optional<std::string> apiKey;
    std::optional<std::vector<std::string>> venueIds;
    {
        std::lock_guard lock(self->mutex_);
        apiKey = self->state_->apiKey;
        venueIds = self->state_->lastVenueIds;
    }
    if (!apiKey) throw CVError(CVErrorCase::invalidApiKey);
    co_await loadNow(self, apiKey, venueIds);
}

Awaitable<bool> AmbrellInternal::apiKeyIsValid(std::string apiKey) {
    // Sent without waiting for a session token: no session exists before the
    // key is bound, so the wait would never end.
    const auto url = CVAXAPI::sharedInstance()->apiKeyValidationUrl(apiKey);
    try {
        co_await CVDataProvider::data(url, std::nullopt, std::nullopt, false);
    } catch (const CVError& error) {
        co_return error.errorCase() != CVErrorCase::invalidApiKey;
    } catch (const platform::CancellationError&) {
        throw;
    } catch (...) {
        // Offline, or the web service cannot be reached: the key counts as valid.
    }
    co_return true;
}

Awaitable<void> AmbrellInternal::loadNow(std::shared_ptr<AmbrellInternal> self, std::optional<std::string> apiKey,
                                         std::optional<std::vector<std::string>> venueIds) {
    const auto start = std::chrono::steady_clock::now();
    self->installSeams();
    co_await resetNow(self);
    if (!apiKey || apiKey->empty()) {
        CVLog::core().error("The load needs an API key");
        throw CVError(CVErrorCase::invalidApiKey);
    }
    if (!co_await apiKeyIsValid(*apiKey)) {
        CVLog::core().error("The web service rejected the API key {}", *apiKey);
        co_await resetNow(self);
        throw CVError(CVErrorCase::invalidApiKey);
    }
    {
        std::lock_guard lock(self->mutex_);
        self->state_->apiKey = apiKey;
        self->state_->lastVenueIds = venueIds;
    }
    std::exception_ptr failure;
    try {
        co_await loadContent(self, *apiKey, std::move(venueIds));
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        CVLog::core().error("The load of {} failed: {}", *apiKey, describe(failure));
        throw CVError(CVErrorCase::dataUnavailable);
    }
    const std::chrono::duration<double> duration = std::chrono::steady_clock::now() - start;
    CVLog::core().debug("Load finished in {:.3f} s", duration.count());
}

Awaitable<void> AmbrellInternal::loadContent(std::shared_ptr<AmbrellInternal> self, std::string apiKey,
                                             std::optional<std::vector<std::string>> venueIds) {
    // The usage log is written under the old key before the new one is
    // bound. Binding would do it blocking its thread, which a task on the
    // pool must not; awaited here, the binding finds the key in place.
    const auto logger = CVLogger::sharedInstance();
    auto keyChange = logger->changeApiKey(apiKey);
    co_await std::move(keyChange);
    co_await awaitCallback<bool>([&apiKey](auto answer) {
        if (!AmbrellLegacy::provideAPIKey(apiKey, [answer] { answer(true); })) answer(false);
    });
    const auto solution = AmbrellLegacy::solution();
    if (!solution) throw CVError(CVErrorCase::dataUnavailable);

    const auto appDataProvider = std::make_shared<CVAppDataProvider>();
    auto [appData, appDataError] =
        co_await awaitCallback<std::pair<std::shared_ptr<CVAppData>, std::optional<NSError>>>(
            [&appDataProvider](auto answer) {
                appDataProvider->getAppDataWithCompletion(
                    [answer](auto data, auto error) { answer(std::make_pair(std::move(data), std::move(error))); });
            });
    throwIfError(appDataError);
    auto categories = co_await CVCategoriesProvider().categories();
    const auto language = AmbrellLegacy::getLanguage();

    const auto service = CVLocationService::create();
    std::vector<std::shared_ptr<CVLocationSource>> hostSources;
    {
        std::lock_guard lock(self->mutex_);
        self->state_->appData = std::move(appData);
        self->state_->categories = std::move(categories);
        self->state_->language = language;
        self->state_->locationService = service;
        hostSources = alive(self->state_->hostSources);
    }
    co_await registerWithLocationService(service, hostSources);

    const auto manager = CVSubsystemSeams::makeDisplayRuleManager(solution);
    {
        std::lock_guard lock(self->mutex_);
        self->state_->displayRuleManager = manager;
    }
    if (manager) co_await manager->updateTypeRules();

    const auto solutionProvider = std::make_shared<CVSolutionProvider>();
    auto [roles, rolesError] =
        co_await awaitCallback<std::pair<std::shared_ptr<CVUserRoleProvider::UserRoles>, std::optional<NSError>>>(
            [&solutionProvider](auto answer) {
                solutionProvider->getUserRolesWithCompletion([answer](auto userRoles, auto error) {
                    answer(std::make_pair(std::move(userRoles), std::move(error)));
                });
            });
    if (rolesError) {
        // The host can still load with the roles it applies; it only cannot offer others.
        CVLog::core().error("The solution's user roles could not be had: {}", errorDescription(*rolesError));
    }
    {
        std::lock_guard lock(self->mutex_);
        self->state_->availableUserRoles = roles ? *roles : std::vector<CVUserRole>{};
    }

    auto [venues, venuesError] =
        co_await awaitCallback<std::pair<CVVenueProvider::Venues, std::optional<NSError>>>([&self](auto answer) {
            self->venueProvider_->getVenuesWithCompletion([answer](auto list, auto error) {
                for (const auto& venue : list) {
                    if (venue) CVMemoryCache::venueCache().setValue(venue, venue->venueId);
                }
                answer(std::make_pair(std::move(list), std::move(error)));
            });
        });
    throwIfError(venuesError);
    std::vector<std::string> toLoad;
    if (venueIds) {
        toLoad = withoutDuplicates(*venueIds);
    } else {
        for (const auto& venue : venues) {
            if (venue) toLoad.push_back(venue->venueId);
        }
        toLoad = withoutDuplicates(toLoad);
    }
    {
        std::lock_guard lock(self->mutex_);
        self->state_->venueList = venues;
    }

    co_await loadVenues(self, std::move(toLoad), true);

    {
        std::lock_guard lock(self->mutex_);
        self->state_->ready = true;
    }
    self->noteClusteringSwitch();
    // The active map control observes the sources of this load too, or live
    // changes would never reach it after a reload.
    if (const auto mapControl = self->activeMapControlInstance()) self->observeWithMapControl(mapControl);
}

Awaitable<void> AmbrellInternal::loadVenues(std::shared_ptr<AmbrellInternal> self, std::vector<std::string> venueIds,
                                            bool stopAtFirstFailure) {
    co_await self->loadingSemaphore_->wait();
    // The venues share the solution's locations document, read once here.
    const auto documents = std::make_shared<CVLocationDocuments>();
    // The search engine indexes the venues' locations together, once they
    // are all read: one batch builds its index at once, where each later
    // venue's batch would have to be added box by box.
    std::shared_ptr<CVLocationService> heldService;
    {
        std::lock_guard lock(self->mutex_);
        heldService = self->state_->locationService;
    }
    if (heldService) heldService->holdChanges();
    // Signalled whatever happens below, or every later load would wait forever.
    std::exception_ptr failure;
    try {
        for (const auto& venueId : venueIds) {
            if (self->venueHandlers_.getValue(venueId)) continue;
            std::string apiKey;
            std::string language;
            std::vector<CVUserRole> roles;
            std::shared_ptr<CVLocationService> service;
            {
                std::lock_guard lock(self->mutex_);
                apiKey = self->state_->apiKey.value_or("");
                language = self->state_->language.value_or(AmbrellLegacy::getLanguage());
                roles = self->state_->userRoles;
                service = self->state_->locationService;
            }
            auto source = std::make_shared<CVVenueLocationSource>(apiKey, venueId, language, roles);
            source->shareDocuments(documents);
            auto handler = std::make_shared<CVVenueHandler>(apiKey, venueId, source);
            self->venueHandlers_.setValue(handler, venueId);
            {
                std::lock_guard lock(self->mutex_);
                self->state_->loadedVenueIds.push_back(venueId);
            }
            if (service) co_await service->addLocationSource(source);
            source->addLocationsObserver(self);
            std::exception_ptr venueFailure;
            try {
                co_await handler->loadVenueData();
            } catch (...) {
                venueFailure = std::current_exception();
            }
            if (venueFailure) self->forgetFailedVenue(handler, source, service);
            self->publishLoadedGraphAndGeometry();
            if (venueFailure) {
                CVLog::core().error("The venue {} did not load: {}", venueId, describe(venueFailure));
                if (!failure) failure = venueFailure;
                if (stopAtFirstFailure) break;
            }
        }
    } catch (...) {
        if (!failure) failure = std::current_exception();
    }
    if (heldService) {
        // Named: g++ 12 destroys the temporaries of a co_await expression twice.
        auto release = heldService->releaseChanges();
        try {
            co_await std::move(release);
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
    }
    co_await self->loadingSemaphore_->signal();
    if (failure) std::rethrow_exception(failure);
}

void AmbrellInternal::forgetFailedVenue(const std::shared_ptr<CVVenueHandler>& handler,
                                        const std::shared_ptr<CVVenueLocationSource>& source,
                                        const std::shared_ptr<CVLocationService>& service) {
    const auto& venueId = handler->venueId();
    // What the source told before the handler failed (its locations come
    // before the route network) is taken back from the search and the rules.
    std::vector<std::string> told;
    for (const auto& location : source->getLocations()) {
        if (location) told.push_back(location->getLocationId());
    }
    if (!told.empty()) {
        if (service) service->onLocationsDelete(told, source);
        onLocationsDelete(told, source);
    }
    source->removeLocationsObserver(shared_from_this());
    handler->withdrawBuildings();
    venueHandlers_.remove(venueId);
    std::lock_guard lock(mutex_);
    std::erase(state_->loadedVenueIds, venueId);
}

std::vector<std::shared_ptr<CVVenueHandler>> AmbrellInternal::loadedHandlers() const {
    std::vector<std::string> ids;
    {
        std::lock_guard lock(mutex_);
        ids = state_->loadedVenueIds;
    }
    std::vector<std::shared_ptr<CVVenueHandler>> handlers;
    for (const auto& id : ids) {
        if (auto handler = venueHandlers_.getValue(id)) handlers.push_back(std::move(*handler));
    }
    return handlers;
}

void AmbrellInternal::publishLoadedGraphAndGeometry() {
    std::vector<std::shared_ptr<CVRouteNetworkData>> graphs;
    std::vector<std::shared_ptr<CVDerivedGeometry>> geometries;
    for (const auto& handler : loadedHandlers()) {
        graphs.push_back(handler->graph());
        const auto own = handler->derivedGeometries();
        geometries.insert(geometries.end(), own.begin(), own.end());
    }
    AmbrellLegacy::setLoadedGraph(CVRouteNetworkSeams::mergeRouteNetworks(graphs));
    auto collection = std::make_shared<const CVDerivedGeometryCollection>(geometries);
    std::lock_guard lock(mutex_);
    state_->loadedDerivedGeometry = std::move(collection);
}

void AmbrellInternal::noteClusteringSwitch() {
    const auto solution = AmbrellLegacy::solution();
    const bool clustering = solution && solution->config && solution->config->enableClustering;
    bool changed = false;
    {
        std::lock_guard lock(mutex_);
        changed = state_->clustering && *state_->clustering != clustering;
        state_->clustering = clustering;
    }
    if (changed) {
        if (const auto mapControl = activeMapControlInstance()) mapControl->refresh();
    }
}

// Reset.

void AmbrellInternal::reset(ErrorCompletion completion) {
    inTurn(
        false, [self = shared_from_this()] { return resetNow(self); }, std::move(completion));
}

Awaitable<void> AmbrellInternal::resetNow(std::shared_ptr<AmbrellInternal> self) {
    std::shared_ptr<CVLocationService> service;
    {
        std::lock_guard lock(self->mutex_);
        self->state_->ready = false;
        self->state_->displayRuleManager.reset();
    }
    AmbrellLegacy::setLoadedGraph(nullptr);
    {
        std::lock_guard lock(self->mutex_);
        self->state_->loadedDerivedGeometry.reset();
    }
    for (const auto& handler : self->venueHandlers_.values()) {
        if (auto source = std::dynamic_pointer_cast<CVLocationSource>(handler->locationSource())) {
            source->removeLocationsObserver(self);
        }
    }
    self->venueHandlers_.removeAll();
    AmbrellLegacy::unProvideAPIKey();
    {
        std::lock_guard lock(self->mutex_);
        self->state_->loadedVenueIds.clear();
        self->state_->venueList.clear();
        self->state_->apiKey.reset();
        self->state_->appData.reset();
        self->state_->categories.clear();
        service = self->state_->locationService;
    }
    // Not awaited: the unsubscriptions go out on their own.
    if (auto liveData = CVSubsystemSeams::liveDataManager()) {
        platform::Task::start([liveData = std::move(liveData)] { return liveData->unsubscribeAll(); });
    }
    if (service) co_await service->reset();
    CVMemoryCache::clearAllCaches();
}

// User roles and venues.

std::vector<CVUserRole> AmbrellInternal::userRoles() const {
    std::lock_guard lock(mutex_);
    return state_->userRoles;
}

std::vector<CVUserRole> AmbrellInternal::availableUserRoles() const {
    std::lock_guard lock(mutex_);
    return state_->availableUserRoles;
}

void AmbrellInternal::setUserRoles(std::vector<CVUserRole> userRoles) { setUserRoles(std::move(userRoles), {}); }

void AmbrellInternal::setUserRoles(std::vector<CVUserRole> userRoles, ErrorCompletion completion) {
    {
        std::lock_guard lock(mutex_);
        state_->userRoles = userRoles;
    }
    inTurn(
        true, [self = shared_from_this(), userRoles = std::move(userRoles)] { return applyUserRoles(self, userRoles); },
        std::move(completion));
}

Awaitable<void> AmbrellInternal::applyUserRoles(std::shared_ptr<AmbrellInternal> self,
                                                std::vector<CVUserRole> userRoles) {
    std::exception_ptr failure;
    // The new roles' document, read once for all venues.
    const auto documents = std::make_shared<CVLocationDocuments>();
    for (const auto& handler : self->loadedHandlers()) {
        const auto source = std::dynamic_pointer_cast<CVVenueLocationSource>(handler->locationSource());
        if (!source) continue;
        source->shareDocuments(documents);
        try {
            co_await source->reloadWithUserRoles(userRoles);
        } catch (...) {
            CVLog::core().error("The locations of venue {} did not reload: {}", handler->venueId(),
                                describe(std::current_exception()));
            if (!failure) failure = std::current_exception();
        }
    }
    if (failure) throw CVError(CVErrorCase::dataUnavailable);
}

void AmbrellInternal::addVenuesToSyncWithVenueIds(std::vector<std::string> venueIds, ErrorCompletion completion) {
    inTurn(
        false, [self = shared_from_this(), venueIds = std::move(venueIds)] { return addVenuesNow(self, venueIds); },
        std::move(completion));
}

Awaitable<void> AmbrellInternal::addVenuesNow(std::shared_ptr<AmbrellInternal> self,
                                              std::vector<std::string> venueIds) {
    std::shared_ptr<CVLocationService> service;
    std::shared_ptr<CVDisplayRuleManaging> manager;
    {
        std::lock_guard lock(self->mutex_);
        if (!self->state_->apiKey) throw CVError(CVErrorCase::invalidApiKey);
        service = self->state_->locationService;
        manager = self->state_->displayRuleManager;
        auto ids = self->state_->lastVenueIds.value_or(std::vector<std::string>{});
        if (!self->state_->lastVenueIds) {
            for (const auto& venue : self->state_->venueList) {
                if (venue) ids.push_back(venue->venueId);
            }
        }
        ids.insert(ids.end(), venueIds.begin(), venueIds.end());
        self->state_->lastVenueIds = withoutDuplicates(ids);
    }
    if (manager && service) {
        std::vector<std::string> held;
        for (const auto& location : service->axLocationIdToCVLocationMap().values()) {
            if (location) held.push_back(location->getLocationId());
        }
        platform::Task::startOn(platform::LocationServiceActor::shared().executor(),
                                [manager, held = std::move(held)] { return removeRulesOneByOne(manager, held); });
    }
    std::exception_ptr failure;
    try {
        co_await loadVenues(self, withoutDuplicates(venueIds), false);
    } catch (...) {
        failure = std::current_exception();
    }
    if (const auto mapControl = self->activeMapControlInstance()) self->observeWithMapControl(mapControl);
    if (failure) {
        CVLog::core().error("Adding venues failed: {}", describe(failure));
        throw CVError(CVErrorCase::dataUnavailable);
    }
}

}  // namespace ambrell
