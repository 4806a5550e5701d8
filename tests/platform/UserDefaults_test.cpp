#include "platform/UserDefaults.h"

#include <cmath>
#include <limits>
#include <thread>

#include <gtest/gtest.h>

#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/TempDirectory.h"

namespace ambrell::platform {
namespace {

namespace fs = std::filesystem;

class UserDefaultsTest : public testing::Test {
protected:
    test::TempDirectory folder_;
    const fs::path file_ = folder_ / "Preferences/defaults.json";
};

TEST_F(UserDefaultsTest, EveryKindSurvivesANewInstance) {
    {
        UserDefaults defaults(file_);
        defaults.setBool("flag", true);
        defaults.setInteger("min", std::numeric_limits<std::int64_t>::min());
        defaults.setInteger("max", std::numeric_limits<std::int64_t>::max());
        defaults.setDouble("ratio", 0.1);
        defaults.setDouble("whole", 2.0);
        defaults.setString("venue", "Caf\xC3\xA9 \"Nord\"\n");
        defaults.setStringArray("floors", {"B1", "", "\xE2\x82\xAC"});
        defaults.setStringArray("none", {});
    }
    const UserDefaults reread(file_);
    EXPECT_EQ(reread.boolForKey("flag"), true);
    EXPECT_EQ(reread.integerForKey("min"), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(reread.integerForKey("max"), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(reread.doubleForKey("ratio"), 0.1);
    EXPECT_EQ(reread.doubleForKey("whole"), 2.0);
    EXPECT_EQ(reread.integerForKey("whole"), std::nullopt);  // still a double after the round trip
    EXPECT_EQ(reread.stringForKey("venue"), "Caf\xC3\xA9 \"Nord\"\n");
    EXPECT_EQ(reread.stringArrayForKey("floors"), (std::vector<std::string>{"B1", "", "\xE2\x82\xAC"}));
    EXPECT_EQ(reread.stringArrayForKey("none"), std::vector<std::string>{});
    EXPECT_EQ(reread.allKeys(), (std::vector<std::string>{"flag", "floors", "max", "min", "none", "ratio", "venue", "whole"}));
}

TEST_F(UserDefaultsTest, GettersRefuseOtherKinds) {
    UserDefaults defaults(file_);
    defaults.setInteger("count", 3);
    defaults.setBool("flag", false);
    defaults.setString("text", "3");

    EXPECT_EQ(defaults.doubleForKey("count"), 3.0);
    EXPECT_EQ(defaults.boolForKey("count"), std::nullopt);
    EXPECT_EQ(defaults.stringForKey("count"), std::nullopt);
    EXPECT_EQ(defaults.integerForKey("flag"), std::nullopt);
    EXPECT_EQ(defaults.integerForKey("text"), std::nullopt);
    EXPECT_EQ(defaults.stringArrayForKey("text"), std::nullopt);
    EXPECT_EQ(defaults.boolForKey("missing"), std::nullopt);

    // Setting another kind replaces the value.
    defaults.setString("count", "three");
    EXPECT_EQ(defaults.integerForKey("count"), std::nullopt);
    EXPECT_EQ(defaults.stringForKey("count"), "three");
}

TEST_F(UserDefaultsTest, RemovalIsWrittenToo) {
    UserDefaults defaults(file_);
    defaults.setBool("a", true);
    defaults.setBool("b", true);
    defaults.removeObjectForKey("a");
    defaults.removeObjectForKey("never set");
    EXPECT_FALSE(defaults.hasKey("a"));
    EXPECT_EQ(UserDefaults(file_).allKeys(), std::vector<std::string>{"b"});
}

TEST_F(UserDefaultsTest, ReloadPicksUpAnotherWritersChanges) {
    UserDefaults reader(file_);
    EXPECT_TRUE(reader.allKeys().empty());  // no file yet
    UserDefaults(file_).setString("token", "abc");
    EXPECT_FALSE(reader.hasKey("token"));
    reader.reload();
    EXPECT_EQ(reader.stringForKey("token"), "abc");
}

TEST_F(UserDefaultsTest, EntriesOfOtherKindsInTheFileAreKept) {
    ASSERT_FALSE(writeFileAtomically(file_, R"({"nested":{"a":[1,null]},"nothing":null,"mixed":["a",1],"big":18446744073709551615})"));
    UserDefaults defaults(file_);
    EXPECT_EQ(defaults.stringArrayForKey("mixed"), std::nullopt);
    EXPECT_EQ(defaults.integerForKey("big"), std::nullopt);
    EXPECT_EQ(defaults.doubleForKey("big"), 18446744073709551615.0);
    defaults.setBool("flag", true);

    const auto text = readTextFile(file_);
    ASSERT_TRUE(text);
    EXPECT_NE(text->find(R"("nested":{"a":[1,null]})"), std::string::npos) << *text;
    EXPECT_NE(text->find(R"("nothing":null)"), std::string::npos);
    EXPECT_NE(text->find(R"("big":18446744073709551615)"), std::string::npos);
}

TEST_F(UserDefaultsTest, CorruptFileIsMovedAsideAndNeverOverwritten) {
    test::ScopedLogCapture capture;
    const std::string firstDamage = R"({"flag": tru)";
    ASSERT_FALSE(writeFileAtomically(file_, firstDamage));
    {
        UserDefaults defaults(file_);
        EXPECT_TRUE(defaults.allKeys().empty());
        defaults.setBool("flag", true);
    }
    EXPECT_TRUE(capture.sink().contains("invalid JSON"));
    EXPECT_EQ(readTextFile(fs::path(file_) += ".corrupt"), firstDamage);
    EXPECT_EQ(UserDefaults(file_).boolForKey("flag"), true);

    // A second damaged file keeps the first one's copy.
    ASSERT_FALSE(writeFileAtomically(file_, "[\"an array\"]"));
    EXPECT_TRUE(UserDefaults(file_).allKeys().empty());
    EXPECT_TRUE(capture.sink().contains("not a JSON object"));
    EXPECT_EQ(readTextFile(fs::path(file_) += ".corrupt"), firstDamage);
    EXPECT_EQ(readTextFile(fs::path(file_) += ".corrupt.2"), "[\"an array\"]");
}

TEST_F(UserDefaultsTest, UnreadableFileIsMovedAside) {
    fs::create_directories(file_ / "in the way");
    test::ScopedLogCapture capture;
    UserDefaults defaults(file_);
    EXPECT_TRUE(capture.sink().contains("unreadable"));
    EXPECT_TRUE(fs::is_directory(fs::path(file_) += ".corrupt"));
    defaults.setInteger("saved", 1);
    EXPECT_EQ(UserDefaults(file_).integerForKey("saved"), 1);
}

TEST_F(UserDefaultsTest, ValuesThatWouldNotReadBackAreRefused) {
    test::ScopedLogCapture capture;
    UserDefaults defaults(file_);
    defaults.setDouble("ratio", 0.5);
    defaults.setDouble("ratio", std::numeric_limits<double>::quiet_NaN());
    defaults.setDouble("ratio", std::numeric_limits<double>::infinity());
    defaults.setString("bad text", "\xC3");
    defaults.setString("\xFF", "bad key");
    defaults.setStringArray("bad array", {"fine", "\xED\xA0\x80"});
    EXPECT_EQ(defaults.doubleForKey("ratio"), 0.5);
    EXPECT_EQ(defaults.allKeys(), std::vector<std::string>{"ratio"});
    EXPECT_EQ(UserDefaults(file_).allKeys(), std::vector<std::string>{"ratio"});
    EXPECT_TRUE(capture.sink().contains("non-finite"));
    EXPECT_TRUE(capture.sink().contains("not valid UTF-8"));
}

TEST_F(UserDefaultsTest, FailedWriteKeepsTheValueInMemoryAndRetries) {
    ASSERT_FALSE(writeFileAtomically(folder_ / "blocker", "a file where the folder should be"));
    test::ScopedLogCapture capture;
    UserDefaults defaults(folder_ / "blocker/defaults.json");
    defaults.setBool("flag", true);
    EXPECT_EQ(defaults.boolForKey("flag"), true);
    EXPECT_TRUE(capture.sink().contains("Cannot save user defaults"));

    // Once the way is clear, setting the same value again writes it.
    fs::remove(folder_ / "blocker");
    defaults.setBool("flag", true);
    EXPECT_EQ(UserDefaults(folder_ / "blocker/defaults.json").boolForKey("flag"), true);
}

TEST_F(UserDefaultsTest, WritesLeaveOnlyTheFile) {
    UserDefaults defaults(file_);
    for (int index = 0; index < 20; ++index) defaults.setInteger("counter", index);
    std::vector<fs::path> entries(fs::directory_iterator(file_.parent_path()), fs::directory_iterator());
    EXPECT_EQ(entries, std::vector<fs::path>{file_});
}

TEST_F(UserDefaultsTest, ConcurrentWritersAllLand) {
    UserDefaults defaults(file_);
    std::vector<std::thread> writers;
    for (int thread = 0; thread < 4; ++thread) {
        writers.emplace_back([&, thread] {
            for (int index = 0; index < 25; ++index) {
                const auto key = "t" + std::to_string(thread) + "-" + std::to_string(index);
                defaults.setInteger(key, index);
                EXPECT_EQ(defaults.integerForKey(key), index);
            }
        });
    }
    for (auto& writer : writers) writer.join();
    EXPECT_EQ(UserDefaults(file_).allKeys().size(), 100u);
}

class UserDefaultsStandardTest : public test::ContainerFixture {};

TEST_F(UserDefaultsStandardTest, LivesInThePreferencesFolderOfTheContainer) {
    auto& standard = UserDefaults::standard();
    EXPECT_EQ(&standard, &UserDefaults::standard());
    EXPECT_EQ(standard.filePath(), Paths::preferences() / "standard.json");
    standard.setString("solution", "demo");
    EXPECT_EQ(UserDefaults(containerRoot() / "Library/Preferences/standard.json").stringForKey("solution"), "demo");
}

TEST_F(UserDefaultsStandardTest, ResetFollowsANewContainer) {
    UserDefaults::standard().setBool("old container", true);
    test::TempDirectory other;
    Paths::setContainerRoot(other.path());
    UserDefaults::resetStandardForTesting();
    EXPECT_EQ(UserDefaults::standard().filePath(), other / "Library/Preferences/standard.json");
    EXPECT_FALSE(UserDefaults::standard().hasKey("old container"));
    UserDefaults::resetStandardForTesting();
}

}  // namespace
}  // namespace ambrell::platform
