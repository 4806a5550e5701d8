#pragma once

#include <filesystem>
#include <memory>

#include "data/DataSetManager/CVDataSetCacheTask.h"

namespace ambrell {

class CVDataSetUrlDownloadTask;
class CVTilePackageStaging;

// Puts a tile package's tiles in the data set's "tilecache-package" folder,
// on a queue thread, then empties the package file (keeping its stored
// last-modified text and download URL, so the next sync's conditional
// request still answers 304) and switches the tile cache to the package.
//
// After the package's download, the tiles its check unpacked (see
// CVTilePackageStaging) take their place once the package has landed; a
// package that did not land changes nothing. A package file still whole (a
// process killed before its tiles took their place) is unpacked again; an
// empty one was unpacked before and is skipped. The tiles in place are only
// ever replaced by a whole set.
//
// Completes: finished on the main queue. Errors (in error()): a package
// that does not unpack gives kAmbrellErrorDomain / kTilePackageUnavailable,
// and loses its stored date, so the next sync fetches it whatever the server
// says of it; so does a missing package, unless its download reported its
// own failure. Tiles that cannot be put in place give the file system's
// error. A missing online-tiles folder is not an error. Cancelling ends the
// task at once; work under way runs to its end.
class CVTilePackageUnzipTask : public CVDataSetCacheTask {
public:
    // The package already in the data set's folder, `targetFolder`.
    static std::shared_ptr<CVTilePackageUnzipTask> newWithOwner(const std::shared_ptr<const void>& owner,
                                                                std::filesystem::path inputFile,
                                                                std::filesystem::path targetFolder);
    // After `download` of the package, whose reader unpacks into `staging`
    // (CVDataSetDownloadReaders::forTilePackage); it must depend on it.
    static std::shared_ptr<CVTilePackageUnzipTask> newAfterDownload(
        const std::shared_ptr<const void>& owner, std::shared_ptr<const CVDataSetUrlDownloadTask> download,
        std::shared_ptr<CVTilePackageStaging> staging, const std::filesystem::path& dataSetFolder);

    [[nodiscard]] const std::filesystem::path& inputFile() const { return inputFile_; }
    // "tilecache-package" and "tilecache-online" in the data set's folder.
    [[nodiscard]] const std::filesystem::path& targetFolder() const { return targetFolder_; }
    [[nodiscard]] const std::filesystem::path& onlineTilesFolder() const { return onlineTilesFolder_; }

protected:
    CVTilePackageUnzipTask(const std::shared_ptr<const void>& owner, std::filesystem::path inputFile,
                           const std::filesystem::path& dataSetFolder,
                           std::shared_ptr<const CVDataSetUrlDownloadTask> download,
                           std::shared_ptr<CVTilePackageStaging> staging);
    void executeWork() override;
    [[nodiscard]] std::string_view className() const override { return "CVTilePackageUnzipTask"; }

private:
    void unpackStoredPackage();
    void putTilesInPlace();
    void truncateZipFile() const;

    const std::filesystem::path inputFile_;
    const std::filesystem::path dataSetFolder_;
    const std::filesystem::path targetFolder_;
    const std::filesystem::path onlineTilesFolder_;
    const std::shared_ptr<const CVDataSetUrlDownloadTask> download_;
    const std::shared_ptr<CVTilePackageStaging> staging_;
};

}  // namespace ambrell
