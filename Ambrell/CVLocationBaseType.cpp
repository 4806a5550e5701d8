#include "Ambrell/CVLocationBaseType.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

namespace ambrell {

namespace {

constexpr std::array<std::pair<std::string_view, CVLocationBaseType>, 6> names{{
    {"POI", CVLocationBaseType::pointOfInterest},
    {"AREA", CVLocationBaseType::area},
    {"ROOM", CVLocationBaseType::room},
    {"FLOOR", CVLocationBaseType::floor},
    {"BUILDING", CVLocationBaseType::building},
    {"VENUE", CVLocationBaseType::venue},
}};

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
    });
}

}  // namespace

CVLocationBaseType as_CVLocationBaseType(std::optional<std::string_view> text) {
    if (!text) return CVLocationBaseType::pointOfInterest;
    for (const auto& [name, type] : names) {
        if (equalsIgnoringCase(name, *text)) return type;
    }
    return CVLocationBaseType::pointOfInterest;
}

std::string_view CVLocationBaseTypeName(CVLocationBaseType type) {
    for (const auto& [name, value] : names) {
        if (value == type) return name;
    }
    return "POI";
}

}  // namespace ambrell
