#include "platform/UUID.h"

#include <sys/random.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "platform/HexDigit.h"

namespace ambrell::platform {

namespace {

using detail::hexDigitValue;

constexpr std::array<std::size_t, 4> kDashPositions{8, 13, 18, 23};
constexpr std::size_t kCanonicalLength = 36;

void fillRandom(UUID::Bytes& bytes) {
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const auto got = ::getrandom(bytes.data() + filled, bytes.size() - filled, 0);
        if (got > 0) {
            filled += static_cast<std::size_t>(got);
        } else if (got < 0 && errno != EINTR) {
            break;
        }
    }
    if (filled == bytes.size()) return;
    // Only a kernel without getrandom gets here; random_device reads /dev/urandom.
    std::random_device device;
    for (auto& byte : bytes) byte = static_cast<std::uint8_t>(device());
}

bool isDashPosition(std::size_t index) {
    for (const auto position : kDashPositions) {
        if (index == position) return true;
    }
    return false;
}

}  // namespace

UUID UUID::random() {
    Bytes bytes;
    fillRandom(bytes);
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    return UUID(bytes);
}

std::optional<UUID> UUID::fromString(std::string_view text) {
    if (text.size() != kCanonicalLength) return std::nullopt;
    Bytes bytes{};
    std::size_t nibble = 0;
    for (std::size_t index = 0; index < text.size(); ++index) {
        if (isDashPosition(index)) {
            if (text[index] != '-') return std::nullopt;
            continue;
        }
        const auto value = hexDigitValue(text[index]);
        if (!value) return std::nullopt;
        auto& byte = bytes[nibble / 2];
        byte = static_cast<std::uint8_t>(nibble % 2 == 0 ? *value << 4 : byte | *value);
        ++nibble;
    }
    return UUID(bytes);
}

std::string UUID::uuidString() const {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(kCanonicalLength);
    for (std::size_t index = 0; index < bytes_.size(); ++index) {
        if (index == 4 || index == 6 || index == 8 || index == 10) text.push_back('-');
        text.push_back(kDigits[bytes_[index] >> 4]);
        text.push_back(kDigits[bytes_[index] & 0x0F]);
    }
    return text;
}

}  // namespace ambrell::platform

std::size_t std::hash<ambrell::platform::UUID>::operator()(const ambrell::platform::UUID& uuid) const noexcept {
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    std::memcpy(&high, uuid.bytes().data(), sizeof high);
    std::memcpy(&low, uuid.bytes().data() + sizeof high, sizeof low);
    // Mixed rather than taken as is: UUIDs that are not random (names, nil,
    // hand-written test values) often share most of their bytes.
    std::uint64_t mixed = high ^ (low + 0x9E3779B97F4A7C15ULL + (high << 6) + (high >> 2));
    mixed ^= mixed >> 33;
    mixed *= 0xFF51AFD7ED558CCDULL;
    mixed ^= mixed >> 33;
    return static_cast<std::size_t>(mixed);
}
