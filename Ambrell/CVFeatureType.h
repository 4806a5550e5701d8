#pragma once

#include <cstdint>

namespace ambrell {

// The kinds of map feature a host may hide. Markers, labels, badges and
// polygons cannot be hidden.
enum class CVFeatureType : std::int32_t {
    model2D = 0,
    model3D = 1,
    floorPlan = 2,
    walls = 3,
    extrusions = 4,
    // The map engine's own buildings, which the map control switches.
    buildings = 5,
};

}  // namespace ambrell
