#include "data/DataSetManager/CVTilePackageStaging.h"

#include <cerrno>
#include <cstdio>
#include <string>
#include <utility>

#include <fcntl.h>

#include "Ambrell/ErrorObjects.h"
#include "data/DataSetManager/CVDataSetStaging.h"
#include "data/DataSetManager/CVTileCache.h"
#include "data/DataSetManager/DataSetManagerLog.h"
#include "platform/Logger.h"
#include "zip/SSZipArchive.h"

namespace ambrell {

namespace fs = std::filesystem;

namespace {

void removeFolder(const fs::path& folder) {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

std::error_code renamed(const fs::path& from, const fs::path& to, unsigned flags = 0) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), flags) == 0) return {};
    return {errno, std::generic_category()};
}

}  // namespace

CVTilePackageStaging::CVTilePackageStaging(fs::path dataSetFolder) : dataSetFolder_(std::move(dataSetFolder)) {}

CVTilePackageStaging::~CVTilePackageStaging() { discard(); }

bool CVTilePackageStaging::unpack(const fs::path& package) {
    const auto folder = CVDataSetStaging::newPathBeside(dataSetFolder_);
    std::optional<platform::NSError> failure;
    bool unpacked = false;
    try {
        unpacked = SSZipArchive::unzipFileAtPath(package.string(), folder.string(), true, std::nullopt, &failure);
    } catch (...) {
        failure.reset();
    }
    if (!unpacked) {
        removeFolder(folder);
        dataSetManagerLog().error("[E] The tile package {} does not unpack: {}", package.string(),
                                  failure ? errorDescription(*failure) : std::string("it failed"));
        return false;
    }
    std::optional<fs::path> earlier;
    {
        std::lock_guard lock(mutex_);
        earlier = std::exchange(unpacked_, folder);
    }
    if (earlier) removeFolder(*earlier);
    return true;
}

bool CVTilePackageStaging::holdsTiles() const {
    std::lock_guard lock(mutex_);
    return unpacked_.has_value();
}

std::error_code CVTilePackageStaging::putInPlace() {
    const auto unpacked = take();
    if (!unpacked) return std::make_error_code(std::errc::no_such_file_or_directory);
    const auto target = CVTileCache::pathForTilePackageCacheInFolder(dataSetFolder_);
    // Swapped, the tile cache reads the old tiles or the new ones, never none;
    // the old ones are then where the new ones were.
    auto error = renamed(*unpacked, target, RENAME_EXCHANGE);
    if (error == std::errc::no_such_file_or_directory) {
        // No tiles in place yet (or no data set's folder, which a rename never makes).
        error = renamed(*unpacked, target);
    } else if (error == std::errc::invalid_argument) {
        // A file system that cannot swap: the old tiles step aside first.
        const auto aside = CVDataSetStaging::newPathBeside(dataSetFolder_);
        error = renamed(target, aside);
        if (!error) {
            error = renamed(*unpacked, target);
            if (error) (void)renamed(aside, target);
            removeFolder(aside);
        }
    }
    removeFolder(*unpacked);
    return error;
}

void CVTilePackageStaging::discard() {
    if (const auto unpacked = take()) removeFolder(*unpacked);
}

std::optional<fs::path> CVTilePackageStaging::take() {
    std::lock_guard lock(mutex_);
    return std::exchange(unpacked_, std::nullopt);
}

}  // namespace ambrell
