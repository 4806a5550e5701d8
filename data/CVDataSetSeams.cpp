#include "data/CVDataSetSeams.h"

#include <mutex>

namespace ambrell {

namespace {

struct InstalledCachedFiles {
    std::mutex mutex;
    std::shared_ptr<const CVDataSetCachedFiles> cachedFiles;
};

InstalledCachedFiles& installedCachedFiles() {
    static InstalledCachedFiles instance;
    return instance;
}

std::shared_ptr<const CVDataSetCachedFiles> currentCachedFiles() {
    auto& state = installedCachedFiles();
    std::lock_guard lock(state.mutex);
    return state.cachedFiles;
}

}  // namespace

void CVDataSetSeams::setCachedFiles(std::shared_ptr<const CVDataSetCachedFiles> cachedFiles) {
    auto& state = installedCachedFiles();
    std::lock_guard lock(state.mutex);
    // The old one leaves with the parameter, after the lock is released.
    state.cachedFiles.swap(cachedFiles);
}

std::optional<std::filesystem::path> CVDataSetSeams::pathForCachedUrl(std::string_view url,
                                                                      std::string_view dataSetId) {
    // Asked outside the lock: the manager may take its time on the disk.
    const auto cachedFiles = currentCachedFiles();
    if (!cachedFiles) return std::nullopt;
    return cachedFiles->pathForCachedUrl(url, dataSetId);
}

std::optional<std::filesystem::path> CVDataSetSeams::pathForCachingUrl(std::string_view url,
                                                                       std::string_view dataSetId) {
    const auto cachedFiles = currentCachedFiles();
    if (!cachedFiles) return std::nullopt;
    return cachedFiles->pathForCachingUrl(url, dataSetId);
}

std::optional<std::string> CVDataSetSeams::currentDataSetId() {
    const auto cachedFiles = currentCachedFiles();
    if (!cachedFiles) return std::nullopt;
    return cachedFiles->currentDataSetId();
}

void CVDataSetSeams::resetForTesting() { setCachedFiles(nullptr); }

}  // namespace ambrell
