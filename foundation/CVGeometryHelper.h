#pragma once

#include "platform/Coordinate.h"

#include <span>
#include <vector>

namespace ambrell {

// Geometry on latitude/longitude pairs taken as plain planar numbers
// (degrees), without projection.
class CVGeometryHelper {
public:
    // Whether a ray from p towards growing longitude crosses the segment a-b.
    // A p level with an end of the segment is moved up by 1e-8 degrees first,
    // so that a vertex shared by two edges is counted once.
    [[nodiscard]] static bool rayCrossesSegmentWithRayOrigin(CLLocationCoordinate2D p, CLLocationCoordinate2D a,
                                                             CLLocationCoordinate2D b);

    // Even-odd test over every ring (the last point joins the first); holes
    // are simply further rings. An edge always runs the short way round, so a
    // ring with an edge longer than 180 degrees of longitude is taken to cross
    // the antimeridian and is measured on 0..360 longitudes; every other ring
    // on its own numbers, so that rings straddling longitude 0 work too.
    // No rings, empty rings or a non-finite coordinate: false.
    [[nodiscard]] static bool boundsContainsCoordinate(std::span<const std::vector<CLLocationCoordinate2D>> rings,
                                                       CLLocationCoordinate2D coordinate);
};

}  // namespace ambrell
