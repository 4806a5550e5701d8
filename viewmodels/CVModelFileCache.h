#pragma once

#include <filesystem>
#include <string>

namespace ambrell {

// Keeps local copies of the 3D model files that display rules name, in the
// current data set, for the map's renderer to read.
class CVModelFileCache {
public:
    CVModelFileCache() = delete;

    // Starts downloading `url` to `cachePath` unless the file exists or a
    // download to that path is running already, and returns at once: nobody
    // waits for it. The file appears whole or not at all (the download lands
    // through a temporary file); a failure is dropped, to be tried again by a
    // later render.
    static void cacheModelFile(std::filesystem::path cachePath, std::string url);

    // Whether a download to the path is running.
    [[nodiscard]] static bool isDownloading(const std::filesystem::path& cachePath);
};

}  // namespace ambrell
