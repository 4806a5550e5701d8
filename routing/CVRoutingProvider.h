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
#include "routing/CVOnlineRoutingService.h"

namespace ambrell {

// The directions planner's handle on the online routing service, for one
// venue graph at a time: the planner sets `venue` before every request. One
// request at a time.
class CVRoutingProvider {
public:
    using Date = std::chrono::system_clock::time_point;

    // The content language to start with; the service may be replaced (tests).
    explicit CVRoutingProvider(std::string solutionId,
                               std::shared_ptr<CVRoutingService> service = std::make_shared<CVOnlineRoutingService>());

    std::string language;
    std::string solutionId;
    // The route-network graph id to route in.
    std::optional<std::string> venue;

    [[nodiscard]] const std::shared_ptr<CVRoutingService>& onlineRoutingService() const { return service_; }

    // The routing service's route from `from` to `to` (each rebuilt with z
    // its floor index) in `venue`; its answer and error pass through.
    //   Completes: on the caller's executor.
    platform::Awaitable<std::shared_ptr<CVRouteInternal>> route(
        CVPoint from, CVPoint to, std::optional<std::vector<CVPoint>> stops, bool optimize, std::string by,
        std::optional<std::vector<CVHighway>> avoid, std::optional<std::vector<CVHighway>> exclude,
        std::optional<Date> depart, std::optional<Date> arrive, std::optional<std::vector<CVUserRole>> userRoles);

private:
    std::shared_ptr<CVRoutingService> service_;
};

}  // namespace ambrell
