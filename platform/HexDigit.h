#pragma once

// Internal to platform.

#include <cstdint>
#include <optional>

namespace ambrell::platform::detail {

// The value of a hexadecimal digit of either case; none for any other character.
constexpr std::optional<std::uint8_t> hexDigitValue(char digit) {
    if (digit >= '0' && digit <= '9') return static_cast<std::uint8_t>(digit - '0');
    if (digit >= 'a' && digit <= 'f') return static_cast<std::uint8_t>(digit - 'a' + 10);
    if (digit >= 'A' && digit <= 'F') return static_cast<std::uint8_t>(digit - 'A' + 10);
    return std::nullopt;
}

}  // namespace ambrell::platform::detail
