#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "Ambrell/CVHighway.h"
#include "Ambrell/CVUserRole.h"
#include "platform/runtime/Executor.h"
#include "routemodel/CVDistanceMatrixResult.h"

namespace ambrell {

// The web service's distance matrix inside one venue route-network graph.
// The caller sets `graphId` right before each request, so one client serves
// one request at a time.
class CVDistanceMatrixProvider {
public:
    using Date = std::chrono::system_clock::time_point;

    std::optional<std::string> solutionId;
    std::optional<std::string> graphId;

    // The matrix from every origin to every destination (points as texts).
    // None when no URL can be made from the base URL, or no body came back.
    // The departure and arrival are accepted and not sent.
    //   Completes: on the caller's executor.
    //   Errors: CVError.invalidRouteQuery, before any request, for an empty
    //     list (logged) or a missing solution or graph id; the HTTP data
    //     provider's errors and CVRouteCodingError for an unreadable body,
    //     passed through.
    //   Cancelling: the request is aborted and CancellationError thrown.
    platform::Awaitable<std::optional<CVDistanceMatrixResult>> distanceMatrix(
        std::vector<std::string> origins, std::vector<std::string> destinations, std::string travelMode,
        std::optional<std::vector<CVHighway>> avoid, std::optional<std::vector<CVHighway>> exclude,
        std::optional<Date> depart, std::optional<Date> arrive, std::optional<std::vector<CVUserRole>> userRoles);

    // The request's URL; none when the base URL does not parse or the
    // solution id is empty.
    [[nodiscard]] static std::optional<std::string> requestUrl(
        const std::string& solutionId, const std::string& graphId, const std::vector<std::string>& origins,
        const std::vector<std::string>& destinations, const std::string& travelMode,
        const std::optional<std::vector<CVHighway>>& avoid, const std::optional<std::vector<CVHighway>>& exclude,
        const std::optional<std::vector<CVUserRole>>& userRoles);
};

}  // namespace ambrell
