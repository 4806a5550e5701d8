#pragma once

namespace ambrell {

struct AXCoordinate {
    double lat = 0;
    double lng = 0;

    [[nodiscard]] static AXCoordinate CoordinateWithLat(double lat, double lng) { return {lat, lng}; }

    friend bool operator==(const AXCoordinate&, const AXCoordinate&) = default;
};

}  // namespace ambrell
