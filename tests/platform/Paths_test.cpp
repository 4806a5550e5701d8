#include "platform/Paths.h"

#include <cstdlib>
#include <optional>

#include <gtest/gtest.h>

#include "platform/FileSystem.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/TempDirectory.h"

namespace ambrell::platform {
namespace {

namespace fs = std::filesystem;

TEST(PathsDefaultsTest, RootIsUnderHomeOrElseTheTempFolder) {
    test::TempDirectory home;
    const char* originalHome = std::getenv("HOME");
    const std::optional<std::string> savedHome = originalHome != nullptr ? std::optional<std::string>(originalHome) : std::nullopt;
    Paths::resetForTesting();

    ::setenv("HOME", home.path().c_str(), 1);
    EXPECT_EQ(Paths::containerRoot(), home / ".local/share/AmbrellCore");
    EXPECT_TRUE(fs::is_directory(home / ".local/share/AmbrellCore"));

    ::unsetenv("HOME");
    ::setenv("TMPDIR", home.path().c_str(), 1);
    EXPECT_EQ(Paths::containerRoot(), home / "AmbrellCore");

    ::unsetenv("TMPDIR");
    if (savedHome) ::setenv("HOME", savedHome->c_str(), 1);
}

class PathsTest : public test::ContainerFixture {};

TEST_F(PathsTest, FoldersAreCreatedUnderTheRoot) {
    EXPECT_EQ(Paths::containerRoot(), containerRoot());
    EXPECT_EQ(Paths::caches(), containerRoot() / "Library/Caches");
    EXPECT_EQ(Paths::documents(), containerRoot() / "Documents");
    EXPECT_EQ(Paths::preferences(), containerRoot() / "Library/Preferences");
    for (const auto* folder : {"Library/Caches", "Documents", "Library/Preferences"}) {
        EXPECT_TRUE(fs::is_directory(containerRoot() / folder)) << folder;
    }
}

TEST_F(PathsTest, ResourcesAreTheHostsAndNeverCreated) {
    EXPECT_EQ(Paths::resources(), containerRoot() / "Resources");
    EXPECT_FALSE(fs::exists(containerRoot() / "Resources"));
    Paths::setResourcesFolder(containerRoot() / "bundle");
    Paths::setContainerRoot(containerRoot() / "moved");
    EXPECT_EQ(Paths::resources(), containerRoot() / "bundle");
}

TEST_F(PathsTest, RelativeRootIsAnchoredAndEmptyOrNulRootsRefused) {
    test::ScopedLogCapture capture;
    Paths::setContainerRoot("");
    Paths::setContainerRoot(std::string("/tmp\0/elsewhere", 15));
    EXPECT_EQ(Paths::containerRoot(), containerRoot());
    EXPECT_TRUE(capture.sink().contains("Ignoring"));

    Paths::setContainerRoot("relative/container");
    // resources() creates nothing, so the current folder stays clean.
    EXPECT_EQ(Paths::resources(), fs::current_path() / "relative/container/Resources");
}

TEST_F(PathsTest, FolderThatCannotBeCreatedIsLoggedNotThrown) {
    ASSERT_FALSE(writeFileAtomically(containerRoot() / "file", "not a folder"));
    Paths::setContainerRoot(containerRoot() / "file");
    test::ScopedLogCapture capture;
    EXPECT_EQ(Paths::caches(), containerRoot() / "file/Library/Caches");
    EXPECT_TRUE(capture.sink().contains("Cannot create the folder"));
}

}  // namespace
}  // namespace ambrell::platform
