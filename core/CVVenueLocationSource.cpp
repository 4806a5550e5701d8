#include "core/CVVenueLocationSource.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "Ambrell/CVError.h"
#include "Ambrell/CVLog.h"
#include "Ambrell/ErrorObjects.h"
#include "core/CVLocationDocuments.h"
#include "data/AmbrellLegacy.h"
#include "data/CVLocationInternal.h"
#include "data/CVMemoryCache.h"
#include "data/CVOfflineBundleHelper.h"
#include "data/CVSolutionInternal.h"
#include "data/CVTypeInternal.h"
#include "data/CVVenueInternal.h"
#include "data/DataSetManager/CVDataSetCacheManagerInternal.h"
#include "foundation/CVAXAPI.h"
#include "foundation/CVExtendedFileAttributes.h"
#include "foundation/CVNetworkReachabilityManager.h"
#include "foundation/CVTextCase.h"
#include "foundation/StoredCopyRefresh.h"
#include "platform/FileSystem.h"

namespace ambrell {

namespace {

constexpr std::string_view kLoadOperation = "-[CVVenueLocationSource loadLocations]";

using Bytes = std::vector<std::uint8_t>;

using Document = std::shared_ptr<const CVLocationDocuments::Locations>;

// The document's locations, or null when the bytes hold no locations document.
Document parsed(const Bytes& bytes) {
    if (bytes.empty()) return nullptr;
    auto document = CVLocationDataset::fromData(bytes);
    if (!document || !document->list) return nullptr;
    return std::make_shared<const CVLocationDocuments::Locations>(std::move(*document->list));
}

// Why a refresh brought no document, for the log.
std::string failureText(const StoredCopyRefresh& refresh) {
    if (refresh.error) return errorObjectFor(refresh.error).localizedDescription();
    auto text = "status " + std::to_string(refresh.status);
    if (refresh.outcome == StoredCopyRefresh::Outcome::unreadable) text += ", not a locations document";
    return text;
}

// Each location's type object of the current solution, by name in any case.
void resolveTypes(const std::vector<std::shared_ptr<CVLocationInternal>>& locations) {
    std::unordered_map<std::string, std::shared_ptr<CVType>> byName;
    if (const auto solution = AmbrellLegacy::solution()) {
        for (const auto& type : solution->types) {
            if (type) byName.try_emplace(lowercasedText(type->name), type);
        }
    }
    for (const auto& location : locations) {
        const auto found = byName.find(lowercasedText(location->type));
        location->typeRef = found == byName.end() ? nullptr : found->second;
    }
}

}  // namespace

CVVenueLocationSource::CVVenueLocationSource(std::string solutionId, std::string venueId, std::string language,
                                             std::vector<CVUserRole> userRoles)
    : solutionId_(std::move(solutionId)),
      venueId_(std::move(venueId)),
      language_(std::move(language)),
      userRoles_(std::move(userRoles)) {}

platform::Awaitable<void> CVVenueLocationSource::loadLocations() {
    // The observers are told who changed; the source must be shared for that.
    const auto self = shared_from_this();
    Locations loaded;
    try {
        const auto venue = CVMemoryCache::venueCache().getValue(venueId_).value_or(nullptr);
        if (!venue) {
            CVLog::core().error("{} [E] Venue {} is not among the loaded venues", kLoadOperation, venueId_);
            throw CVError(CVErrorCase::dataUnavailable);
        }
        // The pseudo-locations first: they fill the readable-id index that
        // the parent ids of the document's locations are read from.
        loaded = pseudoLocations(*venue);
        auto ownLocations = co_await documentLocations(venue->administrativeId.value_or(""));
        loaded.insert(loaded.end(), std::make_move_iterator(ownLocations.begin()),
                      std::make_move_iterator(ownLocations.end()));
    } catch (const platform::CancellationError&) {
        throw;
    } catch (const std::exception& failure) {
        if (!dynamic_cast<const CVError*>(&failure)) {
            CVLog::core().error("{} [E] Locations of venue {} failed: {}", kLoadOperation, venueId_, failure.what());
        }
        setStatus(CVLocationSourceStatus::unavailable);
        throw CVError(CVErrorCase::dataUnavailable);
    }
    resolveTypes(loaded);

    std::vector<std::string> gone;
    std::vector<std::shared_ptr<CVLocation>> told(loaded.begin(), loaded.end());
    {
        std::lock_guard lock(mutex_);
        std::unordered_map<std::string, std::shared_ptr<CVLocationInternal>> byId;
        for (const auto& location : loaded) byId.insert_or_assign(location->locationId, location);
        for (const auto& location : locations_) {
            if (!byId.contains(location->locationId) && std::ranges::find(gone, location->locationId) == gone.end()) {
                gone.push_back(location->locationId);
            }
        }
        locations_ = std::move(loaded);
        locationsById_ = std::move(byId);
    }
    if (!gone.empty()) {
        for (const auto& observer : observers()) observer->onLocationsDelete(gone, self);
    }
    for (const auto& observer : observers()) observer->onLocationsUpdate(told, self);
    setStatus(CVLocationSourceStatus::available);
}

platform::Awaitable<void> CVVenueLocationSource::reloadWithUserRoles(std::vector<CVUserRole> userRoles) {
    {
        std::lock_guard lock(mutex_);
        userRoles_ = std::move(userRoles);
    }
    co_await loadLocations();
}

platform::Awaitable<void> CVVenueLocationSource::notify(std::shared_ptr<const CVLiveUpdate> liveUpdate) {
    if (!liveUpdate) co_return;
    std::shared_ptr<CVLocationInternal> location;
    {
        std::lock_guard lock(mutex_);
        if (const auto found = locationsById_.find(liveUpdate->itemId); found != locationsById_.end()) {
            location = found->second;
        }
    }
    if (!location || !location->assignLiveUpdate(liveUpdate)) co_return;
    CVLog::core().debug("LiveData Update: {}", liveUpdate->debugDescription());
    const auto self = shared_from_this();
    const std::vector<std::shared_ptr<CVLocation>> told{location};
    for (const auto& observer : observers()) observer->onLocationsUpdate(told, self);
}

std::vector<CVUserRole> CVVenueLocationSource::userRoles() const {
    std::lock_guard lock(mutex_);
    return userRoles_;
}

std::vector<std::shared_ptr<CVLocation>> CVVenueLocationSource::getLocations() const {
    std::lock_guard lock(mutex_);
    return {locations_.begin(), locations_.end()};
}

CVLocationSourceStatus CVVenueLocationSource::getStatus() const {
    std::lock_guard lock(mutex_);
    return status_;
}

void CVVenueLocationSource::addLocationsObserver(const std::shared_ptr<CVLocationsObserver>& observer) {
    if (!observer) return;
    std::lock_guard lock(mutex_);
    std::erase_if(observers_, [](const auto& entry) { return !entry.value(); });
    // A second registration of the same observer (a map control made active
    // twice) must not double its notifications.
    if (std::ranges::none_of(observers_, [&](const auto& entry) { return entry.value() == observer; })) {
        observers_.emplace_back(observer);
    }
}

void CVVenueLocationSource::removeLocationsObserver(const std::shared_ptr<CVLocationsObserver>& observer) {
    std::lock_guard lock(mutex_);
    std::erase_if(observers_, [&](const auto& entry) {
        const auto held = entry.value();
        return !held || held == observer;
    });
}

CVVenueLocationSource::Locations CVVenueLocationSource::pseudoLocations(const CVVenueInternal& venue) const {
    Locations locations{venue.getLocationObject()};
    for (const auto& building : venue.buildings) {
        if (!building) continue;
        auto own = building->getLocationsForBuildingAndFloors();
        locations.insert(locations.end(), std::make_move_iterator(own.begin()), std::make_move_iterator(own.end()));
    }
    return locations;
}

void CVVenueLocationSource::shareDocuments(std::weak_ptr<CVLocationDocuments> documents) {
    std::lock_guard lock(mutex_);
    documents_ = std::move(documents);
}

platform::Awaitable<CVVenueLocationSource::Locations> CVVenueLocationSource::documentLocations(
    std::string administrativeId) const {
    const auto url = CVAXAPI::sharedInstance()->locationSyncUrlForSolutionId(solutionId_, language_, userRoles());
    std::shared_ptr<CVLocationDocuments> shared;
    {
        std::lock_guard lock(mutex_);
        shared = documents_.lock();
    }
    auto all = shared ? shared->find(url) : nullptr;
    if (!all) {
        // Named: g++ 12 destroys the temporaries of a co_await expression twice.
        auto reading = readDocument(url);
        all = co_await std::move(reading);
        if (shared) shared->keep(url, all);
    }

    // Pointers are copied, not moved: the other venues of the load take
    // their own locations from the same list.
    Locations own;
    if (administrativeId.empty()) co_return own;
    for (const auto& location : *all) {
        if (location && equalsIgnoringCase(location->venue, administrativeId)) own.push_back(location);
    }
    co_return own;
}

platform::Awaitable<std::shared_ptr<const CVVenueLocationSource::Locations>> CVVenueLocationSource::readDocument(
    std::string url) const {
    const auto manager = AmbrellLegacy::dataSetCacheManager();
    const auto dataSetFile = manager ? manager->pathForCachingUrl(url, solutionId_) : std::nullopt;
    // A download takes the data set's copy's place only once it reads as a
    // locations document: a login page or a body cut short must not cost
    // the copy the next start without the network reads. Parsed once, it is
    // the answer.
    Document downloaded;
    if (dataSetFile && CVNetworkReachabilityManager::sharedManager()->isReachable()) {
        auto read = [&downloaded](const std::filesystem::path& incoming) {
            const auto bytes = platform::readFile(incoming);
            downloaded = bytes ? parsed(*bytes) : nullptr;
            return downloaded != nullptr;
        };
        auto refreshing = refreshStoredCopy(url, *dataSetFile, std::move(read));
        const auto refresh = co_await std::move(refreshing);
        if (refresh.outcome == StoredCopyRefresh::Outcome::failed ||
            refresh.outcome == StoredCopyRefresh::Outcome::unreadable) {
            // What the data set or the app's resources hold still answers.
            CVLog::core().debug("{} [W] Download of {} failed: {}", kLoadOperation, url, failureText(refresh));
        }
    }
    if (downloaded) co_return downloaded;

    Document all;
    if (manager) {
        if (const auto cached = manager->dataForCachedUrl(url, solutionId_)) {
            all = parsed(*cached);
            // A copy that does not read must not be revalidated against its
            // date, or the web service would answer 304 forever.
            if (!all && dataSetFile) xattr_setLastModified(*dataSetFile, std::nullopt);
        }
    }
    if (!all) {
        if (const auto resource = CVOfflineBundleHelper::offlinePathForEndpointUrl(url, solutionId_)) {
            if (const auto bytes = platform::readFile(*resource)) all = parsed(*bytes);
        }
    }
    if (!all) {
        CVLog::core().error("{} [E] No locations document for venue {} at {}", kLoadOperation, venueId_, url);
        throw CVError(CVErrorCase::dataUnavailable);
    }
    co_return all;
}

void CVVenueLocationSource::setStatus(CVLocationSourceStatus status) {
    {
        std::lock_guard lock(mutex_);
        status_ = status;
    }
    const auto self = shared_from_this();
    for (const auto& observer : observers()) observer->onStatusChange(status, self);
}

std::vector<std::shared_ptr<CVLocationsObserver>> CVVenueLocationSource::observers() const {
    std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<CVLocationsObserver>> alive;
    alive.reserve(observers_.size());
    for (const auto& entry : observers_) {
        if (auto observer = entry.value()) alive.push_back(std::move(observer));
    }
    return alive;
}

}  // namespace ambrell
