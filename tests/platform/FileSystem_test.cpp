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
using Names = std::vector<std::string>;

// Temporary files left behind would show here.
Names namesIn(const fs::path& folder) {
    Names names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class FileSystemTest : public testing::Test {
protected:
    test::TempDirectory folder_;
};

TEST_F(FileSystemTest, WritesReplaceWholeFilesAndCreateFolders) {
    const auto file = folder_ / "a/b/data.bin";
    const std::vector<std::uint8_t> bytes{0, 1, 2, 0xFF};
    ASSERT_FALSE(writeFileAtomically(file, bytes));
    EXPECT_EQ(readFile(file), bytes);
    ASSERT_FALSE(writeFileAtomically(file, ""));
    EXPECT_EQ(readTextFile(file), "");
    // The temporary name stays within the limit whatever the file's name.
    ASSERT_FALSE(writeFileAtomically(folder_ / "a/b" / std::string(255, 'n'), "fits"));
    EXPECT_EQ(namesIn(folder_ / "a/b"), (Names{"data.bin", std::string(255, 'n')}));
}

TEST_F(FileSystemTest, FailedWritesLeaveEverythingAsItWas) {
    ASSERT_FALSE(writeFileAtomically(folder_ / "folder/kept", "kept"));
    ASSERT_FALSE(writeFileAtomically(folder_ / "plain", "file"));
    EXPECT_EQ(writeFileAtomically(folder_ / "folder", "over a folder"), std::errc::is_a_directory);
    EXPECT_EQ(writeFileAtomically(folder_ / "plain/child", "under a file"), std::errc::not_a_directory);
    EXPECT_EQ(writeFileAtomically(folder_ / "trailing/", "x"), std::errc::is_a_directory);
    // A NUL would cut the path short and name "plain".
    EXPECT_EQ(writeFileAtomically(folder_.path().native() + std::string("/plain\0.tmp", 11), "x"), std::errc::invalid_argument);
    EXPECT_EQ(readTextFile(folder_ / "plain"), "file");
    EXPECT_EQ(namesIn(folder_.path()), (Names{"folder", "plain"}));
    EXPECT_EQ(namesIn(folder_ / "folder"), Names{"kept"});
    EXPECT_EQ(readFile(folder_ / "missing"), std::nullopt);
    EXPECT_EQ(readTextFile(folder_ / "folder"), std::nullopt);
}

TEST_F(FileSystemTest, ReplaceItemMovesTheSourceOverTheDestination) {
    const auto destination = folder_ / "current";
    const auto source = folder_ / "downloaded";
    ASSERT_FALSE(writeFileAtomically(source, "first"));
    ASSERT_FALSE(replaceItem(destination, source));  // no destination yet
    ASSERT_FALSE(writeFileAtomically(source, "second"));
    ASSERT_FALSE(replaceItem(destination, source));
    EXPECT_EQ(readTextFile(destination), "second");
    EXPECT_EQ(replaceItem(destination, source), std::errc::no_such_file_or_directory);
    EXPECT_EQ(namesIn(folder_.path()), Names{"current"});
}

TEST_F(FileSystemTest, ReplaceItemAcrossFileSystemsKeepsContentsModeAndDate) {
    // /dev/shm is a tmpfs, another file system than the temp folder's on most systems.
    const fs::path source = "/dev/shm/ambrell-test-" + std::to_string(::getpid());
    if (writeFileAtomically(source, "from memory")) GTEST_SKIP() << "/dev/shm is not writable";
    const auto date = std::chrono::system_clock::time_point(1'600'000'000'123'456'789ns);
    ASSERT_FALSE(setPermissions(source, 0640));
    ASSERT_FALSE(setModificationDate(source, date));

    const auto destination = folder_ / "copied";
    ASSERT_FALSE(writeFileAtomically(destination, "old"));
    const auto error = replaceItem(destination, source);
    std::error_code ignored;
    fs::remove(source, ignored);
    ASSERT_FALSE(error) << error.message();
    EXPECT_EQ(readTextFile(destination), "from memory");
    EXPECT_EQ(permissions(destination), 0640u);
    EXPECT_EQ(modificationDate(destination), date);
}

TEST_F(FileSystemTest, ModificationDateKeepsNanosecondsAndDatesBefore1970) {
    const auto file = folder_ / "dated";
    ASSERT_FALSE(writeFileAtomically(file, "x"));
    for (const auto sinceEpoch : {1'700'000'000'123'456'789ns, -1'500'000'001ns}) {
        const auto date = std::chrono::system_clock::time_point(sinceEpoch);
        ASSERT_FALSE(setModificationDate(file, date));
        EXPECT_EQ(modificationDate(file), date);
    }
    EXPECT_EQ(modificationDate(folder_ / "missing"), std::nullopt);
    EXPECT_EQ(setModificationDate(folder_ / "missing", {}), std::errc::no_such_file_or_directory);
}

TEST_F(FileSystemTest, PermissionsAreTheModeBits) {
    const auto file = folder_ / "script";
    const auto previousMask = ::umask(022);
    ASSERT_FALSE(writeFileAtomically(file, "#!/bin/sh\n"));
    ::umask(previousMask);
    EXPECT_EQ(permissions(file), 0644u);  // the umask's say, not a temporary file's 0600
    ASSERT_FALSE(setPermissions(file, 04755));
    EXPECT_EQ(permissions(file), 04755u);
    EXPECT_EQ(setPermissions(file, 0100644), std::errc::invalid_argument);
    EXPECT_EQ(permissions(file), 04755u);
    EXPECT_EQ(permissions(folder_ / "missing"), std::nullopt);
}

}  // namespace
}  // namespace ambrell::platform
