#include "routing/Graph/CVPropertyClassification.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>
#include <utility>

namespace ambrell {

namespace {

using Table = std::array<std::pair<std::string_view, std::uint8_t>, 5>;

// Constant tables: nothing to build at run time, so nothing to guard.
constexpr Table kBarrierTypes = {{{"gate", 1}, {"gateelevator", 2}, {"", 0}, {"", 0}, {"", 0}}};
constexpr Table kBoundaryTypes = {
    {{"administrative", 1}, {"walking", 2}, {"driving", 4}, {"bicycling", 8}, {"transit", 16}}};

std::uint8_t lookUp(const Table& table, std::string_view text) {
    if (text.empty()) return 0;
    const auto find = [&](std::string_view key) -> const std::uint8_t* {
        for (const auto& [name, value] : table) {
            if (!name.empty() && name == key) return &value;
        }
        return nullptr;
    };
    if (const auto* value = find(text)) return *value;
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (const auto* value = find(lower)) return *value;
    return 0;
}

}  // namespace

std::uint8_t as_CVBarrierType(std::string_view text) { return lookUp(kBarrierTypes, text); }

std::uint8_t as_CVBoundaryType(std::string_view text) { return lookUp(kBoundaryTypes, text); }

}  // namespace ambrell
