#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace ambrell {

// The options of one directions request, handed to the adapter's outdoor
// services. The planner sets every field; a new config is empty.
struct CVDirectionsConfig {
    std::string travelMode;
    // Way-type texts ("steps", "elevator", ...).
    std::vector<std::string> avoidTypes;
    std::optional<std::chrono::system_clock::time_point> departure;
    std::optional<std::chrono::system_clock::time_point> arrival;
    std::string language;

    friend bool operator==(const CVDirectionsConfig&, const CVDirectionsConfig&) = default;
};

}  // namespace ambrell
