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

class PathsTest : public test::ContainerFixture {};

TEST_F(PathsTest, FoldersAreCreatedUnderTheRootButResourcesAreNot) {
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

TEST_F(PathsTest, BadRootsAreRefusedOrLoggedNeverThrown) {
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

}  // namespace
}  // namespace ambrell::platform
