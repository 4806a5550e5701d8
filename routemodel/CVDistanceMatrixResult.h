#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <boost/json/fwd.hpp>

#include "routemodel/CVRoutePropertyInternal.h"

// The travel distances and durations between a list of origins and a list of
// destinations, as the web service's matrix endpoint and a map-provider
// adapter's outdoor matrix give them. Every member is optional and written
// only when present.

namespace ambrell {

struct CVDistanceMatrixElements {
    std::optional<CVRoutePropertyInternal> distance;
    std::optional<CVRoutePropertyInternal> duration;
    // Usable only when "OK".
    std::optional<std::string> status;

    friend bool operator==(const CVDistanceMatrixElements&, const CVDistanceMatrixElements&) = default;
};

// One origin's row: one element per destination, in destination order.
struct CVDistanceMatrixRows {
    std::optional<std::vector<CVDistanceMatrixElements>> elements;

    friend bool operator==(const CVDistanceMatrixRows&, const CVDistanceMatrixRows&) = default;
};

// The element for origin r and destination c is rows[r].elements[c].
struct CVDistanceMatrixResult {
    std::optional<std::vector<std::string>> destination_addresses;
    std::optional<std::vector<std::string>> origin_addresses;
    std::optional<std::vector<CVDistanceMatrixRows>> rows;
    // The matrix as a whole is usable only when "OK".
    std::optional<std::string> status;
    std::optional<std::string> venue;
    std::optional<std::string> bestOrigin;
    std::optional<std::string> bestDestination;

    // Throws CVRouteCodingError: text that is not JSON, a top level that is
    // no object, or a member of the wrong kind, with the member's key path.
    [[nodiscard]] static CVDistanceMatrixResult decode(std::string_view json);
    [[nodiscard]] static CVDistanceMatrixResult decodeValue(const boost::json::value& json);
    [[nodiscard]] boost::json::value encode() const;

    friend bool operator==(const CVDistanceMatrixResult&, const CVDistanceMatrixResult&) = default;
};

}  // namespace ambrell
