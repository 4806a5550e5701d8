#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "platform/ExtendedAttributes.h"
#include "platform/FileSystem.h"
#include "tests/support/TempDirectory.h"

namespace ambrell::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Names = std::vector<std::string>;

// Sorted; temporary files left behind would show here.
Names sorted(Names names) {
    std::sort(names.begin(), names.end());
    return names;
}

Names namesIn(const fs::path& folder) {
    Names names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    return sorted(std::move(names));
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
    for (const auto* contents : {"first" /* no destination yet */, "second"}) {
        ASSERT_FALSE(writeFileAtomically(source, contents));
        ASSERT_FALSE(replaceItem(destination, source));
        EXPECT_EQ(readTextFile(destination), contents);
    }
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

TEST_F(FileSystemTest, DatesKeepNanosecondsAndPre1970AndPermissionsAreTheModeBits) {
    const auto file = folder_ / "script";
    const auto previousMask = ::umask(022);
    ASSERT_FALSE(writeFileAtomically(file, "#!/bin/sh\n"));
    ::umask(previousMask);
    for (const auto sinceEpoch : {1'700'000'000'123'456'789ns, -1'500'000'001ns}) {
        const auto date = std::chrono::system_clock::time_point(sinceEpoch);
        ASSERT_FALSE(setModificationDate(file, date));
        EXPECT_EQ(modificationDate(file), date);
    }
    EXPECT_EQ(permissions(file), 0644u);  // the umask's say, not a temporary file's 0600
    ASSERT_FALSE(setPermissions(file, 04755));
    EXPECT_EQ(permissions(file), 04755u);
    EXPECT_EQ(setPermissions(file, 0100644), std::errc::invalid_argument);
    EXPECT_EQ(permissions(file), 04755u);
    const auto missing = folder_ / "missing";
    EXPECT_EQ(modificationDate(missing), std::nullopt);
    EXPECT_EQ(setModificationDate(missing, {}), std::errc::no_such_file_or_directory);
    EXPECT_EQ(permissions(missing), std::nullopt);
}

class ExtendedAttributesTest : public FileSystemTest {
protected:
    void SetUp() override {
        ASSERT_FALSE(writeFileAtomically(file_, "contents"));
        if (setExtendedAttribute(file_, "probe", "1") == std::errc::operation_not_supported) {
            GTEST_SKIP() << "the temp folder's file system has no user extended attributes";
        }
        ASSERT_FALSE(removeExtendedAttribute(file_, "probe"));
    }

    const fs::path file_ = folder_ / "cached.json";
};

TEST_F(ExtendedAttributesTest, PlatformNamesLiveInTheUserNamespace) {
    ASSERT_FALSE(setExtendedAttribute(file_, "com.corvay.url", "https://example.com/a.json"));
    ASSERT_FALSE(setExtendedAttribute(file_, "user.com.corvay.date", "d"));
    EXPECT_EQ(getExtendedAttribute(file_, "user.com.corvay.url"), "https://example.com/a.json");
    EXPECT_EQ(::getxattr(file_.c_str(), "user.com.corvay.url", nullptr, 0), 26);  // the prefix once, as other tools see it
    EXPECT_EQ(sorted(listExtendedAttributes(file_)), (Names{"com.corvay.date", "com.corvay.url"}));
}

TEST_F(ExtendedAttributesTest, ValuesAreBytesAndSettingReplaces) {
    for (const auto& value : {std::string("a\0b\xFF", 4), std::string(), std::string(2048, 'x')}) {
        ASSERT_FALSE(setExtendedAttribute(file_, "com.corvay.etag", value));
        EXPECT_EQ(getExtendedAttribute(file_, "com.corvay.etag"), value);
    }
    ASSERT_FALSE(removeExtendedAttribute(file_, "com.corvay.etag"));
    EXPECT_EQ(getExtendedAttribute(file_, "com.corvay.etag"), std::nullopt);
    EXPECT_FALSE(removeExtendedAttribute(file_, "com.corvay.etag"));  // already gone: fine
    const auto missing = folder_ / "missing";
    EXPECT_EQ(getExtendedAttribute(missing, "com.corvay.url"), std::nullopt);
    EXPECT_EQ(setExtendedAttribute(missing, "com.corvay.url", "x"), std::errc::no_such_file_or_directory);
    EXPECT_TRUE(listExtendedAttributes(missing).empty());
}

TEST_F(ExtendedAttributesTest, RefusesNamesAndPathsTheKernelWouldMisread) {
    for (const auto& name : {std::string("com.corvay\0.url", 15), std::string(), std::string("user.")}) {
        EXPECT_EQ(setExtendedAttribute(file_, name, "x"), std::errc::invalid_argument);
    }
    // The kernel answers ERANGE to a long name, which would pass for a race.
    EXPECT_EQ(setExtendedAttribute(file_, std::string(300, 'n'), "x"), std::errc::filename_too_long);
    EXPECT_EQ(getExtendedAttribute(file_, std::string(300, 'n')), std::nullopt);
    const fs::path cutShort(file_.native() + std::string("\0.other", 7));
    EXPECT_EQ(setExtendedAttribute(cutShort, "com.corvay.url", "x"), std::errc::invalid_argument);
    EXPECT_TRUE(listExtendedAttributes(file_).empty());
}

TEST_F(ExtendedAttributesTest, ReadsAWholeValueWhileAnotherThreadResizesIt) {
    const std::string shortValue(10, 's');
    const std::string longValue(2000, 'l');
    ASSERT_FALSE(setExtendedAttribute(file_, "com.corvay.url", shortValue));
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int round = 0; !stop; ++round) (void)setExtendedAttribute(file_, "com.corvay.url", round % 2 ? shortValue : longValue);
    });
    for (int read = 0; read < 2000; ++read) {
        // None only when the writer won every retry; never a torn value.
        if (const auto value = getExtendedAttribute(file_, "com.corvay.url")) {
            EXPECT_TRUE(*value == shortValue || *value == longValue) << value->size();
        }
    }
    stop = true;
    writer.join();
}

}  // namespace
}  // namespace ambrell::platform
