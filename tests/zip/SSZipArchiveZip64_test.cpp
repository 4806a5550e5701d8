// A zip64 entry just over 4 GiB of zeros, unpacked for real. The archive is
// a sparse file whose data is a hole, so it costs no space and little time;
// the unpacked file takes its full size. Labelled long.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include "tests/support/TempDirectory.h"
#include "zip/SSZipArchive.h"

namespace ambrell::test {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kEntrySize = (std::uint64_t{1} << 32) + 1;
constexpr std::uint64_t kSpaceNeeded = std::uint64_t{9} << 30;
constexpr std::size_t kChunk = std::size_t{1} << 20;
const std::string kName = "zeros.bin";

class Bytes {
public:
    Bytes& le(std::uint64_t value, std::size_t width) {
        for (std::size_t i = 0; i < width; ++i) bytes_.push_back(static_cast<std::uint8_t>((value >> (8 * i)) & 0xFF));
        return *this;
    }
    Bytes& text(const std::string& text) {
        bytes_.insert(bytes_.end(), text.begin(), text.end());
        return *this;
    }
    [[nodiscard]] const std::vector<std::uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
};

std::uint32_t crcOfZeros(std::uint64_t length) {
    const std::vector<std::uint8_t> zeros(kChunk);
    const uLong chunkCrc = crc32(0, zeros.data(), static_cast<uInt>(zeros.size()));
    uLong crc = crc32(0, nullptr, 0);
    for (std::uint64_t done = 0; done + kChunk <= length; done += kChunk) crc = crc32_combine64(crc, chunkCrc, kChunk);
    return static_cast<std::uint32_t>(crc32(crc, zeros.data(), static_cast<uInt>(length % kChunk)));
}

std::optional<std::uint32_t> crcOfFile(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::vector<std::uint8_t> buffer(kChunk);
    uLong crc = crc32(0, nullptr, 0);
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n <= 0) {
            ::close(fd);
            return n == 0 ? std::optional(static_cast<std::uint32_t>(crc)) : std::nullopt;
        }
        crc = crc32(crc, buffer.data(), static_cast<uInt>(n));
    }
}

// A stored entry whose sizes, and in the central directory also its offset
// and disk number, are in zip64 fields; zip64 end records. dataWritten lets
// the directory follow less data than the entry declares.
void writeZip64Archive(const fs::path& archive, std::uint32_t crc, std::uint64_t dataWritten) {
    constexpr std::uint32_t kMarker = 0xFFFFFFFF;
    constexpr std::uint16_t kDosTime = 0x6000, kDosDate = 0x5A21;
    Bytes local;
    local.le(0x04034b50, 4).le(45, 2).le(0, 2).le(0, 2).le(kDosTime, 2).le(kDosDate, 2).le(crc, 4);
    local.le(kMarker, 4).le(kMarker, 4).le(kName.size(), 2).le(20, 2).text(kName);
    local.le(0x0001, 2).le(16, 2).le(kEntrySize, 8).le(kEntrySize, 8);

    const std::uint64_t directoryOffset = local.bytes().size() + dataWritten;
    Bytes tail;
    tail.le(0x02014b50, 4).le(0x031E, 2).le(45, 2).le(0, 2).le(0, 2).le(kDosTime, 2).le(kDosDate, 2).le(crc, 4);
    tail.le(kMarker, 4).le(kMarker, 4).le(kName.size(), 2).le(32, 2).le(0, 2).le(0xFFFF, 2).le(0, 2);
    tail.le(std::uint64_t{0100644} << 16, 4).le(kMarker, 4).text(kName);
    tail.le(0x0001, 2).le(28, 2).le(kEntrySize, 8).le(kEntrySize, 8).le(0, 8).le(0, 4);
    const std::uint64_t directorySize = tail.bytes().size();
    const std::uint64_t zip64End = directoryOffset + directorySize;
    tail.le(0x06064b50, 4).le(44, 8).le(45, 2).le(45, 2).le(0, 4).le(0, 4).le(1, 8).le(1, 8);
    tail.le(directorySize, 8).le(directoryOffset, 8);
    tail.le(0x07064b50, 4).le(0, 4).le(zip64End, 8).le(1, 4);
    tail.le(0x06054b50, 4).le(0, 2).le(0, 2).le(0xFFFF, 2).le(0xFFFF, 2).le(kMarker, 4).le(kMarker, 4).le(0, 2);

    const int fd = ::open(archive.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    // The data between the two writes is a hole: zeros that take no space.
    EXPECT_EQ(::pwrite(fd, local.bytes().data(), local.bytes().size(), 0), static_cast<ssize_t>(local.bytes().size()));
    EXPECT_EQ(::pwrite(fd, tail.bytes().data(), tail.bytes().size(), static_cast<off_t>(directoryOffset)),
              static_cast<ssize_t>(tail.bytes().size()));
    ::close(fd);
}

TEST(Zip64Extraction, AnEntryPast4GiBIsUnpackedWholeAndADamagedOneLeavesNothing) {
    TempDirectory temp("ambrell-zip64");
    const auto space = fs::space(temp.path());
    if (space.available < kSpaceNeeded) {
        GTEST_SKIP() << fmt::format("needs about {} GiB free in {} for a file past 4 GiB; {:.1f} GiB are",
                                    kSpaceNeeded >> 30, temp.path().parent_path().string(),
                                    static_cast<double>(space.available) / (1u << 30));
    }
    const std::uint32_t crc = crcOfZeros(kEntrySize);
    const fs::path archive = temp / "big.zip";
    const fs::path destination = temp / "out";
    std::optional<platform::NSError> error;

    // Cut in its data: once with the end records gone, once with the
    // directory right after the cut still declaring the whole entry.
    for (const bool directoryKept : {false, true}) {
        SCOPED_TRACE(directoryKept);
        writeZip64Archive(archive, crc, directoryKept ? kEntrySize / 2 : kEntrySize);
        if (!directoryKept) fs::resize_file(archive, kEntrySize / 2);
        EXPECT_FALSE(SSZipArchive::unzipFileAtPath(archive.string(), destination.string(), true, std::nullopt, &error));
        EXPECT_NE(error, std::nullopt);
        EXPECT_TRUE(!fs::exists(destination) || fs::is_empty(destination)) << "no partial file";
    }

    writeZip64Archive(archive, crc, kEntrySize);
    ASSERT_TRUE(SSZipArchive::unzipFileAtPath(archive.string(), destination.string(), true, std::nullopt, &error))
        << (error ? error->localizedDescription() : "");
    EXPECT_EQ(fs::file_size(destination / kName), kEntrySize);
    EXPECT_EQ(crcOfFile(destination / kName), crc);
}

}  // namespace
}  // namespace ambrell::test
