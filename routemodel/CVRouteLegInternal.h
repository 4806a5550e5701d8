#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <boost/json/fwd.hpp>

#include "Ambrell/CVRoute.h"
#include "routemodel/CVRouteCoordinateInternal.h"
#include "routemodel/CVRouteStepInternal.h"

namespace ambrell {

// One leg of a route: a stretch on one floor or one outdoor journey.
class CVRouteLegInternal final : public CVRouteLeg {
public:
    using Coordinate = std::shared_ptr<CVRouteCoordinateInternal>;
    using Step = std::shared_ptr<CVRouteStepInternal>;

    CVRouteLegInternal() = default;

    // Throws CVRouteCodingError.
    [[nodiscard]] static std::shared_ptr<CVRouteLegInternal> decodeValue(const boost::json::value& json);
    [[nodiscard]] boost::json::value encode() const;

    [[nodiscard]] std::vector<std::shared_ptr<CVRouteStep>> steps() const override;
    [[nodiscard]] const std::vector<Step>& stepsInternal() const { return steps_; }
    [[nodiscard]] std::vector<Step>& stepsInternal() { return steps_; }
    void setSteps(std::vector<Step> steps) { steps_ = std::move(steps); }

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

    [[nodiscard]] std::optional<std::string> start_address() const override { return startAddress_; }
    void setStart_address(std::optional<std::string> address) { startAddress_ = std::move(address); }
    [[nodiscard]] std::optional<std::string> end_address() const override { return endAddress_; }
    void setEnd_address(std::optional<std::string> address) { endAddress_ = std::move(address); }

    // A leg without "routeLegType" is a venue leg (raw value 0).
    [[nodiscard]] CVRouteLegType routeLegType() const override { return routeLegType_.value_or(CVRouteLegType::venue); }
    void setRouteLegType(CVRouteLegType type) { routeLegType_ = type; }

    [[nodiscard]] std::optional<CVRouteLegBreakReason> legStartReason() const override { return legStartReason_; }
    void setLegStartReason(std::optional<CVRouteLegBreakReason> reason) { legStartReason_ = reason; }
    [[nodiscard]] std::optional<CVRouteLegBreakReason> legEndReason() const override { return legEndReason_; }
    void setLegEndReason(std::optional<CVRouteLegBreakReason> reason) { legEndReason_ = reason; }

private:
    // The coders keep an absent leg type absent when writing back.
    friend struct LegCoding;

    std::vector<Step> steps_;
    std::optional<double> distance_;
    std::optional<double> duration_;
    Coordinate startLocation_;
    Coordinate endLocation_;
    std::optional<std::string> startAddress_;
    std::optional<std::string> endAddress_;
    std::optional<CVRouteLegType> routeLegType_;
    std::optional<CVRouteLegBreakReason> legStartReason_;
    std::optional<CVRouteLegBreakReason> legEndReason_;
};

}  // namespace ambrell
