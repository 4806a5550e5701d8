#pragma once

#include <memory>
#include <string>

#include "data/CVLocationInternal.h"

namespace ambrell::test {

// A point of interest of the "Cafe" type at the position, named `name`.
std::shared_ptr<CVLocationInternal> pointLocation(const std::string& id, const std::string& name, double latitude,
                                                  double longitude, const std::string& locationType = "POI");

// A room of the "Office" type: a rectangle of `size` degrees a side whose
// south-west corner is at the position, anchored at its centre.
std::shared_ptr<CVLocationInternal> roomLocation(const std::string& id, const std::string& name, double latitude,
                                                 double longitude, double size = 0.0001);

// The room with a second rectangle east of the first, as one multipolygon.
std::shared_ptr<CVLocationInternal> twoWingLocation(const std::string& id, double latitude, double longitude);

}  // namespace ambrell::test
