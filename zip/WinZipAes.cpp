#include "zip/WinZipAes.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/rand.h>

namespace ambrell::zipcrypto {

namespace {

constexpr int kKeyDerivationRounds = 1000;
constexpr std::size_t kBlockSize = 16;
// Counter blocks are encrypted in batches so that the cipher runs over many
// blocks per call instead of one.
constexpr std::size_t kKeyStreamBatch = 256 * kBlockSize;

std::size_t keySize(int strength) {
    switch (strength) {
        case 1: return 16;
        case 2: return 24;
        case 3: return 32;
        default: return 0;
    }
}

const EVP_CIPHER* blockCipher(int strength) {
    switch (strength) {
        case 1: return EVP_aes_128_ecb();
        case 2: return EVP_aes_192_ecb();
        default: return EVP_aes_256_ecb();
    }
}

struct CipherContextDeleter {
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
struct MacDeleter {
    void operator()(EVP_MAC* mac) const { EVP_MAC_free(mac); }
};
struct MacContextDeleter {
    void operator()(EVP_MAC_CTX* context) const { EVP_MAC_CTX_free(context); }
};

}  // namespace

struct WinZipAes::State {
    std::unique_ptr<EVP_CIPHER_CTX, CipherContextDeleter> cipher;
    std::unique_ptr<EVP_MAC_CTX, MacContextDeleter> mac;
    std::array<std::uint8_t, kBlockSize> counter{};
    std::vector<std::uint8_t> keyStream = std::vector<std::uint8_t>(kKeyStreamBatch);
    std::size_t keyStreamUsed = kKeyStreamBatch;
    bool finished = false;
};

std::size_t WinZipAes::saltSize(int strength) {
    const std::size_t key = keySize(strength);
    return key == 0 ? 0 : key / 2;
}

std::optional<std::vector<std::uint8_t>> WinZipAes::randomSalt(int strength) {
    std::vector<std::uint8_t> salt(saltSize(strength));
    if (salt.empty() || RAND_bytes(salt.data(), static_cast<int>(salt.size())) != 1) return std::nullopt;
    return salt;
}

std::unique_ptr<WinZipAes> WinZipAes::create(std::string_view password, std::span<const std::uint8_t> salt,
                                             int strength) {
    const std::size_t key = keySize(strength);
    if (key == 0 || salt.size() != saltSize(strength)) return nullptr;
    if (password.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) return nullptr;

    std::vector<std::uint8_t> derived(2 * key + kPasswordVerifierSize);
    // The keys are wiped on every way out, failures included.
    struct Wipe {
        std::vector<std::uint8_t>& bytes;
        ~Wipe() { OPENSSL_cleanse(bytes.data(), bytes.size()); }
    } wipe{derived};
    if (PKCS5_PBKDF2_HMAC_SHA1(password.data(), static_cast<int>(password.size()), salt.data(),
                               static_cast<int>(salt.size()), kKeyDerivationRounds, static_cast<int>(derived.size()),
                               derived.data()) != 1) {
        return nullptr;
    }

    auto state = std::make_unique<State>();
    state->cipher.reset(EVP_CIPHER_CTX_new());
    if (!state->cipher ||
        EVP_EncryptInit_ex(state->cipher.get(), blockCipher(strength), nullptr, derived.data(), nullptr) != 1 ||
        EVP_CIPHER_CTX_set_padding(state->cipher.get(), 0) != 1) {
        return nullptr;
    }

    std::unique_ptr<EVP_MAC, MacDeleter> mac(EVP_MAC_fetch(nullptr, "HMAC", nullptr));
    if (!mac) return nullptr;
    state->mac.reset(EVP_MAC_CTX_new(mac.get()));
    char digest[] = "SHA1";
    const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                                 OSSL_PARAM_construct_end()};
    if (!state->mac || EVP_MAC_init(state->mac.get(), derived.data() + key, key, params) != 1) return nullptr;

    std::unique_ptr<WinZipAes> aes(new WinZipAes(std::move(state)));
    std::copy_n(derived.data() + 2 * key, kPasswordVerifierSize, aes->verifier_.begin());
    return aes;
}

WinZipAes::WinZipAes(std::unique_ptr<State> state) : state_(std::move(state)) {}

WinZipAes::~WinZipAes() = default;

bool WinZipAes::applyKeyStream(std::span<std::uint8_t> bytes) {
    auto& s = *state_;
    std::size_t done = 0;
    while (done < bytes.size()) {
        if (s.keyStreamUsed == s.keyStream.size()) {
            // The counter is a little-endian number over the whole block.
            for (std::size_t offset = 0; offset < kKeyStreamBatch; offset += kBlockSize) {
                for (auto& byte : s.counter) {
                    if (++byte != 0) break;
                }
                std::memcpy(s.keyStream.data() + offset, s.counter.data(), kBlockSize);
            }
            int produced = 0;
            if (EVP_EncryptUpdate(s.cipher.get(), s.keyStream.data(), &produced, s.keyStream.data(),
                                  static_cast<int>(kKeyStreamBatch)) != 1 ||
                produced != static_cast<int>(kKeyStreamBatch)) {
                return false;
            }
            s.keyStreamUsed = 0;
        }
        const std::size_t n = std::min(bytes.size() - done, s.keyStream.size() - s.keyStreamUsed);
        for (std::size_t i = 0; i < n; ++i) bytes[done + i] ^= s.keyStream[s.keyStreamUsed + i];
        s.keyStreamUsed += n;
        done += n;
    }
    return true;
}

bool WinZipAes::encrypt(std::span<std::uint8_t> bytes) {
    if (state_->finished || !applyKeyStream(bytes)) return false;
    return EVP_MAC_update(state_->mac.get(), bytes.data(), bytes.size()) == 1;
}

bool WinZipAes::decrypt(std::span<std::uint8_t> bytes) {
    if (state_->finished || EVP_MAC_update(state_->mac.get(), bytes.data(), bytes.size()) != 1) return false;
    return applyKeyStream(bytes);
}

std::optional<std::array<std::uint8_t, WinZipAes::kAuthenticationCodeSize>> WinZipAes::authenticationCode() {
    if (state_->finished) return std::nullopt;
    state_->finished = true;
    std::array<std::uint8_t, EVP_MAX_MD_SIZE> full{};
    std::size_t length = 0;
    if (EVP_MAC_final(state_->mac.get(), full.data(), &length, full.size()) != 1 || length < kAuthenticationCodeSize) {
        return std::nullopt;
    }
    std::array<std::uint8_t, kAuthenticationCodeSize> code{};
    std::copy_n(full.begin(), kAuthenticationCodeSize, code.begin());
    return code;
}

}  // namespace ambrell::zipcrypto
