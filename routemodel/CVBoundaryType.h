#pragma once

#include <cstdint>

namespace ambrell {

// The travel modes a route-network entry point serves, as bits; the names are
// the route network's texts ("administrative", "walking", ...).
enum class CVBoundaryType : std::uint8_t {
    none = 0,
    administrative = 1,
    walking = 2,
    driving = 4,
    bicycling = 8,
    transit = 16,
};

}  // namespace ambrell
