#include "data/CVUserDefaultCache.h"

#include <vector>

#include "Ambrell/CVLog.h"
#include "platform/UserDefaults.h"

namespace ambrell {

namespace {

constexpr std::string_view kPrefix = "ax-";

}  // namespace

std::string CVUserDefaultCache::userDefaultsKeyForCacheKey(std::string_view key) {
    if (key.starts_with(kPrefix)) return std::string(key);
    std::string prefixed(kPrefix);
    prefixed += key;
    return prefixed;
}

void CVUserDefaultCache::setString(std::string_view string, std::string_view key) {
    if (string.size() >= kMaximumLength) return;
    platform::UserDefaults::standard().setString(userDefaultsKeyForCacheKey(key), string);
}

std::optional<std::string> CVUserDefaultCache::getStringFromCache(std::string_view key) {
    return platform::UserDefaults::standard().stringForKey(userDefaultsKeyForCacheKey(key));
}

void CVUserDefaultCache::clearCache() {
    auto& defaults = platform::UserDefaults::standard();
    std::vector<std::string> keys;
    std::string list;
    for (auto& key : defaults.allKeys()) {
        // The key's validity and the chosen language outlive an SDK update.
        if (!key.starts_with(kPrefix) || key.starts_with("ax-apikeyvalid-") || key == "ax-language") continue;
        list += list.empty() ? "" : "\n";
        list += key;
        keys.push_back(std::move(key));
    }
    CVLog::core().debug("+[CVUserDefaultCache clearCache] [I] Ambrell: Clearing persistent cache data\n{}", list);
    for (const auto& key : keys) defaults.removeObjectForKey(key);
}

}  // namespace ambrell
