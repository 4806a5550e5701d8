#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "Ambrell/CVCameraViewFitMode.h"
#include "Ambrell/UIEdgeInsets.h"
#include "platform/Color.h"
#include "platform/Coordinate.h"
#include "viewmodels/CVRouteMarkerDelegate.h"
#include "viewmodels/RouteViewModelProducer.h"

namespace ambrell {

// The map-provider adapter's drawing of route legs. The library fixes only
// what it passes; how the adapter draws is its own business. Called on the
// thread the directions renderer runs on, the main thread in practice.
class CVRouteRenderer {
public:
    virtual ~CVRouteRenderer() = default;

    // Where taps on drawn route markers are reported, with the marker's id.
    // Held weakly: the directions renderer that sets itself here keeps the
    // map, and so this adapter, alive.
    [[nodiscard]] virtual std::shared_ptr<CVRouteMarkerDelegate> routeMarkerDelegate() const = 0;
    virtual void setRouteMarkerDelegate(std::weak_ptr<CVRouteMarkerDelegate> delegate) = 0;

    // Draws the model's line as a `primaryWidth` wide line in `primaryColor`
    // under a `secondaryWidth` wide one in `secondaryColor`, with its start,
    // end and stop view models as markers.
    virtual void apply(std::shared_ptr<const RouteViewModelProducer> model, bool animate, double duration,
                       bool repeating, platform::Color primaryColor, platform::Color secondaryColor, float primaryWidth,
                       float secondaryWidth, bool pathSmoothing) = 0;

    // Moves the camera so that the points are in view inside the padding.
    virtual void moveCamera(std::vector<CLLocationCoordinate2D> points, bool animate, std::int64_t durationMs,
                            float tilt, CVCameraViewFitMode fitMode, UIEdgeInsets padding) = 0;

    // Removes everything earlier apply() calls drew.
    virtual void clear() = 0;
};

}  // namespace ambrell
