#pragma once

#include "Source/AXCommon/AXCoordinate.h"
#include "Source/AXCommon/AXOrdering.h"

#include <optional>
#include <string>
#include <vector>

namespace ambrell {

// What a user searches for. Empty text matches every location.
struct AXQuery {
    std::string text{};
    // Keys of the texts that take part (compared without case); empty means all.
    std::vector<std::string> propertyKeys{};
    std::optional<AXCoordinate> near{};
    AXOrdering ordering = AXOrdering::relevance;

    friend bool operator==(const AXQuery&, const AXQuery&) = default;
};

}  // namespace ambrell
