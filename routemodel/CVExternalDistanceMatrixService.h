#pragma once

#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "Ambrell/CVPoint.h"
#include "platform/Coordinate.h"
#include "platform/runtime/Executor.h"
#include "routemodel/CVDirectionsConfig.h"
#include "routemodel/CVDistanceMatrixResult.h"

namespace ambrell {

// Outdoor distance matrices, supplied by a map-provider adapter.
class CVExternalDistanceMatrixService {
public:
    using Points = std::vector<std::shared_ptr<CVPoint>>;

    CVExternalDistanceMatrixService() = default;
    CVExternalDistanceMatrixService(const CVExternalDistanceMatrixService&) = delete;
    CVExternalDistanceMatrixService& operator=(const CVExternalDistanceMatrixService&) = delete;
    virtual ~CVExternalDistanceMatrixService() = default;

    // The matrix from every origin to every destination, or none. Arguments
    // are taken by value: the coroutine outlives the caller's expression.
    //   Completes: on the caller's executor.
    //   Errors: the adapter's, thrown.
    //   Cancelling: an adapter should stop its request and throw
    //     CancellationError.
    using Coordinates = std::vector<CLLocationCoordinate2D>;
    virtual platform::Awaitable<std::optional<CVDistanceMatrixResult>> query(Coordinates origins,
                                                                             Coordinates destinations,
                                                                             CVDirectionsConfig config) = 0;

    // Called before query with the candidate points: the adapter may shorten
    // either list (to keep within its service's limits); the lists it returns
    // replace the candidates, in order.
    virtual std::pair<Points, Points> pruneMatrixDimensions(Points origins, Points destinations) = 0;
};

}  // namespace ambrell
