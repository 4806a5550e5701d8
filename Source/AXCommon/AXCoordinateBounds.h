#pragma once

#include "Source/AXCommon/AXCoordinate.h"

namespace ambrell {

struct AXCoordinateBounds {
    AXCoordinate northeast;
    AXCoordinate southwest;

    // North-east first, unlike most bounds types.
    [[nodiscard]] static AXCoordinateBounds CoordinateBoundsWithNortheast(AXCoordinate northeast,
                                                                          AXCoordinate southwest) {
        return {northeast, southwest};
    }

    friend bool operator==(const AXCoordinateBounds&, const AXCoordinateBounds&) = default;
};

}  // namespace ambrell
