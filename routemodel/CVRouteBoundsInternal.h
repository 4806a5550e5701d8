#pragma once

#include <memory>
#include <optional>
#include <string>

#include <boost/json/fwd.hpp>

#include "routemodel/CVRouteCoordinateInternal.h"

namespace ambrell {

// The box a route covers: "northeast" and "southwest" corners.
struct CVRouteBoundsInternal {
    std::shared_ptr<CVRouteCoordinateInternal> northeast;
    std::shared_ptr<CVRouteCoordinateInternal> southwest;

    // Throws CVRouteCodingError.
    [[nodiscard]] static CVRouteBoundsInternal decodeValue(const boost::json::value& json);
    [[nodiscard]] boost::json::value encode() const;
};

// A route's outline as an encoded polyline text, "points"; carried as given.
struct CVRoutePolylineInternal {
    std::optional<std::string> points;

    // Throws CVRouteCodingError.
    [[nodiscard]] static CVRoutePolylineInternal decodeValue(const boost::json::value& json);
    [[nodiscard]] boost::json::value encode() const;

    friend bool operator==(const CVRoutePolylineInternal&, const CVRoutePolylineInternal&) = default;
};

}  // namespace ambrell
