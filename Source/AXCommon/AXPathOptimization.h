#pragma once

#include "Source/AXCommon/AXEdge.h"
#include "Source/AXCommon/AXRoomPathSegment.h"

#include <cstdint>
#include <vector>

namespace ambrell {

// Straightens routed paths inside rooms: wherever a walker can see further
// ahead than the next node while keeping clear of walls and obstacles, the
// nodes in between are skipped. Stateless; calls are synchronous.
class AXPathOptimization {
public:
    // Strategy bits. Bit 1 is always set by callers; straightening runs when
    // bit 2 or bit 4 is set; bit 8 ("even where the route network does not
    // allow it") is decided by the caller before asking.
    static constexpr std::uint32_t kStrategyBase = 1;
    static constexpr std::uint32_t kStrategyStraighten = 2;
    static constexpr std::uint32_t kStrategyStraightenAlternate = 4;
    static constexpr std::uint32_t kStrategyIgnoreNetworkSetting = 8;

    // The wall distance used for a negative minWallDistanceMeter.
    static constexpr double kDefaultWallDistanceMeter = 0.2;

    [[nodiscard]] static AXPathOptimization create() { return {}; }

    // Each segment's edges, straightened where possible, segment after
    // segment. A segment that cannot be worked on (edges that do not join up,
    // an unusable room polygon, no room left after keeping off the walls)
    // comes back unchanged. Throws std::invalid_argument for a NaN or
    // positive infinite wall distance; errors of the geometry engine
    // propagate as exceptions.
    [[nodiscard]] std::vector<AXEdge> optimizePathEx(const std::vector<AXRoomPathSegment>& segments,
                                                     std::uint32_t optimizationStrategy,
                                                     float minWallDistanceMeter) const;
};

}  // namespace ambrell
