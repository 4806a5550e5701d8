#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace ambrell::zipcrypto {

// WinZip's AES encryption of zip entries: keys from PBKDF2-HMAC-SHA1 (1000
// rounds), AES in counter mode with a little-endian counter starting at 1,
// and an HMAC-SHA1 over the ciphertext, cut to 10 bytes, as authentication.
class WinZipAes {
public:
    static constexpr std::size_t kPasswordVerifierSize = 2;
    static constexpr std::size_t kAuthenticationCodeSize = 10;
    // Strength 3 (256-bit keys) is the one this library writes.
    static constexpr int kStrongest = 3;

    // 8, 12 or 16 for strengths 1, 2 and 3; 0 for any other strength.
    [[nodiscard]] static std::size_t saltSize(int strength);

    // None when the strength is unknown or the crypto library fails.
    [[nodiscard]] static std::unique_ptr<WinZipAes> create(std::string_view password,
                                                           std::span<const std::uint8_t> salt, int strength);
    // A fresh random salt of the strength's size; none when no randomness can be had.
    [[nodiscard]] static std::optional<std::vector<std::uint8_t>> randomSalt(int strength);

    ~WinZipAes();
    WinZipAes(const WinZipAes&) = delete;
    WinZipAes& operator=(const WinZipAes&) = delete;

    [[nodiscard]] const std::array<std::uint8_t, kPasswordVerifierSize>& passwordVerifier() const { return verifier_; }

    // False when the crypto library fails.
    [[nodiscard]] bool encrypt(std::span<std::uint8_t> bytes);
    [[nodiscard]] bool decrypt(std::span<std::uint8_t> bytes);
    // The code over everything encrypted or decrypted so far; ends the stream.
    [[nodiscard]] std::optional<std::array<std::uint8_t, kAuthenticationCodeSize>> authenticationCode();

private:
    struct State;
    explicit WinZipAes(std::unique_ptr<State> state);
    [[nodiscard]] bool applyKeyStream(std::span<std::uint8_t> bytes);

    std::unique_ptr<State> state_;
    std::array<std::uint8_t, kPasswordVerifierSize> verifier_{};
};

}  // namespace ambrell::zipcrypto
