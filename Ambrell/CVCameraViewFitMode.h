#pragma once

namespace ambrell {

// How the map's camera is turned when it is fitted to a route leg.
enum class CVCameraViewFitMode : int {
    // North up.
    northAligned = 0,
    // Along the leg's first step; what a route is fitted with unless told otherwise.
    firstStepAligned = 1,
    // Along the line from the leg's start to its end.
    startToEndAligned = 2,
};

}  // namespace ambrell
