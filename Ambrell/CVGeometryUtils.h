#pragma once

#include "platform/Coordinate.h"

namespace ambrell {

// Planar helpers on latitude/longitude pairs taken as plain numbers.
class CVGeometryUtils {
public:
    CVGeometryUtils() = delete;

    // The point of the segment lineStart-lineEnd nearest to point; a segment of
    // two equal ends answers that end.
    [[nodiscard]] static CLLocationCoordinate2D closestPointOnLineSegmentWithPoint(CLLocationCoordinate2D point,
                                                                                   CLLocationCoordinate2D lineStart,
                                                                                   CLLocationCoordinate2D lineEnd);
    // The point at `fraction` of the way from `from` to `to`, per component.
    [[nodiscard]] static CLLocationCoordinate2D interpolateFrom(CLLocationCoordinate2D from, CLLocationCoordinate2D to,
                                                                double fraction);
};

}  // namespace ambrell
