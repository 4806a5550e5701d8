#include "routemodel/CVRouteCoordinateInternal.h"

#include "routemodel/RouteModelCoders.h"

namespace ambrell {

std::shared_ptr<CVRouteCoordinateInternal> CVRouteCoordinateInternal::decodeValue(const boost::json::value& json) {
    return routejson::readDocument(json, routejson::readCoordinate);
}

boost::json::value CVRouteCoordinateInternal::encode() const {
    return routejson::writeDocument(*this, routejson::writeCoordinate);
}

namespace routejson {

std::shared_ptr<CVRouteCoordinateInternal> readCoordinate(const ObjectReader& reader) {
    auto coordinate = std::make_shared<CVRouteCoordinateInternal>();
    coordinate->setLat(reader.number("lat"));
    coordinate->setLng(reader.number("lng"));
    coordinate->setZLevel(reader.number("zLevel"));
    coordinate->setLabel(reader.text("label"));
    coordinate->setFloor_name(reader.text("floor_name"));
    return coordinate;
}

boost::json::value writeCoordinate(const CVRouteCoordinateInternal& coordinate, const Path& path) {
    ObjectWriter writer(path);
    writer.number("lat", coordinate.lat());
    writer.number("lng", coordinate.lng());
    writer.number("zLevel", coordinate.zLevel());
    writer.text("label", coordinate.label());
    writer.text("floor_name", coordinate.floor_name());
    return writer.take();
}

}  // namespace routejson

}  // namespace ambrell
