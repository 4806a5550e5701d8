#pragma once

#include <memory>

#include "platform/Coordinate.h"
#include "platform/runtime/Executor.h"
#include "routemodel/CVDirectionsConfig.h"
#include "routemodel/CVRouteInternal.h"

namespace ambrell {

// Outdoor directions, supplied by a map-provider adapter. The adapter builds
// its answer from the route model's own objects, because route assembly folds
// outdoor legs and steps together with the venue ones.
class CVExternalDirectionsService {
public:
    CVExternalDirectionsService() = default;
    CVExternalDirectionsService(const CVExternalDirectionsService&) = delete;
    CVExternalDirectionsService& operator=(const CVExternalDirectionsService&) = delete;
    virtual ~CVExternalDirectionsService() = default;

    // A route from origin to destination, or null when there is none.
    // Arguments are taken by value: the coroutine outlives the caller's
    // expression.
    //   Completes: on the caller's executor.
    //   Errors: the adapter's, thrown.
    //   Cancelling: an adapter should stop its request and throw
    //     CancellationError.
    virtual platform::Awaitable<std::shared_ptr<CVRouteInternal>> query(CLLocationCoordinate2D origin,
                                                                        CLLocationCoordinate2D destination,
                                                                        CVDirectionsConfig config) = 0;
};

}  // namespace ambrell
