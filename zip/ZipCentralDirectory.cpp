#include "zip/ZipCentralDirectory.h"

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "zip/UniqueFd.h"
#include "zip/ZipFormat.h"

namespace ambrell::zipformat {

namespace {

constexpr std::uint32_t kEndOfCentralDirectorySignature = 0x06054b50;
constexpr std::uint32_t kZip64EndSignature = 0x06064b50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr std::uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr std::uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::size_t kZip64EndSize = 56;
constexpr std::size_t kCentralHeaderSize = 46;
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kMaxCommentSize = 0xFFFF;

std::optional<std::uint64_t> fileSize(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    return static_cast<std::uint64_t>(info.st_size);
}

struct EndRecord {
    std::uint64_t position = 0;
    std::uint64_t entryCount = 0;
    std::uint64_t directorySize = 0;
    std::uint64_t directoryOffset = 0;
    std::uint32_t diskWithCentralDirectory = 0;
    // Where the central directory must end: the zip64 record or the classic one.
    std::uint64_t directoryEnd = 0;
};

std::optional<EndRecord> findEndRecord(int fd, std::uint64_t size) {
    if (size < kEndRecordSize) return std::nullopt;
    const std::uint64_t searched = std::min<std::uint64_t>(size, kEndRecordSize + kMaxCommentSize);
    std::vector<std::uint8_t> tail(searched);
    if (!readAt(fd, size - searched, tail)) return std::nullopt;

    for (std::size_t i = searched - kEndRecordSize + 1; i-- > 0;) {
        const std::uint8_t* p = tail.data() + i;
        if (readLE32(p) != kEndOfCentralDirectorySignature) continue;
        EndRecord record;
        record.position = size - searched + i;
        record.diskWithCentralDirectory = readLE16(p + 6);
        record.entryCount = readLE16(p + 10);
        record.directorySize = readLE32(p + 12);
        record.directoryOffset = readLE32(p + 16);
        record.directoryEnd = record.position;

        if (record.position >= kZip64LocatorSize) {
            std::uint8_t locator[kZip64LocatorSize];
            if (readAt(fd, record.position - kZip64LocatorSize, locator) &&
                readLE32(locator) == kZip64LocatorSignature) {
                const std::uint64_t zip64Position = readLE64(locator + 8);
                std::uint8_t end64[kZip64EndSize];
                // The zip64 record sits right before its locator, even when
                // the archive is shifted by bytes in front of it.
                const std::uint64_t actual = record.position - kZip64LocatorSize - kZip64EndSize;
                if (record.position < kZip64LocatorSize + kZip64EndSize || !readAt(fd, actual, end64) ||
                    readLE32(end64) != kZip64EndSignature || zip64Position > actual) {
                    return std::nullopt;
                }
                record.diskWithCentralDirectory = readLE32(end64 + 20);
                record.entryCount = readLE64(end64 + 32);
                record.directorySize = readLE64(end64 + 40);
                record.directoryOffset = readLE64(end64 + 48);
                record.directoryEnd = actual;
            }
        }
        return record;
    }
    return std::nullopt;
}

// Replaces the 32-bit fields that hold 0xFFFFFFFF with the zip64 block's values.
bool applyZip64(CentralEntry& entry, std::uint32_t rawOffset) {
    const bool sizeOverflow = entry.uncompressedSize == 0xFFFFFFFFu;
    const bool compressedOverflow = entry.compressedSize == 0xFFFFFFFFu;
    const bool offsetOverflow = rawOffset == 0xFFFFFFFFu;
    if (!sizeOverflow && !compressedOverflow && !offsetOverflow) return true;
    const auto block = findExtraField(entry.extra, kExtraZip64);
    if (!block) return false;
    std::size_t at = 0;
    auto next = [&](std::uint64_t& value) {
        if (at + 8 > block->size()) return false;
        value = readLE64(block->data() + at);
        at += 8;
        return true;
    };
    if (sizeOverflow && !next(entry.uncompressedSize)) return false;
    if (compressedOverflow && !next(entry.compressedSize)) return false;
    if (offsetOverflow && !next(entry.localHeaderOffset)) return false;
    return true;
}

}  // namespace

bool readAt(int fd, std::uint64_t offset, std::span<std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::optional<CentralDirectory> readCentralDirectory(int fd) {
    const auto size = fileSize(fd);
    if (!size) return std::nullopt;
    const auto end = findEndRecord(fd, *size);
    if (!end || end->directorySize > end->directoryEnd) return std::nullopt;

    const std::uint64_t start = end->directoryEnd - end->directorySize;
    if (start < end->directoryOffset) return std::nullopt;
    const std::uint64_t shift = start - end->directoryOffset;
    // Every entry takes at least a fixed header, so a count that cannot fit is a lie.
    if (end->entryCount > end->directorySize / kCentralHeaderSize) return std::nullopt;

    std::vector<std::uint8_t> directory(static_cast<std::size_t>(end->directorySize));
    if (!readAt(fd, start, directory)) return std::nullopt;

    CentralDirectory result;
    result.diskWithCentralDirectory = end->diskWithCentralDirectory;
    result.entries.reserve(static_cast<std::size_t>(end->entryCount));
    std::size_t at = 0;
    for (std::uint64_t i = 0; i < end->entryCount; ++i) {
        if (at + kCentralHeaderSize > directory.size()) return std::nullopt;
        const std::uint8_t* p = directory.data() + at;
        if (readLE32(p) != kCentralHeaderSignature) return std::nullopt;
        const std::size_t nameSize = readLE16(p + 28);
        const std::size_t extraSize = readLE16(p + 30);
        const std::size_t commentSize = readLE16(p + 32);
        const std::size_t total = kCentralHeaderSize + nameSize + extraSize + commentSize;
        if (at + total > directory.size()) return std::nullopt;

        CentralEntry entry;
        entry.centralHeaderOffset = start + at;
        entry.versionNeeded = readLE16(p + 6);
        entry.flags = readLE16(p + 8);
        entry.method = readLE16(p + 10);
        entry.compressedSize = readLE32(p + 20);
        entry.uncompressedSize = readLE32(p + 24);
        const std::uint32_t rawOffset = readLE32(p + 42);
        entry.localHeaderOffset = rawOffset;
        entry.name.assign(reinterpret_cast<const char*>(p + kCentralHeaderSize), nameSize);
        entry.extra.assign(p + kCentralHeaderSize + nameSize, p + kCentralHeaderSize + nameSize + extraSize);
        if (!applyZip64(entry, rawOffset)) return std::nullopt;
        if (entry.localHeaderOffset > start - shift) return std::nullopt;
        entry.localHeaderOffset += shift;
        result.entries.push_back(std::move(entry));
        at += total;
    }
    return result;
}

std::optional<CentralDirectory> readCentralDirectory(const std::filesystem::path& path) {
    zipio::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return std::nullopt;
    return readCentralDirectory(fd.get());
}

std::optional<std::uint64_t> entryDataOffset(int fd, const CentralEntry& entry) {
    std::uint8_t header[kLocalHeaderSize];
    if (!readAt(fd, entry.localHeaderOffset, header) || readLE32(header) != kLocalHeaderSignature) {
        return std::nullopt;
    }
    return entry.localHeaderOffset + kLocalHeaderSize + readLE16(header + 26) + readLE16(header + 28);
}

bool markAesEntries(const std::filesystem::path& archive) {
    zipio::UniqueFd fd(::open(archive.c_str(), O_RDWR | O_CLOEXEC));
    if (!fd) return false;
    const auto directory = readCentralDirectory(fd.get());
    if (!directory) return false;

    auto patch = [&](std::uint64_t offset, std::uint16_t value) {
        std::uint8_t bytes[2];
        writeLE16(bytes, value);
        return ::pwrite(fd.get(), bytes, 2, static_cast<off_t>(offset)) == 2;
    };
    for (const auto& entry : directory->entries) {
        const auto block = findExtraField(entry.extra, kExtraAes);
        if (!block || !AesExtraField::parse(*block) || entry.method == kMethodAes) continue;
        std::uint8_t local[kLocalHeaderSize];
        if (!readAt(fd.get(), entry.localHeaderOffset, local) || readLE32(local) != kLocalHeaderSignature) {
            return false;
        }
        if (!patch(entry.centralHeaderOffset + 6, kVersionNeededForAes) ||
            !patch(entry.centralHeaderOffset + 10, kMethodAes) ||
            !patch(entry.localHeaderOffset + 4, kVersionNeededForAes) ||
            !patch(entry.localHeaderOffset + 8, kMethodAes)) {
            return false;
        }
    }
    return true;
}

}  // namespace ambrell::zipformat
