#pragma once

#include <iosfwd>

namespace ambrell::host {

// An offline route between two rooms on different floors of the sample's
// main venue, from the solution's route network: the fastest one, then one
// that avoids stairs. Needs a loaded solution (the bound key) and the main
// queue running on another thread.
void printOfflineRoutes(std::ostream& out);

}  // namespace ambrell::host
