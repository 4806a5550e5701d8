#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "foundation/CVThreadSafeDictionary.h"
#include "foundation/LRUCache.h"
#include "platform/Image.h"

namespace ambrell {

class CVVenueInternal;

// The in-memory caches that outlive any one map: the venues of the last
// venue-list fetch by id, and the images the map's view models draw (location
// icons, 2D-model images). Each is created on first use, once, whatever the
// number of threads asking, and lives as long as the process. Safe from any
// thread.
class CVMemoryCache {
public:
    using VenueCache = CVThreadSafeDictionary<std::string, std::shared_ptr<CVVenueInternal>>;
    using ImageCache = LRUCache<std::string, std::shared_ptr<const platform::Image>>;

    // The image caches are bounded by the bytes of their bitmaps only.
    static constexpr std::int64_t kIconImageCostLimit = 10'000'000;
    static constexpr std::int64_t kModelImageCostLimit = 50'000'000;

    CVMemoryCache() = delete;

    // Labelled "Ambrell.VenueCache".
    [[nodiscard]] static VenueCache& venueCache();
    // Both image caches empty themselves on the memory warning of the
    // default notification centre.
    [[nodiscard]] static ImageCache& iconImageCache();
    [[nodiscard]] static ImageCache& modelImageCache();

    // Empties the icon images, the model images and the venues, one cache at
    // a time, never holding two locks together. Stores made meanwhile from
    // other threads may survive it.
    static void clearAllCaches();
};

// The bytes of a bitmap of `height` rows of `bytesPerRow` bytes; 0 when
// either is not positive. A product beyond the 64-bit range gives the largest
// 64-bit value, so such an image alone empties any cache it enters.
[[nodiscard]] std::int64_t bitmapCost(std::int64_t bytesPerRow, std::int64_t height);
// What an image costs in an image cache: the bytes of its bitmap; 0 for none.
[[nodiscard]] std::int64_t imageCost(const platform::Image* image);

// Stores the image at its cost as the most recently used entry; no image
// removes the key.
void setImage(CVMemoryCache::ImageCache& cache, std::shared_ptr<const platform::Image> image, const std::string& key);

}  // namespace ambrell
