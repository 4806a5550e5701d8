#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <limits>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

#include "platform/ExtendedAttributes.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/UserDefaults.h"
#include "tests/support/CapturingLogSink.h"
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

// Puts an environment variable back as it was.
struct SavedVariable {
    explicit SavedVariable(const char* name) : name(name) {
        if (const char* current = std::getenv(name)) value = current;
    }
    ~SavedVariable() { value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name); }
    const char* name;
    std::optional<std::string> value;
};

TEST(PathsDefaultsTest, RootIsUnderHomeOrElseTheTempFolder) {
    const SavedVariable savedHome("HOME");
    const SavedVariable savedTemp("TMPDIR");
    test::TempDirectory home;
    Paths::resetForTesting();
    ::setenv("HOME", home.path().c_str(), 1);
    EXPECT_EQ(Paths::containerRoot(), home / ".local/share/AmbrellCore");
    EXPECT_TRUE(fs::is_directory(home / ".local/share/AmbrellCore"));
    ::unsetenv("HOME");
    ::setenv("TMPDIR", home.path().c_str(), 1);
    EXPECT_EQ(Paths::containerRoot(), home / "AmbrellCore");
}

class ContainerTest : public test::ContainerFixture {};

TEST_F(ContainerTest, FoldersAreCreatedUnderTheRootButResourcesAreNot) {
    EXPECT_EQ(Paths::containerRoot(), containerRoot());
    EXPECT_EQ(Paths::caches(), containerRoot() / "Library/Caches");
    EXPECT_EQ(Paths::documents(), containerRoot() / "Documents");
    EXPECT_EQ(Paths::preferences(), containerRoot() / "Library/Preferences");
    for (const auto* folder : {"Library/Caches", "Documents", "Library/Preferences"}) {
        EXPECT_TRUE(fs::is_directory(containerRoot() / folder)) << folder;
    }
    // The host's resources are read-only to us.
    EXPECT_EQ(Paths::resources(), containerRoot() / "Resources");
    EXPECT_FALSE(fs::exists(containerRoot() / "Resources"));
    Paths::setResourcesFolder(containerRoot() / "bundle");
    Paths::setContainerRoot(containerRoot() / "moved");
    EXPECT_EQ(Paths::resources(), containerRoot() / "bundle");
}

TEST_F(ContainerTest, BadRootsAreRefusedOrLoggedNeverThrown) {
    test::ScopedLogCapture capture;
    Paths::setContainerRoot("");
    Paths::setContainerRoot(std::string("/tmp\0/elsewhere", 15));
    EXPECT_EQ(Paths::containerRoot(), containerRoot());
    EXPECT_TRUE(capture.sink().contains("Ignoring"));
    ASSERT_FALSE(writeFileAtomically(containerRoot() / "file", "not a folder"));
    Paths::setContainerRoot(containerRoot() / "file");
    EXPECT_EQ(Paths::caches(), containerRoot() / "file/Library/Caches");
    EXPECT_TRUE(capture.sink().contains("Cannot create the folder"));
    Paths::setContainerRoot("relative/container");
    // resources() creates nothing, so the current folder stays clean.
    EXPECT_EQ(Paths::resources(), fs::current_path() / "relative/container/Resources");
}

TEST_F(ContainerTest, StandardDefaultsLiveInTheContainerAndFollowItAfterAReset) {
    auto& standard = UserDefaults::standard();
    EXPECT_EQ(&standard, &UserDefaults::standard());
    standard.setString("solution", "demo");
    EXPECT_EQ(UserDefaults(containerRoot() / "Library/Preferences/standard.json").stringForKey("solution"), "demo");
    test::TempDirectory other;
    Paths::setContainerRoot(other.path());
    UserDefaults::resetStandardForTesting();
    EXPECT_EQ(UserDefaults::standard().filePath(), other / "Library/Preferences/standard.json");
    EXPECT_FALSE(UserDefaults::standard().hasKey("solution"));
}

class FileSystemTest : public testing::Test {
protected:
    test::TempDirectory folder_;
};

class UserDefaultsTest : public FileSystemTest {
protected:
    fs::path aside(std::string_view suffix) const { return fs::path(file_) += suffix; }

    const fs::path file_ = folder_ / "Preferences/defaults.json";
    test::ScopedLogCapture capture_;
};

TEST_F(UserDefaultsTest, EveryKindSurvivesANewInstanceAndAReload) {
    UserDefaults reader(file_);
    EXPECT_TRUE(reader.allKeys().empty());  // no file yet
    // Every change is saved at once: the writer is still alive when the file is read.
    UserDefaults writer(file_);
    writer.setBool("flag", true);
    writer.setInteger("min", std::numeric_limits<std::int64_t>::min());
    writer.setDouble("whole", 2.0);
    writer.setString("venue", "Caf\xC3\xA9 \"Nord\"\n");
    writer.setStringArray("floors", {"B1", "", "\xE2\x82\xAC"});
    writer.setBool("removed", true);
    writer.removeObjectForKey("removed");
    const UserDefaults reread(file_);
    EXPECT_EQ(reread.boolForKey("flag"), true);
    EXPECT_EQ(reread.integerForKey("min"), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(reread.doubleForKey("whole"), 2.0);
    EXPECT_EQ(reread.stringForKey("venue"), "Caf\xC3\xA9 \"Nord\"\n");
    EXPECT_EQ(reread.stringArrayForKey("floors"), (Names{"B1", "", "\xE2\x82\xAC"}));
    EXPECT_EQ(reread.allKeys(), (Names{"flag", "floors", "min", "venue", "whole"}));
    // Another kind reads as none, but an integer reads as a double.
    EXPECT_EQ(reread.integerForKey("whole"), std::nullopt);
    EXPECT_EQ(reread.doubleForKey("min"), -0x1p63);
    EXPECT_EQ(reread.stringForKey("flag"), std::nullopt);
    EXPECT_EQ(reread.stringArrayForKey("venue"), std::nullopt);
    reader.reload();
    EXPECT_EQ(reader.allKeys(), reread.allKeys());
    EXPECT_EQ(namesIn(file_.parent_path()), Names{"defaults.json"});  // no temporaries
}

TEST_F(UserDefaultsTest, EntriesOfOtherKindsInTheFileAreKept) {
    const std::string others = R"("nested":{"a":[1,null]},"mixed":["a",1],"big":18446744073709551615)";
    ASSERT_FALSE(writeFileAtomically(file_, "{" + others + "}"));
    UserDefaults defaults(file_);
    EXPECT_EQ(defaults.stringArrayForKey("mixed"), std::nullopt);
    EXPECT_EQ(defaults.integerForKey("big"), std::nullopt);
    defaults.setBool("flag", true);
    const auto text = readTextFile(file_).value_or("");
    EXPECT_NE(text.find(others), std::string::npos) << text;
}

TEST_F(UserDefaultsTest, DamagedFilesAreMovedAsideAndNeverOverwritten) {
    ASSERT_FALSE(writeFileAtomically(file_, R"({"flag": tru)"));
    UserDefaults(file_).setBool("flag", true);
    EXPECT_TRUE(capture_.sink().contains("invalid JSON"));
    EXPECT_EQ(UserDefaults(file_).boolForKey("flag"), true);
    ASSERT_FALSE(writeFileAtomically(file_, R"(["an array"])"));
    EXPECT_TRUE(UserDefaults(file_).allKeys().empty());
    EXPECT_TRUE(capture_.sink().contains("not a JSON object"));
    EXPECT_EQ(readTextFile(aside(".corrupt")), R"({"flag": tru)");
    EXPECT_EQ(readTextFile(aside(".corrupt.2")), R"(["an array"])");
    fs::remove(file_);
    fs::create_directories(file_ / "in the way");
    UserDefaults(file_).setInteger("saved", 1);
    EXPECT_TRUE(capture_.sink().contains("unreadable"));
    EXPECT_TRUE(fs::is_directory(aside(".corrupt.3") / "in the way"));
    EXPECT_EQ(UserDefaults(file_).integerForKey("saved"), 1);
}

TEST_F(UserDefaultsTest, ValuesThatWouldNotReadBackAreRefused) {
    UserDefaults defaults(file_);
    defaults.setDouble("ratio", 0.5);
    defaults.setDouble("ratio", std::numeric_limits<double>::quiet_NaN());
    defaults.setDouble("ratio", std::numeric_limits<double>::infinity());
    defaults.setString("bad text", "\xC3");
    defaults.setString("\xFF", "bad key");
    defaults.setStringArray("bad array", {"fine", "\xED\xA0\x80"});
    EXPECT_EQ(defaults.doubleForKey("ratio"), 0.5);
    EXPECT_EQ(UserDefaults(file_).allKeys(), Names{"ratio"});
    EXPECT_TRUE(capture_.sink().contains("non-finite"));
    EXPECT_TRUE(capture_.sink().contains("not valid UTF-8"));
}

TEST_F(UserDefaultsTest, FailedWriteKeepsTheValueAndRetriesOnTheNextChange) {
    const auto blocked = folder_ / "blocker/defaults.json";
    ASSERT_FALSE(writeFileAtomically(folder_ / "blocker", "a file where the folder should be"));
    UserDefaults defaults(blocked);
    defaults.setBool("flag", true);
    EXPECT_EQ(defaults.boolForKey("flag"), true);
    EXPECT_TRUE(capture_.sink().contains("Cannot save user defaults"));
    fs::remove(folder_ / "blocker");
    defaults.setBool("flag", true);  // the same value, still unsaved
    EXPECT_EQ(UserDefaults(blocked).boolForKey("flag"), true);
}

TEST_F(UserDefaultsTest, ConcurrentWritersAllLand) {
    UserDefaults defaults(file_);
    std::vector<std::thread> writers;
    for (int thread = 0; thread < 4; ++thread) {
        writers.emplace_back([&, thread] {
            for (int index = 0; index < 25; ++index) defaults.setInteger(std::to_string(thread * 100 + index), index);
        });
    }
    for (auto& writer : writers) writer.join();
    EXPECT_EQ(UserDefaults(file_).allKeys().size(), 100u);
}

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
    const fs::path cutShort(folder_.path().native() + std::string("/plain\0.tmp", 11));
    EXPECT_EQ(writeFileAtomically(cutShort, "x"), std::errc::invalid_argument);
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
    // The prefix once, as other tools see it.
    EXPECT_EQ(::getxattr(file_.c_str(), "user.com.corvay.url", nullptr, 0), 26);
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
        for (bool grow = true; !stop; grow = !grow) {
            (void)setExtendedAttribute(file_, "com.corvay.url", grow ? longValue : shortValue);
        }
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
