#include "tests/support/TempDirectory.h"

#include <stdlib.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

#include "platform/Paths.h"
#include "platform/UserDefaults.h"

namespace ambrell::test {

namespace {

// A test may leave folders it made unreadable or unwritable (for
// permission cases); they are opened up again so that removal succeeds.
void grantOwnerAccess(const std::filesystem::path& root) {
    std::error_code error;
    std::filesystem::permissions(root, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, error);
    for (std::filesystem::recursive_directory_iterator entry(root, error), end; !error && entry != end;
         entry.increment(error)) {
        if (entry->is_directory(error) && !entry->is_symlink(error)) {
            std::filesystem::permissions(entry->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, error);
        }
        error.clear();
    }
}

}  // namespace

TempDirectory::TempDirectory(std::string_view prefix) {
    std::error_code error;
    auto base = std::filesystem::temp_directory_path(error);
    if (error) base = "/tmp";
    std::string pattern = (base / std::string(prefix)).string() + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
    }
    path_ = pattern;
}

TempDirectory::~TempDirectory() {
    std::error_code error;
    if (std::filesystem::remove_all(path_, error) != static_cast<std::uintmax_t>(-1) && !error) return;
    grantOwnerAccess(path_);
    std::filesystem::remove_all(path_, error);
}

ScopedContainer::ScopedContainer() : folder_("ambrell-container") {
    platform::Paths::resetForTesting();
    platform::Paths::setContainerRoot(folder_.path());
    platform::UserDefaults::resetStandardForTesting();
}

ScopedContainer::~ScopedContainer() {
    platform::UserDefaults::resetStandardForTesting();
    platform::Paths::resetForTesting();
}

}  // namespace ambrell::test
