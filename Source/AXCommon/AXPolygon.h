#pragma once

#include "Source/AXCommon/AXPath.h"

#include <utility>
#include <vector>

namespace ambrell {

// A room outline with its holes (courtyards and obstacles alike). Ring
// orientation is free; an empty outer ring stands for "no room".
struct AXPolygon {
    AXPath outerRing;
    std::vector<AXPath> innerRings;

    [[nodiscard]] static AXPolygon PolygonWithOuterRing(AXPath outerRing, std::vector<AXPath> innerRings) {
        return {std::move(outerRing), std::move(innerRings)};
    }

    friend bool operator==(const AXPolygon&, const AXPolygon&) = default;
};

}  // namespace ambrell
