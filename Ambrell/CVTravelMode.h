#pragma once

namespace ambrell {

// How a directions query travels; hosts pass the raw values.
enum class CVTravelMode : int {
    unknown = 0,
    walking = 1,
    bicycling = 2,
    driving = 3,
    transit = 4,
};

}  // namespace ambrell
