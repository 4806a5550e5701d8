#pragma once

#include <memory>

#include "platform/Image.h"

namespace ambrell {

// The icon that marks a route stop on the map. The host may give its own;
// the directions renderer has a default.
class CVRouteStopIconProvider {
public:
    virtual ~CVRouteStopIconProvider() = default;

    // Null when there is no icon: the stop then gets no marker.
    [[nodiscard]] virtual std::shared_ptr<const platform::Image> image() const = 0;
};

}  // namespace ambrell
