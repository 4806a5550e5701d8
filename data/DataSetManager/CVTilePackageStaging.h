#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <system_error>

namespace ambrell {

// A tile package's tiles, unpacked beside the data set's folder, until they
// take the place of the tiles in use. Unpacking is how a downloaded package
// is checked, once: a package whose entries do not all extract (a proxy's
// login page, a body cut short, an empty one) never lands, and the tiles in
// use are only ever replaced by a whole set.
//
// Thread-safe. Tiles unpacked and never put in place are removed when the
// staging goes; what a killed process left goes at the data-set manager's
// next start (see CVDataSetStaging).
class CVTilePackageStaging {
public:
    explicit CVTilePackageStaging(std::filesystem::path dataSetFolder);
    ~CVTilePackageStaging();
    CVTilePackageStaging(const CVTilePackageStaging&) = delete;
    CVTilePackageStaging& operator=(const CVTilePackageStaging&) = delete;

    // Unpacks the package into a folder of its own, with zip/'s guards
    // against hostile entries; true when every entry extracted. A package
    // that does not unpack leaves nothing behind, and is logged.
    bool unpack(const std::filesystem::path& package);
    [[nodiscard]] bool holdsTiles() const;
    // The unpacked tiles become the data set's "tilecache-package" folder, in
    // one step where the file system can swap folders, and the tiles they
    // replace are removed. Nothing is made when the data set's folder is gone.
    std::error_code putInPlace();
    void discard();

private:
    std::optional<std::filesystem::path> take();

    const std::filesystem::path dataSetFolder_;
    mutable std::mutex mutex_;
    std::optional<std::filesystem::path> unpacked_;
};

}  // namespace ambrell
