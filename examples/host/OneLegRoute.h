#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Ambrell/CVRoute.h"
#include "routing/Graph/CVLocationCoordinate3D.h"

namespace ambrell::host {

// A route of the host's own making: one leg of one step along the points,
// as a host builds it from a path it found itself (here the offline route
// network's) to hand to the map's directions renderer.
[[nodiscard]] std::shared_ptr<CVRoute> oneLegRoute(const std::vector<CVLocationCoordinate3D>& points,
                                                   const std::string& from, const std::string& to);

}  // namespace ambrell::host
