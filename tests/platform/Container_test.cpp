#include <cstdlib>
#include <limits>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/UserDefaults.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/TempDirectory.h"

namespace ambrell::platform {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

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
    UserDefaults::resetStandardForTesting();
}

class UserDefaultsTest : public testing::Test {
protected:
    fs::path aside(std::string_view suffix) const { return fs::path(file_) += suffix; }

    test::TempDirectory folder_;
    const fs::path file_ = folder_ / "Preferences/defaults.json";
    test::ScopedLogCapture capture_;
};

TEST_F(UserDefaultsTest, EveryKindSurvivesANewInstanceAndAReload) {
    UserDefaults reader(file_);
    EXPECT_TRUE(reader.allKeys().empty());  // no file yet
    {
        UserDefaults writer(file_);
        writer.setBool("flag", true);
        writer.setInteger("min", std::numeric_limits<std::int64_t>::min());
        writer.setDouble("whole", 2.0);
        writer.setString("venue", "Caf\xC3\xA9 \"Nord\"\n");
        writer.setStringArray("floors", {"B1", "", "\xE2\x82\xAC"});
        writer.setBool("removed", true);
        writer.removeObjectForKey("removed");
    }
    const UserDefaults reread(file_);
    EXPECT_EQ(reread.boolForKey("flag"), true);
    EXPECT_EQ(reread.integerForKey("min"), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(reread.doubleForKey("whole"), 2.0);
    EXPECT_EQ(reread.stringForKey("venue"), "Caf\xC3\xA9 \"Nord\"\n");
    EXPECT_EQ(reread.stringArrayForKey("floors"), (Strings{"B1", "", "\xE2\x82\xAC"}));
    EXPECT_EQ(reread.allKeys(), (Strings{"flag", "floors", "min", "venue", "whole"}));
    // Another kind reads as none, but an integer reads as a double.
    EXPECT_EQ(reread.integerForKey("whole"), std::nullopt);
    EXPECT_EQ(reread.doubleForKey("min"), -0x1p63);
    EXPECT_EQ(reread.stringForKey("flag"), std::nullopt);
    EXPECT_EQ(reread.stringArrayForKey("venue"), std::nullopt);
    reader.reload();
    EXPECT_EQ(reader.allKeys(), reread.allKeys());
    EXPECT_EQ(std::distance(fs::directory_iterator(file_.parent_path()), fs::directory_iterator()), 1);  // no temporaries
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
    EXPECT_EQ(UserDefaults(file_).allKeys(), Strings{"ratio"});
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
            for (int index = 0; index < 25; ++index) defaults.setInteger(std::to_string(thread) + "-" + std::to_string(index), index);
        });
    }
    for (auto& writer : writers) writer.join();
    EXPECT_EQ(UserDefaults(file_).allKeys().size(), 100u);
}

}  // namespace
}  // namespace ambrell::platform
