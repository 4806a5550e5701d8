#include "data/DataSetManager/CVDataSetCacheTrimTask.h"

#include <fmt/format.h>

#include <system_error>
#include <utility>

#include "Ambrell/ErrorObjects.h"

namespace ambrell {

CVDataSetCacheTrimTask::CVDataSetCacheTrimTask(std::vector<std::filesystem::path> paths)
    : CVDataSetCacheTask(nullptr, false), paths_(std::move(paths)) {
    setName(fmt::format("Trim cache: Remove {} files and folders", paths_.size()));
}

std::shared_ptr<CVDataSetCacheTrimTask> CVDataSetCacheTrimTask::newWithDeletions(
    std::vector<std::filesystem::path> paths) {
    return std::shared_ptr<CVDataSetCacheTrimTask>(new CVDataSetCacheTrimTask(std::move(paths)));
}

void CVDataSetCacheTrimTask::executeWork() {
    for (const auto& path : paths_) {
        std::error_code error;
        // symlink_status: a link is removed itself, never what it leads to.
        if (!std::filesystem::exists(std::filesystem::symlink_status(path, error))) continue;
        std::filesystem::remove_all(path, error);
        if (error && !this->error()) setError(fileSystemError(error));
    }
    CVDataSetCacheTask::executeWork();
}

}  // namespace ambrell
