#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

#include "Ambrell/CVHighway.h"
#include "Ambrell/CVLocation.h"
#include "Ambrell/CVPoint.h"
#include "Ambrell/CVTravelMode.h"

namespace ambrell {

// One directions request of a host. Each end is a location (whose position is
// taken) or a point; a location wins over a point given beside it, and so do
// stop locations over stop points.
struct CVDirectionsQuery {
    using Date = std::chrono::system_clock::time_point;

    std::shared_ptr<CVLocation> origin;
    std::optional<CVPoint> originPoint;
    std::shared_ptr<CVLocation> destination;
    std::optional<CVPoint> destinationPoint;
    std::optional<std::vector<std::shared_ptr<CVLocation>>> stops;
    std::optional<std::vector<CVPoint>> stopsPoints;
    CVTravelMode travelMode = CVTravelMode::walking;
    std::optional<std::vector<CVHighway>> avoidWayTypes;
    std::optional<std::vector<CVHighway>> excludeWayTypes;
    std::optional<Date> departure;
    std::optional<Date> arrival;
    // Whether the stops may be visited in another order.
    bool optimizeRoute = false;
};

}  // namespace ambrell
