#include "data/DataSetManager/CVTilePackageUnzipTask.h"

#include <fmt/format.h>

#include <system_error>
#include <utility>

#include "Ambrell/CVErrorCodes.h"
#include "Ambrell/ErrorObjects.h"
#include "data/DataSetManager/CVTileCache.h"
#include "data/DataSetManager/DataSetManagerLog.h"
#include "foundation/CVExtendedFileAttributes.h"
#include "platform/FileSystem.h"
#include "platform/Logger.h"
#include "zip/SSZipArchive.h"

namespace ambrell {

namespace {

platform::NSError packageUnavailable() {
    return platform::NSError{std::string(kAmbrellErrorDomain), AmbrellErrorCode::kTilePackageUnavailable, {}};
}

}  // namespace

CVTilePackageUnzipTask::CVTilePackageUnzipTask(const std::shared_ptr<const void>& owner,
                                               std::filesystem::path inputFile,
                                               const std::filesystem::path& dataSetFolder)
    : CVDataSetCacheTask(owner, true),
      inputFile_(std::move(inputFile)),
      dataSetFolder_(dataSetFolder),
      targetFolder_(CVTileCache::pathForTilePackageCacheInFolder(dataSetFolder)),
      onlineTilesFolder_(CVTileCache::pathForOnlineTileCacheInFolder(dataSetFolder)) {
    const auto url = xattr_downloadUrl(inputFile_);
    setName(fmt::format("Unzip Tiles {}", url ? *url : inputFile_.filename().string()));
}

std::shared_ptr<CVTilePackageUnzipTask> CVTilePackageUnzipTask::newWithOwner(const std::shared_ptr<const void>& owner,
                                                                             std::filesystem::path inputFile,
                                                                             std::filesystem::path targetFolder) {
    return std::shared_ptr<CVTilePackageUnzipTask>(
        new CVTilePackageUnzipTask(owner, std::move(inputFile), targetFolder));
}

void CVTilePackageUnzipTask::executeWork() {
    std::error_code error;
    const bool isFile = std::filesystem::is_regular_file(inputFile_, error);
    const auto size = isFile ? std::filesystem::file_size(inputFile_, error) : 0;
    if (!isFile || error) {
        setError(packageUnavailable());
    } else if (size > 0) {
        // An empty package was unpacked before and emptied afterwards.
        unzipPackage();
    }
    CVDataSetCacheTask::executeWork();
}

void CVTilePackageUnzipTask::unzipPackage() {
    // Entries overwrite what an earlier, interrupted unpack left behind; the
    // package is emptied only after this unpack completed, so an interrupted
    // one is simply done again by the next sync.
    if (!SSZipArchive::unzipFileAtPath(inputFile_.string(), targetFolder_.string())) {
        setError(packageUnavailable());
        return;
    }
    truncateZipFile();
    CVTileCache::defaultTileCache()->tilePackageCacheWasUpdated(targetFolder_);
    std::error_code error;
    // remove_all reports nothing for a folder that is not there: the tile
    // cache usually removed it already.
    std::filesystem::remove_all(onlineTilesFolder_, error);
    if (error && !this->error()) setError(fileSystemError(error));
}

void CVTilePackageUnzipTask::truncateZipFile() const {
    // The attributes let the next sync ask for the package conditionally.
    const auto lastModified = xattr_lastModified(inputFile_);
    const auto downloadUrl = xattr_downloadUrl(inputFile_);
    if (const auto error = platform::writeFileAtomically(inputFile_, std::string_view())) {
        dataSetManagerLog().error("[E] Failed to truncate file {}, err={}", inputFile_.string(),
                                  errorDescription(fileSystemError(error)));
        return;
    }
    xattr_setLastModified(inputFile_, lastModified);
    xattr_setDownloadUrl(inputFile_, downloadUrl);
}

}  // namespace ambrell
