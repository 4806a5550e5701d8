#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace ambrell::zipcrypto {

// The traditional PKWARE stream cipher of zip entries: three 32-bit keys
// stirred by the password and then by every plaintext byte. Weak by today's
// standards, but the one encryption every zip reader understands.
class TraditionalCipher {
public:
    static constexpr std::size_t kHeaderSize = 12;

    explicit TraditionalCipher(std::string_view password);

    void encrypt(std::span<std::uint8_t> bytes);
    void decrypt(std::span<std::uint8_t> bytes);

private:
    [[nodiscard]] std::uint8_t keyStreamByte() const;
    void update(std::uint8_t plain);

    std::uint32_t keys_[3];
};

}  // namespace ambrell::zipcrypto
