#pragma once

namespace ambrell {

class CVLocation;

// Whether the map lets the location be selected: the most specific settings
// that say anything win (the location's own, its type's, the loaded
// solution's); true when none does, also with no solution loaded. Any thread.
[[nodiscard]] bool resolvedSelectable(const CVLocation& location);

}  // namespace ambrell
