#include "zip/ZipEntryDecoder.h"

#include <algorithm>
#include <array>
#include <limits>
#include <vector>

#include <openssl/crypto.h>
#include <zlib.h>

#include "zip/TraditionalCipher.h"
#include "zip/WinZipAes.h"
#include "zip/ZipResultCodes.h"

namespace ambrell::zipio {

namespace {
constexpr std::size_t kInputChunk = 16384;
}

struct ZipEntryDecoder::State {
    RawRead raw;
    Facts facts;
    std::unique_ptr<zipcrypto::TraditionalCipher> traditional;
    std::unique_ptr<zipcrypto::WinZipAes> aes;
    std::optional<std::array<std::uint8_t, zipcrypto::WinZipAes::kAuthenticationCodeSize>> storedCode;
    std::uint16_t contentMethod = 0;
    std::uint64_t payloadLeft = 0;  // stored bytes of content still to read, after any crypto header
    bool opened = false;
    bool ended = false;
    bool failed = false;
    std::uint64_t produced = 0;
    std::uint32_t crc = 0;
    z_stream stream{};
    bool streamReady = false;
    std::vector<std::uint8_t> input;

    ~State() {
        if (streamReady) inflateEnd(&stream);
    }

    // Fills the whole buffer from the stored bytes: kResultOk, kResultDataError at a
    // premature end, or the read's own error.
    int readExactly(std::uint8_t* buffer, std::size_t length) {
        std::size_t done = 0;
        while (done < length) {
            const int n = raw(buffer + done, static_cast<unsigned>(std::min<std::size_t>(length - done, kInputChunk)));
            if (n < 0) return n;
            if (n == 0) return kResultDataError;
            done += static_cast<std::size_t>(n);
        }
        return kResultOk;
    }

    // Up to max decrypted content bytes: a count, 0 when the content is used up.
    int pull(std::uint8_t* buffer, std::size_t max) {
        if (payloadLeft == 0) return 0;
        const auto wanted = static_cast<unsigned>(std::min<std::uint64_t>({payloadLeft, max, kInputChunk}));
        const int n = raw(buffer, wanted);
        if (n < 0) return n;
        if (n == 0) return kResultDataError;  // the stored bytes end before their declared size
        payloadLeft -= static_cast<std::uint64_t>(n);
        const std::span<std::uint8_t> bytes(buffer, static_cast<std::size_t>(n));
        if (traditional) traditional->decrypt(bytes);
        if (aes && !aes->decrypt(bytes)) return kResultInternalError;
        if (aes && payloadLeft == 0) {
            std::array<std::uint8_t, zipcrypto::WinZipAes::kAuthenticationCodeSize> code{};
            const int r = readExactly(code.data(), code.size());
            if (r != kResultOk) return r;
            storedCode = code;
        }
        return n;
    }

    // Once the content has ended, what the authentication code covers must
    // still be read: all stored bytes of the entry.
    int drain() {
        std::array<std::uint8_t, 4096> scratch{};
        for (;;) {
            const int n = pull(scratch.data(), scratch.size());
            if (n <= 0) return n;
        }
    }

    int account(std::size_t count, const std::uint8_t* bytes) {
        produced += count;
        if (produced > facts.uncompressedSize) return kResultDataError;
        crc = static_cast<std::uint32_t>(crc32(crc, bytes, static_cast<uInt>(count)));
        return kResultOk;
    }

    int finish() {
        ended = true;
        if (produced != facts.uncompressedSize) return kResultDataError;
        return drain();
    }
};

ZipEntryDecoder::ZipEntryDecoder(RawRead raw, Facts facts) : state_(std::make_unique<State>()) {
    state_->raw = std::move(raw);
    state_->facts = std::move(facts);
}

ZipEntryDecoder::~ZipEntryDecoder() = default;

int ZipEntryDecoder::open(std::optional<std::string_view> password) {
    auto& s = *state_;
    const Facts& f = s.facts;
    if (f.flags & zipformat::kFlagStrongEncryption) return kResultBadZipFile;
    s.contentMethod = f.method;
    std::uint64_t overhead = 0;

    if (f.method == zipformat::kMethodAes) {
        if (!f.aes || !(f.flags & zipformat::kFlagEncrypted)) return kResultBadZipFile;
        if (!password) return kResultPasswordError;
        s.contentMethod = f.aes->method;
        const std::size_t saltSize = zipcrypto::WinZipAes::saltSize(f.aes->strength);
        if (saltSize == 0) return kResultBadZipFile;
        overhead =
            saltSize + zipcrypto::WinZipAes::kPasswordVerifierSize + zipcrypto::WinZipAes::kAuthenticationCodeSize;
        if (f.compressedSize < overhead) return kResultBadZipFile;
        std::vector<std::uint8_t> header(saltSize + zipcrypto::WinZipAes::kPasswordVerifierSize);
        const int r = s.readExactly(header.data(), header.size());
        if (r != kResultOk) return r;
        s.aes = zipcrypto::WinZipAes::create(*password, std::span(header).first(saltSize), f.aes->strength);
        if (!s.aes) return kResultInternalError;
        if (CRYPTO_memcmp(s.aes->passwordVerifier().data(), header.data() + saltSize,
                          zipcrypto::WinZipAes::kPasswordVerifierSize) != 0) {
            return kResultPasswordError;
        }
    } else if (f.flags & zipformat::kFlagEncrypted) {
        if (!password) return kResultPasswordError;
        overhead = zipcrypto::TraditionalCipher::kHeaderSize;
        if (f.compressedSize < overhead) return kResultBadZipFile;
        std::array<std::uint8_t, zipcrypto::TraditionalCipher::kHeaderSize> header{};
        const int r = s.readExactly(header.data(), header.size());
        if (r != kResultOk) return r;
        s.traditional = std::make_unique<zipcrypto::TraditionalCipher>(*password);
        s.traditional->decrypt(header);
        // With a data descriptor the CRC was unknown when the header was
        // made, so the last byte repeats the time's high byte instead.
        const auto check = (f.flags & zipformat::kFlagDataDescriptor) ? static_cast<std::uint8_t>(f.dosDate >> 8)
                                                                      : static_cast<std::uint8_t>(f.crc >> 24);
        if (header.back() != check) return kResultPasswordError;
    }

    if (s.contentMethod == zipformat::kMethodDeflated) {
        if (inflateInit2(&s.stream, -MAX_WBITS) != Z_OK) return kResultInternalError;
        s.streamReady = true;
        s.input.resize(kInputChunk);
    } else if (s.contentMethod != zipformat::kMethodStored) {
        return kResultBadZipFile;
    }
    s.payloadLeft = f.compressedSize - overhead;
    s.opened = true;
    return kResultOk;
}

int ZipEntryDecoder::read(std::uint8_t* buffer, unsigned length) {
    auto& s = *state_;
    if (!s.opened || s.failed) return kResultParamError;
    if (s.ended || length == 0) return 0;
    const auto fail = [&](int code) {
        s.failed = true;
        return code;
    };

    if (!s.streamReady) {
        const int n = s.pull(buffer, length);
        if (n < 0) return fail(n);
        if (n == 0) {
            const int r = s.finish();
            return r < 0 ? fail(r) : 0;
        }
        const int r = s.account(static_cast<std::size_t>(n), buffer);
        return r < 0 ? fail(r) : n;
    }

    bool inputExhausted = false;
    for (;;) {
        if (s.stream.avail_in == 0 && !inputExhausted) {
            const int n = s.pull(s.input.data(), s.input.size());
            if (n < 0) return fail(n);
            if (n == 0) inputExhausted = true;
            s.stream.next_in = s.input.data();
            s.stream.avail_in = static_cast<uInt>(n);
        }
        s.stream.next_out = buffer;
        s.stream.avail_out = length;
        const int z = inflate(&s.stream, Z_NO_FLUSH);
        const std::size_t count = length - s.stream.avail_out;
        if (count > 0) {
            const int r = s.account(count, buffer);
            if (r < 0) return fail(r);
        }
        if (z == Z_STREAM_END) {
            const int r = s.finish();
            if (r < 0) return fail(r);
            return static_cast<int>(count);
        }
        if (z == Z_BUF_ERROR && inputExhausted && count == 0) return fail(kResultDataError);  // truncated stream
        if (z != Z_OK && z != Z_BUF_ERROR) return fail(kResultDataError);
        if (count > 0) return static_cast<int>(count);
    }
}

int ZipEntryDecoder::close() {
    auto& s = *state_;
    if (!s.opened || !s.ended || s.failed) return kResultOk;
    const bool crcStored = !(s.facts.aes && s.facts.aes->vendorVersion == 2);
    if (crcStored && s.crc != s.facts.crc) return kResultCrcError;
    if (s.aes) {
        const auto code = s.aes->authenticationCode();
        if (!code || !s.storedCode || CRYPTO_memcmp(code->data(), s.storedCode->data(), code->size()) != 0) {
            return kResultCrcError;
        }
    }
    return kResultOk;
}

}  // namespace ambrell::zipio
