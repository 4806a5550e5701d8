#pragma once

#include <memory>

#include "Ambrell/CVCustomInfoWindow.h"

namespace ambrell {

// The callout the map shows when the host gave none of its own: the
// location's name, black on white, wrapped at 200 points.
class DefaultInfoWindowGenerator : public CVCustomInfoWindow {
public:
    [[nodiscard]] std::shared_ptr<platform::View> infoWindowForLocation(const CVLocation& location) override;
};

}  // namespace ambrell
