#include "Ambrell/CVLocationBaseType.h"

#include <array>
#include <utility>

#include "Ambrell/CVAsciiText.h"

namespace ambrell {

namespace {

constexpr std::array<std::pair<std::string_view, CVLocationBaseType>, 6> kNames{{
    {"POI", CVLocationBaseType::pointOfInterest},
    {"AREA", CVLocationBaseType::area},
    {"ROOM", CVLocationBaseType::room},
    {"FLOOR", CVLocationBaseType::floor},
    {"BUILDING", CVLocationBaseType::building},
    {"VENUE", CVLocationBaseType::venue},
}};

}  // namespace

CVLocationBaseType as_CVLocationBaseType(std::optional<std::string_view> text) {
    if (!text) return CVLocationBaseType::pointOfInterest;
    for (const auto& [name, type] : kNames) {
        if (equalsIgnoringASCIICase(name, *text)) return type;
    }
    return CVLocationBaseType::pointOfInterest;
}

std::string_view CVLocationBaseTypeName(CVLocationBaseType type) {
    for (const auto& [name, value] : kNames) {
        if (value == type) return name;
    }
    return "POI";
}

}  // namespace ambrell
