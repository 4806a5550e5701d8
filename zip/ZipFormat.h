#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// Numbers of the zip file format that our own layer under minizip needs.
namespace ambrell::zipformat {

inline constexpr std::uint16_t kMethodStored = 0;
inline constexpr std::uint16_t kMethodDeflated = 8;
inline constexpr std::uint16_t kMethodAes = 99;
// WinZip AES needs readers of version 5.1.
inline constexpr std::uint16_t kVersionNeededForAes = 51;

inline constexpr std::uint16_t kFlagEncrypted = 0x0001;
inline constexpr std::uint16_t kFlagDataDescriptor = 0x0008;
inline constexpr std::uint16_t kFlagStrongEncryption = 0x0040;
inline constexpr std::uint16_t kFlagUtf8Names = 0x0800;

inline constexpr std::uint16_t kExtraZip64 = 0x0001;

// A local header's length before its name and extra field.
inline constexpr std::size_t kLocalHeaderFixedSize = 30;
inline constexpr std::uint16_t kExtraAes = 0x9901;

inline std::uint16_t readLE16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::uint32_t readLE32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t readLE64(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(readLE32(p)) | (static_cast<std::uint64_t>(readLE32(p + 4)) << 32);
}
inline void writeLE16(std::uint8_t* p, std::uint16_t value) {
    p[0] = static_cast<std::uint8_t>(value & 0xFF);
    p[1] = static_cast<std::uint8_t>(value >> 8);
}

// The data of the first extra-field block with the id; none when there is
// none or the extra field is malformed before it.
std::optional<std::span<const std::uint8_t>> findExtraField(std::span<const std::uint8_t> extra, std::uint16_t id);

// The 0x9901 block: AE-1 stores the CRC, AE-2 stores 0 in its place.
struct AesExtraField {
    std::uint16_t vendorVersion = 2;
    std::uint8_t strength = 3;
    std::uint16_t method = kMethodDeflated;

    // None unless the block is 7 bytes with the vendor "AE" and a known version.
    [[nodiscard]] static std::optional<AesExtraField> parse(std::span<const std::uint8_t> data);
    // The whole block, header included (11 bytes).
    [[nodiscard]] std::vector<std::uint8_t> serialize() const;
};

}  // namespace ambrell::zipformat
