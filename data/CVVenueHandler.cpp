#include "data/CVVenueHandler.h"

#include <algorithm>
#include <utility>

#include "Ambrell/CVError.h"
#include "Ambrell/ErrorObjects.h"
#include "data/CVBuildingCollection.h"
#include "data/CVBuildingProvider.h"
#include "data/CVDerivedGeometryProvider.h"
#include "data/CVEntrySeams.h"
#include "data/CVMemoryCache.h"
#include "data/CVModelCache.h"
#include "data/CVRouteNetworkSeams.h"
#include "data/CVVenueInternal.h"
#include "data/CVVenueProvider.h"
#include "platform/NSErrorException.h"
#include "platform/runtime/CompletionForm.h"
#include "platform/runtime/Continuation.h"

namespace ambrell {

namespace {

// Awaits an operation that answers (value, error) through a completion, once:
// a second answer is ignored. The error is thrown as it came.
template <typename Value, typename Start>
platform::Awaitable<Value> answerOf(Start start) {
    struct Outcome {
        std::mutex mutex;
        bool answered = false;
        Value value{};
        std::optional<platform::NSError> error;
    };
    auto turn = co_await platform::Continuation::makeForCurrentExecutor();
    auto outcome = std::make_shared<Outcome>();
    start([turn, outcome](Value value, std::optional<platform::NSError> error) {
        {
            std::lock_guard lock(outcome->mutex);
            if (std::exchange(outcome->answered, true)) return;
            outcome->value = std::move(value);
            outcome->error = std::move(error);
        }
        turn->resume();
    });
    co_await turn->wait();
    std::lock_guard lock(outcome->mutex);
    if (outcome->error) throw platform::NSErrorException(*outcome->error);
    co_return std::move(outcome->value);
}

// Overlapping loads of different venues each read, extend and store the one
// collection; one at a time, none loses another's buildings.
std::mutex& solutionBuildingsMutex() {
    static std::mutex mutex;
    return mutex;
}

struct BuildingListObserver {
    std::mutex mutex;
    std::function<void(CVVenueHandler::BuildingListStep)> observer;
};

BuildingListObserver& buildingListObserver() {
    static BuildingListObserver observer;
    return observer;
}

void observeBuildingList(CVVenueHandler::BuildingListStep step) {
    auto& shared = buildingListObserver();
    std::function<void(CVVenueHandler::BuildingListStep)> observer;
    {
        std::lock_guard lock(shared.mutex);
        observer = shared.observer;
    }
    if (observer) observer(step);
}

}  // namespace

CVVenueHandler::CVVenueHandler(std::string solutionId, std::string venueId,
                               std::shared_ptr<CVVenueLocationSourcing> locationSource)
    : solutionId_(std::move(solutionId)), venueId_(std::move(venueId)), locationSource_(std::move(locationSource)) {
    CVVenueInternal::setGraphDeterminer(&CVVenueHandler::determineHasGraph);
}

CVVenueHandler::Buildings CVVenueHandler::buildings() const {
    std::lock_guard lock(mutex_);
    return buildings_;
}

CVVenueHandler::DerivedGeometries CVVenueHandler::derivedGeometries() const {
    std::lock_guard lock(mutex_);
    return derivedGeometries_;
}

std::shared_ptr<CVRouteNetworkData> CVVenueHandler::graph() const {
    std::lock_guard lock(mutex_);
    return graph_;
}

platform::Awaitable<void> CVVenueHandler::loadVenueData() {
    const auto entry = CVEntryObjectSeam::installed();
    const auto apiKey = entry ? entry->apiKey() : std::nullopt;
    if (!apiKey) throw CVError(CVErrorCase::invalidApiKey);
    const std::string language = entry->language();

    // Named, not temporaries of the co_await expressions: g++ 12 destroys
    // such temporaries twice.
    const auto buildingProvider = CVBuildingProvider::initWithVenueId(venueId_);
    auto fetchBuildings = [&](auto answer) {
        buildingProvider->getBuildingsAsync(venueId_, apiKey, language, std::move(answer));
    };
    auto buildingsAnswer = answerOf<Buildings>(std::move(fetchBuildings));
    const Buildings buildings = co_await std::move(buildingsAnswer);
    {
        std::lock_guard lock(mutex_);
        buildings_ = buildings;
    }
    shareBuildings(buildings, language);

    const auto geometryProvider = std::make_shared<CVDerivedGeometryProvider>(venueId_);
    auto fetchGeometries = [&](auto answer) { geometryProvider->getDerivedGeometryWithCompletion(std::move(answer)); };
    auto geometriesAnswer =
        answerOf<std::shared_ptr<CVDerivedGeometryProvider::DerivedGeometries>>(std::move(fetchGeometries));
    const auto geometries = co_await std::move(geometriesAnswer);
    {
        std::lock_guard lock(mutex_);
        derivedGeometries_ = geometries ? *geometries : DerivedGeometries{};
    }

    if (locationSource_) {
        auto locations = locationSource_->loadLocations();
        co_await std::move(locations);
    }

    auto fetchGraph = [this](auto answer) {
        CVRouteNetworkSeams::getRouteNetworkForSolutionAsync(solutionId_, venueId_, std::move(answer));
    };
    auto graphAnswer = answerOf<std::shared_ptr<CVRouteNetworkData>>(std::move(fetchGraph));
    // Neither a network nor an error: the venue has no route network, which
    // is no reason to fail the venue's load.
    auto graph = co_await std::move(graphAnswer);
    std::lock_guard lock(mutex_);
    graph_ = std::move(graph);
}

void CVVenueHandler::shareBuildings(const Buildings& buildings, const std::string& language) {
    // A new venue object with the buildings replaces the cached one, as a
    // new collection replaces the held one below: other threads may be
    // reading the cached venue (its location source, the route networks).
    if (const auto venue = CVMemoryCache::venueCache().getValue(venueId_); venue && *venue) {
        auto published = std::make_shared<CVVenueInternal>(**venue);
        published->buildings = buildings;
        CVMemoryCache::venueCache().setValue(std::move(published), venueId_);
    }
    const auto key = CVVenueProvider::buildingsCacheKeyForSolutionId(solutionId_, language);
    const auto cache = CVModelCache::memoryCache();
    // Tried first, so that a test's observer learns of a load that waits.
    std::unique_lock lock(solutionBuildingsMutex(), std::try_to_lock);
    if (!lock.owns_lock()) {
        observeBuildingList(BuildingListStep::waitingForAnotherLoad);
        lock.lock();
    }
    // A new collection replaces the held one: the venue provider may be
    // reading the held one's list on another thread.
    auto grown = std::make_shared<CVBuildingCollection>();
    if (const auto held = cache->objectForKey<CVBuildingCollection>(key)) grown->buildings = held->buildings;
    grown->buildings.insert(grown->buildings.end(), buildings.begin(), buildings.end());
    observeBuildingList(BuildingListStep::aboutToStore);
    cache->setObject(std::move(grown), key);
    std::lock_guard own(mutex_);
    sharedBuildingsKey_ = key;
}

void CVVenueHandler::setBuildingListObserverForTesting(std::function<void(BuildingListStep)> observer) {
    auto& shared = buildingListObserver();
    std::lock_guard lock(shared.mutex);
    shared.observer = std::move(observer);
}

void CVVenueHandler::withdrawBuildings() {
    std::optional<std::string> key;
    Buildings added;
    {
        std::lock_guard own(mutex_);
        key = std::exchange(sharedBuildingsKey_, std::nullopt);
        added = buildings_;
    }
    if (!key || added.empty()) return;
    const auto cache = CVModelCache::memoryCache();
    std::lock_guard lock(solutionBuildingsMutex());
    const auto held = cache->objectForKey<CVBuildingCollection>(*key);
    if (!held) return;
    // These very objects, not their ids: another venue's copy stays.
    auto shrunk = std::make_shared<CVBuildingCollection>();
    for (const auto& building : held->buildings) {
        if (std::ranges::find(added, building) == added.end()) shrunk->buildings.push_back(building);
    }
    cache->setObject(std::move(shrunk), *key);
}

void CVVenueHandler::loadVenueDataWithCompletion(Completion completion) {
    auto shared = std::make_shared<Completion>(std::move(completion));
    auto load = [](std::shared_ptr<CVVenueHandler> self) -> platform::Awaitable<void> {
        co_await self->loadVenueData();
    };
    auto self = weak_from_this().lock();
    platform::completeOn(
        platform::CompletionQueue::workingTask, self ? load(std::move(self)) : loadVenueData(),
        [shared] {
            if (*shared) (*shared)(std::nullopt);
        },
        [shared](const std::exception_ptr& error) {
            if (*shared) (*shared)(errorObjectFor(error));
        });
}

bool CVVenueHandler::determineHasGraph(const CVVenueInternal& venue) {
    const auto entry = CVEntryObjectSeam::installed();
    const auto handler = entry ? entry->venueHandlerForVenueId(venue.venueId) : nullptr;
    return handler && CVRouteNetworkSeams::networkCount(handler->graph()) > 0;
}

}  // namespace ambrell
