#include "routing/CVRoutingConstants.h"

namespace ambrell {

double CVRoutingConstants::speedForHighwayType(std::optional<CVHighway> highway) {
    if (!highway) return walkingSpeedMetersPerSecond();
    switch (highway->type()) {
        case CVHighwayType::ramp: return 1.0;
        case CVHighwayType::stairs: return 0.7;
        case CVHighwayType::escalator: return 1.5;
        case CVHighwayType::travelator: return 2.0;
        case CVHighwayType::wheelchairramp:
        case CVHighwayType::wheelchairlift: return 0.5;
        case CVHighwayType::ladder: return 0.25;
        case CVHighwayType::unclassified:
        case CVHighwayType::footway:
        case CVHighwayType::residential:
        case CVHighwayType::service:
        case CVHighwayType::elevator: break;
    }
    return walkingSpeedMetersPerSecond();
}

}  // namespace ambrell
