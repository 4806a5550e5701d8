#include "Ambrell/CVHighway.h"

#include <array>
#include <cstddef>

#include "Ambrell/CVAsciiText.h"

namespace ambrell {

namespace {

// Indexed by raw type.
constexpr std::array<std::string_view, 12> kTypeStrings = {
    "unclassified", "footway",    "residential", "service",        "ramp",           "steps",
    "escalator",    "travelator", "elevator",    "wheelchairramp", "wheelchairlift", "ladder",
};

}  // namespace

CVHighway CVHighway::initWithTypeString(std::string_view typeString) {
    for (std::size_t raw = 0; raw < kTypeStrings.size(); ++raw) {
        if (equalsIgnoringASCIICase(typeString, kTypeStrings[raw])) return withType(static_cast<long long>(raw));
    }
    if (equalsIgnoringASCIICase(typeString, "stairs")) return stairs();
    return unclassified();
}

std::string_view CVHighway::typeString() const { return kTypeStrings[static_cast<std::size_t>(rawType())]; }

std::vector<std::string> CVHighway::highwaysAsStrings(std::span<const CVHighway> highways) {
    std::vector<std::string> strings;
    strings.reserve(highways.size());
    for (const auto& highway : highways) strings.emplace_back(highway.typeString());
    return strings;
}

std::vector<CVHighway> CVHighway::stringsAsHighways(std::span<const std::string> strings) {
    std::vector<CVHighway> highways;
    highways.reserve(strings.size());
    for (const auto& string : strings) highways.push_back(initWithTypeString(string));
    return highways;
}

}  // namespace ambrell
