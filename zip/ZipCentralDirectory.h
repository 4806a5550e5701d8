#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

// Our own reading of an archive's central directory and local headers. Every
// entry is found through it: the directory is walked by its recorded size and
// offset, so a 16-bit entry count that wrapped past 65,535 loses nothing.
namespace ambrell::zipformat {

struct CentralEntry {
    std::uint64_t centralHeaderOffset = 0;
    // Where the local header really is: archives with bytes before them
    // (self-extracting stubs) have all offsets shifted.
    std::uint64_t localHeaderOffset = 0;
    std::uint16_t versionMadeBy = 0;
    std::uint16_t versionNeeded = 0;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint32_t dosDate = 0;
    std::uint32_t crc = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
    std::uint32_t diskNumberStart = 0;
    std::uint16_t internalAttributes = 0;
    std::uint32_t externalAttributes = 0;
    std::uint16_t commentSize = 0;
    // False when a field marked as zip64 has no value in the zip64 block, or
    // the local header offset points past the directory: such an entry
    // cannot be opened, though the entries around it can.
    bool locatable = true;
    std::string name;
    std::vector<std::uint8_t> extra;
};

struct CentralDirectory {
    std::uint32_t diskWithCentralDirectory = 0;
    // The count the end records state; the zip64 one when there is one.
    std::uint64_t recordedEntryCount = 0;
    std::uint16_t commentSize = 0;
    // Where the directory starts in the file: entry data ends before it.
    std::uint64_t start = 0;
    std::uint64_t size = 0;
    // The directory's offset as recorded, before any shift.
    std::uint64_t recordedOffset = 0;
    // Where the end records start: the zip64 record when there is one.
    std::uint64_t endRecordsStart = 0;
    bool hasZip64End = false;
    // The directory's bytes are not a run of headers that agrees with the
    // recorded count; then entries holds what was read before the fault and
    // must not be unpacked as if it were the whole archive.
    bool entryListBroken = false;
    std::vector<CentralEntry> entries;
};

// None when the file is not a zip archive at all (no end record, or a
// directory outside the file); every offset and length is checked against
// the file, so a hostile archive cannot make it read out of bounds.
[[nodiscard]] std::optional<CentralDirectory> readCentralDirectory(int fd);
[[nodiscard]] std::optional<CentralDirectory> readCentralDirectory(const std::filesystem::path& path);

// What an entry's local header says.
struct LocalHeader {
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint32_t crc = 0;
    // With zip64 values already taken from the local zip64 block.
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
    std::string name;
    // Where the entry's data begins, right after the header.
    std::uint64_t dataOffset = 0;
    // The header's length with its name and extra field.
    std::size_t size = 0;
    // False when the bytes parsed held the fixed part only: then only size is set.
    bool complete = false;
};

// None when the header is missing or malformed.
[[nodiscard]] std::optional<LocalHeader> readLocalHeader(int fd, const CentralEntry& entry);
// The header at the start of the bytes, read from the offset.
[[nodiscard]] std::optional<LocalHeader> parseLocalHeader(std::span<const std::uint8_t> bytes,
                                                          std::uint64_t headerOffset);

// Gives an archive that needs them zip64 end records (more than 65,534
// entries, or a directory past 4 GiB) when its writer left them out. False
// when the archive cannot be read or written.
[[nodiscard]] bool addZip64EndRecords(const std::filesystem::path& archive);

// Reads exactly bytes.size() bytes at the offset.
[[nodiscard]] bool readAt(int fd, std::uint64_t offset, std::span<std::uint8_t> bytes);

// minizip writes an AES entry under its real method: give every entry that
// carries a WinZip AES block and another method method 99 and version 5.1,
// in its central and local headers. False when the archive cannot be read
// or written.
[[nodiscard]] bool markAesEntries(const std::filesystem::path& archive);

}  // namespace ambrell::zipformat
