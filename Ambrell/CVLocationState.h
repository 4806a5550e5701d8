#pragma once

#include <cstdint>

namespace ambrell {

// How the map draws a location beyond its rule: as it is, as the selected
// one, or highlighted (by the host's highlight filter). Locations keep the
// raw value.
enum class CVLocationState : std::int64_t {
    normal = 0,
    selected = 1,
    highlighted = 2,
};

}  // namespace ambrell
