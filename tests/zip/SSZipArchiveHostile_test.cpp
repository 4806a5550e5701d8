#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/zip/ZipTestSupport.h"

namespace ambrell::test {
namespace {

using F = FixtureEntry;

std::vector<std::string> listing(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(folder)) names.push_back(item.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void setLE32(const fs::path& file, std::size_t offset, std::uint32_t value) {
    std::string bytes(4, '\0');
    for (std::size_t i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    patchFile(file, offset, bytes);
}

// Archives made to hurt: whatever escapes the destination shows up in the box
// around it or in the folder outside.
using HostileArchive = ZipTest;

TEST_F(HostileArchive, EntryNamesNeverLeaveTheDestination) {
    writeFixtureArchive(archive_, {F::file("../../evil.txt", "1"), F::file("a\\b.txt", "2"), F::file("/abs/x.txt", "3"),
                                   F::file("C:\\win\\y.txt", "4"), F::file("a/../../../../z.txt", "5"),
                                   F::file("..\\..\\back.txt", "6")});
    ASSERT_TRUE(unzip()) << (error_ ? error_->localizedDescription() : "");
    expectFiles(destination_, {{"evil.txt", "1"}, {"a/b.txt", "2"}, {"abs/x.txt", "3"}, {"C:/win/y.txt", "4"},
                               {"z.txt", "5"}, {"back.txt", "6"}});
    EXPECT_EQ(listing(box_), std::vector<std::string>{"out"});
    EXPECT_TRUE(fs::is_empty(outside_));
}

TEST_F(HostileArchive, LinksThatLeadOutAreRefused) {
    for (const std::string target : {"../../outside", "/etc/passwd", "sub/../../outside", ".."}) {
        SCOPED_TRACE(target);
        fs::remove_all(destination_);
        writeFixtureArchive(archive_, {F::file("first.txt", "kept"), F::link("escape", target)});
        EXPECT_FALSE(unzip());
        EXPECT_EQ(errorCode(), -9);
        EXPECT_FALSE(fs::is_symlink(destination_ / "escape"));
        EXPECT_EQ(readFile(destination_ / "first.txt"), "kept");
        EXPECT_TRUE(logs_.sink().contains("[SSZipArchive] Refused to create symbolic link at"));
    }
}

TEST_F(HostileArchive, LinksInsideAreCreatedWithTheirTarget) {
    writeFixtureArchive(archive_, {F::file("sub/real.txt", "real"), F::link("shortcut", "sub/real.txt"),
                                   F::link("sub/up", "../sub/real.txt")});
    ASSERT_TRUE(unzip()) << (error_ ? error_->localizedDescription() : "");
    EXPECT_EQ(fs::read_symlink(destination_ / "shortcut"), "sub/real.txt");
    EXPECT_EQ(fs::read_symlink(destination_ / "sub/up"), "../sub/real.txt");
    EXPECT_EQ(readFile(destination_ / "shortcut"), "real");
}

TEST_F(HostileArchive, NoFileIsWrittenThroughALinkFromTheArchive) {
    writeFixtureArchive(archive_, {F::folder("sub/"), F::link("inner", "sub"), F::file("inner/x.txt", "through")});
    EXPECT_FALSE(unzip());
    EXPECT_EQ(errorCode(), -7);
    EXPECT_EQ(error_->localizedDescription(),
              "Failed to create folder \"" + (destination_ / "inner").string() + "\": Not a directory");
    EXPECT_FALSE(fs::exists(destination_ / "sub/x.txt"));
}

TEST_F(HostileArchive, NoFileIsWrittenThroughALinkAlreadyThere) {
    fs::create_directories(destination_);
    fs::create_directory_symlink(outside_, destination_ / "pre");
    writeFile(outside_ / "target.txt", "secret");
    fs::create_symlink(outside_ / "target.txt", destination_ / "f.txt");
    writeFixtureArchive(archive_, {F::file("f.txt", "new")});

    EXPECT_TRUE(unzip(false)) << "overwrite off leaves what is there";
    EXPECT_TRUE(fs::is_symlink(destination_ / "f.txt"));
    ASSERT_TRUE(unzip(true));
    EXPECT_FALSE(fs::is_symlink(destination_ / "f.txt")) << "the link is replaced, not followed";
    EXPECT_EQ(readFile(destination_ / "f.txt"), "new");
    EXPECT_EQ(readFile(outside_ / "target.txt"), "secret");

    writeFixtureArchive(archive_, {F::file("pre/x.txt", "through")});
    EXPECT_FALSE(unzip());
    EXPECT_EQ(errorCode(), -7);
    EXPECT_EQ(listing(outside_), std::vector<std::string>{"target.txt"});
}

TEST_F(HostileArchive, AFlippedDataByteFailsTheChecksumAndKeepsEarlierEntries) {
    writeFixtureArchive(archive_, {F{.name = "first.txt", .data = "first entry", .deflate = false},
                                   F{.name = "second.txt", .data = noisyText(5000, 2), .deflate = false},
                                   F::file("third.txt", "never")});
    patchFile(archive_, findInFile(archive_, noisyText(5000, 2).substr(0, 64)) + 2500, "#");

    EXPECT_FALSE(unzip());
    EXPECT_EQ(errorCode(), -3);
    EXPECT_EQ(error_->localizedDescription(), "crc check failed for file");
    EXPECT_EQ(readFile(destination_ / "first.txt"), "first entry");
    EXPECT_FALSE(fs::exists(destination_ / "third.txt"));
}

TEST_F(HostileArchive, ATruncatedArchiveCannotBeOpened) {
    writeFixtureArchive(archive_, {F::file("a.txt", noisyText(20000, 3))});
    fs::resize_file(archive_, fs::file_size(archive_) / 2);
    EXPECT_FALSE(unzip());
    EXPECT_EQ(errorCode(), -1);
    EXPECT_FALSE(fs::exists(destination_));
}

TEST_F(HostileArchive, DeclaredSizesThatLieAreErrors) {
    // Offsets of the field in the central and in the local header: uncompressed
    // smaller, uncompressed larger, compressed past the end of the file.
    for (const auto& [centralField, localField, value] : std::vector<std::tuple<std::size_t, std::size_t, std::uint32_t>>{
             {24, 22, 10}, {24, 22, 5000}, {20, 18, 0x00FFFFFF}}) {
        SCOPED_TRACE(value);
        fs::remove_all(destination_);
        writeFixtureArchive(archive_, {F::file("lie.txt", noisyText(1000, 4))});
        setLE32(archive_, findInFile(archive_, "PK\x01\x02") + centralField, value);
        setLE32(archive_, localField, value);
        EXPECT_FALSE(unzip());
        EXPECT_TRUE(errorCode() == -4 || errorCode() == -2) << errorCode();
    }
}

TEST_F(HostileArchive, ACorruptCentralDirectoryIsAnError) {
    writeFixtureArchive(archive_, {F::file("a.txt", "a"), F::file("b.txt", "b")});
    patchFile(archive_, readFile(archive_).rfind("PK\x01\x02"), "XX");
    EXPECT_FALSE(unzip());
    EXPECT_NE(errorCode(), 0);
}

}  // namespace
}  // namespace ambrell::test
