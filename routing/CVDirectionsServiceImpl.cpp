#include "routing/CVDirectionsServiceImpl.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <mutex>
#include <utility>

#include "Ambrell/CVError.h"
#include "Ambrell/CVLog.h"
#include "data/AmbrellLegacy.h"
#include "data/CVEntrySeams.h"
#include "platform/runtime/Continuation.h"
#include "routemodel/MapControlInternalExternalServices.h"
#include "routing/CVRouteNetworkData.h"
#include "routing/CVRouteNetworkService.h"

namespace ambrell {

namespace directions_planner {
namespace {

// The solution's route networks, awaited: the service answers on the main
// queue, and this task resumes on its own executor. No data, whatever the
// reason, is no route.
platform::Awaitable<std::shared_ptr<CVRouteNetworkData>> routeNetworks(std::string solutionId) {
    struct Outcome {
        std::mutex mutex;
        bool answered = false;
        std::shared_ptr<CVRouteNetworkData> data;
        bool failed = false;
    };
    auto outcome = std::make_shared<Outcome>();
    auto turn = co_await platform::Continuation::makeForCurrentExecutor();
    CVRouteNetworkService::getRouteNetworkForSolution(
        std::move(solutionId),
        [outcome, turn](std::shared_ptr<CVRouteNetworkData> data, std::optional<platform::NSError> error) {
            {
                std::lock_guard lock(outcome->mutex);
                if (std::exchange(outcome->answered, true)) return;
                outcome->data = std::move(data);
                outcome->failed = error.has_value();
            }
            turn->resume();
        });
    co_await turn->wait();
    std::lock_guard lock(outcome->mutex);
    if (outcome->failed || !outcome->data) throw CVError(CVErrorCase::routeNotFound);
    co_return outcome->data;
}

std::string graphText(const std::optional<std::string>& graphId) { return graphId.value_or("nil"); }

}  // namespace
}  // namespace directions_planner

CVDirectionsServiceImpl::CVDirectionsServiceImpl() {
    const auto entry = CVEntryObjectSeam::installed();
    language = entry ? entry->language() : AmbrellLegacy::getLanguage();
    solutionId = entry ? entry->apiKey().value_or("") : std::string();
    if (const auto control = entry ? entry->activeMapControl() : nullptr) {
        if (const auto services = std::dynamic_pointer_cast<MapControlInternalExternalServices>(control)) {
            externalDirections = services->externalDirectionService();
            externalMatrix = services->externalMatrixService();
        }
    }
    distanceMatrix.solutionId = solutionId;
    routingProvider = std::make_shared<CVRoutingProvider>(solutionId);
    routingProvider->language = language;
}

bool CVDirectionsServiceImpl::canBeSent(const CVPoint& from, const CVPoint& to,
                                        const std::optional<std::vector<CVPoint>>& stops) {
    const auto sendable = [](const CVPoint& point) { return !point.description().empty(); };
    return sendable(from) && sendable(to) && (!stops || std::ranges::all_of(*stops, sendable));
}

CVDirectionsConfig CVDirectionsServiceImpl::directionsConfig() const {
    CVDirectionsConfig config;
    config.travelMode = travelModeText;
    config.avoidTypes = CVHighway::highwaysAsStrings(avoid.value_or(std::vector<CVHighway>{}));
    config.departure = departureTime;
    config.arrival = arrivalTime;
    config.language = language;
    return config;
}

platform::Awaitable<std::shared_ptr<CVRoute>> CVDirectionsServiceImpl::route(
    CVPoint from, CVPoint to, std::optional<std::vector<CVPoint>> stopPoints, bool optimizeStops, std::string mode,
    std::optional<std::vector<CVHighway>> avoidTypes, std::optional<std::vector<CVHighway>> excludeTypes,
    std::optional<Date> departure, std::optional<Date> arrival, std::optional<std::vector<CVUserRole>> roles) {
    if (!canBeSent(from, to, stopPoints)) throw CVError(CVErrorCase::invalidRouteQuery);
    origin = std::move(from);
    destination = std::move(to);
    stops = std::move(stopPoints);
    optimize = optimizeStops;
    travelModeText = std::move(mode);
    avoid = std::move(avoidTypes);
    exclude = std::move(excludeTypes);
    departureTime = departure;
    arrivalTime = arrival;
    userRoles = std::move(roles);
    routes.clear();
    matrixResults.clear();
    originEntryPointStringsExternal.clear();
    destinationEntryPointStringsExternal.clear();
    originEntryPointExternal.clear();
    destinationEntryPointExternal.clear();

    const auto networks = co_await directions_planner::routeNetworks(solutionId);
    CVLog::core().debug("()=> getting graphs\u2026");
    originVenueGraphId = networks->getGraphIdFromPoint(*origin);
    destinationVenueGraphId = networks->getGraphIdFromPoint(*destination);
    CVLog::core().debug("()=> originGraphId=" + directions_planner::graphText(originVenueGraphId) +
                        ", destinationGraphId=" + directions_planner::graphText(destinationVenueGraphId));

    if (originVenueGraphId && destinationVenueGraphId && *originVenueGraphId == *destinationVenueGraphId) {
        co_return co_await sameGraphRoute(*originVenueGraphId);
    }
    if (!originVenueGraphId && !destinationVenueGraphId) co_return co_await outdoorRoute();
    co_return co_await acrossGraphsRoute(*networks);
}

platform::Awaitable<CVDirectionsServiceImpl::Route> CVDirectionsServiceImpl::sameGraphRoute(std::string graphId) {
    if (!routingProvider) co_return nullptr;
    routingProvider->venue = std::move(graphId);
    auto found = co_await routingProvider->route(*origin, *destination, stops, optimize, travelModeText, avoid, exclude,
                                                 departureTime, arrivalTime, userRoles);
    if (found) generateInstructions(found->legsInternal());
    co_return found;
}

platform::Awaitable<CVDirectionsServiceImpl::Route> CVDirectionsServiceImpl::outdoorRoute() {
    if (!externalDirections) co_return nullptr;
    co_return co_await externalDirections->query(origin->coordinate(), destination->coordinate(), directionsConfig());
}

platform::Awaitable<CVDirectionsServiceImpl::Route> CVDirectionsServiceImpl::acrossGraphsRoute(
    const CVRouteNetworkData& networks) {
    CVAccessTokens tokens;
    if (userRoles) {
        for (const auto& role : *userRoles) tokens.insert(role.userRoleId);
    }
    const auto entriesOf = [&](const std::optional<std::string>& graphId) {
        return graphId ? networks.networkEntryPointsForRoutingGraphId(*graphId, tokens) : EntryPoints{};
    };
    const auto originEntries = entriesOf(originVenueGraphId);
    const auto destinationEntries = entriesOf(destinationVenueGraphId);

    const std::size_t slots = originVenueGraphId && destinationVenueGraphId ? 3 : 2;
    routes.clear();
    for (std::size_t slot = 0; slot < slots; ++slot) routes.push_back(std::make_shared<CVRouteInternal>());
    matrixResults.assign(slots, CVDistanceMatrixResult{});

    CVLog::core().debug("()=> origin      with " + std::to_string(originEntries.size()) + " entry points");
    CVLog::core().debug("()=> destination      with " + std::to_string(destinationEntries.size()) + " entry points");
    prepareEntryPoints(originEntries, destinationEntries);

    if (originEntries.size() == 1 && destinationEntries.size() == 1 && originEntries.front() &&
        destinationEntries.front()) {
        bestOriginEntry = originEntries.front();
        bestDestinationEntry = destinationEntries.front();
        co_return co_await dispatch();
    }
    co_return co_await calculateMatrices();
}

platform::Awaitable<CVDirectionsServiceImpl::Route> CVDirectionsServiceImpl::chooseBestEntries() {
    for (const auto& slot : matrixResults) {
        if (slot.status != "OK") throw CVError(CVErrorCase::invalidRouteQuery);
    }
    using Elements = std::vector<CVDistanceMatrixElements>;
    const auto elementsOf = [this](std::size_t slot, std::size_t row) -> const Elements* {
        if (slot >= matrixResults.size()) return nullptr;
        const auto& rows = matrixResults[slot].rows;
        if (!rows || row >= rows->size() || !(*rows)[row].elements) return nullptr;
        return &*(*rows)[row].elements;
    };
    const auto usable = [](const CVDistanceMatrixElements& element) { return element.status == "OK"; };
    const auto duration = [](const CVDistanceMatrixElements& element) -> std::int64_t {
        return element.duration && element.duration->value ? *element.duration->value : 0;
    };
    const auto add = [](std::int64_t a, std::int64_t b) {
        std::int64_t sum = 0;
        if (!__builtin_add_overflow(a, b, &sum)) return sum;
        return b > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
    };
    // A pruned list may hold plain points, or fewer points than the matrix.
    const auto entryAt = [](const Points& points, std::size_t index) -> std::shared_ptr<CVRouteNetworkEntryPoint> {
        return index < points.size() ? std::dynamic_pointer_cast<CVRouteNetworkEntryPoint>(points[index]) : nullptr;
    };

    const bool threeSlots = matrixResults.size() == 3;
    if (const auto* first = elementsOf(0, 0)) {
        auto best = std::numeric_limits<std::int64_t>::max();
        for (std::size_t i = 0; i < first->size(); ++i) {
            if (!usable((*first)[i])) continue;
            const auto* middle = elementsOf(1, i);
            if (!middle) continue;
            for (std::size_t j = 0; j < middle->size(); ++j) {
                if (!usable((*middle)[j])) continue;
                auto cost = add(duration((*first)[i]), duration((*middle)[j]));
                if (threeSlots) {
                    const auto* last = elementsOf(2, j);
                    if (!last || last->empty() || !usable(last->front())) continue;
                    cost = add(cost, duration(last->front()));
                }
                if (!(cost < best)) continue;
                if (threeSlots) {
                    auto originEntry = entryAt(originEntryPoints, i);
                    auto destinationEntry = entryAt(destinationEntryPoints, j);
                    if (!originEntry || !destinationEntry) continue;
                    bestOriginEntry = std::move(originEntry);
                    bestDestinationEntry = std::move(destinationEntry);
                } else {
                    auto entry = entryAt(destinationVenueGraphId ? destinationEntryPoints : originEntryPoints, i);
                    if (!entry) continue;
                    bestOriginEntry = std::move(entry);
                }
                best = cost;
            }
        }
    }
    co_return co_await dispatch();
}

platform::Awaitable<CVDirectionsServiceImpl::Route> CVDirectionsServiceImpl::dispatch() {
    if (bestDestinationEntry) co_return co_await bothVenuesChain();
    if (originVenueGraphId) co_return co_await originVenueChain();
    if (bestOriginEntry) co_return co_await destinationVenueChain();
    throw CVError(CVErrorCase::routeNotFound);
}

std::string CVDirectionsServiceImpl::modeFrom(const CVRouteNetworkEntryPoint& entryPoint) const {
    // The boundary is a set of bits: a door for cars or bicycles, whatever
    // else it serves, is left on foot.
    constexpr auto kVehicles =
        static_cast<unsigned>(CVBoundaryType::driving) | static_cast<unsigned>(CVBoundaryType::bicycling);
    const auto boundary = entryPoint.boundary();
    if (boundary && (static_cast<unsigned>(*boundary) & kVehicles) != 0) return "walking";
    return travelModeText;
}

platform::Awaitable<CVDirectionsServiceImpl::Route> CVDirectionsServiceImpl::venueLeg(std::string graphId, CVPoint from,
                                                                                      CVPoint to, std::string mode) {
    if (!routingProvider) co_return nullptr;
    routingProvider->venue = std::move(graphId);
    co_return co_await routingProvider->route(std::move(from), std::move(to), stops, optimize, std::move(mode), avoid,
                                              exclude, departureTime, arrivalTime, userRoles);
}

platform::Awaitable<CVDirectionsServiceImpl::Route> CVDirectionsServiceImpl::outdoorLeg(CVPoint from, CVPoint to) {
    if (!externalDirections) throw CVError(CVErrorCase::routeNotFound);
    auto found = co_await externalDirections->query(from.coordinate(), to.coordinate(), directionsConfig());
    if (!found) throw CVError(CVErrorCase::routeNotFound);
    co_return found;
}

platform::Awaitable<CVDirectionsServiceImpl::Route> CVDirectionsServiceImpl::bothVenuesChain() {
    if (!bestOriginEntry || routes.size() < 3) co_return nullptr;
    routes[0] = co_await venueLeg(*originVenueGraphId, *origin, *bestOriginEntry, travelModeText);
    routes[1] = co_await outdoorLeg(*bestOriginEntry, *bestDestinationEntry);
    auto last = co_await venueLeg(*destinationVenueGraphId, *bestDestinationEntry, *destination,
                                  modeFrom(*bestDestinationEntry));
    labelRouteStart(last, bestDestinationEntry);
    routes[2] = std::move(last);
    co_return co_await combineRoutes();
}

platform::Awaitable<CVDirectionsServiceImpl::Route> CVDirectionsServiceImpl::originVenueChain() {
    if (!bestOriginEntry || routes.size() < 2) co_return nullptr;
    routes[0] = co_await venueLeg(*originVenueGraphId, *origin, *bestOriginEntry, travelModeText);
    routes[1] = co_await outdoorLeg(*bestOriginEntry, *destination);
    co_return co_await combineRoutes();
}

platform::Awaitable<CVDirectionsServiceImpl::Route> CVDirectionsServiceImpl::destinationVenueChain() {
    if (!bestOriginEntry || routes.size() < 2 || !destinationVenueGraphId) co_return nullptr;
    routes[0] = co_await outdoorLeg(*origin, *bestOriginEntry);
    auto last = co_await venueLeg(*destinationVenueGraphId, *bestOriginEntry, *destination, modeFrom(*bestOriginEntry));
    labelRouteStart(last, bestOriginEntry);
    routes[1] = std::move(last);
    co_return co_await combineRoutes();
}

}  // namespace ambrell
