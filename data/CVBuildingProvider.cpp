#include "data/CVBuildingProvider.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "Ambrell/CVErrorCodes.h"
#include "Ambrell/CVLog.h"
#include "Ambrell/ErrorObjects.h"
#include "data/AmbrellLegacy.h"
#include "data/CVBuildingCollection.h"
#include "data/CVContentProviderChain.h"
#include "data/CVModelCache.h"
#include "data/CVOfflineBundleHelper.h"
#include "data/DataSetManager/CVDataSetCacheManagerInternal.h"
#include "foundation/CVAXAPI.h"
#include "platform/FileSystem.h"
#include "platform/TextEncoding.h"

namespace ambrell {

namespace {

constexpr std::string_view kListOperation = "-[CVBuildingProvider getBuildingsAsync:arg:language:completionHandler:]";
constexpr std::string_view kAllVenues = "all";
// The building list shares its "nothing to answer" code with the solution.
constexpr auto kBuildingsUnavailable = AmbrellErrorCode::kSolutionUnavailable;

using Buildings = CVBuildingProvider::Buildings;

// Bytes that are not UTF-8 text or hold no building list; none with the
// reason when they do not read.
std::shared_ptr<CVBuildingCollection> parseCollection(const std::vector<std::uint8_t>& bytes,
                                                      std::optional<JSONModelError>& failure) {
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (!platform::isValidUTF8(text)) {
        failure = JSONModelError::errorInvalidDataWithMessage("The buildings document is not UTF-8 text.");
        return nullptr;
    }
    auto collection = std::make_shared<CVBuildingCollection>();
    if (!collection->initWithData(bytes, &failure)) {
        if (!failure) failure = JSONModelError::errorBadJSON();
        return nullptr;
    }
    return collection;
}

// What the device holds when the web service cannot be asked: the data set's
// copy of the venue's URL, else the data set's copy of the solution-wide URL
// (what a synchronisation fetches), else the host app's resource of the
// endpoint. The last two hold the whole solution's buildings, so they are cut
// down to the requested venue's.
std::shared_ptr<CVBuildingCollection> readHeldCopy(const std::string& url, const std::string& wideUrl,
                                                   const std::string& solutionId, const std::string& requestVenueId) {
    std::optional<JSONModelError> ignored;
    const auto manager = AmbrellLegacy::dataSetCacheManager();
    const auto parsed = [&ignored](const std::optional<std::vector<std::uint8_t>>& data) {
        return data && !data->empty() ? parseCollection(*data, ignored) : nullptr;
    };
    if (auto collection = parsed(manager->dataForCachedUrl(url, solutionId))) return collection;
    auto collection = parsed(manager->dataForCachedUrl(wideUrl, solutionId));
    if (!collection) {
        const auto resource = CVOfflineBundleHelper::offlinePathForEndpointUrl(url, solutionId);
        collection = parsed(resource ? platform::readFile(*resource) : std::nullopt);
    }
    if (collection && requestVenueId != kAllVenues) {
        std::erase_if(collection->buildings, [&requestVenueId](const auto& building) {
            return !building || building->venueId != requestVenueId;
        });
    }
    return collection;
}

// The list of the provider's key, or the one a fetch just answered when the
// memory cache has already let it go (a fetch does not run twice).
std::optional<Buildings> heldList(const std::string& key, const std::optional<Buildings>& fetched) {
    if (auto collection = CVModelCache::memoryCache()->objectForKey<CVBuildingCollection>(key)) {
        return collection->buildings;
    }
    return fetched;
}

// A building intersecting the bounds, with how well it fits them. The records
// are made with their defaults, so the stable sort keeps the list order among
// equals.
struct CVBuildingContainment {
    std::shared_ptr<CVBuildingInternal> building;
    bool isContained = false;
    double distance = 0;
};

std::shared_ptr<CVBuildingInternal> buildingWithin(const Buildings& buildings, const CVGeoBounds& bounds) {
    std::vector<CVBuildingContainment> records;
    for (const auto& building : buildings) {
        if (!building) continue;
        if (const auto box = building->boundingBox(); box && box->intersectsWithOther(bounds)) {
            records.push_back({building});
        }
    }
    std::stable_sort(records.begin(), records.end(), [](const auto& lhs, const auto& rhs) {
        if (lhs.isContained != rhs.isContained) return lhs.isContained;
        return lhs.distance < rhs.distance;
    });
    return records.empty() ? nullptr : records.front().building;
}

}  // namespace

CVBuildingProvider::CVBuildingProvider(std::string venueId) : venueId_(std::move(venueId)) {}

std::shared_ptr<CVBuildingProvider> CVBuildingProvider::initWithVenueId(std::string venueId) {
    return std::make_shared<CVBuildingProvider>(std::move(venueId));
}

const platform::DispatchQueue& CVBuildingProvider::queue() {
    // Never destroyed: requests may still be queued while the process exits.
    static const auto* const instance = new platform::DispatchQueue("com.ambrell.CVBuildingProvider");
    return *instance;
}

std::string CVBuildingProvider::venueId() const {
    std::lock_guard lock(mutex_);
    return venueId_;
}

void CVBuildingProvider::setVenueId(std::string venueId) {
    std::lock_guard lock(mutex_);
    venueId_ = std::move(venueId);
}

void CVBuildingProvider::setDelegate(std::weak_ptr<CVBuildingProviderDelegate> delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<CVBuildingProviderDelegate> CVBuildingProvider::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}

std::optional<CVGeoBounds> CVBuildingProvider::coordinateBounds() const {
    std::lock_guard lock(mutex_);
    return coordinateBounds_;
}

void CVBuildingProvider::setCoordinateBounds(std::optional<CVGeoBounds> bounds) {
    std::lock_guard lock(mutex_);
    coordinateBounds_ = bounds;
}

std::string CVBuildingProvider::buildingsCacheKeyForSolutionId(std::optional<std::string_view> solutionId,
                                                               std::string_view language) const {
    return CVModelCache::cacheKeyForUrl(
        CVAXAPI::sharedInstance()->buildingSyncUrlForSolutionId(solutionId, language, venueId()));
}

void CVBuildingProvider::answerBuildings(const std::shared_ptr<CVBuildingProvider>& self, Buildings buildings,
                                         BuildingsCompletion completion) {
    detail::answerOnMainQueue([self, buildings = std::move(buildings), completion = std::move(completion)] {
        if (auto delegate = self ? self->delegate() : nullptr) delegate->onBuildingsReady(buildings);
        if (completion) completion(buildings, std::nullopt);
    });
}

void CVBuildingProvider::getBuildingsAsync(std::string requestVenueId, std::optional<std::string> solutionId,
                                           std::string language, BuildingsCompletion completion) {
    auto self = retained();
    const auto failed = [completion](std::int64_t code) {
        if (!completion) return;
        detail::answerOnMainQueue([completion, code] { completion({}, contentProviderError(code)); });
    };
    // Once the runtime is down the queue refuses blocks; the completion is
    // still called once.
    if (detail::runtimeStopped()) {
        failed(kBuildingsUnavailable);
        return;
    }
    auto url = CVAXAPI::sharedInstance()->buildingSyncUrlForSolutionId(solutionId, language, requestVenueId);
    auto wideUrl = CVAXAPI::sharedInstance()->buildingSyncUrlForSolutionId(solutionId, language);
    auto key = buildingsCacheKeyForSolutionId(solutionId, language);
    auto dataSetId = solutionId.value_or("");
    struct ReadDownload {
        std::shared_ptr<CVBuildingCollection> collection;
        std::optional<JSONModelError> failure;
    };
    // The download is parsed once, as it is read before it replaces the data
    // set's copy: that collection is the one answered.
    auto read = std::make_shared<ReadDownload>();
    auto reader = [read](const std::filesystem::path& incoming) {
        if (const auto bytes = platform::readFile(incoming)) read->collection = parseCollection(*bytes, read->failure);
        return read->collection != nullptr;
    };
    auto finish = [self, url, wideUrl = std::move(wideUrl), key, dataSetId, requestVenueId = std::move(requestVenueId),
                   completion, failed,
                   read](const StoredCopyRefresh& refresh, const std::optional<std::filesystem::path>& stored) {
        using Outcome = StoredCopyRefresh::Outcome;
        const auto cache = CVModelCache::memoryCache();
        auto held = cache->objectForKey<CVBuildingCollection>(key);
        const auto logRefusal = [&read] {
            const auto reason =
                read->failure ? errorDescription(*read->failure) : std::string("The buildings file cannot be read.");
            CVLog::core().debug("{} {}", kListOperation, reason);
        };
        if (refresh.outcome == Outcome::failed || refresh.outcome == Outcome::unreadable) {
            if (refresh.outcome == Outcome::unreadable) logRefusal();
            // A download that does not read (a proxy's login page, a body cut
            // short) is a failed one: offline or behind such a page, a venue
            // whose data set is complete still loads.
            if (!held && (held = readHeldCopy(url, wideUrl, dataSetId, requestVenueId))) cache->setObject(held, key);
            if (held) return answerBuildings(self, held->buildings, completion);
            return failed(refresh.outcome == Outcome::failed ? kBuildingsUnavailable
                                                             : AmbrellErrorCode::kBuildingsUnreadable);
        }
        if (refresh.outcome == Outcome::notModified) {
            if (held) return answerBuildings(self, held->buildings, completion);
            const auto bytes = stored ? platform::readFile(*stored) : std::nullopt;
            if (bytes) read->collection = parseCollection(*bytes, read->failure);
            // Revalidated against its old date, a copy that does not read would come back as 304 for good.
            if (!read->collection && stored) detail::forgetLastModified(*stored);
        }
        if (!read->collection) {
            logRefusal();
            return failed(AmbrellErrorCode::kBuildingsUnreadable);
        }
        cache->setObject(read->collection, key);
        answerBuildings(self, read->collection->buildings, completion);
    };
    queue().async([url = std::move(url), dataSetId = std::move(dataSetId), reader = std::move(reader),
                   finish = std::move(finish)]() mutable {
        detail::refreshDataSetCopy(url, dataSetId, std::move(reader), std::move(finish));
    });
}

void CVBuildingProvider::getBuildingDetailsAsync(std::string buildingId, std::optional<std::string> solutionId,
                                                 std::string language, BuildingCompletion completion) {
    if (!solutionId) return;
    auto self = retained();
    withBuildingList(
        self, std::move(solutionId), std::move(language),
        [self, buildingId = std::move(buildingId), completion = std::move(completion)](const Buildings& list) {
            const auto found = std::find_if(list.begin(), list.end(), [&](const auto& building) {
                return building && building->buildingId == buildingId;
            });
            auto building = found != list.end() ? *found : nullptr;
            detail::answerOnMainQueue([self, completion, building = std::move(building)] {
                if (!building) {
                    if (completion) {
                        completion(nullptr, contentProviderError(AmbrellErrorCode::kBuildingNotFound));
                    }
                    return;
                }
                if (auto delegate = self->delegate()) delegate->onBuildingDetailsReady(building);
                if (completion) completion(building, std::nullopt);
            });
        });
}

void CVBuildingProvider::getBuildingWithinBoundsAsync(CVGeoBounds bounds, std::optional<std::string> solutionId,
                                                      std::string language, BuildingCompletion completion) {
    auto self = retained();
    withBuildingList(self, std::move(solutionId), std::move(language),
                     [self, bounds, completion = std::move(completion)](const Buildings& list) {
                         // Made from the corners as given, like the caller's bounds object.
                         auto building = buildingWithin(list, CVGeoBounds(bounds.southWest(), bounds.northEast()));
                         detail::answerOnMainQueue([self, completion, building = std::move(building)] {
                             if (completion) {
                                 completion(building, building ? std::nullopt : std::optional(platform::NSError{}));
                             }
                             if (auto delegate = self->delegate()) delegate->onBuildingWithinBoundsReady(building);
                         });
                     });
}

std::shared_ptr<CVBuildingProvider> CVBuildingProvider::retained() {
    if (auto self = weak_from_this().lock()) return self;
    // Not owned by a shared pointer: the look-up works on a stand-in for the same venue.
    auto standIn = std::make_shared<CVBuildingProvider>(venueId());
    standIn->setDelegate(delegate());
    return standIn;
}

void CVBuildingProvider::withBuildingList(const std::shared_ptr<CVBuildingProvider>& self,
                                          std::optional<std::string> solutionId, std::string language,
                                          std::function<void(const Buildings&)> use) {
    if (detail::runtimeStopped()) return;
    queue().async(
        [self, solutionId = std::move(solutionId), language = std::move(language), use = std::move(use)]() mutable {
            auto key = self->buildingsCacheKeyForSolutionId(solutionId, language);
            if (const auto list = heldList(key, std::nullopt)) return use(*list);
            // Fetched once: a list the memory cache let go at once is taken as the fetch answered it.
            self->getBuildingsAsync(std::string(kAllVenues), solutionId, language,
                                    [key = std::move(key), use = std::move(use)](Buildings fetched, auto error) {
                                        if (error || detail::runtimeStopped()) return;
                                        queue().async(
                                            [key, use, fetched = std::move(fetched)] { use(*heldList(key, fetched)); });
                                    });
        });
}

void CVBuildingProvider::getBuildingsWithCompletion(BuildingsCompletion completion) {
    getBuildingsAsync(std::string(kAllVenues), AmbrellLegacy::getAmbrellAPIKey(), AmbrellLegacy::getLanguage(),
                      std::move(completion));
}

void CVBuildingProvider::getBuildingWithId(std::string buildingId, BuildingCompletion completion) {
    getBuildingDetailsAsync(std::move(buildingId), AmbrellLegacy::getAmbrellAPIKey(), AmbrellLegacy::getLanguage(),
                            std::move(completion));
}

void CVBuildingProvider::getBuildingWithinBounds(CVGeoBounds bounds, BuildingCompletion completion) {
    getBuildingWithinBoundsAsync(bounds, AmbrellLegacy::getAmbrellAPIKey(), AmbrellLegacy::getLanguage(),
                                 std::move(completion));
}

void CVBuildingProvider::getBuildings() { getBuildingsWithCompletion({}); }

}  // namespace ambrell
