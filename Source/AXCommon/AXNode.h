#pragma once

#include "Source/AXCommon/AXCoordinate.h"

#include <cstdint>

namespace ambrell {

// A routing-graph node as the path optimiser sees it. Graph node ids wider
// than 31 bits cannot be carried here.
struct AXNode {
    AXCoordinate position;
    float altitude = 0;
    std::int32_t nodeId = 0;
    // False pins the node: a straightened path still passes through it.
    bool allowPathOptimization = false;

    [[nodiscard]] static AXNode NodeWithPosition(AXCoordinate position, float altitude, std::int32_t nodeId,
                                                 bool allowPathOptimization) {
        return {position, altitude, nodeId, allowPathOptimization};
    }

    friend bool operator==(const AXNode&, const AXNode&) = default;
};

}  // namespace ambrell
