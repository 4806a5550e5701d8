#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Image.h"

namespace ambrell {

// What a map-provider adapter asks of a floor's tile source. The adapter
// calls it from its own tile thread; an implementation may block that thread
// (for a download) and must be safe to call from several threads at once.
class CVTileProviding {
public:
    virtual ~CVTileProviding() = default;

    // The tile image, or none when the tile does not exist or cannot be had.
    [[nodiscard]] virtual std::optional<platform::Image> getTile(std::uint32_t x, std::uint32_t y,
                                                                 std::uint32_t zoom) = 0;
    [[nodiscard]] virtual std::string getTileUrl(std::uint32_t zoom, std::uint32_t x, std::uint32_t y) = 0;
    // Points of a tile edge.
    [[nodiscard]] virtual double tileSize() const = 0;
    // The URL template with the floor's fixed parts filled in; {z}, {x} and
    // {y} are left for the adapter.
    [[nodiscard]] virtual std::string templateUrl() = 0;
};

}  // namespace ambrell
