#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "Ambrell/CVTileProviding.h"
#include "platform/Image.h"

namespace ambrell {

class CVVenueInternal;

// The tile source of one venue floor, handed to the map-provider adapter.
// Tile URLs come from the venue's template (the retina style set) with the
// style folder and floor filled in; tiles come from the tile cache, the app's
// resources or, when the cache is online, a download. Safe to call from
// several threads at once.
class CVTileProvider : public CVTileProviding {
public:
    // No input or output: only the URL template is built.
    CVTileProvider(const CVVenueInternal& venue, int floor, int tileSize);

    // Synchronous; blocks the calling thread during a download. Refused (no
    // tile, an error logged) on a thread of the runtime's pools, which must
    // never block, and once the runtime shuts down.
    [[nodiscard]] std::optional<platform::Image> getTile(std::uint32_t x, std::uint32_t y, std::uint32_t zoom) override;
    [[nodiscard]] std::string getTileUrl(std::uint32_t zoom, std::uint32_t x, std::uint32_t y) override;
    [[nodiscard]] double tileSize() const override;
    [[nodiscard]] std::string templateUrl() override;

    // Fills style and floor into the template.
    void buildTileUrl();

    // Used when a venue has no template of its own.
    [[nodiscard]] static std::string sampleTemplateUrl();

private:
    mutable std::mutex mutex_;
    int cvTileSize_;
    std::optional<std::string> cvUrl_;  // guarded by mutex_
    std::string cvUrlTemplate_;
    int cvFloor_;
    std::string cvStyle_;
};

}  // namespace ambrell
