#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <boost/json/fwd.hpp>

#include "Ambrell/CVPoint.h"
#include "Ambrell/CVRoute.h"
#include "routemodel/CVRouteCoordinateInternal.h"
#include "routemodel/CVTransitDetailsInternal.h"

namespace ambrell {

// One instruction of a route leg. Members that hold route objects have two
// readers: the CVRouteStep one, and one ending in "Internal" that answers the
// library's own objects for code that edits routes.
class CVRouteStepInternal final : public CVRouteStep {
public:
    using Coordinate = std::shared_ptr<CVRouteCoordinateInternal>;
    using Step = std::shared_ptr<CVRouteStepInternal>;

    CVRouteStepInternal() = default;

    // Throws CVRouteCodingError.
    [[nodiscard]] static Step decodeValue(const boost::json::value& json);
    // Throws CVRouteCodingError when a number is not finite, a list holds no
    // object, or sub-steps nest too deep (a step that contains itself).
    [[nodiscard]] boost::json::value encode() const;

    [[nodiscard]] std::optional<std::string> travel_mode() const override { return travelMode_; }
    void setTravel_mode(std::optional<std::string> travelMode) { travelMode_ = std::move(travelMode); }

    [[nodiscard]] std::optional<double> distance() const override { return distance_; }
    void setDistance(std::optional<double> distance) { distance_ = distance; }
    [[nodiscard]] std::optional<double> duration() const override { return duration_; }
    void setDuration(std::optional<double> duration) { duration_ = duration; }

    [[nodiscard]] std::shared_ptr<CVRouteCoordinate> start_location() const override { return startLocation_; }
    [[nodiscard]] const Coordinate& start_locationInternal() const { return startLocation_; }
    void setStart_location(Coordinate location) { startLocation_ = std::move(location); }
    [[nodiscard]] std::shared_ptr<CVRouteCoordinate> end_location() const override { return endLocation_; }
    [[nodiscard]] const Coordinate& end_locationInternal() const { return endLocation_; }
    void setEnd_location(Coordinate location) { endLocation_ = std::move(location); }

    [[nodiscard]] std::optional<std::vector<std::shared_ptr<CVRouteCoordinate>>> geometry() const override;
    [[nodiscard]] const std::optional<std::vector<Coordinate>>& geometryInternal() const { return geometry_; }
    [[nodiscard]] std::optional<std::vector<Coordinate>>& geometryInternal() { return geometry_; }
    void setGeometry(std::optional<std::vector<Coordinate>> geometry) { geometry_ = std::move(geometry); }

    [[nodiscard]] std::optional<std::vector<std::shared_ptr<CVRouteStep>>> steps() const override;
    [[nodiscard]] const std::optional<std::vector<Step>>& stepsInternal() const { return steps_; }
    [[nodiscard]] std::optional<std::vector<Step>>& stepsInternal() { return steps_; }
    void setSteps(std::optional<std::vector<Step>> steps) { steps_ = std::move(steps); }

    [[nodiscard]] std::optional<std::string> html_instructions() const override { return htmlInstructions_; }
    void setHtml_instructions(std::optional<std::string> text) { htmlInstructions_ = std::move(text); }
    [[nodiscard]] std::optional<std::string> maneuver() const override { return maneuver_; }
    void setManeuver(std::optional<std::string> maneuver) { maneuver_ = std::move(maneuver); }
    [[nodiscard]] std::optional<CVHighway> highway() const override { return highway_; }
    void setHighway(std::optional<CVHighway> highway) { highway_ = highway; }
    [[nodiscard]] std::optional<std::string> routeContext() const override { return routeContext_; }
    void setRouteContext(std::optional<std::string> context) { routeContext_ = std::move(context); }

    [[nodiscard]] const std::optional<CVTransitDetailsInternal>& transit_details() const { return transitDetails_; }
    void setTransit_details(std::optional<CVTransitDetailsInternal> details) { transitDetails_ = std::move(details); }

    // Bearing in degrees from north, clockwise (-180 to 180), from the start
    // to the end location; 0 when either is missing. A missing latitude or
    // longitude counts as 0.
    [[nodiscard]] double heading() const;
    // The start and end locations as points, z the whole floor index of
    // "zLevel" (0 when it is missing); the zero point when the location is.
    [[nodiscard]] CVPoint startPoint() const;
    [[nodiscard]] CVPoint endPoint() const;

private:
    std::optional<std::string> travelMode_;
    std::optional<double> distance_;
    std::optional<double> duration_;
    Coordinate startLocation_;
    Coordinate endLocation_;
    std::optional<std::vector<Coordinate>> geometry_;
    std::optional<std::vector<Step>> steps_;
    std::optional<std::string> htmlInstructions_;
    std::optional<std::string> maneuver_;
    std::optional<CVHighway> highway_;
    std::optional<std::string> routeContext_;
    std::optional<CVTransitDetailsInternal> transitDetails_;
};

}  // namespace ambrell
