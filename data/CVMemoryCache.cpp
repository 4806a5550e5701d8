#include "data/CVMemoryCache.h"

#include <limits>

#include "data/CVVenueInternal.h"

namespace ambrell {

// Never destroyed: map threads may still store images while the process
// exits, and the caches observe the default notification centre, itself a
// process-wide object with an order of destruction of its own.
CVMemoryCache::VenueCache& CVMemoryCache::venueCache() {
    static auto* const instance = new VenueCache("Ambrell.VenueCache");
    return *instance;
}

CVMemoryCache::ImageCache& CVMemoryCache::iconImageCache() {
    static auto* const instance = new ImageCache(kIconImageCostLimit, ImageCache::kUnlimited);
    return *instance;
}

CVMemoryCache::ImageCache& CVMemoryCache::modelImageCache() {
    static auto* const instance = new ImageCache(kModelImageCostLimit, ImageCache::kUnlimited);
    return *instance;
}

void CVMemoryCache::clearAllCaches() {
    iconImageCache().removeAllValues();
    modelImageCache().removeAllValues();
    venueCache().removeAll();
}

std::int64_t bitmapCost(std::int64_t bytesPerRow, std::int64_t height) {
    if (bytesPerRow <= 0 || height <= 0) return 0;
    std::int64_t cost = 0;
    if (__builtin_mul_overflow(bytesPerRow, height, &cost)) return std::numeric_limits<std::int64_t>::max();
    return cost;
}

std::int64_t imageCost(const platform::Image* image) {
    if (image == nullptr) return 0;
    // Rows are packed: one 32-bit word per pixel.
    const auto bytesPerRow = static_cast<std::int64_t>(image->width()) * std::int64_t{sizeof(std::uint32_t)};
    return bitmapCost(bytesPerRow, image->height());
}

void setImage(CVMemoryCache::ImageCache& cache, std::shared_ptr<const platform::Image> image, const std::string& key) {
    if (!image) {
        cache.removeValue(key);
        return;
    }
    const auto cost = imageCost(image.get());
    cache.setValue(std::move(image), key, cost);
}

}  // namespace ambrell
