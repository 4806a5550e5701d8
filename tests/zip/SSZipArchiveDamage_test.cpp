// Archives at scale and damaged: more entries than a 16-bit count holds, end
// records that disagree with their directory, entries that fail their checks
// over good copies, and outputs that cannot be made.
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/zip/ZipTestSupport.h"

namespace ambrell::test {
namespace {

using F = FixtureEntry;

std::uint32_t le32(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at + i])) << (8 * i);
    return value;
}
std::string asLE(std::uint64_t value, std::size_t width) {
    std::string bytes(width, '\0');
    for (std::size_t i = 0; i < width; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

// Stored entries d<i % 100>/<i>.txt holding the decimal i, written by
// Python's zipfile, which adds zip64 end records past 65,535 entries.
void writeNumberedArchive(const fs::path& archive, int count) {
    const std::string command = fmt::format(
        "python3 -c 'import sys, zipfile\n"
        "with zipfile.ZipFile(sys.argv[1], \"w\") as z:\n"
        "    for i in range(int(sys.argv[2])): z.writestr(f\"d{{i % 100}}/{{i}}.txt\", str(i))' {} {}",
        archive.string(), count);
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// Replaces the end records by one classic record alone, whose 16-bit count
// is the real count modulo 65,536: what writers without zip64 leave behind.
void keepOnlyClassicEnd(const fs::path& archive, std::uint64_t realCount) {
    const std::string bytes = readFile(archive);
    const std::size_t end = bytes.rfind("PK\x05\x06");
    const std::size_t zip64 = bytes.rfind("PK\x06\x06", end);
    ASSERT_NE(zip64, std::string::npos);
    const std::uint64_t size = le32(bytes, zip64 + 40) | (std::uint64_t{le32(bytes, zip64 + 44)} << 32);
    const std::uint64_t offset = le32(bytes, zip64 + 48) | (std::uint64_t{le32(bytes, zip64 + 52)} << 32);
    std::string record = "PK\x05\x06" + asLE(0, 4) + asLE(realCount & 0xFFFF, 2) + asLE(realCount & 0xFFFF, 2) +
                         asLE(size, 4) + asLE(offset, 4) + asLE(0, 2);
    fs::resize_file(archive, zip64);
    patchFile(archive, zip64, record);
}

// Sets both entry counts of the classic end record.
void setClassicCount(const fs::path& archive, std::uint16_t count) {
    const std::size_t end = readFile(archive).rfind("PK\x05\x06");
    patchFile(archive, end + 8, asLE(count, 2) + asLE(count, 2));
}

std::size_t filesBelow(const fs::path& folder) {
    std::size_t count = 0;
    for (const auto& item : fs::recursive_directory_iterator(folder)) count += item.is_regular_file() ? 1 : 0;
    return count;
}

class ArchiveScale : public ZipTest {
protected:
    // Unpacks everything, as the progress handler, the completion handler
    // and the files on disk all tell.
    void expectEveryEntryExtracted(int entries) {
        long reported = 0;
        long lastTotal = 0;
        std::optional<bool> completed;
        EXPECT_TRUE(SSZipArchive::unzipFileAtPath(
            archive_.string(), destination_.string(),
            [&](const std::string&, const unz_file_info&, long, long total) {
                ++reported;
                lastTotal = total;
            },
            [&](const std::optional<std::string>&, bool succeeded, const std::optional<platform::NSError>& error) {
                EXPECT_EQ(error, std::nullopt);
                completed = succeeded;
            }));
        EXPECT_EQ(std::tuple(reported, lastTotal, completed), std::tuple(entries, entries, true));
        EXPECT_EQ(filesBelow(destination_), static_cast<std::size_t>(entries));
        const int last = entries - 1;
        EXPECT_EQ(readFile(destination_ / fmt::format("d{}/{}.txt", last % 100, last)), std::to_string(last));
    }
};

// The entry count of the end record is 16 bits wide: the directory decides
// how many entries there are.
TEST_F(ArchiveScale, SeventyThousandEntriesWithZip64EndRecordsAreAllExtracted) {
    writeNumberedArchive(archive_, 70000);
    expectEveryEntryExtracted(70000);
}

TEST_F(ArchiveScale, EntriesPastAWrappedCountOfZeroAreAllExtracted) {
    writeNumberedArchive(archive_, 65536);
    keepOnlyClassicEnd(archive_, 65536);
    expectEveryEntryExtracted(65536);
}

TEST_F(ArchiveScale, ACountThatNoWrapExplainsIsABrokenEntryList) {
    writeNumberedArchive(archive_, 70000);
    std::uint64_t digits = 0;
    for (int i = 0; i < 70000; ++i) digits += std::to_string(i).size();
    const auto small = temp_ / "three.zip";
    writeFixtureArchive(small, {F::file("a", "a"), F::file("b", "b"), F::file("c", "c")});

    const auto expectBroken = [&](const fs::path& archive) {
        SCOPED_TRACE(archive.string());
        std::optional<bool> completed;
        EXPECT_FALSE(SSZipArchive::unzipFileAtPath(
            archive.string(), destination_.string(), true, true, std::nullopt, &error_, nullptr, nullptr,
            [&](const std::optional<std::string>&, bool succeeded, const std::optional<platform::NSError>&) {
                completed = succeeded;
            }));
        EXPECT_EQ(completed, false);
        EXPECT_EQ(errorCode(), -2);
        EXPECT_EQ(error_->localizedDescription(), "failed to open first file in zip file");
        EXPECT_FALSE(fs::exists(destination_)) << "nothing of a broken list is unpacked";
    };
    // Beside zip64 end records the classic count is 0xFFFF or the wrapped count.
    setClassicCount(archive_, 2);
    expectBroken(archive_);

    // Alone, the directory's own count modulo 65,536 is a wrap, not damage.
    keepOnlyClassicEnd(archive_, 70000);
    EXPECT_EQ(SSZipArchive::payloadSizeForArchiveAtPath(archive_.string(), &error_), digits);
    EXPECT_EQ(error_, std::nullopt);
    for (const auto& archive : {archive_, small}) {
        setClassicCount(archive, 2);
        expectBroken(archive);
    }
}

TEST_F(ArchiveScale, OurOwnWriterSwitchesToZip64PastTheCount) {
    SSZipArchive zip(archive_.string());
    ASSERT_TRUE(zip.open());
    for (int i = 0; i < 65536; ++i) ASSERT_TRUE(zip.writeData(bytes("x"), fmt::format("{}", i), std::nullopt));
    ASSERT_TRUE(zip.close());
    const std::string written = readFile(archive_);
    EXPECT_NE(written.rfind("PK\x06\x06"), std::string::npos) << "a zip64 end record";
    EXPECT_EQ(SSZipArchive::payloadSizeForArchiveAtPath(archive_.string(), &error_), 65536u);
    const std::string command = fmt::format(
        "python3 -c 'import sys, zipfile; "
        "sys.exit(len(zipfile.ZipFile(sys.argv[1]).infolist()) != 65536)' {}",
        archive_.string());
    EXPECT_EQ(std::system(command.c_str()), 0) << "Python reads every entry";
}

using FailedEntry = ZipTest;

// Where the authentication code of the archive's only AES entry ends: right
// before the central directory, or before a data descriptor.
std::size_t authenticationCodeEnd(const fs::path& archive) {
    const std::string bytes = readFile(archive);
    std::size_t end = bytes.rfind("PK\x01\x02");
    for (const std::size_t descriptor : {16u, 24u}) {
        if (end >= descriptor && bytes.compare(end - descriptor, 4, "PK\x07\x08") == 0) return end - descriptor;
    }
    return end;
}

TEST_F(FailedEntry, NeverReplacesAGoodCopy) {
    const std::string good = "the good copy";
    const std::string text = noisyText(3000, 7);
    // A flipped data byte fails the CRC; a flipped authentication code byte
    // fails an AES entry whose CRC still matches.
    for (const bool aes : {false, true}) {
        SCOPED_TRACE(aes ? "AES" : "CRC");
        fs::remove_all(destination_);
        writeFile(destination_ / "sub/f.txt", good);
        std::optional<std::string> password;
        std::size_t flipped = 0;
        if (aes) {
            password = "pw";
            fs::remove(archive_);
            SSZipArchive zip(archive_.string());
            ASSERT_TRUE(zip.open());
            ASSERT_TRUE(zip.writeData(bytes(text), "sub/f.txt", password));
            ASSERT_TRUE(zip.close());
            flipped = authenticationCodeEnd(archive_) - 3;
        } else {
            writeFixtureArchive(archive_, {F{.name = "sub/f.txt", .data = text, .deflate = false}});
            flipped = findInFile(archive_, text.substr(0, 64)) + 1000;
        }
        std::string byte = readFile(archive_).substr(flipped, 1);
        byte[0] = static_cast<char>(byte[0] ^ 0x5A);
        patchFile(archive_, flipped, byte);

        EXPECT_FALSE(SSZipArchive::unzipFileAtPath(archive_.string(), destination_.string(), true, password, &error_));
        ASSERT_TRUE(error_);
        EXPECT_EQ(errorCode(), -3);
        EXPECT_EQ(error_->localizedDescription(), "crc check failed for file");
        EXPECT_EQ(readFile(destination_ / "sub/f.txt"), good);
        EXPECT_EQ(filesBelow(destination_), 1u) << "no half-written file stays behind";
    }
}

TEST_F(FailedEntry, ANewFileThatFailsLeavesNothingBehind) {
    const std::string text = noisyText(3000, 9);
    writeFixtureArchive(archive_,
                        {F::file("keep.txt", "kept"), F{.name = "sub/f.txt", .data = text, .deflate = false}});
    std::string byte = readFile(archive_).substr(findInFile(archive_, text.substr(0, 64)) + 1000, 1);
    byte[0] = static_cast<char>(byte[0] ^ 0x5A);
    patchFile(archive_, findInFile(archive_, text.substr(0, 64)) + 1000, byte);

    EXPECT_FALSE(unzip());
    EXPECT_EQ(errorCode(), -3);
    EXPECT_EQ(readFile(destination_ / "keep.txt"), "kept");
    EXPECT_FALSE(fs::exists(destination_ / "sub/f.txt"));
    EXPECT_EQ(filesBelow(destination_), 1u) << "neither the entry nor a temporary file stays behind";
}

// Names the archive itself put in folders it made: a second entry of a name
// replaces or keeps the first as a file already there would, and a file
// entry where the archive made a folder leaves the folder alone.
TEST_F(FailedEntry, NamesTheArchiveRepeatsAreHandledAsFilesAlreadyThere) {
    for (const bool overwrite : {true, false}) {
        SCOPED_TRACE(overwrite);
        fs::remove_all(destination_);
        writeFixtureArchive(archive_,
                            {F::file("x.txt", "first"), F::file("d/x.txt", "first"), F::file("a/b/c.txt", "c"),
                             F::file("x.txt", "second"), F::file("d/x.txt", "second"), F::file("a/b", "file")});
        EXPECT_TRUE(unzip(overwrite));
        EXPECT_EQ(error_, std::nullopt);
        const std::string expected = overwrite ? "second" : "first";
        EXPECT_EQ(readFile(destination_ / "x.txt"), expected);
        EXPECT_EQ(readFile(destination_ / "d/x.txt"), expected);
        EXPECT_EQ(readFile(destination_ / "a/b/c.txt"), "c");
        EXPECT_EQ(filesBelow(destination_), 3u);
    }
}

TEST_F(FailedEntry, TheLocalHeaderNeverChoosesThePath) {
    writeFixtureArchive(archive_, {F::file("good.txt", "central")});
    patchFile(archive_, 30, "../x.txt");
    ASSERT_TRUE(unzip());
    EXPECT_EQ(readFile(destination_ / "good.txt"), "central");
    EXPECT_EQ(filesBelow(box_), 1u);
    EXPECT_TRUE(logs_.sink().contains("the central directory's name is used"));
}

using OutputFailure = ZipTest;

TEST_F(OutputFailure, FoldersAndFilesThatCannotBeMadeEndTheExtraction) {
    struct Case {
        std::string name;
        std::int64_t code;
        std::string reason;
    };
    // A regular file where a folder goes; a name longer than the system takes.
    for (const auto& c : {Case{"blocker/x.txt", -7, "Not a directory"},
                          Case{std::string(300, 'n') + ".txt", -8, "File name too long"}}) {
        SCOPED_TRACE(c.code);
        fs::remove_all(destination_);
        writeFile(destination_ / "blocker", "a file");
        writeFixtureArchive(archive_, {F::file("first.txt", "1"), F::file(c.name, "x"), F::file("last.txt", "3")});
        EXPECT_FALSE(unzip());
        EXPECT_EQ(errorCode(), c.code);
        EXPECT_NE(error_->localizedDescription().find(c.reason), std::string::npos) << error_->localizedDescription();
        EXPECT_TRUE(fs::exists(destination_ / "first.txt"));
        EXPECT_FALSE(fs::exists(destination_ / "last.txt"));
    }
}

TEST_F(OutputFailure, AFolderWhereAFileGoesIsLeftAlone) {
    fs::create_directories(destination_ / "f.txt" / "kept");
    writeFixtureArchive(archive_, {F::file("f.txt", "new"), F::file("after.txt", "after")});
    EXPECT_TRUE(unzip());
    EXPECT_EQ(error_, std::nullopt);
    EXPECT_TRUE(fs::is_directory(destination_ / "f.txt" / "kept"));
    EXPECT_EQ(readFile(destination_ / "after.txt"), "after");
}

}  // namespace
}  // namespace ambrell::test
