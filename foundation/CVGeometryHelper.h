#pragma once

#include "Ambrell/CVPoint.h"
#include "platform/CGPoint.h"
#include "platform/Coordinate.h"

#include <memory>
#include <span>
#include <vector>

namespace ambrell {

// Geometry on latitude/longitude pairs. The planar operations take latitude
// and longitude as plain Cartesian numbers (degrees), without projection; the
// distances between two points are geodesic, in metres.
class CVGeometryHelper {
public:
    CVGeometryHelper() = delete;

    // Planar distance in degrees from p to the nearest point of the segment v-w
    // (a segment of two equal ends is the point v).
    [[nodiscard]] static double coordinateToLineDistance(CLLocationCoordinate2D p, CLLocationCoordinate2D v,
                                                         CLLocationCoordinate2D w);
    [[nodiscard]] static double coordinateToLineDistanceSquared(CLLocationCoordinate2D p, CLLocationCoordinate2D v,
                                                                CLLocationCoordinate2D w);
    // The point of the segment u-v nearest to p.
    [[nodiscard]] static CLLocationCoordinate2D closestCoordinateOnLineSegment(CLLocationCoordinate2D p,
                                                                               CLLocationCoordinate2D u,
                                                                               CLLocationCoordinate2D v);

    // Geodesic distance in metres.
    [[nodiscard]] static double distanceFromCoordinate(CLLocationCoordinate2D a, CLLocationCoordinate2D b);

    // Whether a and b are equal to within the double epsilon in both components.
    [[nodiscard]] static bool coordinate(CLLocationCoordinate2D a, CLLocationCoordinate2D isEqualToCoordinate);

    // Initial bearing from a to b in degrees clockwise from north, -180 to 180.
    [[nodiscard]] static double angleFromCoordinate(CLLocationCoordinate2D a, CLLocationCoordinate2D b);

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

    // The points nearest first: by squared planar distance to the segment v-w,
    // or by geodesic distance to the point. Equal keys keep their order.
    [[nodiscard]] static std::vector<std::shared_ptr<const CVPoint>> orderPoints(
        std::vector<std::shared_ptr<const CVPoint>> points, const CVPoint& v, const CVPoint& w);
    [[nodiscard]] static std::vector<std::shared_ptr<const CVPoint>> orderPoints(
        std::vector<std::shared_ptr<const CVPoint>> points, const CVPoint& point);

    // Web-Mercator pixel projection at a zoom (256 pixels for the whole globe at
    // zoom 0). The last projection's ratios are kept process-wide for
    // inspection; each call computes from its own values, so threads projecting
    // at different zooms do not disturb one another.
    static void googleMapsAPIProjection(double zoom);
    [[nodiscard]] static CGPoint fromCoordinatesToPixel(CLLocationCoordinate2D coordinate, double zoom);

    struct ProjectionState {
        double xPixelsToDegreesRatio = 0;
        double yPixelsToRadiansRatio = 0;
        CGPoint pixelGlobeCenter;
    };
    // The ratios of the last projection made in the process.
    [[nodiscard]] static ProjectionState projectionState();

    // The point at t of the quadratic Bézier curve p0, p1, p2.
    [[nodiscard]] static CGPoint pointInQuadCurve(CGPoint p0, CGPoint p1, CGPoint p2, float t);
    // a + (b - a) * t per component.
    [[nodiscard]] static CGPoint interpolate(CGPoint a, CGPoint b, float t);
};

}  // namespace ambrell
