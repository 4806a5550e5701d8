#include "data/DataSetManager/CVTilePackageUnzipTask.h"

#include <fmt/format.h>

#include <system_error>
#include <utility>

#include "Ambrell/CVErrorCodes.h"
#include "Ambrell/ErrorObjects.h"
#include "data/DataSetManager/CVDataSetUrlDownloadTask.h"
#include "data/DataSetManager/CVTileCache.h"
#include "data/DataSetManager/CVTilePackageStaging.h"
#include "data/DataSetManager/DataSetManagerLog.h"
#include "foundation/CVExtendedFileAttributes.h"
#include "platform/Logger.h"

namespace ambrell {

namespace {

platform::NSError packageUnavailable() {
    return platform::NSError{std::string(kAmbrellErrorDomain), AmbrellErrorCode::kTilePackageUnavailable, {}};
}

}  // namespace

CVTilePackageUnzipTask::CVTilePackageUnzipTask(const std::shared_ptr<const void>& owner,
                                               std::filesystem::path inputFile,
                                               const std::filesystem::path& dataSetFolder,
                                               std::shared_ptr<const CVDataSetUrlDownloadTask> download,
                                               std::shared_ptr<CVTilePackageStaging> staging)
    : CVDataSetCacheTask(owner, true),
      inputFile_(std::move(inputFile)),
      dataSetFolder_(dataSetFolder),
      targetFolder_(CVTileCache::pathForTilePackageCacheInFolder(dataSetFolder)),
      onlineTilesFolder_(CVTileCache::pathForOnlineTileCacheInFolder(dataSetFolder)),
      download_(std::move(download)),
      staging_(staging ? std::move(staging) : std::make_shared<CVTilePackageStaging>(dataSetFolder)) {
    const auto url = download_ ? std::optional<std::string>(download_->url()) : xattr_downloadUrl(inputFile_);
    setName(fmt::format("Unzip Tiles {}", url ? *url : inputFile_.filename().string()));
}

std::shared_ptr<CVTilePackageUnzipTask> CVTilePackageUnzipTask::newWithOwner(const std::shared_ptr<const void>& owner,
                                                                             std::filesystem::path inputFile,
                                                                             std::filesystem::path targetFolder) {
    return std::shared_ptr<CVTilePackageUnzipTask>(
        new CVTilePackageUnzipTask(owner, std::move(inputFile), targetFolder, nullptr, nullptr));
}

std::shared_ptr<CVTilePackageUnzipTask> CVTilePackageUnzipTask::newAfterDownload(
    const std::shared_ptr<const void>& owner, std::shared_ptr<const CVDataSetUrlDownloadTask> download,
    std::shared_ptr<CVTilePackageStaging> staging, const std::filesystem::path& dataSetFolder) {
    auto inputFile = download->targetFilePath();
    return std::shared_ptr<CVTilePackageUnzipTask>(new CVTilePackageUnzipTask(
        owner, std::move(inputFile), dataSetFolder, std::move(download), std::move(staging)));
}

void CVTilePackageUnzipTask::executeWork() {
    if (download_ && download_->didUpdateTargetFile() && staging_->holdsTiles()) {
        // Unpacked once, as the download's check.
        putTilesInPlace();
    } else {
        // Unpacked as the check of an answer that then did not land.
        staging_->discard();
        unpackStoredPackage();
    }
    CVDataSetCacheTask::executeWork();
}

void CVTilePackageUnzipTask::unpackStoredPackage() {
    std::error_code error;
    const bool isFile = std::filesystem::is_regular_file(inputFile_, error);
    const auto size = isFile ? std::filesystem::file_size(inputFile_, error) : 0;
    if (!isFile || error) {
        // A download that failed has said so already, naming its URL.
        if (!download_ || !download_->error()) setError(packageUnavailable());
        return;
    }
    // An empty package was unpacked before and emptied afterwards.
    if (size == 0) return;
    if (!staging_->unpack(inputFile_)) {
        // Asked for as of its date, a package stored before its answers were
        // checked would be answered 304 for good.
        xattr_setLastModified(inputFile_, std::nullopt);
        setError(packageUnavailable());
        return;
    }
    putTilesInPlace();
}

void CVTilePackageUnzipTask::putTilesInPlace() {
    if (const auto error = staging_->putInPlace()) {
        dataSetManagerLog().error("[E] Failed to put the tiles of {} in place: {}", inputFile_.string(),
                                  error.message());
        setError(fileSystemError(error));
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
    // In place, so the attributes that let the next sync ask for the package
    // conditionally stay; and never a file where the data set's folder is gone.
    std::error_code error;
    std::filesystem::resize_file(inputFile_, 0, error);
    if (error) {
        dataSetManagerLog().error("[E] Failed to truncate file {}, err={}", inputFile_.string(),
                                  errorDescription(fileSystemError(error)));
    }
}

}  // namespace ambrell
