#pragma once

#include "platform/Coordinate.h"

namespace ambrell {

// One fix of the user's position from a position provider.
struct CVPositionResult {
    CLLocationCoordinate2D coordinate;
    // The floor the user is on.
    int floorIndex = 0;
    // Degrees clockwise from north.
    double bearing = 0;
    // Radius, in metres, of the circle the user is likely within.
    double accuracy = 0;

    friend bool operator==(const CVPositionResult&, const CVPositionResult&) = default;
};

}  // namespace ambrell
