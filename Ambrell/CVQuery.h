#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "Ambrell/CVGeometry.h"
#include "Ambrell/CVPoint.h"

namespace ambrell {

// A text search over the loaded locations. Empty text matches every location.
struct CVQuery {
    std::string query{};
    // Names of the texts searched ("name", "externalid", "aliases" or a field
    // name), in any letter case; empty searches them all.
    std::vector<std::string> queryProperties{};
    // Ranks nearer locations first among equally good matches.
    std::optional<CVPoint> near{};
};

// Conditions every answered location meets, all at once. For the id lists an
// absent list does not restrict, while an empty one matches nothing.
struct CVFilter {
    // Location ids.
    std::optional<std::vector<std::string>> locations{};
    // Ids of direct parents (floor, building or venue).
    std::optional<std::vector<std::string>> parents{};
    // Category keys; a location sharing one of them is kept.
    std::optional<std::vector<std::string>> categories{};
    // Location type names, in any letter case.
    std::optional<std::vector<std::string>> types{};
    // Indoor locations need this floor; outdoor ones show on every floor.
    std::optional<double> floorIndex{};
    // Kept when a location's bounding box meets this box, edges included.
    std::optional<CVGeoBounds> bounds{};
    // Applied after ordering; unlimited by default.
    std::uint32_t take = std::numeric_limits<std::uint32_t>::max();
    std::uint32_t skip = 0;
    bool ignoreSearchableStatus = false;
    bool ignoreActiveStatus = false;
};

}  // namespace ambrell
