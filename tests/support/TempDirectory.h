#pragma once

#include <filesystem>
#include <string_view>

#include <gtest/gtest.h>

namespace ambrell::test {

// A fresh folder under the system temp folder, removed with all it holds
// when the object goes.
class TempDirectory {
public:
    explicit TempDirectory(std::string_view prefix = "ambrell-test");
    ~TempDirectory();
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const { return path_; }
    [[nodiscard]] std::filesystem::path operator/(const std::filesystem::path& relative) const {
        return path_ / relative;
    }

private:
    std::filesystem::path path_;
};

// Points Paths' container root at a temp folder and drops the standard user
// defaults, for as long as it lives; then restores the defaults, so a test
// never touches the real home folder.
class ScopedContainer {
public:
    ScopedContainer();
    ~ScopedContainer();
    ScopedContainer(const ScopedContainer&) = delete;
    ScopedContainer& operator=(const ScopedContainer&) = delete;

    [[nodiscard]] const std::filesystem::path& root() const { return folder_.path(); }

private:
    TempDirectory folder_;
};

// The fixture form: the container is set up in the constructor, so a derived
// fixture's SetUp() need not call this one's.
class ContainerFixture : public ::testing::Test {
protected:
    [[nodiscard]] const std::filesystem::path& containerRoot() const { return container_.root(); }

private:
    ScopedContainer container_;
};

}  // namespace ambrell::test
