#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "data/CVBuildingInternal.h"
#include "data/CVDerivedGeometry.h"
#include "platform/Error.h"
#include "platform/runtime/Executor.h"

namespace ambrell {

class CVRouteNetworkData;
class CVVenueInternal;

// What the venue handler asks of the venue's location source, which the
// entry object's layer defines and makes for the same solution and venue.
class CVVenueLocationSourcing {
public:
    virtual ~CVVenueLocationSourcing() = default;
    // Loads the venue's locations into the source and tells its observers.
    //   Completes: on the caller's executor.
    //   Errors: the source's own, thrown.
    //   Cancelling: as the source defines it.
    virtual platform::Awaitable<void> loadLocations() = 0;
};

// Everything loaded for one venue of the current solution: its buildings,
// derived geometry, locations (through its location source) and route
// network, loaded once, in that order. The entry object makes one per venue,
// keeps it by venue id and reads its fields after the load; the venue model's
// hasGraph() asks it. The fields are readable from any thread while the load
// writes them. The awaitable load needs its handler to outlive it; the
// completion form keeps a handler made with std::make_shared alive itself.
class CVVenueHandler : public std::enable_shared_from_this<CVVenueHandler> {
public:
    using Buildings = std::vector<std::shared_ptr<CVBuildingInternal>>;
    using DerivedGeometries = std::vector<std::shared_ptr<CVDerivedGeometry>>;
    using Completion = std::function<void(std::optional<platform::NSError>)>;

    // Also makes the venue model's hasGraph() answer through the handlers.
    CVVenueHandler(std::string solutionId, std::string venueId,
                   std::shared_ptr<CVVenueLocationSourcing> locationSource);
    CVVenueHandler(const CVVenueHandler&) = delete;
    CVVenueHandler& operator=(const CVVenueHandler&) = delete;

    [[nodiscard]] const std::string& solutionId() const { return solutionId_; }
    [[nodiscard]] const std::string& venueId() const { return venueId_; }
    [[nodiscard]] const std::shared_ptr<CVVenueLocationSourcing>& locationSource() const { return locationSource_; }
    // Empty until the load's building step.
    [[nodiscard]] Buildings buildings() const;
    // Empty until the load's derived-geometry step.
    [[nodiscard]] DerivedGeometries derivedGeometries() const;
    // None until the load's last step, and after it when the route-network
    // service answered neither a network nor an error.
    [[nodiscard]] std::shared_ptr<CVRouteNetworkData> graph() const;

    // With the installed entry object's API key (as solution id of the
    // building request) and language: the venue's buildings (also given to
    // the venue in the shared venue cache, as a new venue object replacing
    // the cached one, and appended to the solution-wide building collection
    // in the model memory cache, one handler at a time), its derived
    // geometry, its locations (none to load without a source) and its route
    // network. A failed step leaves the fields of the earlier ones set.
    //   Completes: on the caller's executor.
    //   Errors: CVError.invalidApiKey without an entry object or API key;
    //     otherwise the failing step's error, unchanged: the building
    //     provider's (100410, 100310), the derived-geometry provider's
    //     (100920), the location source's, the route-network service's
    //     (101400), as NSErrorException for error objects.
    //   Cancelling: ends the step that is awaited with CancellationError; a
    //     provider's request runs on and its answer is dropped.
    [[nodiscard]] platform::Awaitable<void> loadVenueData();
    // Calls the completion once, from the task that did the work (not on the
    // main queue), with none or the thrown error as an error object.
    void loadVenueDataWithCompletion(Completion completion);

    // Takes the buildings this handler's load appended back out of the
    // solution-wide building collection, once: a venue whose load failed is
    // loaded again by a later request, which must not list them twice.
    void withdrawBuildings();

    // True when the installed entry object has a handler under the venue's
    // id whose route network holds at least one network.
    [[nodiscard]] static bool determineHasGraph(const CVVenueInternal& venue);

    // Test-only. Where a load grows the solution-wide building collection: it
    // waits while another load grows it, or it has read the collection and is
    // about to store it grown. The observer, none by default, is called on the
    // load's thread at each step, so that a test can hold loads there.
    enum class BuildingListStep { waitingForAnotherLoad, aboutToStore };
    static void setBuildingListObserverForTesting(std::function<void(BuildingListStep)> observer);

private:
    // The building step's bookkeeping in the shared caches.
    void shareBuildings(const Buildings& buildings, const std::string& language);

    const std::string solutionId_;
    const std::string venueId_;
    const std::shared_ptr<CVVenueLocationSourcing> locationSource_;

    mutable std::mutex mutex_;
    Buildings buildings_;
    DerivedGeometries derivedGeometries_;
    std::shared_ptr<CVRouteNetworkData> graph_;
    // Where the building step appended to the solution-wide collection.
    std::optional<std::string> sharedBuildingsKey_;
};

}  // namespace ambrell
