#pragma once

#include <iosfwd>
#include <memory>
#include <optional>
#include <utility>

#include "platform/Error.h"

namespace ambrell {
class CVRouteNetworkData;
}

namespace ambrell::host {

// The loaded solution's route networks (null when there are none), with the
// error of their refresh, if any. Needs the main queue running on another
// thread.
using RouteNetworks = std::pair<std::shared_ptr<CVRouteNetworkData>, std::optional<platform::NSError>>;
[[nodiscard]] RouteNetworks routeNetworks();

// An offline route between two rooms on different floors of the sample's
// main venue, from the solution's route network: the fastest one, then one
// that avoids stairs. Needs a loaded solution (the bound key) and the main
// queue running on another thread.
void printOfflineRoutes(std::ostream& out);

}  // namespace ambrell::host
