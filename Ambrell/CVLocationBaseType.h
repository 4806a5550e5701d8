#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace ambrell {

// What kind of place a location is. The raw values are fixed: stored
// documents and the search engine's records carry them.
enum class CVLocationBaseType : std::uint32_t {
    pointOfInterest = 0,
    area = 1,
    room = 2,
    floor = 3,
    building = 4,
    venue = 5,
};

// The text of a location's "locationType" read as a base type: "POI", "AREA",
// "ROOM", "FLOOR", "BUILDING" or "VENUE", in any letter case. Anything else,
// or no text at all, is a point of interest: every location still gets a kind.
[[nodiscard]] CVLocationBaseType as_CVLocationBaseType(std::optional<std::string_view> text);

// The upper-case text of a base type, as the readers above take it back.
[[nodiscard]] std::string_view CVLocationBaseTypeName(CVLocationBaseType type);

}  // namespace ambrell
