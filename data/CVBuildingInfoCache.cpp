#include "data/CVBuildingInfoCache.h"

#include <utility>

#include "data/CVVenueProvider.h"
#include "foundation/CVTextCase.h"

namespace ambrell {

std::shared_ptr<CVBuildingInfoCache> CVBuildingInfoCache::newWithSolutionId(std::optional<std::string> solutionId,
                                                                            std::optional<std::string> language,
                                                                            Completion completion) {
    return initWithSolutionId(std::move(solutionId), std::move(language), std::move(completion));
}

std::shared_ptr<CVBuildingInfoCache> CVBuildingInfoCache::initWithSolutionId(std::optional<std::string> solutionId,
                                                                             std::optional<std::string> language,
                                                                             Completion completion) {
    if (!solutionId) return nullptr;
    auto cache = std::make_shared<CVBuildingInfoCache>();
    cache->setupWithSolutionId(std::move(solutionId), std::move(language), std::move(completion));
    return cache;
}

void CVBuildingInfoCache::setupWithSolutionId(std::optional<std::string> solutionId,
                                              std::optional<std::string> language, Completion completion) {
    if (!solutionId || !language) return;
    {
        std::unique_lock lock(mutex_);
        if (solutionId == solutionId_ && language == language_ && buildings_ && !error_ && !waiting_) {
            lock.unlock();
            if (completion) completion(shared_from_this());
            return;
        }
        // A running fetch for the same solution and language is joined rather
        // than started again.
        if (!(waiting_ && solutionId == solutionId_ && language == language_)) {
            buildings_.reset();
            buildingFromBuildingId_.reset();
            floorNameFromFloorNumber_.reset();
            error_.reset();
            solutionId_ = std::move(solutionId);
            language_ = std::move(language);
            waiting_.reset();
            ++generation_;
        }
    }
    fetchBuildings(std::move(completion));
}

void CVBuildingInfoCache::fetchBuildings(Completion completion) {
    auto self = shared_from_this();
    std::shared_ptr<Waiting> waiting;
    std::uint64_t generation = 0;
    {
        std::unique_lock lock(mutex_);
        if (waiting_) {
            if (completion) waiting_->push_back(std::move(completion));
            return;
        }
        if (buildings_) {
            lock.unlock();
            if (completion) completion(self);
            return;
        }
        buildings_.emplace();
        buildingFromBuildingId_.reset();
        floorNameFromFloorNumber_.reset();
        waiting = waiting_ = std::make_shared<Waiting>();
        if (completion) waiting->push_back(std::move(completion));
        generation = generation_;
    }
    auto provider = venueProvider();
    // The venue list is asked first so that it is in memory along with the
    // buildings; its answer does not matter here.
    provider->getVenuesWithCompletion([self, provider, waiting, generation](auto&&, auto&&) {
        provider->getBuildingsWithCompletion(
            [self, waiting, generation](CVVenueProvider::Buildings buildings, std::optional<platform::NSError> error) {
                self->finishFetch(waiting, generation, std::move(buildings), std::move(error));
            });
    });
}

void CVBuildingInfoCache::finishFetch(const std::shared_ptr<Waiting>& waiting, std::uint64_t generation,
                                      Buildings buildings, std::optional<platform::NSError> error) {
    Waiting completions;
    {
        std::lock_guard lock(mutex_);
        if (generation == generation_) {
            error_ = std::move(error);
            if (!error_) {
                buildings_ = std::move(buildings);
                buildingFromBuildingId_.reset();
                floorNameFromFloorNumber_.reset();
            }
            if (waiting_ == waiting) waiting_.reset();
        }
        completions.swap(*waiting);
    }
    const auto self = shared_from_this();
    for (const auto& completion : completions) completion(self);
}

std::optional<CVBuildingInfoCache::Buildings> CVBuildingInfoCache::buildings() const {
    std::lock_guard lock(mutex_);
    return buildings_;
}

void CVBuildingInfoCache::setBuildings(std::optional<Buildings> buildings) {
    std::lock_guard lock(mutex_);
    buildings_ = std::move(buildings);
    buildingFromBuildingId_.reset();
    floorNameFromFloorNumber_.reset();
}

std::optional<std::string> CVBuildingInfoCache::solutionId() const {
    std::lock_guard lock(mutex_);
    return solutionId_;
}

void CVBuildingInfoCache::setSolutionId(std::optional<std::string> solutionId) {
    std::lock_guard lock(mutex_);
    solutionId_ = std::move(solutionId);
}

std::optional<std::string> CVBuildingInfoCache::language() const {
    std::lock_guard lock(mutex_);
    return language_;
}

void CVBuildingInfoCache::setLanguage(std::optional<std::string> language) {
    std::lock_guard lock(mutex_);
    language_ = std::move(language);
}

std::optional<platform::NSError> CVBuildingInfoCache::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

void CVBuildingInfoCache::setError(std::optional<platform::NSError> error) {
    std::lock_guard lock(mutex_);
    error_ = std::move(error);
}

std::optional<CVBuildingInfoCache::BuildingsById> CVBuildingInfoCache::buildingFromBuildingId() {
    std::lock_guard lock(mutex_);
    if (!buildingFromBuildingId_ && buildings_) {
        BuildingsById map;
        for (const auto& building : *buildings_) {
            // A building without an administrative id cannot be asked for by one.
            if (building && building->administrativeId) {
                map.insert_or_assign(lowercasedText(*building->administrativeId), building);
            }
        }
        buildingFromBuildingId_ = std::move(map);
    }
    return buildingFromBuildingId_;
}

std::optional<CVBuildingInfoCache::FloorNames> CVBuildingInfoCache::floorNameFromFloorNumber() {
    std::lock_guard lock(mutex_);
    if (!floorNameFromFloorNumber_ && buildings_) {
        FloorNames map;
        for (const auto& building : *buildings_) {
            if (!building) continue;
            for (const auto& [key, floor] : building->floors) {
                if (floor && floor->floorIndex) map.insert_or_assign(*floor->floorIndex, floor->name);
            }
        }
        floorNameFromFloorNumber_ = std::move(map);
    }
    return floorNameFromFloorNumber_;
}

std::shared_ptr<CVVenueProvider> CVBuildingInfoCache::venueProvider() {
    std::lock_guard lock(mutex_);
    if (!venueProvider_) venueProvider_ = std::make_shared<CVVenueProvider>();
    return venueProvider_;
}

}  // namespace ambrell
