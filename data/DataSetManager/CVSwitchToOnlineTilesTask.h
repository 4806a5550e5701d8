#pragma once

#include <filesystem>
#include <memory>

#include "data/DataSetManager/CVDataSetCacheTask.h"

namespace ambrell {

// Turns a data set's tiles over to the online cache: tells the tile cache its
// package is gone and makes the "tilecache-online" folder. Has no owner.
// Completes: finished on the main queue; a folder that cannot be made is
// logged, not an error.
class CVSwitchToOnlineTilesTask : public CVDataSetCacheTask {
public:
    static std::shared_ptr<CVSwitchToOnlineTilesTask> newWithCacheFolder(std::filesystem::path cacheFolder);

    [[nodiscard]] const std::filesystem::path& cacheFolder() const { return cacheFolder_; }

protected:
    explicit CVSwitchToOnlineTilesTask(std::filesystem::path cacheFolder);
    void executeWork() override;
    [[nodiscard]] std::string_view className() const override { return "CVSwitchToOnlineTilesTask"; }

private:
    const std::filesystem::path cacheFolder_;
};

}  // namespace ambrell
