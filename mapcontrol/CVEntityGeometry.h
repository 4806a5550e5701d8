#pragma once

#include <optional>

#include "Ambrell/CVGeometry.h"
#include "Ambrell/CVLocation.h"
#include "Ambrell/CVPoint.h"
#include "Ambrell/CVVenue.h"

namespace ambrell {

struct CVFloorInternal;

// Where the camera goes for a venue, building, floor or location: one point
// (whose floor index the map switches to), the box the camera is fitted to,
// and whether that box is a single point. Each read derives the answer from
// the model's geometry at that moment. A venue or building without a
// bounding box, or a floor without an outline, has no bounds (and, lacking an
// anchor, no position): callers then leave the camera where it is.

// Venues and buildings: the bounding box; the anchor, else the centre of the
// box (floor index 0); never a point.
[[nodiscard]] std::optional<CVGeoBounds> entityBounds(const CVVenue& venue);
[[nodiscard]] std::optional<CVPoint> entityPosition(const CVVenue& venue);
[[nodiscard]] bool entityIsPoint(const CVVenue& venue);
[[nodiscard]] std::optional<CVGeoBounds> entityBounds(const CVBuilding& building);
[[nodiscard]] std::optional<CVPoint> entityPosition(const CVBuilding& building);
[[nodiscard]] bool entityIsPoint(const CVBuilding& building);

// Floors: the box of the outer rings of the floor's outline (the multipolygon
// when it has one, else the polygon); its centre (floor index 0); never a
// point.
[[nodiscard]] std::optional<CVGeoBounds> entityBounds(const CVFloorInternal& floor);
[[nodiscard]] std::optional<CVPoint> entityPosition(const CVFloorInternal& floor);
[[nodiscard]] bool entityIsPoint(const CVFloorInternal& floor);

// Locations: the coordinate bounds (a box of no area at the position when the
// location has no shape); the position with its floor index; a point when
// the box has no area.
[[nodiscard]] CVGeoBounds entityBounds(const CVLocation& location);
[[nodiscard]] CVPoint entityPosition(const CVLocation& location);
[[nodiscard]] bool entityIsPoint(const CVLocation& location);

}  // namespace ambrell
