#pragma once

#include <filesystem>
#include <iosfwd>

namespace ambrell {
class AmbrellShared;
}

namespace ambrell::host {

// A picture of the map: the busiest floor of the largest building, drawn by
// a map control on the cairo example adapter (examples/cairo-map), with the
// offline route network's path between two of its rooms drawn through the
// map's directions renderer. Writes a PNG to `path` and says what it shows.
// Needs a loaded solution and the main queue running on another thread.
void writeMapPicture(AmbrellShared& sdk, const std::filesystem::path& path, std::ostream& out);

}  // namespace ambrell::host
