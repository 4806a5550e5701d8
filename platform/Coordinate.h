#pragma once

namespace ambrell::platform {

// A latitude/longitude pair in degrees, as the location services of the
// mobile platform hand it around. No range checks: callers pass data through
// as it came, and the geometry code decides what an odd value means.
struct CLLocationCoordinate2D {
    double latitude = 0;
    double longitude = 0;

    friend bool operator==(const CLLocationCoordinate2D&, const CLLocationCoordinate2D&) = default;
};

}  // namespace ambrell::platform

namespace ambrell {
using platform::CLLocationCoordinate2D;
}  // namespace ambrell
