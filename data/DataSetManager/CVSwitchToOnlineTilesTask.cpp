#include "data/DataSetManager/CVSwitchToOnlineTilesTask.h"

#include <fmt/format.h>

#include <system_error>
#include <utility>

#include "Ambrell/ErrorObjects.h"
#include "data/DataSetManager/CVTileCache.h"
#include "platform/Logger.h"

namespace ambrell {

CVSwitchToOnlineTilesTask::CVSwitchToOnlineTilesTask(std::filesystem::path cacheFolder)
    : CVDataSetCacheTask(nullptr, false), cacheFolder_(std::move(cacheFolder)) {
    setName(fmt::format("Switch to online tiles {}", cacheFolder_.string()));
}

std::shared_ptr<CVSwitchToOnlineTilesTask> CVSwitchToOnlineTilesTask::newWithCacheFolder(
    std::filesystem::path cacheFolder) {
    return std::shared_ptr<CVSwitchToOnlineTilesTask>(new CVSwitchToOnlineTilesTask(std::move(cacheFolder)));
}

void CVSwitchToOnlineTilesTask::executeWork() {
    CVTileCache::defaultTileCache()->tilePackageCacheWasRemoved(
        CVTileCache::pathForTilePackageCacheInFolder(cacheFolder_));
    std::error_code error;
    // Only inside a folder that is there: one of a data set removed meanwhile
    // must not come back, or the next start would load it again.
    std::filesystem::create_directory(CVTileCache::pathForOnlineTileCacheInFolder(cacheFolder_), error);
    std::error_code folderError;
    if (error && std::filesystem::is_directory(cacheFolder_, folderError)) {
        platform::Logger("DataSetManager")
            .error("Failed to create cache folder (err={})", errorDescription(fileSystemError(error)));
    }
    CVDataSetCacheTask::executeWork();
}

}  // namespace ambrell
