#include "zip/ZipEntryWriter.h"

#include <array>
#include <limits>
#include <vector>

#include <openssl/rand.h>
#include <zip.h>
#include <zlib.h>

#include "zip/TraditionalCipher.h"
#include "zip/WinZipAes.h"
#include "zip/ZipFormat.h"

namespace ambrell::zipio {

namespace {
constexpr std::size_t kOutputChunk = 16384;
// Below this size a stored CRC would say too much about the contents.
constexpr std::uint64_t kSmallestSizeWithCrc = 20;
}  // namespace

struct ZipEntryWriter::State {
    zipFile file = nullptr;
    bool opened = false;
    bool failed = false;
    z_stream stream{};
    bool streamReady = false;
    std::vector<std::uint8_t> output = std::vector<std::uint8_t>(kOutputChunk);
    std::unique_ptr<zipcrypto::TraditionalCipher> traditional;
    std::unique_ptr<zipcrypto::WinZipAes> aes;
    bool storeCrc = true;
    std::optional<std::uint32_t> expectedCrc;
    std::uint32_t crc = 0;
    std::uint64_t size = 0;

    ~State() {
        if (streamReady) deflateEnd(&stream);
    }

    bool emit(std::uint8_t* bytes, std::size_t count) {
        const std::span<std::uint8_t> span(bytes, count);
        if (traditional) traditional->encrypt(span);
        if (aes && !aes->encrypt(span)) return false;
        return zipWriteInFileInZip(file, bytes, static_cast<unsigned>(count)) == ZIP_OK;
    }

    bool deflateStep(int flush) {
        for (;;) {
            stream.next_out = output.data();
            stream.avail_out = static_cast<uInt>(output.size());
            const int z = deflate(&stream, flush);
            if (z == Z_STREAM_ERROR) return false;
            const std::size_t count = output.size() - stream.avail_out;
            if (count > 0 && !emit(output.data(), count)) return false;
            if (flush == Z_FINISH ? z == Z_STREAM_END : stream.avail_out != 0) return true;
        }
    }
};

ZipEntryWriter::ZipEntryWriter(void* zipFile) : state_(std::make_unique<State>()) {
    state_->file = static_cast<::zipFile>(zipFile);
}

ZipEntryWriter::~ZipEntryWriter() {
    // An entry left open is still closed, so that the archive stays readable.
    if (state_->opened) zipCloseFileInZipRaw64(state_->file, state_->size, state_->crc);
}

bool ZipEntryWriter::open(const Settings& settings) {
    auto& s = *state_;
    if (!s.file || s.opened) return false;
    const bool encrypted = settings.password.has_value();
    const bool useAes = encrypted && settings.aes;
    if (encrypted && !useAes && !settings.expectedCrc) return false;

    std::vector<std::uint8_t> extra;
    zipformat::AesExtraField aesField;
    if (useAes) {
        aesField.vendorVersion = settings.expectedSize < kSmallestSizeWithCrc ? 2 : 1;
        aesField.strength = zipcrypto::WinZipAes::kStrongest;
        aesField.method = zipformat::kMethodDeflated;
        extra = aesField.serialize();
        s.storeCrc = aesField.vendorVersion == 1;
    }

    ::zip_fileinfo info{};
    info.dosDate = settings.dosDate;
    info.internal_fa = settings.internalAttributes;
    info.external_fa = settings.externalAttributes;
    const std::uint16_t flags = encrypted ? settings.flags | zipformat::kFlagEncrypted : settings.flags;
    // minizip takes the real method here; markAesEntries() puts method 99 in
    // its place once the archive is closed.
    const int opened = zipOpenNewFileInZip4_64(
        s.file, settings.name.c_str(), &info, extra.empty() ? nullptr : extra.data(), static_cast<uInt>(extra.size()),
        extra.empty() ? nullptr : extra.data(), static_cast<uInt>(extra.size()), nullptr, Z_DEFLATED, settings.level, 1,
        -MAX_WBITS, 8, Z_DEFAULT_STRATEGY, nullptr, 0, settings.versionMadeBy, flags, settings.zip64 ? 1 : 0);
    if (opened != ZIP_OK) return false;
    s.opened = true;

    if (deflateInit2(&s.stream, settings.level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        s.failed = true;
        return true;
    }
    s.streamReady = true;

    if (useAes) {
        const auto salt = zipcrypto::WinZipAes::randomSalt(aesField.strength);
        if (salt) s.aes = zipcrypto::WinZipAes::create(*settings.password, *salt, aesField.strength);
        if (!s.aes) {
            s.failed = true;
            return true;
        }
        std::vector<std::uint8_t> header(*salt);
        header.insert(header.end(), s.aes->passwordVerifier().begin(), s.aes->passwordVerifier().end());
        if (zipWriteInFileInZip(s.file, header.data(), static_cast<unsigned>(header.size())) != ZIP_OK) s.failed = true;
    } else if (encrypted) {
        s.expectedCrc = settings.expectedCrc;
        std::array<std::uint8_t, zipcrypto::TraditionalCipher::kHeaderSize> header{};
        if (RAND_bytes(header.data(), static_cast<int>(header.size())) != 1) {
            s.failed = true;
            return true;
        }
        // The last byte lets a reader tell a wrong password at once.
        header.back() = static_cast<std::uint8_t>(*settings.expectedCrc >> 24);
        s.traditional = std::make_unique<zipcrypto::TraditionalCipher>(*settings.password);
        s.traditional->encrypt(header);
        if (zipWriteInFileInZip(s.file, header.data(), static_cast<unsigned>(header.size())) != ZIP_OK) s.failed = true;
    }
    return true;
}

bool ZipEntryWriter::write(std::span<const std::uint8_t> bytes) {
    auto& s = *state_;
    if (!s.opened || s.failed) return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::size_t n = std::min<std::size_t>(bytes.size() - done, std::numeric_limits<uInt>::max());
        s.crc = static_cast<std::uint32_t>(crc32(s.crc, bytes.data() + done, static_cast<uInt>(n)));
        s.size += n;
        s.stream.next_in = const_cast<Bytef*>(bytes.data() + done);
        s.stream.avail_in = static_cast<uInt>(n);
        if (!s.deflateStep(Z_NO_FLUSH)) {
            s.failed = true;
            return false;
        }
        done += n;
    }
    return true;
}

bool ZipEntryWriter::close() {
    auto& s = *state_;
    if (!s.opened) return false;
    bool ok = !s.failed && s.deflateStep(Z_FINISH);
    if (ok && s.aes) {
        const auto code = s.aes->authenticationCode();
        ok = code && zipWriteInFileInZip(s.file, code->data(), static_cast<unsigned>(code->size())) == ZIP_OK;
    }
    if (s.expectedCrc && *s.expectedCrc != s.crc) ok = false;  // the source changed under us
    s.opened = false;
    const int closed = zipCloseFileInZipRaw64(s.file, s.size, s.storeCrc ? s.crc : 0);
    return ok && closed == ZIP_OK;
}

}  // namespace ambrell::zipio
