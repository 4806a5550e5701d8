#pragma once

#include "Source/AXCommon/AXCoordinate.h"

#include <utility>
#include <vector>

namespace ambrell {

// A ring or a line of coordinates; rings may be given open or closed.
struct AXPath {
    std::vector<AXCoordinate> coordinates;

    [[nodiscard]] static AXPath PathWithCoordinates(std::vector<AXCoordinate> coordinates) {
        return {std::move(coordinates)};
    }

    friend bool operator==(const AXPath&, const AXPath&) = default;
};

}  // namespace ambrell
