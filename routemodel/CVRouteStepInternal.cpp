#include "routemodel/CVRouteStepInternal.h"

#include <cmath>
#include <numbers>

#include "routemodel/RouteModelCoders.h"

namespace ambrell {

namespace {

constexpr double kDegreesPerRadian = 57.29577951308232;

// The whole floor index of a "zLevel": truncated toward zero; missing or not
// a number gives 0, and magnitudes past any floor are held at 2^53.
double wholeFloor(std::optional<double> zLevel) {
    constexpr double kLimit = 9007199254740992.0;
    if (!zLevel || std::isnan(*zLevel)) return 0;
    return std::trunc(std::fmax(-kLimit, std::fmin(kLimit, *zLevel)));
}

CVPoint pointOf(const std::shared_ptr<CVRouteCoordinateInternal>& location) {
    if (!location) return {};
    return {location->lat().value_or(0), location->lng().value_or(0), wholeFloor(location->zLevel())};
}

}  // namespace

std::shared_ptr<CVRouteStepInternal> CVRouteStepInternal::decodeValue(const boost::json::value& json) {
    return routejson::readDocument(json, routejson::readStep);
}

boost::json::value CVRouteStepInternal::encode() const { return routejson::writeDocument(*this, routejson::writeStep); }

std::optional<std::vector<std::shared_ptr<CVRouteCoordinate>>> CVRouteStepInternal::geometry() const {
    if (!geometry_) return std::nullopt;
    return std::vector<std::shared_ptr<CVRouteCoordinate>>(geometry_->begin(), geometry_->end());
}

std::optional<std::vector<std::shared_ptr<CVRouteStep>>> CVRouteStepInternal::steps() const {
    if (!steps_) return std::nullopt;
    return std::vector<std::shared_ptr<CVRouteStep>>(steps_->begin(), steps_->end());
}

double CVRouteStepInternal::heading() const {
    if (!startLocation_ || !endLocation_) return 0;
    constexpr double kRadiansPerDegree = std::numbers::pi / 180.0;
    const double phi1 = startLocation_->lat().value_or(0) * kRadiansPerDegree;
    const double phi2 = endLocation_->lat().value_or(0) * kRadiansPerDegree;
    const double deltaLambda =
        (endLocation_->lng().value_or(0) - startLocation_->lng().value_or(0)) * kRadiansPerDegree;
    const double y = std::sin(deltaLambda) * std::cos(phi2);
    const double x = std::cos(phi1) * std::sin(phi2) - std::sin(phi1) * std::cos(phi2) * std::cos(deltaLambda);
    const double theta = std::atan2(y, x);
    return theta * kDegreesPerRadian;
}

CVPoint CVRouteStepInternal::startPoint() const { return pointOf(startLocation_); }

CVPoint CVRouteStepInternal::endPoint() const { return pointOf(endLocation_); }

namespace routejson {

std::shared_ptr<CVRouteStepInternal> readStep(const ObjectReader& reader) {
    auto step = std::make_shared<CVRouteStepInternal>();
    step->setTravel_mode(reader.text("travel_mode"));
    step->setDistance(reader.numberOrValueObject("distance"));
    step->setDuration(reader.numberOrValueObject("duration"));
    step->setStart_location(reader.object("start_location", readCoordinate).value_or(nullptr));
    step->setEnd_location(reader.object("end_location", readCoordinate).value_or(nullptr));
    step->setGeometry(reader.objects("geometry", readCoordinate));
    step->setSteps(reader.objects("steps", readStep));
    step->setHtml_instructions(reader.text("html_instructions"));
    step->setManeuver(reader.text("maneuver"));
    step->setHighway(reader.highway("highway"));
    step->setRouteContext(reader.text("routeContext"));
    step->setTransit_details(reader.object("transit_details", readTransitDetails));
    return step;
}

boost::json::value writeStep(const CVRouteStepInternal& step, const Path& path) {
    ObjectWriter writer(path);
    writer.text("travel_mode", step.travel_mode());
    writer.number("distance", step.distance());
    writer.number("duration", step.duration());
    if (const auto& start = step.start_locationInternal()) writer.object("start_location", *start, writeCoordinate);
    if (const auto& end = step.end_locationInternal()) writer.object("end_location", *end, writeCoordinate);
    writer.list("geometry", step.geometryInternal(), pointeeWriter(writeCoordinate));
    writer.list("steps", step.stepsInternal(), pointeeWriter(writeStep));
    writer.text("html_instructions", step.html_instructions());
    writer.text("maneuver", step.maneuver());
    writer.highway("highway", step.highway());
    writer.text("routeContext", step.routeContext());
    if (const auto& details = step.transit_details()) writer.object("transit_details", *details, writeTransitDetails);
    return writer.take();
}

}  // namespace routejson

}  // namespace ambrell
