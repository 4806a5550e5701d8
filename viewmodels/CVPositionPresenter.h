#pragma once

#include <memory>

#include "platform/Color.h"
#include "platform/Coordinate.h"
#include "platform/Image.h"

namespace ambrell {

// The map-provider adapter's drawing of the user's position: a marker and an
// accuracy circle. Called from background tasks: the adapter moves the
// drawing to its own thread.
class CVPositionPresenter {
public:
    virtual ~CVPositionPresenter() = default;

    // Draws, or moves, the marker (`markerBearing` in degrees, `markerOpacity`
    // 0 to 1) and the circle of `circleRadiusMeters` around `position`.
    virtual void apply(CLLocationCoordinate2D position, std::shared_ptr<const platform::Image> markerIcon,
                       double markerBearing, double markerOpacity, double circleRadiusMeters,
                       platform::Color circleFillColor, platform::Color circleStrokeColor,
                       double circleStrokeWidth) = 0;
    // Removes the marker and the circle.
    virtual void clear() = 0;
};

}  // namespace ambrell
