#pragma once

#include <memory>

#include "routemodel/CVExternalDirectionsService.h"
#include "routemodel/CVExternalDistanceMatrixService.h"

namespace ambrell {

// The outdoor services a map control offers from its map-provider adapter.
// The directions code looks for it on the active map control; a map control
// without it offers none.
class MapControlInternalExternalServices {
public:
    MapControlInternalExternalServices() = default;
    MapControlInternalExternalServices(const MapControlInternalExternalServices&) = delete;
    MapControlInternalExternalServices& operator=(const MapControlInternalExternalServices&) = delete;
    virtual ~MapControlInternalExternalServices() = default;

    // Null when the adapter offers none. Any thread.
    [[nodiscard]] virtual std::shared_ptr<CVExternalDirectionsService> externalDirectionService() const = 0;
    [[nodiscard]] virtual std::shared_ptr<CVExternalDistanceMatrixService> externalMatrixService() const = 0;
};

}  // namespace ambrell
