#pragma once

#include "Ambrell/CVGeoRegion.h"
#include "platform/CGPoint.h"
#include "platform/Coordinate.h"
#include "platform/runtime/Executor.h"

namespace ambrell {

// The map engine's projection from the earth to the screen, as the adapter
// offers it for the camera of the moment.
class CVProjection {
public:
    virtual ~CVProjection() = default;

    // The part of the world on screen.
    [[nodiscard]] virtual platform::Awaitable<CVGeoRegion> visibleRegion() = 0;
    [[nodiscard]] virtual platform::Awaitable<platform::CLLocationCoordinate2D> coordinateFor(
        platform::CGPoint point) = 0;

    // The screen point, in points (the unit of icon sizes), of the
    // coordinate. Callers await one call at a time.
    [[nodiscard]] virtual platform::Awaitable<platform::CGPoint> pointFor(
        platform::CLLocationCoordinate2D coordinate) = 0;
};

}  // namespace ambrell
