#pragma once

#include <string>

#include "platform/Coordinate.h"

namespace ambrell {

// A position on a floor: latitude and longitude in degrees and z, the floor
// index as a number. Subclasses add what a kind of point knows besides (an
// entry point of a route network, for one), so lists of points hold them by
// pointer.
class CVPoint {
public:
    CVPoint() = default;
    CVPoint(double latitude, double longitude, double z = 0) : latitude_(latitude), longitude_(longitude), z_(z) {}
    CVPoint(const CVPoint&) = default;
    CVPoint& operator=(const CVPoint&) = default;
    CVPoint(CVPoint&&) = default;
    CVPoint& operator=(CVPoint&&) = default;
    virtual ~CVPoint() = default;

    [[nodiscard]] double latitude() const { return latitude_; }
    [[nodiscard]] double longitude() const { return longitude_; }
    [[nodiscard]] double z() const { return z_; }

    // The floor index: z truncated toward zero, held to the int range; a z
    // that is not a number gives 0.
    [[nodiscard]] int zIndex() const;

    [[nodiscard]] CLLocationCoordinate2D coordinate() const { return {latitude_, longitude_}; }

    // "latitude,longitude" and "latitude,longitude,z", each number as the
    // shortest plain decimal that reads back exactly ("55.6761,12.5683,2",
    // "0.0000144,0,100000": no exponent, no negative zero). These are the
    // texts directions and distance-matrix requests send for a point. Empty
    // when a number in it is not finite: such a point cannot be sent.
    [[nodiscard]] std::string latLongString() const;
    [[nodiscard]] std::string description() const;

    // Exact equality of latitude, longitude and z; what a subclass adds is
    // not compared.
    friend bool operator==(const CVPoint&, const CVPoint&) = default;

private:
    double latitude_ = 0;
    double longitude_ = 0;
    double z_ = 0;
};

}  // namespace ambrell
