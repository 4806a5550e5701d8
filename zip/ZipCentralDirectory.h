#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

// Our own reading of an archive's central directory, for the two things
// minizip will not do: reach the data of a WinZip AES entry (method 99) and
// mark such entries once written, and recognise an archive without entries.
namespace ambrell::zipformat {

struct CentralEntry {
    std::uint64_t centralHeaderOffset = 0;
    // Where the local header really is: archives with bytes before them
    // (self-extracting stubs) have all offsets shifted.
    std::uint64_t localHeaderOffset = 0;
    std::uint16_t versionNeeded = 0;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
    std::string name;
    std::vector<std::uint8_t> extra;
};

struct CentralDirectory {
    std::uint32_t diskWithCentralDirectory = 0;
    std::vector<CentralEntry> entries;
};

// None when the file is not a well-formed zip archive; every offset and
// length is checked against the file, so a hostile archive cannot make it
// read out of bounds.
[[nodiscard]] std::optional<CentralDirectory> readCentralDirectory(int fd);
[[nodiscard]] std::optional<CentralDirectory> readCentralDirectory(const std::filesystem::path& path);

// Where the entry's data begins, after its local header; none when that
// header is missing or malformed.
[[nodiscard]] std::optional<std::uint64_t> entryDataOffset(int fd, const CentralEntry& entry);

// Reads exactly bytes.size() bytes at the offset.
[[nodiscard]] bool readAt(int fd, std::uint64_t offset, std::span<std::uint8_t> bytes);

// minizip writes an AES entry under its real method: give every entry that
// carries a WinZip AES block and another method method 99 and version 5.1,
// in its central and local headers. False when the archive cannot be read
// or written.
[[nodiscard]] bool markAesEntries(const std::filesystem::path& archive);

}  // namespace ambrell::zipformat
