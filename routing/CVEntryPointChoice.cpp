// Entry-point choice of the directions planner: the candidate entry points of
// each side narrowed and ordered by travel mode, and up to three distance
// matrices (in the origin's venue, outdoors, in the destination's venue)
// from which the best-entry choice picks the quickest combination.

#include <utility>
#include <vector>

#include "Ambrell/CVError.h"
#include "foundation/CVGeometryHelper.h"
#include "routing/CVDirectionsServiceImpl.h"

namespace ambrell {

namespace entry_point_choice {
namespace {

// The boundary bits a mode's doors carry; walking (and an unknown mode) takes
// administrative and walking doors.
unsigned boundaryBitsFor(CVTravelMode mode) {
    switch (mode) {
        case CVTravelMode::bicycling: return static_cast<unsigned>(CVBoundaryType::bicycling);
        case CVTravelMode::driving: return static_cast<unsigned>(CVBoundaryType::driving);
        case CVTravelMode::transit: return static_cast<unsigned>(CVBoundaryType::transit);
        default: return 0;
    }
}

constexpr unsigned kWalkingBits =
    static_cast<unsigned>(CVBoundaryType::administrative) | static_cast<unsigned>(CVBoundaryType::walking);

bool serves(const std::shared_ptr<CVPoint>& point, unsigned bits) {
    const auto entryPoint = std::dynamic_pointer_cast<const CVRouteNetworkEntryPoint>(point);
    if (!entryPoint || !entryPoint->boundary()) return false;
    return (static_cast<unsigned>(*entryPoint->boundary()) & bits) != 0;
}

}  // namespace
}  // namespace entry_point_choice

CVDirectionsServiceImpl::Points CVDirectionsServiceImpl::filterEntryPoints(const Points& candidates,
                                                                           CVTravelMode travelMode, const CVPoint& near,
                                                                           const CVPoint& other) {
    std::vector<std::shared_ptr<const CVPoint>> points;
    for (const auto& candidate : candidates) {
        if (candidate) points.push_back(candidate);
    }
    const bool byOwnEnd = travelMode == CVTravelMode::driving || travelMode == CVTravelMode::transit;
    const auto ordered = CVGeometryHelper::orderPoints(std::move(points), byOwnEnd ? near : other);
    // The ordering hands back the candidates themselves.
    Points sequence;
    sequence.reserve(ordered.size());
    for (const auto& point : ordered) sequence.push_back(std::const_pointer_cast<CVPoint>(point));

    const auto keep = [&sequence](unsigned bits) {
        Points kept;
        for (const auto& point : sequence) {
            if (entry_point_choice::serves(point, bits)) kept.push_back(point);
        }
        return kept;
    };
    if (const auto bits = entry_point_choice::boundaryBitsFor(travelMode); bits != 0) {
        auto kept = keep(bits);
        if (!kept.empty()) return kept;
    }
    return keep(entry_point_choice::kWalkingBits);
}

void CVDirectionsServiceImpl::prepareEntryPoints(const std::optional<EntryPoints>& originEntries,
                                                 const std::optional<EntryPoints>& destinationEntries) {
    const auto mode = travelMode(travelModeText);
    const auto asPoints = [](const std::optional<EntryPoints>& entries) {
        Points points;
        if (entries) points.assign(entries->begin(), entries->end());
        return points;
    };
    destinationEntryPoints = filterEntryPoints(asPoints(destinationEntries), mode, *destination, *origin);
    originEntryPoints = filterEntryPoints(asPoints(originEntries), mode, *origin, *destination);
    if (!originVenueGraphId) originEntryPoints.push_back(std::make_shared<CVPoint>(*origin));
    if (!destinationVenueGraphId) destinationEntryPoints.push_back(std::make_shared<CVPoint>(*destination));
    if (externalMatrix) {
        auto [origins, destinations] = externalMatrix->pruneMatrixDimensions(originEntryPoints, destinationEntryPoints);
        originEntryPoints = std::move(origins);
        destinationEntryPoints = std::move(destinations);
    }
    // Column i of a matrix names candidate i: what cannot be sent (a null, a
    // point with no finite place) leaves the candidates too.
    const auto unsendable = [](const std::shared_ptr<CVPoint>& point) {
        return !point || point->latLongString().empty();
    };
    std::erase_if(originEntryPoints, unsendable);
    std::erase_if(destinationEntryPoints, unsendable);
    for (const auto& point : destinationEntryPoints) {
        destinationEntryPointStringsExternal.push_back(point->latLongString());
        destinationEntryPointExternal.push_back(point->coordinate());
    }
    for (const auto& point : originEntryPoints) {
        originEntryPointStringsExternal.push_back(point->latLongString());
        originEntryPointExternal.push_back(point->coordinate());
    }
}

platform::Awaitable<CVDirectionsServiceImpl::Route> CVDirectionsServiceImpl::calculateMatrices() {
    if ((originVenueGraphId && originEntryPointStringsExternal.empty()) ||
        (destinationVenueGraphId && destinationEntryPointStringsExternal.empty())) {
        throw CVError(CVErrorCase::invalidRouteQuery);
    }
    co_await originVenueMatrix();
    co_await outdoorMatrix();
    co_await destinationVenueMatrix();
    co_return co_await chooseBestEntries();
}

platform::Awaitable<void> CVDirectionsServiceImpl::originVenueMatrix() {
    if (!originVenueGraphId) co_return;
    distanceMatrix.graphId = originVenueGraphId;
    std::vector<std::string> origins{origin->description()};
    auto result =
        co_await distanceMatrix.distanceMatrix(std::move(origins), originEntryPointStringsExternal, travelModeText,
                                               avoid, exclude, departureTime, arrivalTime, userRoles);
    if (result && !matrixResults.empty()) matrixResults.front() = std::move(*result);
}

platform::Awaitable<void> CVDirectionsServiceImpl::outdoorMatrix() {
    if (!externalMatrix) co_return;
    auto result =
        co_await externalMatrix->query(originEntryPointExternal, destinationEntryPointExternal, directionsConfig());
    const std::size_t slot = originVenueGraphId ? 1 : 0;
    if (result && slot < matrixResults.size()) matrixResults[slot] = std::move(*result);
}

platform::Awaitable<void> CVDirectionsServiceImpl::destinationVenueMatrix() {
    if (!destinationVenueGraphId) co_return;
    distanceMatrix.graphId = destinationVenueGraphId;
    std::vector<std::string> destinations{destination->description()};
    auto result =
        co_await distanceMatrix.distanceMatrix(destinationEntryPointStringsExternal, std::move(destinations),
                                               travelModeText, avoid, exclude, departureTime, arrivalTime, userRoles);
    if (result && !matrixResults.empty()) matrixResults.back() = std::move(*result);
}

}  // namespace ambrell
