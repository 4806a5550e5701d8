#pragma once

#include <optional>
#include <vector>

#include "platform/Coordinate.h"
#include "viewmodels/ViewModel.h"

namespace ambrell {

// What one route leg needs drawn: its line and its markers. The directions
// renderer fills it and hands it to the adapter's route renderer, which only
// reads it; nothing guards it, so it is not changed once handed over.
class RouteViewModelProducer {
public:
    RouteViewModelProducer() = default;

    // The leg's line, in drawing order.
    std::vector<CLLocationCoordinate2D> polyline;
    // The markers at the leg's two ends, when the renderer shows them.
    std::optional<ViewModel> start;
    std::optional<ViewModel> end;
    // The route's stop markers. Absent for a route without stops; empty when
    // the route has stops but none is shown on this leg's floor.
    std::optional<std::vector<ViewModel>> stops;
};

}  // namespace ambrell
