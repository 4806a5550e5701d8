#pragma once

#include "Source/AXCommon/AXNode.h"

#include <cstdint>
#include <string>
#include <utility>

namespace ambrell {

// A directed routing-graph edge. A default-constructed edge is the empty
// record: zero nodes, zero distance, empty context.
struct AXEdge {
    AXNode u;
    AXNode v;
    std::int64_t highwayType = 0;
    std::uint32_t distance = 0;  // millimetres
    std::string context;
    std::int32_t waittime = 0;  // whole seconds

    [[nodiscard]] static AXEdge EdgeWithU(AXNode u, AXNode v, std::int64_t highwayType, std::uint32_t distance,
                                          std::string context, std::int32_t waittime) {
        return {u, v, highwayType, distance, std::move(context), waittime};
    }

    friend bool operator==(const AXEdge&, const AXEdge&) = default;
};

}  // namespace ambrell
