#include "Ambrell/CVGeometryUtils.h"

#include <algorithm>

namespace ambrell {

CLLocationCoordinate2D CVGeometryUtils::closestPointOnLineSegmentWithPoint(CLLocationCoordinate2D point,
                                                                           CLLocationCoordinate2D lineStart,
                                                                           CLLocationCoordinate2D lineEnd) {
    const double deltaLat = lineEnd.latitude - lineStart.latitude;
    const double deltaLng = lineEnd.longitude - lineStart.longitude;
    const double lengthSquared = deltaLat * deltaLat + deltaLng * deltaLng;
    if (lengthSquared == 0) return lineStart;
    const double t =
        ((point.latitude - lineStart.latitude) * deltaLat + (point.longitude - lineStart.longitude) * deltaLng) /
        lengthSquared;
    if (!(t > 0)) return lineStart;
    if (t >= 1) return lineEnd;
    return {lineStart.latitude + t * deltaLat, lineStart.longitude + t * deltaLng};
}

CLLocationCoordinate2D CVGeometryUtils::interpolateFrom(CLLocationCoordinate2D from, CLLocationCoordinate2D to,
                                                        double fraction) {
    return {from.latitude + (to.latitude - from.latitude) * fraction,
            from.longitude + (to.longitude - from.longitude) * fraction};
}

}  // namespace ambrell
