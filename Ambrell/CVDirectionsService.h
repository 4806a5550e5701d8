#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "Ambrell/CVDirectionsQuery.h"
#include "Ambrell/CVRoute.h"
#include "platform/Error.h"

namespace ambrell {

// Directions for a host: one query in, at most one route out.
class CVDirectionsService {
public:
    // A route (null when none could be made) and no error, or no route and
    // the error.
    using Completion = std::function<void(std::shared_ptr<CVRoute>, std::optional<platform::NSError>)>;

    CVDirectionsService() = default;
    CVDirectionsService(const CVDirectionsService&) = delete;
    CVDirectionsService& operator=(const CVDirectionsService&) = delete;
    virtual ~CVDirectionsService() = default;

    // Returns at once; the work runs in a task of its own.
    //   Completes: exactly once, from that task (never on the main queue).
    //   Errors: CVError.routeNotFound (no origin or destination, no route
    //     networks, no way through an entry point, or any failure of the web
    //     service's routing, whose cause goes to the log only),
    //     CVError.invalidRouteQuery (no usable distance matrix), or the error
    //     the map adapter's outdoor directions throw, as error objects.
    //   Cancelling: not possible.
    virtual void routingWithQuery(CVDirectionsQuery query, Completion completion) = 0;
};

}  // namespace ambrell
