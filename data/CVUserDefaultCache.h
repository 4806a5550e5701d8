#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace ambrell {

// Small texts kept in the standard user defaults under keys prefixed "ax-",
// so that they can all be dropped together when the SDK changes version.
class CVUserDefaultCache {
public:
    CVUserDefaultCache() = delete;

    // Texts this long or longer are not stored: the defaults are one file
    // rewritten on every change.
    static constexpr std::size_t kMaximumLength = 20'000'000;

    // The key itself when it starts with "ax-", else "ax-" followed by it.
    [[nodiscard]] static std::string userDefaultsKeyForCacheKey(std::string_view key);
    // Silently not stored when too long.
    static void setString(std::string_view string, std::string_view key);
    [[nodiscard]] static std::optional<std::string> getStringFromCache(std::string_view key);
    // Removes every "ax-" value but the API-key-valid flags and "ax-language".
    static void clearCache();
};

}  // namespace ambrell
