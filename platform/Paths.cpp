#include "platform/Paths.h"

#include <cstdlib>
#include <mutex>
#include <optional>

#include "platform/FileSystem.h"
#include "platform/Logger.h"

namespace ambrell::platform {

namespace {

struct Settings {
    std::mutex mutex;
    std::optional<std::filesystem::path> containerRoot;
    std::optional<std::filesystem::path> resourcesFolder;
};

// Never destroyed: code running in static destructors may still ask for a folder.
Settings& settings() {
    static auto* const instance = new Settings;
    return *instance;
}

const Logger& logger() {
    static const auto* const instance = new Logger("platform");
    return *instance;
}

std::filesystem::path defaultContainerRoot() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') return std::filesystem::path(home) / ".local/share/AmbrellCore";
    std::error_code error;
    auto temporary = std::filesystem::temp_directory_path(error);
    if (error) temporary = "/tmp";
    return temporary / "AmbrellCore";
}

// A relative path is anchored when it is set, so that a later change of the
// current folder does not move the container.
std::optional<std::filesystem::path> absoluteFolder(const std::filesystem::path& folder, std::string_view what) {
    if (validateSystemPath(folder)) {
        logger().error("Ignoring an empty {} path, or one with a NUL byte", what);
        return std::nullopt;
    }
    std::error_code error;
    auto absolute = std::filesystem::absolute(folder, error);
    if (error) {
        logger().error("Ignoring the {} path {}: {}", what, folder.string(), error.message());
        return std::nullopt;
    }
    return absolute.lexically_normal();
}

std::filesystem::path createdFolder(std::filesystem::path folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) logger().error("Cannot create the folder {}: {}", folder.string(), error.message());
    return folder;
}

std::filesystem::path currentContainerRoot() {
    auto& state = settings();
    {
        std::lock_guard lock(state.mutex);
        if (state.containerRoot) return *state.containerRoot;
    }
    return defaultContainerRoot();
}

}  // namespace

void Paths::setContainerRoot(const std::filesystem::path& root) {
    auto absolute = absoluteFolder(root, "container root");
    if (!absolute) return;
    auto& state = settings();
    std::lock_guard lock(state.mutex);
    state.containerRoot = std::move(absolute);
}

std::filesystem::path Paths::containerRoot() { return createdFolder(currentContainerRoot()); }

std::filesystem::path Paths::caches() { return createdFolder(currentContainerRoot() / "Library" / "Caches"); }

std::filesystem::path Paths::documents() { return createdFolder(currentContainerRoot() / "Documents"); }

std::filesystem::path Paths::preferences() { return createdFolder(currentContainerRoot() / "Library" / "Preferences"); }

void Paths::setResourcesFolder(const std::filesystem::path& folder) {
    auto absolute = absoluteFolder(folder, "resources folder");
    if (!absolute) return;
    auto& state = settings();
    std::lock_guard lock(state.mutex);
    state.resourcesFolder = std::move(absolute);
}

std::filesystem::path Paths::resources() {
    {
        auto& state = settings();
        std::lock_guard lock(state.mutex);
        if (state.resourcesFolder) return *state.resourcesFolder;
    }
    return currentContainerRoot() / "Resources";
}

void Paths::resetForTesting() {
    auto& state = settings();
    std::lock_guard lock(state.mutex);
    state.containerRoot.reset();
    state.resourcesFolder.reset();
}

}  // namespace ambrell::platform
