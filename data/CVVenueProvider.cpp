#include "data/CVVenueProvider.h"

#include <utility>

#include "Ambrell/CVErrorCodes.h"
#include "Ambrell/CVLog.h"
#include "data/AmbrellLegacy.h"
#include "data/CVContentProviderChain.h"
#include "data/CVModelCache.h"
#include "data/CVOfflineBundleHelper.h"
#include "data/DataSetManager/CVDataSetCacheManagerInternal.h"
#include "foundation/CVAXAPI.h"

namespace ambrell {

void CVVenueProviderDelegate::onVenuesReady(const std::vector<std::shared_ptr<CVVenueInternal>>& /*venues*/) {}
void CVVenueProviderDelegate::onBuildingsReady(const std::vector<std::shared_ptr<CVBuildingInternal>>& /*buildings*/) {}
void CVVenueProviderDelegate::onVenueDetailsReady(const std::shared_ptr<CVVenueInternal>& /*venue*/) {}
void CVVenueProviderDelegate::onBuildingDetailsReady(const std::shared_ptr<CVBuildingInternal>& /*building*/) {}
void CVVenueProviderDelegate::onBuildingWithinBoundsReady(const std::shared_ptr<CVBuildingInternal>& /*building*/) {}

namespace {

using VenueChain = CVContentProviderChain<CVVenueCollection>;
using BuildingChain = CVContentProviderChain<CVBuildingCollection>;

constexpr std::string_view kClassName = "CVVenueProvider";

template <typename Collection>
typename CVContentProviderChain<Collection>::Parser collectionParser() {
    return [](const detail::ContentBytes& bytes, std::optional<platform::NSError>& error) {
        std::optional<JSONModelError> failure;
        auto collection = Collection::fromData(bytes, &failure);
        if (failure) error = *failure;
        return collection;
    };
}

// The venue list answers at once from what the device holds and downloads
// all the same; a document that reads as no list is a failure, and nothing
// is stored for it.
std::shared_ptr<const VenueChain::Departures> venueDepartures() {
    static const auto instance = std::make_shared<const VenueChain::Departures>(VenueChain::Departures{
        .errorCode = AmbrellErrorCode::kVenuesUnavailable,
        .emptyCopyIsMissing = false,
        .parseLocal = collectionParser<CVVenueCollection>(),
        .parseDownload = collectionParser<CVVenueCollection>(),
        .beforeStoringDownload = {},
        .parseFileOn304WithoutMemory = false,
        .unusableErrorCode = 0,
        .answerLocalAtOnce = true,
    });
    return instance;
}

std::shared_ptr<const BuildingChain::Departures> buildingDepartures() {
    static const auto instance = std::make_shared<const BuildingChain::Departures>(BuildingChain::Departures{
        .errorCode = AmbrellErrorCode::kSolutionUnavailable,
        .emptyCopyIsMissing = false,
        .parseLocal = collectionParser<CVBuildingCollection>(),
        .parseDownload = collectionParser<CVBuildingCollection>(),
        .beforeStoringDownload = {},
        .parseFileOn304WithoutMemory = false,
        .unusableErrorCode = AmbrellErrorCode::kBuildingsUnreadable,
        .answerLocalAtOnce = false,
    });
    return instance;
}

template <typename Collection>
std::shared_ptr<Collection> cached(const std::string& key) {
    return CVModelCache::memoryCache()->objectForKey<Collection>(key);
}

// Queues work on the class queue; once the runtime is down, `refused` runs
// instead (on the caller's thread), so that a completion is still called.
void onClassQueue(std::function<void()> work, const std::function<void()>& refused) {
    if (detail::runtimeStopped()) {
        refused();
        return;
    }
    CVVenueProvider::sharedVenueProviderQueue().async(std::move(work));
}

void onMain(std::function<void()> answer) { detail::answerOnMainQueue(std::move(answer)); }

}  // namespace

const platform::DispatchQueue& CVVenueProvider::sharedVenueProviderQueue() {
    // Never destroyed: requests may still be queued while the process exits.
    static const auto* const instance = new platform::DispatchQueue("com.ambrell.CVVenueProvider");
    return *instance;
}

void CVVenueProvider::setDelegate(std::weak_ptr<CVVenueProviderDelegate> delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<CVVenueProviderDelegate> CVVenueProvider::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}

void CVVenueProvider::setCoordinateBounds(std::optional<CVGeoBounds> bounds) {
    std::lock_guard lock(mutex_);
    coordinateBounds_ = bounds;
}

std::optional<CVGeoBounds> CVVenueProvider::coordinateBounds() const {
    std::lock_guard lock(mutex_);
    return coordinateBounds_;
}

std::string CVVenueProvider::venuesCacheKeyForSolutionId(std::string_view solutionId, std::string_view language) {
    return CVModelCache::cacheKeyForUrl(CVAXAPI::sharedInstance()->venueSyncUrlForSolutionId(solutionId, language));
}

std::string CVVenueProvider::buildingsCacheKeyForSolutionId(std::string_view solutionId, std::string_view language) {
    return CVModelCache::cacheKeyForUrl(CVAXAPI::sharedInstance()->buildingSyncUrlForSolutionId(solutionId, language));
}

void CVVenueProvider::getVenuesAsync(std::optional<std::string> solutionId, std::string language,
                                     VenuesCompletion completion) {
    static constexpr std::string_view kOperation = "-[CVVenueProvider getVenuesAsync:language:completionHandler:]";
    if (auto invalid = checkSolutionIdParameter(solutionId, kOperation, __FILE_NAME__, __LINE__)) {
        if (completion) completion({}, std::move(invalid));
        return;
    }
    auto url = CVAXAPI::sharedInstance()->venueSyncUrlForSolutionId(*solutionId, language);
    VenueChain::ReadyCallback ready = [self = weak_from_this().lock()](const std::shared_ptr<CVVenueCollection>& list) {
        if (!self) return;
        if (auto delegate = self->delegate()) delegate->onVenuesReady(list->venues);
    };
    VenueChain::Completion answer;
    if (completion) {
        answer = [completion = std::move(completion)](const std::shared_ptr<CVVenueCollection>& list,
                                                      std::optional<platform::NSError> error) {
            completion(list ? list->venues : Venues{}, std::move(error));
        };
    }
    VenueChain::run(sharedVenueProviderQueue(), venueDepartures(),
                    VenueChain::Request{std::move(*solutionId), std::move(url), std::string(kOperation),
                                        std::move(ready), std::move(answer)});
}

void CVVenueProvider::getBuildingsAsync(std::string /*arg*/, std::optional<std::string> solutionId,
                                        std::string language, BuildingsCompletion completion) {
    static constexpr std::string_view kOperation =
        "-[CVVenueProvider getBuildingsAsync:arg:language:completionHandler:]";
    if (auto invalid = checkSolutionIdParameter(solutionId, kOperation, __FILE_NAME__, __LINE__)) {
        if (completion) completion({}, std::move(invalid));
        return;
    }
    auto url = CVAXAPI::sharedInstance()->buildingSyncUrlForSolutionId(*solutionId, language);
    BuildingChain::ReadyCallback ready =
        [self = weak_from_this().lock()](const std::shared_ptr<CVBuildingCollection>& list) {
            if (!self) return;
            if (auto delegate = self->delegate()) delegate->onBuildingsReady(list->buildings);
        };
    BuildingChain::Completion answer;
    if (completion) {
        answer = [completion = std::move(completion)](const std::shared_ptr<CVBuildingCollection>& list,
                                                      std::optional<platform::NSError> error) {
            completion(list ? list->buildings : Buildings{}, std::move(error));
        };
    }
    BuildingChain::run(sharedVenueProviderQueue(), buildingDepartures(),
                       BuildingChain::Request{std::move(*solutionId), std::move(url), std::string(kOperation),
                                              std::move(ready), std::move(answer)});
}

// The look-ups below share one shape: on the class queue, take the list from
// memory and answer from it; without it, fetch it once and look again, and
// answer the fetch's error when it fails.

void CVVenueProvider::getVenueDetailsAsync(std::string venueId, std::optional<std::string> solutionId,
                                           std::string language, VenueCompletion completion) {
    static constexpr std::string_view kOperation =
        "-[CVVenueProvider getVenueDetailsAsync:arg:language:completionHandler:]";
    if (auto invalid = checkSolutionIdParameter(solutionId, kOperation, __FILE_NAME__, __LINE__)) {
        if (completion) completion(nullptr, std::move(invalid));
        return;
    }
    lookUpVenue(std::move(venueId), std::move(*solutionId), std::move(language), std::move(completion), false);
}

void CVVenueProvider::lookUpVenue(std::string venueId, std::string solutionId, std::string language,
                                  VenueCompletion completion, bool fetched) {
    auto self = shared_from_this();
    auto fail = [completion](std::int64_t code) {
        if (completion) onMain([completion, code] { completion(nullptr, contentProviderError(code)); });
    };
    onClassQueue(
        [self, venueId = std::move(venueId), solutionId = std::move(solutionId), language = std::move(language),
         completion, fetched, fail]() mutable {
            const auto list = cached<CVVenueCollection>(venuesCacheKeyForSolutionId(solutionId, language));
            if (list) {
                std::shared_ptr<CVVenueInternal> found;
                for (const auto& venue : list->venues) {
                    if (venue && venue->venueId == venueId) {
                        found = venue;
                        break;
                    }
                }
                if (!found) {
                    fail(AmbrellErrorCode::kVenueNotFound);
                    return;
                }
                onMain([self, found, completion] {
                    if (auto delegate = self->delegate()) delegate->onVenueDetailsReady(found);
                    if (completion) completion(found, std::nullopt);
                });
                return;
            }
            if (fetched) {
                fail(AmbrellErrorCode::kVenuesUnavailable);
                return;
            }
            self->getVenuesAsync(solutionId, language,
                                 [self, venueId = std::move(venueId), solutionId, language, completion](
                                     const Venues& /*venues*/, std::optional<platform::NSError> error) mutable {
                                     if (error) {
                                         if (completion) completion(nullptr, std::move(error));
                                         return;
                                     }
                                     self->lookUpVenue(std::move(venueId), std::move(solutionId), std::move(language),
                                                       std::move(completion), true);
                                 });
        },
        [fail] { fail(AmbrellErrorCode::kVenuesUnavailable); });
}

void CVVenueProvider::getBuildingDetailsAsync(std::string buildingId, std::optional<std::string> solutionId,
                                              std::string language, BuildingCompletion completion) {
    static constexpr std::string_view kOperation =
        "-[CVVenueProvider getBuildingDetailsAsync:arg:language:completionHandler:]";
    if (auto invalid = checkSolutionIdParameter(solutionId, kOperation, __FILE_NAME__, __LINE__)) {
        if (completion) completion(nullptr, std::move(invalid));
        return;
    }
    auto find = [buildingId = std::move(buildingId)](const CVBuildingCollection& list) {
        for (const auto& building : list.buildings) {
            if (building && building->buildingId == buildingId) return building;
        }
        return std::shared_ptr<CVBuildingInternal>();
    };
    auto self = shared_from_this();
    lookUpBuilding(
        std::move(*solutionId), std::move(language), std::move(find),
        [self, completion = std::move(completion)](std::shared_ptr<CVBuildingInternal> building,
                                                   std::optional<platform::NSError> error) {
            if (!building && !error) error = contentProviderError(AmbrellErrorCode::kBuildingNotFound);
            if (building) {
                if (auto delegate = self->delegate()) delegate->onBuildingDetailsReady(building);
            }
            if (completion) completion(std::move(building), std::move(error));
        },
        false);
}

void CVVenueProvider::getBuildingWithinBoundsAsync(CVGeoBounds bounds, std::optional<std::string> solutionId,
                                                   std::string language, BuildingCompletion completion) {
    static constexpr std::string_view kOperation =
        "-[CVVenueProvider getBuildingWithinBoundsAsync:arg:language:completionHandler:]";
    if (auto invalid = checkSolutionIdParameter(solutionId, kOperation, __FILE_NAME__, __LINE__)) {
        if (completion) completion(nullptr, std::move(invalid));
        return;
    }
    // Every candidate ranks the same (none is known to contain the bounds,
    // and none has a distance), so the first in list order is the answer.
    auto find = [within = CVGeoBounds(bounds.southWest(), bounds.northEast())](const CVBuildingCollection& list) {
        for (const auto& building : list.buildings) {
            const auto box = building ? building->boundingBox() : std::nullopt;
            if (box && box->intersectsWithOther(within)) return building;
        }
        return std::shared_ptr<CVBuildingInternal>();
    };
    auto self = shared_from_this();
    lookUpBuilding(
        std::move(*solutionId), std::move(language), std::move(find),
        [self, completion = std::move(completion)](const std::shared_ptr<CVBuildingInternal>& building,
                                                   std::optional<platform::NSError> error) {
            // A list that could not be had is the completion's news alone.
            if (error) {
                if (completion) completion(nullptr, std::move(error));
                return;
            }
            if (completion) {
                completion(building, building ? std::nullopt : std::optional(platform::NSError{"", 0, {}}));
            }
            if (auto delegate = self->delegate()) delegate->onBuildingWithinBoundsReady(building);
        },
        false);
}

void CVVenueProvider::lookUpBuilding(std::string solutionId, std::string language, BuildingFinder find,
                                     BuildingCompletion answer, bool fetched) {
    auto self = shared_from_this();
    auto fail = [answer](std::int64_t code) {
        onMain([answer, code] { answer(nullptr, contentProviderError(code)); });
    };
    onClassQueue(
        [self, solutionId = std::move(solutionId), language = std::move(language), find = std::move(find), answer,
         fetched, fail]() mutable {
            const auto list = cached<CVBuildingCollection>(buildingsCacheKeyForSolutionId(solutionId, language));
            if (list) {
                onMain([answer, found = find(*list)] { answer(found, std::nullopt); });
                return;
            }
            if (fetched) {
                fail(AmbrellErrorCode::kSolutionUnavailable);
                return;
            }
            self->getBuildingsAsync(
                "all", solutionId, language,
                [self, solutionId, language, find = std::move(find),
                 answer](const Buildings& /*buildings*/, std::optional<platform::NSError> error) mutable {
                    if (error) {
                        answer(nullptr, std::move(error));
                        return;
                    }
                    self->lookUpBuilding(std::move(solutionId), std::move(language), std::move(find), std::move(answer),
                                         true);
                });
        },
        [fail] { fail(AmbrellErrorCode::kSolutionUnavailable); });
}

void CVVenueProvider::getDataFromPointAsync(CVPoint point, std::optional<std::string> solutionId, std::string language,
                                            PointCompletion completion) {
    static constexpr std::string_view kOperation =
        "-[CVVenueProvider getDataFromPointAsync:solutionId:language:completionHandler:]";
    if (auto invalid = checkSolutionIdParameter(solutionId, kOperation, __FILE_NAME__, __LINE__)) {
        if (completion) completion(nullptr, nullptr, nullptr, std::move(invalid));
        return;
    }
    lookUpPoint(point, std::move(*solutionId), std::move(language), std::move(completion), false);
}

void CVVenueProvider::lookUpPoint(const CVPoint& point, std::string solutionId, std::string language,
                                  PointCompletion completion, bool fetched) {
    auto self = shared_from_this();
    // The point look-up answers on the class queue, also with an error.
    auto fail = [completion](platform::NSError error) {
        if (!completion) return;
        onClassQueue([completion, error] { completion(nullptr, nullptr, nullptr, error); },
                     [completion, error] { completion(nullptr, nullptr, nullptr, error); });
    };
    onClassQueue(
        [self, point, solutionId = std::move(solutionId), language = std::move(language), completion, fetched,
         fail]() mutable {
            if (const auto data = getDataFromPoint(point, solutionId, language)) {
                if (completion) completion(data->venue, data->building, data->floor, std::nullopt);
                return;
            }
            if (fetched) {
                const bool venuesHeld =
                    cached<CVVenueCollection>(venuesCacheKeyForSolutionId(solutionId, language)) != nullptr;
                fail(contentProviderError(venuesHeld ? AmbrellErrorCode::kSolutionUnavailable
                                                     : AmbrellErrorCode::kVenuesUnavailable));
                return;
            }
            self->getVenuesAsync(solutionId, language,
                                 [self, point, solutionId, language, completion,
                                  fail](const Venues& /*venues*/, std::optional<platform::NSError> error) {
                                     if (error) {
                                         fail(*error);
                                         return;
                                     }
                                     self->getBuildingsAsync(
                                         "all", solutionId, language,
                                         [self, point, solutionId, language, completion, fail](
                                             const Buildings& /*buildings*/, std::optional<platform::NSError> error) {
                                             if (error) {
                                                 fail(*error);
                                                 return;
                                             }
                                             self->lookUpPoint(point, solutionId, language, completion, true);
                                         });
                                 });
        },
        [fail] { fail(contentProviderError(AmbrellErrorCode::kVenuesUnavailable)); });
}

void CVVenueProvider::getVenuesWithCompletion(VenuesCompletion completion) {
    getVenuesAsync(AmbrellLegacy::getAmbrellAPIKey(), AmbrellLegacy::getLanguage(), std::move(completion));
}

void CVVenueProvider::getBuildingsWithCompletion(BuildingsCompletion completion) {
    getBuildingsAsync("all", AmbrellLegacy::getAmbrellAPIKey(), AmbrellLegacy::getLanguage(), std::move(completion));
}

void CVVenueProvider::getVenueWithId(std::string venueId, VenueCompletion completion) {
    getVenueDetailsAsync(std::move(venueId), AmbrellLegacy::getAmbrellAPIKey(), AmbrellLegacy::getLanguage(),
                         std::move(completion));
}

void CVVenueProvider::getBuildingWithId(std::string buildingId, BuildingCompletion completion) {
    getBuildingDetailsAsync(std::move(buildingId), AmbrellLegacy::getAmbrellAPIKey(), AmbrellLegacy::getLanguage(),
                            std::move(completion));
}

void CVVenueProvider::getBuildingWithinBounds(CVGeoBounds bounds, BuildingCompletion completion) {
    getBuildingWithinBoundsAsync(bounds, AmbrellLegacy::getAmbrellAPIKey(), AmbrellLegacy::getLanguage(),
                                 std::move(completion));
}

void CVVenueProvider::getDataFromPoint(CVPoint point, PointCompletion completion) {
    getDataFromPointAsync(point, AmbrellLegacy::getAmbrellAPIKey(), AmbrellLegacy::getLanguage(),
                          std::move(completion));
}

void CVVenueProvider::getVenues() { getVenuesWithCompletion({}); }

void CVVenueProvider::getBuildings() { getBuildingsWithCompletion({}); }

std::optional<CVVenuePointData> CVVenueProvider::getDataFromPoint(const CVPoint& point, std::string_view solutionId,
                                                                  std::string_view language) {
    const auto venues = cached<CVVenueCollection>(venuesCacheKeyForSolutionId(solutionId, language));
    const auto buildings = cached<CVBuildingCollection>(buildingsCacheKeyForSolutionId(solutionId, language));
    if (!venues || !buildings) return std::nullopt;
    return CVVenueCollection::dataFromPoint(*venues, *buildings, point);
}

std::optional<CVVenuePointData> CVVenueProvider::getDataFromPoint(const CVPoint& point) {
    return getDataFromPoint(point, AmbrellLegacy::getAmbrellAPIKey().value_or(""), AmbrellLegacy::getLanguage());
}

bool CVVenueProvider::isOfflineDataAvailableForKey(std::string_view key, std::string_view solutionId) {
    return AmbrellLegacy::dataSetCacheManager()->pathForCachedUrl(key, solutionId).has_value();
}

bool CVVenueProvider::isOfflineVenueDataAvailableForSolutionId(std::string_view solutionId, std::string_view language) {
    // The data set names its files by the URL as it was downloaded; the cache
    // key has the production host, which names no file in another environment.
    const bool available =
        isOfflineDataAvailableForKey(CVAXAPI::sharedInstance()->venueSyncUrlForSolutionId(solutionId, language),
                                     solutionId) ||
        CVOfflineBundleHelper::offlinePathForEndpointData("sync/venues", solutionId, language).has_value();
    CVLog::core().debug("{} {}.isOfflineDataAvailable(venues) = {}",
                        "+[CVVenueProvider isOfflineVenueDataAvailableForSolutionId:language:]", kClassName,
                        available ? "YES" : "NO");
    return available;
}

bool CVVenueProvider::isOfflineBuildingDataAvailableForSolutionId(std::string_view solutionId,
                                                                  std::string_view language) {
    // The resource the building list reads: named by the URL's path and language.
    const auto url = CVAXAPI::sharedInstance()->buildingSyncUrlForSolutionId(solutionId, language);
    const bool available = isOfflineDataAvailableForKey(url, solutionId) ||
                           CVOfflineBundleHelper::offlinePathForEndpointUrl(url, solutionId).has_value();
    CVLog::core().debug("{} {}.isOfflineDataAvailable(buildings) = {}",
                        "+[CVVenueProvider isOfflineBuildingDataAvailableForSolutionId:language:]", kClassName,
                        available ? "YES" : "NO");
    return available;
}

bool CVVenueProvider::isOfflineDataAvailableForSolutionId(std::string_view solutionId, std::string_view language) {
    const bool venues = isOfflineVenueDataAvailableForSolutionId(solutionId, language);
    const bool buildings = isOfflineBuildingDataAvailableForSolutionId(solutionId, language);
    return venues && buildings;
}

}  // namespace ambrell
