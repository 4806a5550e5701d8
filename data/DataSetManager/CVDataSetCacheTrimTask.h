#pragma once

#include <filesystem>
#include <memory>
#include <vector>

#include "data/DataSetManager/CVDataSetCacheTask.h"

namespace ambrell {

// Removes stale files and folders of a data set. Has no owner. Paths that do
// not exist are skipped. Completes: finished on the main queue; the first
// removal that fails leaves its file error in error(), the others are still
// tried.
class CVDataSetCacheTrimTask : public CVDataSetCacheTask {
public:
    static std::shared_ptr<CVDataSetCacheTrimTask> newWithDeletions(std::vector<std::filesystem::path> paths);

    [[nodiscard]] const std::vector<std::filesystem::path>& paths() const { return paths_; }

protected:
    explicit CVDataSetCacheTrimTask(std::vector<std::filesystem::path> paths);
    void executeWork() override;
    [[nodiscard]] std::string_view className() const override { return "CVDataSetCacheTrimTask"; }

private:
    const std::vector<std::filesystem::path> paths_;
};

}  // namespace ambrell
