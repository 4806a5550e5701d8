#include "zip/TraditionalCipher.h"

#include <zlib.h>

namespace ambrell::zipcrypto {

namespace {

// zlib's table is the zip format's CRC-32 polynomial; reading it through
// z_crc_t keeps the element width right on every platform.
std::uint32_t crcStep(std::uint32_t crc, std::uint8_t byte) {
    static const z_crc_t* const table = get_crc_table();
    return static_cast<std::uint32_t>(table[(crc ^ byte) & 0xFFu]) ^ (crc >> 8);
}

}  // namespace

TraditionalCipher::TraditionalCipher(std::string_view password) : keys_{0x12345678u, 0x23456789u, 0x34567890u} {
    for (const char c : password) update(static_cast<std::uint8_t>(c));
}

std::uint8_t TraditionalCipher::keyStreamByte() const {
    const std::uint32_t temp = (keys_[2] & 0xFFFFu) | 2u;
    return static_cast<std::uint8_t>(((temp * (temp ^ 1u)) >> 8) & 0xFFu);
}

void TraditionalCipher::update(std::uint8_t plain) {
    keys_[0] = crcStep(keys_[0], plain);
    keys_[1] = (keys_[1] + (keys_[0] & 0xFFu)) * 134775813u + 1u;
    keys_[2] = crcStep(keys_[2], static_cast<std::uint8_t>(keys_[1] >> 24));
}

void TraditionalCipher::encrypt(std::span<std::uint8_t> bytes) {
    for (auto& byte : bytes) {
        const std::uint8_t plain = byte;
        byte = static_cast<std::uint8_t>(plain ^ keyStreamByte());
        update(plain);
    }
}

void TraditionalCipher::decrypt(std::span<std::uint8_t> bytes) {
    for (auto& byte : bytes) {
        const auto plain = static_cast<std::uint8_t>(byte ^ keyStreamByte());
        byte = plain;
        update(plain);
    }
}

}  // namespace ambrell::zipcrypto
