#pragma once

#include "platform/Coordinate.h"

#include <cstdint>
#include <limits>

namespace ambrell {

// A point of a route network: latitude and longitude in degrees and the floor
// index. In the graph's spatial queries kEveryFloor stands for every floor.
struct CVLocationCoordinate3D {
    static constexpr std::int64_t kEveryFloor = std::numeric_limits<std::int64_t>::max();

    double latitude = 0;
    double longitude = 0;
    std::int64_t floor = 0;

    [[nodiscard]] CLLocationCoordinate2D latLng() const { return {latitude, longitude}; }
    [[nodiscard]] std::int64_t floorId() const { return floor; }

    friend bool operator==(const CVLocationCoordinate3D&, const CVLocationCoordinate3D&) = default;
};

}  // namespace ambrell
