#pragma once

#include <cstdint>
#include <string_view>

namespace ambrell {

// Barrier kinds of a route-network node; 0 means none. The boundary kinds
// are routemodel's CVBoundaryType bits (1 administrative, 2 walking,
// 4 driving, 8 bicycling, 16 transit).
namespace CVBarrierType {
inline constexpr std::uint8_t kNone = 0;
inline constexpr std::uint8_t kGate = 1;
inline constexpr std::uint8_t kGateElevator = 2;
}  // namespace CVBarrierType

// "gate" 1, "gateelevator" 2; looked up as given, then in lower case; the empty
// string and unknown texts give 0.
[[nodiscard]] std::uint8_t as_CVBarrierType(std::string_view text);
// "administrative" 1, "walking" 2, "driving" 4, "bicycling" 8, "transit" 16;
// looked up like the barrier kinds.
[[nodiscard]] std::uint8_t as_CVBoundaryType(std::string_view text);

}  // namespace ambrell
