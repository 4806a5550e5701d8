#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "Ambrell/CVDirectionsService.h"
#include "Ambrell/CVRoute.h"
#include "Ambrell/CVTravelMode.h"
#include "platform/runtime/Executor.h"

namespace ambrell {

// The host's directions service: each query becomes plain values (points,
// stops, a travel-mode text, way types, dates, the entry object's user roles),
// records one usage event and goes to a planner of its own, so queries share
// nothing. Holds no state; any thread.
class CVDirectionsServiceInternal final : public CVDirectionsService {
public:
    void routingWithQuery(CVDirectionsQuery query, Completion completion) override;

    // The routing of one query.
    //   Completes: on the caller's executor, which must be serial.
    //   Errors: CVError.routeNotFound without origin or destination (before
    //     anything else, and no usage event); the planner's, unchanged.
    //   Cancelling: a request under way is aborted and CancellationError thrown.
    static platform::Awaitable<std::shared_ptr<CVRoute>> routing(CVDirectionsQuery query);

    // The wire text of a mode: "bicycling", "driving", "transit", else "walking".
    [[nodiscard]] static std::string travelModeText(CVTravelMode mode);
};

// The mode a text names, ignoring ASCII case ("Driving" is driving); any other
// text is unknown.
[[nodiscard]] CVTravelMode as_CVTravelMode(std::string_view text);

}  // namespace ambrell
