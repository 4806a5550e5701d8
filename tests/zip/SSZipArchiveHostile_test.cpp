#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/CapturingLogSink.h"
#include "tests/support/TempDirectory.h"
#include "tests/zip/ZipTestSupport.h"
#include "zip/SSZipArchive.h"

namespace ambrell {
namespace {

namespace fs = std::filesystem;
using test::FixtureEntry;

std::vector<std::string> listing(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(folder)) names.push_back(item.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void setLE32(const fs::path& file, std::size_t offset, std::uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
    test::patchFile(file, offset, bytes);
}

// Archives made to hurt: the destination is temp/box/out, so anything that
// escapes it shows up in temp/box.
class HostileArchive : public ::testing::Test {
protected:
    test::TempDirectory temp_{"ambrell-zip-hostile"};
    const fs::path archive_ = temp_ / "hostile.zip";
    const fs::path box_ = temp_ / "box";
    const fs::path destination_ = box_ / "out";
    const fs::path outside_ = temp_ / "outside";
    std::optional<platform::NSError> error_;
    test::ScopedLogCapture logs_;

    void SetUp() override {
        fs::create_directories(box_);
        fs::create_directories(outside_);
    }

    bool unzip(bool overwrite = true) {
        return SSZipArchive::unzipFileAtPath(archive_.string(), destination_.string(), overwrite, std::nullopt,
                                             &error_);
    }
    std::int64_t errorCode() const { return error_ ? error_->code : 0; }
};

TEST_F(HostileArchive, EntryNamesNeverLeaveTheDestination) {
    test::writeFixtureArchive(
        archive_, {FixtureEntry::file("../../evil.txt", "1"), FixtureEntry::file("a\\b.txt", "2"),
                   FixtureEntry::file("/abs/x.txt", "3"), FixtureEntry::file("C:\\win\\y.txt", "4"),
                   FixtureEntry::file("a/../../../../z.txt", "5"), FixtureEntry::file("..\\..\\back.txt", "6")});
    ASSERT_TRUE(unzip()) << (error_ ? error_->localizedDescription() : "");
    EXPECT_EQ(test::readFile(destination_ / "evil.txt"), "1");
    EXPECT_EQ(test::readFile(destination_ / "a/b.txt"), "2");
    EXPECT_EQ(test::readFile(destination_ / "abs/x.txt"), "3");
    EXPECT_EQ(test::readFile(destination_ / "C:/win/y.txt"), "4");
    EXPECT_EQ(test::readFile(destination_ / "z.txt"), "5");
    EXPECT_EQ(test::readFile(destination_ / "back.txt"), "6");
    EXPECT_EQ(listing(box_), std::vector<std::string>{"out"});
    EXPECT_TRUE(fs::is_empty(outside_));
}

TEST_F(HostileArchive, LinksThatLeadOutAreRefused) {
    for (const std::string target : {"../../outside", "/etc/passwd", "sub/../../outside", ".."}) {
        SCOPED_TRACE(target);
        fs::remove_all(destination_);
        test::writeFixtureArchive(archive_,
                                  {FixtureEntry::file("first.txt", "kept"), FixtureEntry::link("escape", target)});
        EXPECT_FALSE(unzip());
        EXPECT_EQ(errorCode(), -9);
        EXPECT_EQ(error_->domain, "SSZipArchiveErrorDomain");
        EXPECT_FALSE(fs::symlink_status(destination_ / "escape").type() == fs::file_type::symlink);
        EXPECT_EQ(test::readFile(destination_ / "first.txt"), "kept");
        EXPECT_TRUE(logs_.sink().contains("[SSZipArchive] Refused to create symbolic link at"));
    }
}

TEST_F(HostileArchive, LinksInsideAreCreatedWithTheirTarget) {
    test::writeFixtureArchive(
        archive_, {FixtureEntry::file("sub/real.txt", "real"), FixtureEntry::link("shortcut", "sub/real.txt"),
                   FixtureEntry::link("sub/up", "../sub/real.txt")});
    ASSERT_TRUE(unzip()) << (error_ ? error_->localizedDescription() : "");
    EXPECT_EQ(fs::read_symlink(destination_ / "shortcut"), "sub/real.txt");
    EXPECT_EQ(fs::read_symlink(destination_ / "sub/up"), "../sub/real.txt");
    EXPECT_EQ(test::readFile(destination_ / "shortcut"), "real");
}

TEST_F(HostileArchive, NoFileIsWrittenThroughALinkFromTheArchive) {
    test::writeFixtureArchive(archive_, {FixtureEntry::folder("sub/"), FixtureEntry::link("inner", "sub"),
                                         FixtureEntry::file("inner/x.txt", "through")});
    EXPECT_FALSE(unzip());
    EXPECT_EQ(errorCode(), -7);
    EXPECT_EQ(error_->localizedDescription(),
              "Failed to create folder \"" + (destination_ / "inner").string() + "\": Not a directory");
    EXPECT_FALSE(fs::exists(destination_ / "sub/x.txt"));
}

TEST_F(HostileArchive, NoFileIsWrittenThroughALinkAlreadyThere) {
    fs::create_directories(destination_);
    fs::create_directory_symlink(outside_, destination_ / "pre");
    test::writeFile(outside_ / "target.txt", "secret");
    fs::create_symlink(outside_ / "target.txt", destination_ / "f.txt");
    test::writeFixtureArchive(archive_, {FixtureEntry::file("f.txt", "new")});

    EXPECT_TRUE(unzip(false)) << "overwrite off leaves what is there";
    EXPECT_TRUE(fs::is_symlink(destination_ / "f.txt"));
    ASSERT_TRUE(unzip(true));
    EXPECT_FALSE(fs::is_symlink(destination_ / "f.txt")) << "the link is replaced, not followed";
    EXPECT_EQ(test::readFile(destination_ / "f.txt"), "new");
    EXPECT_EQ(test::readFile(outside_ / "target.txt"), "secret");

    test::writeFixtureArchive(archive_, {FixtureEntry::file("pre/x.txt", "through")});
    EXPECT_FALSE(unzip());
    EXPECT_EQ(errorCode(), -7);
    EXPECT_EQ(listing(outside_), std::vector<std::string>{"target.txt"});
}

TEST_F(HostileArchive, AFlippedDataByteFailsTheChecksumAndKeepsEarlierEntries) {
    auto first = FixtureEntry::file("first.txt", "first entry");
    auto second = FixtureEntry::file("second.txt", test::noisyText(5000, 2));
    first.deflate = second.deflate = false;
    test::writeFixtureArchive(archive_, {first, second, FixtureEntry::file("third.txt", "never")});
    const auto offset = test::findInFile(archive_, test::noisyText(5000, 2).substr(0, 64)) + 2500;
    test::patchFile(archive_, offset, "#");

    EXPECT_FALSE(unzip());
    ASSERT_TRUE(error_.has_value());
    EXPECT_EQ(error_->domain, "SSZipArchiveErrorDomain");
    EXPECT_EQ(error_->code, -3);
    EXPECT_EQ(error_->localizedDescription(), "crc check failed for file");
    EXPECT_EQ(test::readFile(destination_ / "first.txt"), "first entry");
    EXPECT_FALSE(fs::exists(destination_ / "third.txt"));
}

TEST_F(HostileArchive, ATruncatedArchiveCannotBeOpened) {
    test::writeFixtureArchive(archive_, {FixtureEntry::file("a.txt", test::noisyText(20000, 3))});
    fs::resize_file(archive_, fs::file_size(archive_) / 2);
    EXPECT_FALSE(unzip());
    EXPECT_EQ(errorCode(), -1);
    EXPECT_FALSE(fs::exists(destination_));
}

TEST_F(HostileArchive, DeclaredSizesThatLieAreErrors) {
    const std::string contents = test::noisyText(1000, 4);
    struct Lie {
        std::size_t centralField;  // offset in the central header
        std::size_t localField;    // offset in the local header
        std::uint32_t value;
    };
    // Uncompressed smaller, uncompressed larger, compressed past the end of the file.
    for (const Lie lie : {Lie{24, 22, 10}, Lie{24, 22, 5000}, Lie{20, 18, 0x00FFFFFF}}) {
        SCOPED_TRACE(lie.value);
        fs::remove_all(destination_);
        test::writeFixtureArchive(archive_, {FixtureEntry::file("lie.txt", contents)});
        setLE32(archive_, test::findInFile(archive_, "PK\x01\x02") + lie.centralField, lie.value);
        setLE32(archive_, lie.localField, lie.value);
        EXPECT_FALSE(unzip());
        ASSERT_TRUE(error_.has_value());
        EXPECT_EQ(error_->domain, "SSZipArchiveErrorDomain");
        EXPECT_TRUE(error_->code == -4 || error_->code == -2) << error_->code;
    }
}

TEST_F(HostileArchive, ACorruptCentralDirectoryIsAnError) {
    test::writeFixtureArchive(archive_, {FixtureEntry::file("a.txt", "a"), FixtureEntry::file("b.txt", "b")});
    const auto second = test::readFile(archive_).rfind("PK\x01\x02");
    test::patchFile(archive_, second, "XX");
    EXPECT_FALSE(unzip());
    ASSERT_TRUE(error_.has_value());
    EXPECT_EQ(error_->domain, "SSZipArchiveErrorDomain");
}

}  // namespace
}  // namespace ambrell
