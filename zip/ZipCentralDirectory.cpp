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
constexpr std::size_t kLocalHeaderSize = kLocalHeaderFixedSize;
constexpr std::size_t kMaxCommentSize = 0xFFFF;
constexpr std::uint32_t kZip64Marker32 = 0xFFFFFFFFu;
constexpr std::uint16_t kZip64Marker16 = 0xFFFF;

std::optional<std::uint64_t> fileSize(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    return static_cast<std::uint64_t>(info.st_size);
}

struct EndRecord {
    std::uint64_t position = 0;
    std::uint16_t classicEntryCount = 0;
    std::optional<std::uint64_t> zip64EntryCount;
    std::uint64_t directorySize = 0;
    std::uint64_t directoryOffset = 0;
    std::uint32_t diskWithCentralDirectory = 0;
    std::uint16_t commentSize = 0;
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
        record.classicEntryCount = readLE16(p + 10);
        record.directorySize = readLE32(p + 12);
        record.directoryOffset = readLE32(p + 16);
        record.commentSize = readLE16(p + 20);
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
                record.zip64EntryCount = readLE64(end64 + 32);
                record.directorySize = readLE64(end64 + 40);
                record.directoryOffset = readLE64(end64 + 48);
                record.directoryEnd = actual;
            }
        }
        return record;
    }
    return std::nullopt;
}

// Replaces the fields that hold their marker (0xFFFFFFFF, or 0xFFFF for the
// disk number) with the zip64 block's values, which come in this order and
// only for the fields marked. The local header has no offset or disk fields.
bool applyZip64(std::span<const std::uint8_t> extra, std::uint64_t& uncompressedSize, std::uint64_t& compressedSize,
                std::uint64_t* offset, std::uint32_t* diskNumber) {
    const bool sizeMarked = uncompressedSize == kZip64Marker32;
    const bool compressedMarked = compressedSize == kZip64Marker32;
    const bool offsetMarked = offset && *offset == kZip64Marker32;
    const bool diskMarked = diskNumber && *diskNumber == kZip64Marker16;
    if (!sizeMarked && !compressedMarked && !offsetMarked && !diskMarked) return true;
    const auto block = findExtraField(extra, kExtraZip64);
    if (!block) return false;
    std::size_t at = 0;
    auto next = [&](std::uint64_t& value, std::size_t width) {
        if (at + width > block->size()) return false;
        value = width == 8 ? readLE64(block->data() + at) : readLE32(block->data() + at);
        at += width;
        return true;
    };
    if (sizeMarked && !next(uncompressedSize, 8)) return false;
    if (compressedMarked && !next(compressedSize, 8)) return false;
    if (offsetMarked && !next(*offset, 8)) return false;
    std::uint64_t disk = 0;
    if (diskMarked) {
        if (!next(disk, 4)) return false;
        *diskNumber = static_cast<std::uint32_t>(disk);
    }
    return true;
}

// How a count that disagrees with the directory is judged. The directory is
// walked by its recorded size, so the headers found are the entries. A zip64
// count is 64 bits wide and must match them exactly. The classic count is 16
// bits, and writers that do not switch to zip64 past 65,535 entries keep only
// the low 16 bits of the real count: it must equal the number found modulo
// 65,536. 0xFFFF also stands for "see the zip64 record", so it is accepted
// beside a zip64 record, or without one when at least that many headers were
// found. Anything else, such as an end record that says 2 over a directory of
// 3, cannot come from a wrap: the directory or the count was damaged, and the
// entry list is broken.
bool countAgrees(std::uint64_t found, const EndRecord& end) {
    if (end.zip64EntryCount && *end.zip64EntryCount != found) return false;
    if (end.classicEntryCount == kZip64Marker16 && (end.zip64EntryCount || found >= kZip64Marker16)) return true;
    return (found & 0xFFFFu) == end.classicEntryCount;
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

    std::vector<std::uint8_t> directory(static_cast<std::size_t>(end->directorySize));
    if (!readAt(fd, start, directory)) return std::nullopt;

    CentralDirectory result;
    result.diskWithCentralDirectory = end->diskWithCentralDirectory;
    result.recordedEntryCount = end->zip64EntryCount.value_or(end->classicEntryCount);
    result.commentSize = end->commentSize;
    result.start = start;
    result.size = end->directorySize;
    result.recordedOffset = end->directoryOffset;
    result.endRecordsStart = end->directoryEnd;
    result.hasZip64End = end->zip64EntryCount.has_value();
    result.entries.reserve(directory.size() / kCentralHeaderSize);
    std::size_t at = 0;
    while (at < directory.size()) {
        const std::uint8_t* p = directory.data() + at;
        if (directory.size() - at < kCentralHeaderSize || readLE32(p) != kCentralHeaderSignature) {
            result.entryListBroken = true;
            break;
        }
        const std::size_t nameSize = readLE16(p + 28);
        const std::size_t extraSize = readLE16(p + 30);
        const std::size_t commentSize = readLE16(p + 32);
        const std::size_t total = kCentralHeaderSize + nameSize + extraSize + commentSize;
        if (total > directory.size() - at) {
            result.entryListBroken = true;
            break;
        }

        CentralEntry entry;
        entry.centralHeaderOffset = start + at;
        entry.versionMadeBy = readLE16(p + 4);
        entry.versionNeeded = readLE16(p + 6);
        entry.flags = readLE16(p + 8);
        entry.method = readLE16(p + 10);
        entry.dosDate = readLE32(p + 12);
        entry.crc = readLE32(p + 16);
        entry.compressedSize = readLE32(p + 20);
        entry.uncompressedSize = readLE32(p + 24);
        entry.commentSize = static_cast<std::uint16_t>(commentSize);
        entry.diskNumberStart = readLE16(p + 34);
        entry.internalAttributes = readLE16(p + 36);
        entry.externalAttributes = readLE32(p + 38);
        entry.localHeaderOffset = readLE32(p + 42);
        entry.name.assign(reinterpret_cast<const char*>(p + kCentralHeaderSize), nameSize);
        entry.extra.assign(p + kCentralHeaderSize + nameSize, p + kCentralHeaderSize + nameSize + extraSize);
        entry.locatable = applyZip64(entry.extra, entry.uncompressedSize, entry.compressedSize,
                                     &entry.localHeaderOffset, &entry.diskNumberStart) &&
                          entry.localHeaderOffset <= start - shift;
        if (entry.locatable) entry.localHeaderOffset += shift;
        result.entries.push_back(std::move(entry));
        at += total;
    }
    if (!result.entryListBroken && !countAgrees(result.entries.size(), *end)) result.entryListBroken = true;
    return result;
}

std::optional<CentralDirectory> readCentralDirectory(const std::filesystem::path& path) {
    zipio::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return std::nullopt;
    return readCentralDirectory(fd.get());
}

std::optional<LocalHeader> parseLocalHeader(std::span<const std::uint8_t> bytes, std::uint64_t headerOffset) {
    if (bytes.size() < kLocalHeaderSize || readLE32(bytes.data()) != kLocalHeaderSignature) return std::nullopt;
    const std::uint8_t* p = bytes.data();
    const std::size_t nameSize = readLE16(p + 26);
    const std::size_t extraSize = readLE16(p + 28);
    LocalHeader header;
    header.size = kLocalHeaderSize + nameSize + extraSize;
    if (bytes.size() < header.size) return header;
    header.complete = true;
    header.flags = readLE16(p + 6);
    header.method = readLE16(p + 8);
    header.crc = readLE32(p + 14);
    header.compressedSize = readLE32(p + 18);
    header.uncompressedSize = readLE32(p + 22);
    header.name.assign(reinterpret_cast<const char*>(p + kLocalHeaderSize), nameSize);
    const auto extra = bytes.subspan(kLocalHeaderSize + nameSize, extraSize);
    if (!applyZip64(extra, header.uncompressedSize, header.compressedSize, nullptr, nullptr)) return std::nullopt;
    header.dataOffset = headerOffset + header.size;
    return header;
}

std::optional<LocalHeader> readLocalHeader(int fd, const CentralEntry& entry) {
    if (!entry.locatable) return std::nullopt;
    // Most local headers repeat the central name and extra field, so one
    // read of that length usually takes the whole header.
    std::vector<std::uint8_t> bytes(kLocalHeaderSize + entry.name.size() + entry.extra.size());
    if (!readAt(fd, entry.localHeaderOffset, bytes)) {
        bytes.resize(kLocalHeaderSize);
        if (!readAt(fd, entry.localHeaderOffset, bytes)) return std::nullopt;
    }
    auto header = parseLocalHeader(bytes, entry.localHeaderOffset);
    if (!header || header->complete) return header;
    const std::size_t had = bytes.size();
    bytes.resize(header->size);
    if (!readAt(fd, entry.localHeaderOffset + had, std::span(bytes).subspan(had))) return std::nullopt;
    header = parseLocalHeader(bytes, entry.localHeaderOffset);
    if (header && !header->complete) return std::nullopt;
    return header;
}

bool addZip64EndRecords(const std::filesystem::path& archive) {
    zipio::UniqueFd fd(::open(archive.c_str(), O_RDWR | O_CLOEXEC));
    if (!fd) return false;
    const auto directory = readCentralDirectory(fd.get());
    if (!directory || directory->entryListBroken) return false;
    const std::uint64_t count = directory->entries.size();
    // A classic record can only hold the low 32 bits of an offset past 4 GiB.
    const std::uint64_t offset =
        directory->recordedOffset == (directory->start & kZip64Marker32) ? directory->start : directory->recordedOffset;
    const bool needed =
        count >= kZip64Marker16 || directory->start >= kZip64Marker32 || directory->size >= kZip64Marker32;
    if (directory->hasZip64End || !needed) return true;

    // The classic record's comment goes along unchanged.
    std::vector<std::uint8_t> comment(directory->commentSize);
    if (!readAt(fd.get(), directory->endRecordsStart + kEndRecordSize, comment)) return false;
    const std::uint64_t zip64Position = directory->endRecordsStart;
    std::vector<std::uint8_t> records(kZip64EndSize + kZip64LocatorSize + kEndRecordSize);
    std::uint8_t* p = records.data();
    auto put = [&p](std::uint64_t value, std::size_t width) {
        for (std::size_t i = 0; i < width; ++i) *p++ = static_cast<std::uint8_t>((value >> (8 * i)) & 0xFF);
    };
    constexpr std::uint16_t kVersionZip64 = 45;
    put(kZip64EndSignature, 4);
    put(kZip64EndSize - 12, 8);
    put(kVersionZip64, 2);
    put(kVersionZip64, 2);
    put(0, 4);
    put(0, 4);
    put(count, 8);
    put(count, 8);
    put(directory->size, 8);
    put(offset, 8);
    put(kZip64LocatorSignature, 4);
    put(0, 4);
    put(zip64Position, 8);
    put(1, 4);
    put(kEndOfCentralDirectorySignature, 4);
    put(0, 2);
    put(0, 2);
    put(std::min<std::uint64_t>(count, kZip64Marker16), 2);
    put(std::min<std::uint64_t>(count, kZip64Marker16), 2);
    put(std::min<std::uint64_t>(directory->size, kZip64Marker32), 4);
    put(std::min<std::uint64_t>(offset, kZip64Marker32), 4);
    put(comment.size(), 2);
    records.insert(records.end(), comment.begin(), comment.end());
    if (::ftruncate(fd.get(), static_cast<off_t>(zip64Position)) != 0) return false;
    return ::pwrite(fd.get(), records.data(), records.size(), static_cast<off_t>(zip64Position)) ==
           static_cast<ssize_t>(records.size());
}

bool markAesEntries(const std::filesystem::path& archive) {
    zipio::UniqueFd fd(::open(archive.c_str(), O_RDWR | O_CLOEXEC));
    if (!fd) return false;
    const auto directory = readCentralDirectory(fd.get());
    if (!directory || directory->entryListBroken) return false;

    auto patch = [&](std::uint64_t offset, std::uint16_t value) {
        std::uint8_t bytes[2];
        writeLE16(bytes, value);
        return ::pwrite(fd.get(), bytes, 2, static_cast<off_t>(offset)) == 2;
    };
    for (const auto& entry : directory->entries) {
        const auto block = findExtraField(entry.extra, kExtraAes);
        if (!block || !AesExtraField::parse(*block) || entry.method == kMethodAes) continue;
        if (!readLocalHeader(fd.get(), entry)) return false;
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
