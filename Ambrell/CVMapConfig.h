#pragma once

#include "Ambrell/CVMapBehaviors.h"

namespace ambrell {

// The host's settings for a new map control. The adapter it draws through is
// kept beside it, in one slot for the whole process (see the map control).
class CVMapConfig {
public:
    CVSelectionMode floorSelectionMode = CVSelectionMode::automatic;
    CVSelectionMode buildingSelectionMode = CVSelectionMode::automatic;
};

}  // namespace ambrell
