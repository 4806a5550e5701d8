#pragma once

#include "Source/AXCommon/AXCoordinateBounds.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

namespace ambrell {

// Conditions every answered location meets, all of them at once. For the id
// lists an absent list does not restrict while an empty one matches nothing:
// a map filtered to no locations must show none.
struct AXFilter {
    std::optional<std::vector<std::int32_t>> locationIds{};
    // Direct parents only: a building pseudo-location is its own parent, so a
    // walk up the tree would never end.
    std::optional<std::vector<std::int32_t>> parentIds{};
    // Kept when the location shares at least one group.
    std::optional<std::vector<std::int32_t>> groups{};
    std::optional<std::vector<std::int32_t>> typeIds{};
    // Indoor locations need this floor (their altitude rounded); outdoor ones
    // show on every floor.
    std::optional<int> floor{};
    // Kept when the location's bounding box meets this box, edges included.
    std::optional<AXCoordinateBounds> bounds{};
    // Applied after ordering. The default take is unlimited: a render asks for
    // every visible location and never sets it.
    std::uint32_t take = std::numeric_limits<std::uint32_t>::max();
    std::uint32_t skip = 0;
    bool ignoreSearchableStatus = false;
    bool ignoreActiveStatus = false;

    friend bool operator==(const AXFilter&, const AXFilter&) = default;
};

}  // namespace ambrell
