#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "zip/ZipFormat.h"

namespace ambrell::zipio {

// Turns an entry's stored bytes into its contents: decryption (traditional
// or WinZip AES), inflation, and the checks of size, CRC and authentication
// code. Every entry is read this way, so the checks are the same for all.
class ZipEntryDecoder {
public:
    // Reads up to the length of stored bytes: a count, 0 at the end, or a
    // negative result code.
    using RawRead = std::function<int(std::uint8_t* buffer, unsigned length)>;

    struct Facts {
        std::uint16_t flags = 0;
        std::uint16_t method = 0;
        std::uint32_t crc = 0;
        std::uint32_t dosDate = 0;
        std::uint64_t compressedSize = 0;
        std::uint64_t uncompressedSize = 0;
        std::optional<zipformat::AesExtraField> aes;
    };

    ZipEntryDecoder(RawRead raw, Facts facts);
    ~ZipEntryDecoder();
    ZipEntryDecoder(const ZipEntryDecoder&) = delete;
    ZipEntryDecoder& operator=(const ZipEntryDecoder&) = delete;

    // Reads the encryption header: kResultPasswordError when the entry is
    // encrypted and the password is missing or wrong, kResultBadZipFile for
    // methods and encryptions we do not read.
    int open(std::optional<std::string_view> password);
    // A count of bytes, 0 at the end, or a negative result code
    // (kResultDataError when the data does not match its declared size).
    int read(std::uint8_t* buffer, unsigned length);
    // kResultCrcError when the whole entry was read and its CRC or
    // authentication code does not match; checks nothing otherwise.
    int close();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace ambrell::zipio
