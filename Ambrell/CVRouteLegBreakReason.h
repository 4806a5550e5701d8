#pragma once

namespace ambrell {

// Why a route leg starts or ends where it does. Readers compare raw values;
// a value the route data carries beyond these cases is kept as it came.
enum class CVRouteLegBreakReason : int {
    unknown = 0,
    venueEntry = 1,
    venueExit = 2,
    floorChange = 3,
    stop = 4,
};

}  // namespace ambrell
