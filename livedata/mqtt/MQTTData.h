#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The byte-level vocabulary of MQTT: big-endian integers, variable byte
// integers, length-prefixed strings and binary data. Writers append to a
// growable buffer and refuse (append nothing, return false) a value the wire
// cannot carry, so no caller can emit a wrapped count or an over-long length.
// Readers never read outside the span they are given. Nothing here throws
// but std::bad_alloc.
namespace ambrell {

using Bytes = std::vector<std::uint8_t>;

// The largest value a variable byte integer carries (four bytes of 7 bits):
// also the largest remaining length of a packet.
inline constexpr std::uint32_t kMaxVariableByteInteger = 268'435'455;
// The largest frame: first byte, four length bytes and the largest body.
inline constexpr std::uint32_t kMaxFrameSize = 1 + 4 + kMaxVariableByteInteger;
// The longest string or binary value: its count is 16 bits.
inline constexpr std::size_t kMaxStringLength = 65'535;

// The low 8 bits of value.
void appendByte(Bytes& data, std::uint32_t value);
// The low 16 bits, high byte first.
void appendUInt16BigEndian(Bytes& data, std::uint32_t value);
// The four bytes, most significant first.
void appendUInt32BigEndian(Bytes& data, std::uint32_t value);
// Groups of 7 bits, least significant first, bit 7 set on all but the last
// byte; 0 is the one byte 0x00. False, nothing appended, above
// kMaxVariableByteInteger.
bool appendVariableLength(Bytes& data, std::uint32_t value);
// A 16-bit big-endian byte count and the bytes. False, nothing appended, when
// the text is longer than kMaxStringLength bytes or is not valid UTF-8.
bool appendMQTTString(Bytes& data, std::string_view text);
// A 16-bit big-endian count and the bytes. False, nothing appended, above
// kMaxStringLength bytes.
bool appendBinaryData(Bytes& data, std::span<const std::uint8_t> bytes);

// The number of bytes appendVariableLength writes for value: 1 to 4, or 0 for
// a value it refuses.
[[nodiscard]] std::size_t variableLengthSize(std::uint32_t value);

// One variable byte integer read from the start of a span.
struct VariableByteInteger {
    std::uint32_t value = 0;
    // Bytes it took, 1 to 4.
    std::size_t size = 0;
};

// Why a variable byte integer could not be read.
enum class VariableByteIntegerError {
    // The span ends before a byte that the ones before announce.
    truncated,
    // The fourth byte announces a fifth: no valid integer is that long.
    tooLong,
};

// The one reader of variable byte integers, for remaining lengths, property
// block lengths and subscription identifiers alike: 1 to 4 bytes, the fourth
// must end the field. On failure sets *error when given and returns none.
[[nodiscard]] std::optional<VariableByteInteger> readVariableByteInteger(std::span<const std::uint8_t> data,
                                                                         VariableByteIntegerError* error = nullptr);

// Big-endian integers at the start of data; none when data is too short.
[[nodiscard]] std::optional<std::uint16_t> readUInt16BigEndian(std::span<const std::uint8_t> data);
[[nodiscard]] std::optional<std::uint32_t> readUInt32BigEndian(std::span<const std::uint8_t> data);

// The count-prefixed bytes at the start of data (the 2 count bytes excluded),
// viewing data; none when data holds fewer bytes than the count announces.
[[nodiscard]] std::optional<std::span<const std::uint8_t>> readBinaryData(std::span<const std::uint8_t> data);

// The bytes as text: themselves when they are valid UTF-8, otherwise each
// byte taken as an ISO Latin 1 character (so every byte sequence has a text).
[[nodiscard]] std::string textFromUTF8OrLatin1(std::span<const std::uint8_t> bytes);

}  // namespace ambrell
