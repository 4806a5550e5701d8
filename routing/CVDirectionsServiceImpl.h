#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Ambrell/CVHighway.h"
#include "Ambrell/CVPoint.h"
#include "Ambrell/CVRoute.h"
#include "Ambrell/CVTravelMode.h"
#include "Ambrell/CVUserRole.h"
#include "platform/Coordinate.h"
#include "platform/runtime/Executor.h"
#include "routemodel/CVDirectionsConfig.h"
#include "routemodel/CVDistanceMatrixResult.h"
#include "routemodel/CVExternalDirectionsService.h"
#include "routemodel/CVExternalDistanceMatrixService.h"
#include "routemodel/CVRouteInternal.h"
#include "routemodel/CVRouteNetworkEntryPoint.h"
#include "routing/CVDistanceMatrixProvider.h"
#include "routing/CVRoutingProvider.h"

namespace ambrell {

class CVRouteNetworkData;

// Plans one route for one directions query. It finds the venue route-network
// graph of each end point and takes one of three roads: both ends in one
// graph (one route from the web directions endpoint), both outside every graph
// (one outdoor route from the map adapter), or a chain of legs that leaves and
// enters venues through entry points, chosen directly when each side has one
// and by distance matrices otherwise, and joined into one route.
//
// One planner serves one query and is then dropped: its fields hold that
// query's state between the steps, and the matrix client's graph id is
// overwritten per request. Every step runs in sequence on the query's task.
class CVDirectionsServiceImpl {
public:
    using Date = std::chrono::system_clock::time_point;
    using Points = std::vector<std::shared_ptr<CVPoint>>;
    using EntryPoints = std::vector<std::shared_ptr<CVRouteNetworkEntryPoint>>;
    using Route = std::shared_ptr<CVRouteInternal>;
    using Legs = std::vector<std::shared_ptr<CVRouteLegInternal>>;

    // Reads the entry object's language, API key and active map control (the
    // adapter's outdoor services, when it offers them).
    CVDirectionsServiceImpl();
    CVDirectionsServiceImpl(const CVDirectionsServiceImpl&) = delete;
    CVDirectionsServiceImpl& operator=(const CVDirectionsServiceImpl&) = delete;

    // The whole planning.
    //   Completes: on the caller's executor, which must be serial; the route
    //     networks' answer (on the main queue) is awaited, never blocked on.
    //   Errors: CVError.routeNotFound (no route networks, no entry point
    //     chosen, no outdoor leg), CVError.invalidRouteQuery (a point that
    //     cannot be sent, before anything is asked; no usable distance
    //     matrix); errors of the web service, the matrix client and the
    //     adapter pass through.
    //   Cancelling: a request under way is aborted and CancellationError thrown.
    platform::Awaitable<std::shared_ptr<CVRoute>> route(
        CVPoint from, CVPoint to, std::optional<std::vector<CVPoint>> stops, bool optimize, std::string travelMode,
        std::optional<std::vector<CVHighway>> avoid, std::optional<std::vector<CVHighway>> exclude,
        std::optional<Date> departure, std::optional<Date> arrival, std::optional<std::vector<CVUserRole>> userRoles);

    // Whether every point of a query has a text a request can carry: a point
    // with a coordinate or floor that is not finite has none.
    [[nodiscard]] static bool canBeSent(const CVPoint& from, const CVPoint& to,
                                        const std::optional<std::vector<CVPoint>>& stops);

    // A new configuration of the query for the adapter's outdoor services.
    [[nodiscard]] CVDirectionsConfig directionsConfig() const;

    // The best-entry choice from the matrix slots, then the chain it leads to.
    platform::Awaitable<Route> chooseBestEntries();

    // Entry-point choice by distance matrices.
    void prepareEntryPoints(const std::optional<EntryPoints>& originEntries,
                            const std::optional<EntryPoints>& destinationEntries);
    // The candidates nearest first (to `near` when driving or by transit, else
    // to `other`), keeping those whose boundary serves the mode.
    [[nodiscard]] static Points filterEntryPoints(const Points& candidates, CVTravelMode travelMode,
                                                  const CVPoint& near, const CVPoint& other);
    // Fills the matrix slots one request after another, then chooses.
    platform::Awaitable<Route> calculateMatrices();

    // Route assembly.
    platform::Awaitable<Route> combineRoutes();
    // Folds the first outdoor leg's neighbours into it; null legs are dropped.
    void mergeLegs(Legs& legs) const;
    [[nodiscard]] static CVTravelMode travelMode(const std::optional<std::string>& text);
    [[nodiscard]] static std::shared_ptr<CVRouteStepInternal> stepFromLeg(const CVRouteLegInternal& leg);
    static void removeRedundantTransitWalks(const Legs& legs);
    static void generateInstructions(const Legs& legs);
    static void labelRouteStart(const Route& route, const std::shared_ptr<CVRouteNetworkEntryPoint>& entryPoint);

    // The state of the query, in the order the steps write it.
    CVDistanceMatrixProvider distanceMatrix;
    std::shared_ptr<CVExternalDirectionsService> externalDirections;
    std::shared_ptr<CVExternalDistanceMatrixService> externalMatrix;
    std::string language;
    std::shared_ptr<CVRoutingProvider> routingProvider;
    std::string solutionId;
    std::vector<Route> routes;
    std::vector<CVDistanceMatrixResult> matrixResults;
    Points originEntryPoints;
    Points destinationEntryPoints;
    std::vector<std::string> originEntryPointStringsExternal;
    std::vector<std::string> destinationEntryPointStringsExternal;
    std::vector<CLLocationCoordinate2D> originEntryPointExternal;
    std::vector<CLLocationCoordinate2D> destinationEntryPointExternal;
    std::shared_ptr<CVRouteNetworkEntryPoint> bestDestinationEntry;
    std::shared_ptr<CVRouteNetworkEntryPoint> bestOriginEntry;
    std::optional<CVPoint> origin;
    std::optional<CVPoint> destination;
    std::optional<std::vector<CVPoint>> stops;
    bool optimize = false;
    std::string travelModeText;
    std::optional<std::vector<CVHighway>> avoid;
    std::optional<std::vector<CVHighway>> exclude;
    std::optional<Date> arrivalTime;
    std::optional<Date> departureTime;
    std::optional<std::vector<CVUserRole>> userRoles;
    std::optional<std::string> originVenueGraphId;
    std::optional<std::string> destinationVenueGraphId;

private:
    // The roads and chains.
    platform::Awaitable<Route> sameGraphRoute(std::string graphId);
    platform::Awaitable<Route> outdoorRoute();
    platform::Awaitable<Route> acrossGraphsRoute(const CVRouteNetworkData& networks);
    platform::Awaitable<Route> dispatch();
    platform::Awaitable<Route> bothVenuesChain();
    platform::Awaitable<Route> originVenueChain();
    platform::Awaitable<Route> destinationVenueChain();
    // A venue leg in the graph (null without a routing provider) and an
    // outdoor leg (CVError.routeNotFound without adapter or route).
    platform::Awaitable<Route> venueLeg(std::string graphId, CVPoint from, CVPoint to, std::string mode);
    platform::Awaitable<Route> outdoorLeg(CVPoint from, CVPoint to);
    // The query's mode, or "walking" from an entry point for vehicles.
    [[nodiscard]] std::string modeFrom(const CVRouteNetworkEntryPoint& entryPoint) const;

    platform::Awaitable<void> originVenueMatrix();
    platform::Awaitable<void> outdoorMatrix();
    platform::Awaitable<void> destinationVenueMatrix();
};

}  // namespace ambrell
