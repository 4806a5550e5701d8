#pragma once

namespace ambrell {

// What kind of journey a route leg is. Legs of the web directions endpoint
// that carry no type are venue legs.
enum class CVRouteLegType : int {
    venue = 0,
    outdoor = 1,
};

}  // namespace ambrell
