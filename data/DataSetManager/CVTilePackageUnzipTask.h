#pragma once

#include <filesystem>
#include <memory>

#include "data/DataSetManager/CVDataSetCacheTask.h"

namespace ambrell {

// Unpacks a downloaded tile package into the data set's "tilecache-package"
// folder, on a queue thread, then empties the package file (keeping its
// stored last-modified text and download URL, so the next sync's conditional
// request still answers 304) and switches the tile cache to the package.
//
// An empty package file was unpacked before and is skipped. A package is only
// emptied after a complete unpack, so one whose unpacking was cut short is
// unpacked again by the next sync, over whatever the cut left.
//
// Completes: finished on the main queue. Errors (in error()): a missing or
// unreadable package gives kAmbrellErrorDomain / kTilePackageUnavailable. A
// missing online-tiles folder is not an error. Cancelling ends the task at
// once; an unpack under way runs to its end.
class CVTilePackageUnzipTask : public CVDataSetCacheTask {
public:
    // `targetFolder` is the data set's folder.
    static std::shared_ptr<CVTilePackageUnzipTask> newWithOwner(const std::shared_ptr<const void>& owner,
                                                                std::filesystem::path inputFile,
                                                                std::filesystem::path targetFolder);

    [[nodiscard]] const std::filesystem::path& inputFile() const { return inputFile_; }
    // "tilecache-package" and "tilecache-online" in the data set's folder.
    [[nodiscard]] const std::filesystem::path& targetFolder() const { return targetFolder_; }
    [[nodiscard]] const std::filesystem::path& onlineTilesFolder() const { return onlineTilesFolder_; }

protected:
    CVTilePackageUnzipTask(const std::shared_ptr<const void>& owner, std::filesystem::path inputFile,
                           const std::filesystem::path& dataSetFolder);
    void executeWork() override;
    [[nodiscard]] std::string_view className() const override { return "CVTilePackageUnzipTask"; }

private:
    void unzipPackage();
    void truncateZipFile() const;

    const std::filesystem::path inputFile_;
    const std::filesystem::path dataSetFolder_;
    const std::filesystem::path targetFolder_;
    const std::filesystem::path onlineTilesFolder_;
};

}  // namespace ambrell
