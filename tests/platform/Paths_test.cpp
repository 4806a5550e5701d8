#include "platform/Paths.h"

#include <cstdlib>
#include <optional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/FileSystem.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/TempDirectory.h"

namespace ambrell::platform {
namespace {

namespace fs = std::filesystem;

// Sets or unsets an environment variable for the scope of a test.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const char* value) : name_(name) {
        if (const char* previous = std::getenv(name)) previous_ = previous;
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnvironment() {
        if (previous_) {
            ::setenv(name_, previous_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> previous_;
};

class PathsDefaultsTest : public testing::Test {
protected:
    PathsDefaultsTest() { Paths::resetForTesting(); }
    ~PathsDefaultsTest() override { Paths::resetForTesting(); }

    test::TempDirectory home_;
};

TEST_F(PathsDefaultsTest, RootIsUnderTheHomeFolder) {
    ScopedEnvironment home("HOME", home_.path().c_str());
    EXPECT_EQ(Paths::containerRoot(), home_ / ".local/share/AmbrellCore");
    EXPECT_TRUE(fs::is_directory(home_ / ".local/share/AmbrellCore"));
}

TEST_F(PathsDefaultsTest, WithoutHomeTheRootIsInTheTempFolder) {
    ScopedEnvironment home("HOME", nullptr);
    ScopedEnvironment temporary("TMPDIR", home_.path().c_str());
    EXPECT_EQ(Paths::containerRoot(), home_ / "AmbrellCore");
}

TEST_F(PathsDefaultsTest, RelativeRootIsAnchoredWhenSet) {
    Paths::setContainerRoot("relative/container");
    // resources() creates nothing, so the current folder stays clean.
    EXPECT_EQ(Paths::resources(), fs::current_path() / "relative/container/Resources");
}

TEST_F(PathsDefaultsTest, EmptyOrNulRootIsRefused) {
    Paths::setContainerRoot(home_.path());
    test::ScopedLogCapture capture;
    Paths::setContainerRoot("");
    Paths::setContainerRoot(std::string("/tmp\0/elsewhere", 15));
    EXPECT_EQ(Paths::containerRoot(), home_.path());
    EXPECT_TRUE(capture.sink().contains("Ignoring"));
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
    EXPECT_EQ(Paths::resources(), containerRoot() / "bundle");
    // Moving the container does not move the host's resources.
    Paths::setContainerRoot(containerRoot() / "moved");
    EXPECT_EQ(Paths::resources(), containerRoot() / "bundle");
}

TEST_F(PathsTest, FolderThatCannotBeCreatedIsLoggedNotThrown) {
    ASSERT_FALSE(writeFileAtomically(containerRoot() / "file", "not a folder"));
    Paths::setContainerRoot(containerRoot() / "file");
    test::ScopedLogCapture capture;
    EXPECT_EQ(Paths::caches(), containerRoot() / "file/Library/Caches");
    EXPECT_TRUE(capture.sink().contains("Cannot create the folder"));
}

TEST_F(PathsTest, RootCanChangeWhileOtherThreadsAskForFolders) {
    const auto first = containerRoot() / "first";
    const auto second = containerRoot() / "second";
    std::vector<std::thread> readers;
    for (int index = 0; index < 3; ++index) {
        readers.emplace_back([&] {
            for (int read = 0; read < 200; ++read) {
                const auto caches = Paths::caches();
                EXPECT_TRUE(caches == first / "Library/Caches" || caches == second / "Library/Caches" ||
                            caches == containerRoot() / "Library/Caches")
                    << caches;
            }
        });
    }
    for (int change = 0; change < 200; ++change) Paths::setContainerRoot(change % 2 == 0 ? first : second);
    for (auto& reader : readers) reader.join();
}

}  // namespace
}  // namespace ambrell::platform
