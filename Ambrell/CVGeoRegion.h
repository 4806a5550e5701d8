#pragma once

#include "Ambrell/CVGeometry.h"

namespace ambrell {

// The part of the world on screen, as the map engine reports it.
struct CVGeoRegion {
    CVGeoBounds bounds;

    friend bool operator==(const CVGeoRegion&, const CVGeoRegion&) = default;
};

}  // namespace ambrell
