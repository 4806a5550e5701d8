#include "livedata/mqtt/MQTTData.h"

#include "platform/TextEncoding.h"

namespace ambrell {

namespace {

std::string_view asText(std::span<const std::uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace

void appendByte(Bytes& data, std::uint32_t value) { data.push_back(static_cast<std::uint8_t>(value & 0xFFU)); }

void appendUInt16BigEndian(Bytes& data, std::uint32_t value) {
    const std::uint8_t bytes[] = {static_cast<std::uint8_t>((value >> 8) & 0xFFU),
                                  static_cast<std::uint8_t>(value & 0xFFU)};
    data.insert(data.end(), std::begin(bytes), std::end(bytes));
}

void appendUInt32BigEndian(Bytes& data, std::uint32_t value) {
    const std::uint8_t bytes[] = {
        static_cast<std::uint8_t>((value >> 24) & 0xFFU), static_cast<std::uint8_t>((value >> 16) & 0xFFU),
        static_cast<std::uint8_t>((value >> 8) & 0xFFU), static_cast<std::uint8_t>(value & 0xFFU)};
    data.insert(data.end(), std::begin(bytes), std::end(bytes));
}

bool appendVariableLength(Bytes& data, std::uint32_t value) {
    if (value > kMaxVariableByteInteger) return false;
    do {
        std::uint8_t byte = value & 0x7FU;
        value >>= 7;
        if (value != 0) byte |= 0x80U;
        data.push_back(byte);
    } while (value != 0);
    return true;
}

bool appendMQTTString(Bytes& data, std::string_view text) {
    if (text.size() > kMaxStringLength || !platform::isValidUTF8(text)) return false;
    appendUInt16BigEndian(data, static_cast<std::uint32_t>(text.size()));
    data.insert(data.end(), text.begin(), text.end());
    return true;
}

bool appendBinaryData(Bytes& data, std::span<const std::uint8_t> bytes) {
    if (bytes.size() > kMaxStringLength) return false;
    appendUInt16BigEndian(data, static_cast<std::uint32_t>(bytes.size()));
    data.insert(data.end(), bytes.begin(), bytes.end());
    return true;
}

std::size_t variableLengthSize(std::uint32_t value) {
    if (value < 128U) return 1;
    if (value < 16'384U) return 2;
    if (value < 2'097'152U) return 3;
    if (value <= kMaxVariableByteInteger) return 4;
    return 0;
}

std::optional<VariableByteInteger> readVariableByteInteger(std::span<const std::uint8_t> data,
                                                           VariableByteIntegerError* error) {
    std::uint32_t value = 0;
    for (std::size_t index = 0; index < 4; ++index) {
        if (index >= data.size()) {
            if (error != nullptr) *error = VariableByteIntegerError::truncated;
            return std::nullopt;
        }
        const std::uint8_t byte = data[index];
        value |= static_cast<std::uint32_t>(byte & 0x7FU) << (7 * index);
        if ((byte & 0x80U) == 0) return VariableByteInteger{value, index + 1};
    }
    if (error != nullptr) *error = VariableByteIntegerError::tooLong;
    return std::nullopt;
}

std::optional<std::uint16_t> readUInt16BigEndian(std::span<const std::uint8_t> data) {
    if (data.size() < 2) return std::nullopt;
    return static_cast<std::uint16_t>((data[0] << 8) | data[1]);
}

std::optional<std::uint32_t> readUInt32BigEndian(std::span<const std::uint8_t> data) {
    if (data.size() < 4) return std::nullopt;
    return (static_cast<std::uint32_t>(data[0]) << 24) | (static_cast<std::uint32_t>(data[1]) << 16) |
           (static_cast<std::uint32_t>(data[2]) << 8) | static_cast<std::uint32_t>(data[3]);
}

std::optional<std::span<const std::uint8_t>> readBinaryData(std::span<const std::uint8_t> data) {
    const auto count = readUInt16BigEndian(data);
    if (!count || data.size() - 2 < *count) return std::nullopt;
    return data.subspan(2, *count);
}

std::string textFromUTF8OrLatin1(std::span<const std::uint8_t> bytes) {
    const std::string_view text = asText(bytes);
    if (platform::isValidUTF8(text)) return std::string(text);
    std::string converted;
    converted.reserve(bytes.size() * 2);
    for (const std::uint8_t byte : bytes) {
        if (byte < 0x80U) {
            converted.push_back(static_cast<char>(byte));
        } else {
            converted.push_back(static_cast<char>(0xC0U | (byte >> 6)));
            converted.push_back(static_cast<char>(0x80U | (byte & 0x3FU)));
        }
    }
    return converted;
}

}  // namespace ambrell
