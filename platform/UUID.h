#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace ambrell::platform {

// A 128-bit universally unique identifier. The default value is the nil UUID.
class UUID {
public:
    using Bytes = std::array<std::uint8_t, 16>;

    constexpr UUID() = default;
    constexpr explicit UUID(const Bytes& bytes) : bytes_(bytes) {}

    // A version 4 (random) UUID from the kernel's random source.
    [[nodiscard]] static UUID random();
    // Parses the canonical 8-4-4-4-12 form, hexadecimal digits of either case.
    [[nodiscard]] static std::optional<UUID> fromString(std::string_view text);

    // Canonical form, upper case, as the platform prints it.
    [[nodiscard]] std::string uuidString() const;
    [[nodiscard]] constexpr const Bytes& bytes() const { return bytes_; }

    friend constexpr bool operator==(const UUID&, const UUID&) = default;
    friend constexpr auto operator<=>(const UUID&, const UUID&) = default;

private:
    Bytes bytes_{};
};

}  // namespace ambrell::platform

template <>
struct std::hash<ambrell::platform::UUID> {
    std::size_t operator()(const ambrell::platform::UUID& uuid) const noexcept;
};
