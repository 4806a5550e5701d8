#pragma once

#include "Source/AXCommon/AXCoordinate.h"
#include "Source/AXCommon/AXCoordinateBounds.h"

namespace ambrell {

struct AXGeometry {
    AXCoordinate position;
    AXCoordinateBounds bounds;

    [[nodiscard]] static AXGeometry GeometryWithPosition(AXCoordinate position, AXCoordinateBounds bounds) {
        return {position, bounds};
    }

    friend bool operator==(const AXGeometry&, const AXGeometry&) = default;
};

}  // namespace ambrell
