#include "viewmodels/CVModelFileCache.h"

#include <mutex>
#include <set>
#include <system_error>

#include "foundation/CVDataProvider.h"

namespace ambrell {

namespace model_file_cache {
namespace {

struct Downloads {
    std::mutex mutex;
    std::set<std::filesystem::path> running;
};

Downloads& downloads() {
    // Never destroyed: a download may end while statics are torn down.
    static auto* shared = new Downloads();
    return *shared;
}

}  // namespace
}  // namespace model_file_cache

void CVModelFileCache::cacheModelFile(std::filesystem::path cachePath, std::string url) {
    std::error_code error;
    if (std::filesystem::exists(cachePath, error)) return;
    auto& state = model_file_cache::downloads();
    {
        std::lock_guard lock(state.mutex);
        // Two renders may ask for the same file before it exists: one
        // download serves both.
        if (!state.running.insert(cachePath).second) return;
    }
    auto path = cachePath;
    CVDataProvider::downloadContents(std::move(url), std::move(cachePath), std::nullopt,
                                     [path = std::move(path)](std::optional<std::filesystem::path>,
                                                              std::optional<platform::HttpResponse>,
                                                              std::exception_ptr) {
                                         auto& downloads = model_file_cache::downloads();
                                         std::lock_guard lock(downloads.mutex);
                                         downloads.running.erase(path);
                                     });
}

bool CVModelFileCache::isDownloading(const std::filesystem::path& cachePath) {
    auto& state = model_file_cache::downloads();
    std::lock_guard lock(state.mutex);
    return state.running.contains(cachePath);
}

}  // namespace ambrell
