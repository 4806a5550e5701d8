#pragma once

#include "Ambrell/CVHighway.h"

#include <optional>

namespace ambrell {

// Speeds (metres per second) and delays (seconds) of the offline routing.
class CVRoutingConstants {
public:
    CVRoutingConstants() = delete;

    [[nodiscard]] static constexpr double walkingSpeedMetersPerSecond() { return 1.3; }
    [[nodiscard]] static constexpr double doorOpeningTime() { return 2.0; }
    [[nodiscard]] static constexpr double elevatorWaitingTime() { return 20.0; }
    [[nodiscard]] static constexpr double avoidStairsPenaltyTime() { return 300.0; }
    [[nodiscard]] static constexpr double avoidWheelChairLiftsAndRampsPenaltyTime() { return 300.0; }
    // Walking speed for the plain ways and for no way type at all.
    [[nodiscard]] static double speedForHighwayType(std::optional<CVHighway> highway);
};

}  // namespace ambrell
