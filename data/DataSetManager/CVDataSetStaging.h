#pragma once

#include <filesystem>
#include <string_view>

namespace ambrell {

// Where the data set's sync stages what it downloads (answers, and the tiles
// of a tile package while it is checked), and the sweep of what a killed
// process left of its downloads.
class CVDataSetStaging {
public:
    CVDataSetStaging() = delete;

    // Ends the names of what is staged.
    static constexpr std::string_view kSuffix = ".download";

    // A new name beside the data set's folder, never inside it: a download of
    // a data set removed meanwhile must not make its folder again.
    [[nodiscard]] static std::filesystem::path newPathBeside(const std::filesystem::path& dataSetFolder);

    // At the data-set manager's start, in its root folder: what is staged
    // there, and at any depth of each data set's folder the files a stored
    // copy's refresh downloads into (".<name>.incoming-<UUID>") and the HTTP
    // layer's temporary files ("ambrell-download-*.tmp"). Nothing else goes.
    static void removeLeftovers(const std::filesystem::path& rootFolder);
};

}  // namespace ambrell
