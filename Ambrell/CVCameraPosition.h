#pragma once

#include "platform/Coordinate.h"

namespace ambrell {

// Where the map camera looks from: its target, zoom level, bearing (degrees
// clockwise from north) and tilt (degrees from straight down).
struct CVCameraPosition {
    platform::CLLocationCoordinate2D target;
    float zoom = 0;
    double bearing = 0;
    double tilt = 0;

    friend bool operator==(const CVCameraPosition&, const CVCameraPosition&) = default;
};

}  // namespace ambrell
