#include "routemodel/CVRouteInternal.h"

#include <utility>

#include "routemodel/RouteModelCoders.h"

namespace ambrell {

std::shared_ptr<CVRouteInternal> CVRouteInternal::decode(std::string_view json) {
    return decodeValue(routejson::parse(json));
}

std::shared_ptr<CVRouteInternal> CVRouteInternal::decodeValue(const boost::json::value& json) {
    return routejson::readDocument(json, routejson::readRoute);
}

boost::json::value CVRouteInternal::encode() const { return routejson::writeDocument(*this, routejson::writeRoute); }

std::vector<std::shared_ptr<CVRouteLeg>> CVRouteInternal::legs() const { return {legs_.begin(), legs_.end()}; }

namespace routejson {

std::shared_ptr<CVRouteInternal> readRoute(const ObjectReader& reader) {
    auto route = std::make_shared<CVRouteInternal>();
    if (auto legs = reader.objects("legs", readLeg)) route->setLegs(std::move(*legs));
    if (auto restrictions = reader.texts("restrictions")) route->setRestrictions(std::move(*restrictions));
    route->setOrderedStopIndexes(reader.integers("orderedStopIndexes"));
    route->setDistance(reader.numberOrValueObject("distance"));
    route->setDuration(reader.numberOrValueObject("duration"));
    route->setBounds(reader.object("bounds", readBounds));
    route->setOverview_polyline(reader.object("overview_polyline", readPolyline));
    route->setSummary(reader.text("summary"));
    return route;
}

boost::json::value writeRoute(const CVRouteInternal& route, const Path& path) {
    ObjectWriter writer(path);
    if (route.hasLegs()) writer.list("legs", route.legsInternal(), pointeeWriter(writeLeg));
    if (route.hasRestrictions()) writer.texts("restrictions", route.restrictions());
    writer.integers("orderedStopIndexes", route.orderedStopIndexes());
    writer.number("distance", route.distance());
    writer.number("duration", route.duration());
    if (const auto& bounds = route.bounds()) writer.object("bounds", *bounds, writeBounds);
    if (const auto& polyline = route.overview_polyline()) writer.object("overview_polyline", *polyline, writePolyline);
    writer.text("summary", route.summary());
    return writer.take();
}

}  // namespace routejson

}  // namespace ambrell
