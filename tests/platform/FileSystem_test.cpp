#include "platform/FileSystem.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "tests/support/TempDirectory.h"

namespace ambrell::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class FileSystemTest : public testing::Test {
protected:
    // Everything in the folder but the given names: temporary files left behind.
    std::vector<std::string> leftovers(const fs::path& folder, std::initializer_list<std::string_view> expected) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder)) {
            const auto name = entry.path().filename().string();
            if (std::find(expected.begin(), expected.end(), name) == expected.end()) names.push_back(name);
        }
        return names;
    }

    test::TempDirectory folder_;
};

TEST_F(FileSystemTest, WritesReadBackAndReplaceWholeFiles) {
    const auto file = folder_ / "data.bin";
    const std::vector<std::uint8_t> bytes{0, 1, 2, 0xFF};
    ASSERT_FALSE(writeFileAtomically(file, bytes));
    EXPECT_EQ(readFile(file), bytes);

    ASSERT_FALSE(writeFileAtomically(file, "shorter"));
    EXPECT_EQ(readTextFile(file), "shorter");

    ASSERT_FALSE(writeFileAtomically(file, ""));
    EXPECT_EQ(readTextFile(file), "");
    EXPECT_TRUE(leftovers(folder_.path(), {"data.bin"}).empty());
}

TEST_F(FileSystemTest, WriteCreatesMissingFoldersAndLongNamesFit) {
    const auto nested = folder_ / "a/b/c/settings.json";
    ASSERT_FALSE(writeFileAtomically(nested, "{}"));
    EXPECT_EQ(readTextFile(nested), "{}");

    const auto longName = folder_ / std::string(255, 'n');
    ASSERT_FALSE(writeFileAtomically(longName, "fits"));
    EXPECT_EQ(readTextFile(longName), "fits");
}

TEST_F(FileSystemTest, FailedWriteLeavesNothingBehind) {
    fs::create_directory(folder_ / "folder");
    ASSERT_FALSE(writeFileAtomically(folder_ / "folder/kept", "kept"));
    EXPECT_TRUE(writeFileAtomically(folder_ / "folder", "over a folder"));
    EXPECT_EQ(readTextFile(folder_ / "folder/kept"), "kept");

    ASSERT_FALSE(writeFileAtomically(folder_ / "plain", "file"));
    EXPECT_TRUE(writeFileAtomically(folder_ / "plain/child", "under a file"));
    EXPECT_EQ(writeFileAtomically(folder_ / "trailing/", "x"), std::errc::is_a_directory);
    EXPECT_TRUE(leftovers(folder_.path(), {"folder", "plain"}).empty());
    EXPECT_TRUE(leftovers(folder_ / "folder", {"kept"}).empty());
}

TEST_F(FileSystemTest, PathWithANulIsRefusedNotCutShort) {
    const auto file = folder_ / "target";
    ASSERT_FALSE(writeFileAtomically(file, "original"));
    const fs::path cut(file.native() + std::string("\0.tmp", 5));

    EXPECT_EQ(writeFileAtomically(cut, "replaced"), std::errc::invalid_argument);
    EXPECT_EQ(readFile(cut), std::nullopt);
    EXPECT_EQ(setPermissions(cut, 0), std::errc::invalid_argument);
    EXPECT_EQ(replaceItem(cut, folder_ / "nothing"), std::errc::invalid_argument);
    EXPECT_EQ(readTextFile(file), "original");
    EXPECT_EQ(validateSystemPath(""), std::errc::invalid_argument);
    EXPECT_FALSE(validateSystemPath(file));
}

TEST_F(FileSystemTest, ReadingMissingFilesAndFolders) {
    EXPECT_EQ(readFile(folder_ / "missing"), std::nullopt);
    EXPECT_EQ(readTextFile(folder_.path()), std::nullopt);
    EXPECT_EQ(readFile(""), std::nullopt);
}

TEST_F(FileSystemTest, ReplaceItemMovesTheSourceOverTheDestination) {
    const auto destination = folder_ / "current";
    const auto source = folder_ / "downloaded";
    ASSERT_FALSE(writeFileAtomically(destination, "old"));
    ASSERT_FALSE(writeFileAtomically(source, "new"));
    ASSERT_FALSE(replaceItem(destination, source));
    EXPECT_EQ(readTextFile(destination), "new");
    EXPECT_FALSE(fs::exists(source));

    // No destination yet.
    ASSERT_FALSE(writeFileAtomically(source, "first"));
    ASSERT_FALSE(replaceItem(folder_ / "fresh", source));
    EXPECT_EQ(readTextFile(folder_ / "fresh"), "first");

    EXPECT_EQ(replaceItem(destination, folder_ / "missing"), std::errc::no_such_file_or_directory);
    EXPECT_EQ(readTextFile(destination), "new");
}

TEST_F(FileSystemTest, ReplaceItemAcrossFileSystemsCopiesContentsModeAndDate) {
    // /dev/shm is a tmpfs, another file system than the temp folder's on most systems.
    if (!fs::is_directory("/dev/shm")) GTEST_SKIP() << "no /dev/shm";
    struct ShmFile {
        fs::path path = fs::path("/dev/shm") / ("ambrell-test-" + std::to_string(::getpid()));
        ~ShmFile() { std::error_code ignored; fs::remove(path, ignored); }
    } source;
    if (writeFileAtomically(source.path, "from memory")) GTEST_SKIP() << "/dev/shm is not writable";
    ASSERT_FALSE(setPermissions(source.path, 0640));
    const auto date = std::chrono::system_clock::time_point(1'600'000'000'123'456'789ns);
    ASSERT_FALSE(setModificationDate(source.path, date));

    const auto destination = folder_ / "copied";
    ASSERT_FALSE(writeFileAtomically(destination, "old"));
    ASSERT_FALSE(replaceItem(destination, source.path));
    EXPECT_EQ(readTextFile(destination), "from memory");
    EXPECT_EQ(permissions(destination), 0640u);
    EXPECT_EQ(modificationDate(destination), date);
    EXPECT_FALSE(fs::exists(source.path));
}

TEST_F(FileSystemTest, ModificationDateKeepsNanosecondsAndDatesBefore1970) {
    const auto file = folder_ / "dated";
    ASSERT_FALSE(writeFileAtomically(file, "x"));
    for (const auto date : {std::chrono::system_clock::time_point(1'700'000'000'123'456'789ns),
                            std::chrono::system_clock::time_point(-1'500'000'001ns),
                            std::chrono::system_clock::time_point(0ns)}) {
        ASSERT_FALSE(setModificationDate(file, date));
        EXPECT_EQ(modificationDate(file), date);
    }
    EXPECT_EQ(modificationDate(folder_ / "missing"), std::nullopt);
    EXPECT_EQ(setModificationDate(folder_ / "missing", {}), std::errc::no_such_file_or_directory);
}

TEST_F(FileSystemTest, PermissionsAreTheModeBits) {
    const auto file = folder_ / "script";
    ASSERT_FALSE(writeFileAtomically(file, "#!/bin/sh\n"));
    ASSERT_FALSE(setPermissions(file, 04755));
    EXPECT_EQ(permissions(file), 04755u);
    ASSERT_FALSE(setPermissions(file, 0600));
    EXPECT_EQ(permissions(file), 0600u);

    EXPECT_EQ(setPermissions(file, 0100644), std::errc::invalid_argument);
    EXPECT_EQ(permissions(file), 0600u);
    EXPECT_EQ(permissions(folder_ / "missing"), std::nullopt);
    EXPECT_EQ(setPermissions(folder_ / "missing", 0644), std::errc::no_such_file_or_directory);
}

TEST_F(FileSystemTest, NewFilesGetTheUsualModeNotATemporaryFilesOne) {
    const auto previous = ::umask(022);
    ASSERT_FALSE(writeFileAtomically(folder_ / "shared", "x"));
    ::umask(previous);
    EXPECT_EQ(permissions(folder_ / "shared"), 0644u);
}

}  // namespace
}  // namespace ambrell::platform
