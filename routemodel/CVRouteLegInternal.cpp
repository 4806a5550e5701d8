#include "routemodel/CVRouteLegInternal.h"

#include <utility>

#include "routemodel/RouteModelCoders.h"

namespace ambrell {

// Reaches the stored leg type, which the public reader fills in with the
// venue type when the JSON had none.
struct LegCoding {
    static void setRouteLegType(CVRouteLegInternal& leg, std::optional<CVRouteLegType> type) {
        leg.routeLegType_ = type;
    }
    static std::optional<CVRouteLegType> routeLegType(const CVRouteLegInternal& leg) { return leg.routeLegType_; }
};

namespace {

template <typename Enumeration>
std::optional<Enumeration> asEnumeration(std::optional<int> rawValue) {
    if (!rawValue) return std::nullopt;
    return static_cast<Enumeration>(*rawValue);
}

template <typename Enumeration>
std::optional<std::int64_t> rawValueOf(std::optional<Enumeration> value) {
    if (!value) return std::nullopt;
    return static_cast<std::int64_t>(*value);
}

}  // namespace

std::shared_ptr<CVRouteLegInternal> CVRouteLegInternal::decodeValue(const boost::json::value& json) {
    return routejson::readDocument(json, routejson::readLeg);
}

boost::json::value CVRouteLegInternal::encode() const { return routejson::writeDocument(*this, routejson::writeLeg); }

std::vector<std::shared_ptr<CVRouteStep>> CVRouteLegInternal::steps() const { return {steps_.begin(), steps_.end()}; }

namespace routejson {

std::shared_ptr<CVRouteLegInternal> readLeg(const ObjectReader& reader) {
    auto leg = std::make_shared<CVRouteLegInternal>();
    if (auto steps = reader.objects("steps", readStep)) leg->setSteps(std::move(*steps));
    leg->setDistance(reader.numberOrValueObject("distance"));
    leg->setDuration(reader.numberOrValueObject("duration"));
    leg->setStart_location(reader.object("start_location", readCoordinate).value_or(nullptr));
    leg->setEnd_location(reader.object("end_location", readCoordinate).value_or(nullptr));
    leg->setStart_address(reader.text("start_address"));
    leg->setEnd_address(reader.text("end_address"));
    LegCoding::setRouteLegType(*leg, asEnumeration<CVRouteLegType>(reader.integer("routeLegType")));
    leg->setLegStartReason(asEnumeration<CVRouteLegBreakReason>(reader.integer("legStartReason")));
    leg->setLegEndReason(asEnumeration<CVRouteLegBreakReason>(reader.integer("legEndReason")));
    return leg;
}

boost::json::value writeLeg(const CVRouteLegInternal& leg, const Path& path) {
    ObjectWriter writer(path);
    writer.list("steps", leg.stepsInternal(), pointeeWriter(writeStep));
    writer.number("distance", leg.distance());
    writer.number("duration", leg.duration());
    if (const auto& start = leg.start_locationInternal()) writer.object("start_location", *start, writeCoordinate);
    if (const auto& end = leg.end_locationInternal()) writer.object("end_location", *end, writeCoordinate);
    writer.text("start_address", leg.start_address());
    writer.text("end_address", leg.end_address());
    writer.integer("routeLegType", rawValueOf(LegCoding::routeLegType(leg)));
    writer.integer("legStartReason", rawValueOf(leg.legStartReason()));
    writer.integer("legEndReason", rawValueOf(leg.legEndReason()));
    return writer.take();
}

}  // namespace routejson

}  // namespace ambrell
