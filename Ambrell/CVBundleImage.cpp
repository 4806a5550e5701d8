#include "Ambrell/CVBundleImage.h"

#include <cstddef>
#include <map>
#include <mutex>
#include <span>
#include <string>

#include "Ambrell/BundleResources.h"

namespace ambrell {

std::shared_ptr<const platform::Image> bundleImage(std::string_view name) {
    // Decoded once per name: the markers of every route draw ask again.
    static std::mutex mutex;
    static std::map<std::string, std::shared_ptr<const platform::Image>, std::less<>> decoded;

    std::lock_guard lock(mutex);
    if (const auto found = decoded.find(name); found != decoded.end()) return found->second;
    for (const auto& resource : bundle_resources::images()) {
        if (resource.name != name) continue;
        auto image = platform::Image::fromPngData(std::as_bytes(resource.png), resource.scale);
        if (!image) return nullptr;
        auto shared = std::make_shared<const platform::Image>(std::move(*image));
        decoded.emplace(std::string(name), shared);
        return shared;
    }
    return nullptr;
}

}  // namespace ambrell
