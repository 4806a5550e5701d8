#pragma once

#include <memory>

#include "platform/View.h"

namespace ambrell {

class CVLocation;

// The source of the callout the map shows above a selected location.
class CVCustomInfoWindow {
public:
    virtual ~CVCustomInfoWindow() = default;

    // The view of the location's callout; null shows none.
    [[nodiscard]] virtual std::shared_ptr<platform::View> infoWindowForLocation(const CVLocation& location) = 0;
};

}  // namespace ambrell
