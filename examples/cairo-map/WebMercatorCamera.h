#pragma once

#include "Ambrell/CVGeometry.h"
#include "platform/CGPoint.h"
#include "platform/CGRect.h"
#include "platform/Coordinate.h"

namespace ambrell::cairo_map {

// A plain Web-Mercator camera over a picture of `width` by `height` pixels:
// `center` is drawn in the middle, `zoom` is the usual slippy-map level (the
// world is 256 * 2^zoom pixels wide) and `bearing` (degrees clockwise from
// north) is the direction that points up. One point is one pixel.
struct WebMercatorCamera {
    platform::CLLocationCoordinate2D center;
    double zoom = 18;
    double bearing = 0;
    int width = 1024;
    int height = 768;

    [[nodiscard]] platform::CGPoint pointFor(platform::CLLocationCoordinate2D coordinate) const;
    [[nodiscard]] platform::CLLocationCoordinate2D coordinateFor(platform::CGPoint point) const;
    // The box around the picture's four corners.
    [[nodiscard]] CVGeoBounds visibleBounds() const;
    // The same camera (bearing and size kept) moved and zoomed so that the
    // box fills the picture inside the insets.
    [[nodiscard]] WebMercatorCamera fitting(const CVGeoBounds& bounds, const platform::EdgeInsets& insets = {}) const;
};

}  // namespace ambrell::cairo_map
