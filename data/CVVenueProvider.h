#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Ambrell/CVGeometry.h"
#include "Ambrell/CVPoint.h"
#include "data/CVBuildingInternal.h"
#include "data/CVFloorInternal.h"
#include "data/CVVenueCollection.h"
#include "data/CVVenueInternal.h"
#include "platform/Error.h"
#include "platform/runtime/DispatchQueue.h"

namespace ambrell {

// Hears of the venue provider's answers, on the main queue. Failures reach
// only the completions. Every callback is optional.
class CVVenueProviderDelegate {
public:
    virtual ~CVVenueProviderDelegate() = default;
    // Before the completion.
    virtual void onVenuesReady(const std::vector<std::shared_ptr<CVVenueInternal>>& venues);
    // Before the completion.
    virtual void onBuildingsReady(const std::vector<std::shared_ptr<CVBuildingInternal>>& buildings);
    // Before the completion.
    virtual void onVenueDetailsReady(const std::shared_ptr<CVVenueInternal>& venue);
    // Before the completion.
    virtual void onBuildingDetailsReady(const std::shared_ptr<CVBuildingInternal>& building);
    // After the completion; null when no building lies within the bounds.
    virtual void onBuildingWithinBoundsReady(const std::shared_ptr<CVBuildingInternal>& building);
};

// Loads a solution's venue list (the "venues" sync document, kept in the
// model memory cache as a CVVenueCollection) and its solution-wide building
// list (the "buildings" sync document without a venue, kept as a
// CVBuildingCollection) through the content provider chain, and answers
// look-ups from them. The data set of both documents is the solution id.
// Made with std::make_shared: a request keeps its provider alive until it
// has answered. Thread-safe; every instance shares the class queue and the
// memory cache.
//
// Every get... operation with a completion calls it exactly once:
//   Completes: on the main queue, the delegate first (the bounds look-up's
//     delegate last), except the point look-up, which completes on the class
//     queue. An absent or empty solution id answers at once, on the caller's
//     thread, with error 101200 (the delegate hears nothing).
//   Errors (domain "com.corvay.Ambrell", no user info):
//     venue list: 100210 when there is no list to answer (download failed,
//       not modified, or unreadable, and nothing on the device);
//     building list: 100410 when the download failed and there is no list,
//       100310 when the downloaded document is unreadable, or not modified,
//       and there is no list;
//     venue by id: 100200 for an id not in the list; building by id: 100300;
//     building within bounds: an error with an empty domain and code 0 when
//       no building's box touches the bounds;
//     a look-up that must first fetch a list it lacks answers that fetch's
//     error when the fetch fails; it fetches once, and when the fetch
//     answered but left nothing in memory it answers 100210 (venues) or
//     100410 (buildings).
//   Cancelling: not possible.
// The venue list answers at once from memory or the device when it can and
// still downloads: a fresh list only refreshes the memory cache. The building
// list answers from the device without a download only when offline.
class CVVenueProvider : public std::enable_shared_from_this<CVVenueProvider> {
public:
    using Venues = std::vector<std::shared_ptr<CVVenueInternal>>;
    using Buildings = std::vector<std::shared_ptr<CVBuildingInternal>>;
    // On error the list is empty.
    using VenuesCompletion = std::function<void(Venues, std::optional<platform::NSError>)>;
    using BuildingsCompletion = std::function<void(Buildings, std::optional<platform::NSError>)>;
    // On error the object is null.
    using VenueCompletion = std::function<void(std::shared_ptr<CVVenueInternal>, std::optional<platform::NSError>)>;
    using BuildingCompletion =
        std::function<void(std::shared_ptr<CVBuildingInternal>, std::optional<platform::NSError>)>;
    // Each of venue, building and floor may be null (nothing there) with no
    // error; all null with an error when the lists could not be had.
    using PointCompletion = std::function<void(std::shared_ptr<CVVenueInternal>, std::shared_ptr<CVBuildingInternal>,
                                               std::shared_ptr<CVFloorInternal>, std::optional<platform::NSError>)>;

    void setDelegate(std::weak_ptr<CVVenueProviderDelegate> delegate);
    [[nodiscard]] std::shared_ptr<CVVenueProviderDelegate> delegate() const;
    // Kept for the host; no operation reads it.
    void setCoordinateBounds(std::optional<CVGeoBounds> bounds);
    [[nodiscard]] std::optional<CVGeoBounds> coordinateBounds() const;

    // Full forms. An empty completion leaves the answer to the delegate.
    void getVenuesAsync(std::optional<std::string> solutionId, std::string language, VenuesCompletion completion = {});
    // `arg` is not used (callers pass "all").
    void getBuildingsAsync(std::string arg, std::optional<std::string> solutionId, std::string language,
                           BuildingsCompletion completion = {});
    void getVenueDetailsAsync(std::string venueId, std::optional<std::string> solutionId, std::string language,
                              VenueCompletion completion = {});
    void getBuildingDetailsAsync(std::string buildingId, std::optional<std::string> solutionId, std::string language,
                                 BuildingCompletion completion = {});
    // The building whose box touches `bounds`, the first in list order.
    void getBuildingWithinBoundsAsync(CVGeoBounds bounds, std::optional<std::string> solutionId, std::string language,
                                      BuildingCompletion completion = {});
    void getDataFromPointAsync(CVPoint point, std::optional<std::string> solutionId, std::string language,
                               PointCompletion completion = {});

    // For the bound API key and the current content language.
    void getVenuesWithCompletion(VenuesCompletion completion);
    void getBuildingsWithCompletion(BuildingsCompletion completion);
    void getVenueWithId(std::string venueId, VenueCompletion completion = {});
    void getBuildingWithId(std::string buildingId, BuildingCompletion completion = {});
    void getBuildingWithinBounds(CVGeoBounds bounds, BuildingCompletion completion = {});
    void getDataFromPoint(CVPoint point, PointCompletion completion);
    void getVenues();
    void getBuildings();

    // The venue, building and floor at the point from the lists in memory
    // (see CVVenueCollection::dataFromPoint); none when either list is not
    // in memory. Synchronous, any thread.
    [[nodiscard]] static std::optional<CVVenuePointData> getDataFromPoint(const CVPoint& point,
                                                                          std::string_view solutionId,
                                                                          std::string_view language);
    // For the bound API key and the current content language.
    [[nodiscard]] static std::optional<CVVenuePointData> getDataFromPoint(const CVPoint& point);

    [[nodiscard]] static std::string venuesCacheKeyForSolutionId(std::string_view solutionId,
                                                                 std::string_view language);
    [[nodiscard]] static std::string buildingsCacheKeyForSolutionId(std::string_view solutionId,
                                                                    std::string_view language);

    // Whether the data set `solutionId` holds the file of the URL of `key`
    // (a key is the URL with the production host).
    [[nodiscard]] static bool isOfflineDataAvailableForKey(std::string_view key, std::string_view solutionId);
    // The data set's copy (of the URL in the configured environment) or the
    // host app's resource; each logs its answer
    // at debug level ("CVVenueProvider.isOfflineDataAvailable(venues) = YES").
    [[nodiscard]] static bool isOfflineVenueDataAvailableForSolutionId(std::string_view solutionId,
                                                                       std::string_view language);
    [[nodiscard]] static bool isOfflineBuildingDataAvailableForSolutionId(std::string_view solutionId,
                                                                          std::string_view language);
    // Both of the above, always both asked.
    [[nodiscard]] static bool isOfflineDataAvailableForSolutionId(std::string_view solutionId,
                                                                  std::string_view language);

    // "com.ambrell.CVVenueProvider", shared by every instance.
    [[nodiscard]] static const platform::DispatchQueue& sharedVenueProviderQueue();

private:
    // The building of the list a look-up is after; null for none.
    using BuildingFinder = std::function<std::shared_ptr<CVBuildingInternal>(const CVBuildingCollection&)>;

    void lookUpVenue(std::string venueId, std::string solutionId, std::string language, VenueCompletion completion,
                     bool fetched);
    // `answer` runs on the main queue, with the finder's building or the
    // error of the list's fetch.
    void lookUpBuilding(std::string solutionId, std::string language, BuildingFinder find, BuildingCompletion answer,
                        bool fetched);
    void lookUpPoint(const CVPoint& point, std::string solutionId, std::string language, PointCompletion completion,
                     bool fetched);

    mutable std::mutex mutex_;
    std::weak_ptr<CVVenueProviderDelegate> delegate_;
    std::optional<CVGeoBounds> coordinateBounds_;
};

}  // namespace ambrell
