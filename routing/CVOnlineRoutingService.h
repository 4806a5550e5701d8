#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Ambrell/CVHighway.h"
#include "Ambrell/CVPoint.h"
#include "Ambrell/CVUserRole.h"
#include "platform/runtime/Executor.h"
#include "routemodel/CVRouteInternal.h"

namespace ambrell {

// A route inside one venue route-network graph, from somewhere.
class CVRoutingService {
public:
    using Date = std::chrono::system_clock::time_point;

    CVRoutingService() = default;
    CVRoutingService(const CVRoutingService&) = delete;
    CVRoutingService& operator=(const CVRoutingService&) = delete;
    virtual ~CVRoutingService() = default;

    // Arguments are taken by value: the coroutine outlives the caller's expression.
    virtual platform::Awaitable<std::shared_ptr<CVRouteInternal>> route(
        CVPoint from, CVPoint to, std::optional<std::vector<CVPoint>> stops, bool optimize, std::string travelMode,
        std::optional<std::vector<CVHighway>> avoid, std::optional<std::vector<CVHighway>> exclude,
        std::optional<Date> depart, std::optional<Date> arrive, std::optional<std::string> solutionId,
        std::optional<std::string> graphId, std::optional<std::vector<CVUserRole>> userRoles) = 0;
};

// The web service's directions endpoint: the first route of its answer, with
// venue leg types, the avoided way types as restrictions and readable labels
// for leg addresses. Holds no state; any number of requests may run at once.
class CVOnlineRoutingService final : public CVRoutingService {
public:
    // No solution or graph id, a point that is not finite, or a base URL
    // that does not parse: null, and nothing is sent.
    //   Completes: on the caller's executor.
    //   Errors: CVError.routeNotFound for a failed request (logged; the
    //     transport's error is not passed on), an unreadable answer (logged),
    //     a status other than "OK" or no route.
    //   Cancelling: the request is aborted and CancellationError thrown.
    platform::Awaitable<std::shared_ptr<CVRouteInternal>> route(
        CVPoint from, CVPoint to, std::optional<std::vector<CVPoint>> stops, bool optimize, std::string travelMode,
        std::optional<std::vector<CVHighway>> avoid, std::optional<std::vector<CVHighway>> exclude,
        std::optional<Date> depart, std::optional<Date> arrive, std::optional<std::string> solutionId,
        std::optional<std::string> graphId, std::optional<std::vector<CVUserRole>> userRoles) override;

    // The request's URL; none when the base URL does not parse, an id is
    // empty or a point is not finite.
    [[nodiscard]] static std::optional<std::string> requestUrl(
        const CVPoint& from, const CVPoint& to, const std::optional<std::vector<CVPoint>>& stops, bool optimize,
        const std::string& travelMode, const std::optional<std::vector<CVHighway>>& avoid,
        const std::optional<std::vector<CVHighway>>& exclude, const std::optional<Date>& depart,
        const std::optional<Date>& arrive, const std::string& solutionId, const std::string& graphId,
        const std::optional<std::vector<CVUserRole>>& userRoles);

    // Fills empty start addresses and every end address with "Level …",
    // "Outside", "Walk inside" or "Walk outside".
    static void fillLegAddresses(CVRouteInternal& route);
};

}  // namespace ambrell
