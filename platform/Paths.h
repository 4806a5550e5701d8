#pragma once

#include <filesystem>

namespace ambrell::platform {

// The folders the platform gives an application: everything lives under a
// container root the host chooses. Safe to use from any thread.
class Paths {
public:
    Paths() = delete;

    // Until the host sets one, the root is $HOME/.local/share/AmbrellCore (a
    // folder of the system temp folder when HOME is unset). A relative path
    // is taken from the current folder; an empty one, or one holding a NUL
    // byte, is refused and logged.
    static void setContainerRoot(const std::filesystem::path& root);
    static std::filesystem::path containerRoot();

    // Created when missing; a folder that cannot be created is logged and
    // its path returned all the same, so the failure shows at the first write.
    static std::filesystem::path caches();       // root/Library/Caches
    static std::filesystem::path documents();    // root/Documents
    static std::filesystem::path preferences();  // root/Library/Preferences

    // The host application's bundled resources, read-only to us, so never
    // created. Default: root/Resources.
    static void setResourcesFolder(const std::filesystem::path& folder);
    static std::filesystem::path resources();

    // Forgets the host's settings: tests start from the defaults.
    static void resetForTesting();
};

}  // namespace ambrell::platform
