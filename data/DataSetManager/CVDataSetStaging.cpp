#include "data/DataSetManager/CVDataSetStaging.h"

#include <fmt/format.h>

#include <string>
#include <system_error>
#include <vector>

#include "foundation/StoredCopyRefresh.h"
#include "platform/UUID.h"
#include "platform/http/HttpSession.h"

namespace ambrell {

namespace fs = std::filesystem;

namespace {

bool isFolder(const fs::directory_entry& entry) {
    std::error_code ignored;
    return entry.is_directory(ignored) && !entry.is_symlink(ignored);
}

// Links are not followed: what they lead to is not the data set's.
void collectLeftoversInside(const fs::path& dataSetFolder, std::vector<fs::path>& leftovers) {
    std::error_code error;
    fs::recursive_directory_iterator entries(dataSetFolder, fs::directory_options::skip_permission_denied, error);
    for (; !error && entries != fs::recursive_directory_iterator(); entries.increment(error)) {
        const auto name = entries->path().filename().string();
        if (!isFolder(*entries) && (isIncomingFileName(name) || platform::isDownloadFileName(name))) {
            leftovers.push_back(entries->path());
        }
    }
}

}  // namespace

fs::path CVDataSetStaging::newPathBeside(const fs::path& dataSetFolder) {
    return dataSetFolder.parent_path() /
           fmt::format("{}.{}{}", dataSetFolder.filename().string(), platform::UUID::random().uuidString(), kSuffix);
}

void CVDataSetStaging::removeLeftovers(const fs::path& rootFolder) {
    std::vector<fs::path> leftovers;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(rootFolder, error)) {
        const auto name = entry.path().filename().string();
        std::error_code typeError;
        // Every folder the manager takes for a data set, links included.
        const bool isDataSetFolder = entry.is_directory(typeError) && !name.ends_with(".DELETED");
        if (name.ends_with(kSuffix) || (!isDataSetFolder && platform::isDownloadFileName(name))) {
            leftovers.push_back(entry.path());
        } else if (isDataSetFolder) {
            collectLeftoversInside(entry.path(), leftovers);
        }
    }
    for (const auto& leftover : leftovers) {
        std::error_code ignored;
        fs::remove_all(leftover, ignored);
    }
}

}  // namespace ambrell
