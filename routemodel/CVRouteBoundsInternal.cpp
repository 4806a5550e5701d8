#include "routemodel/CVRouteBoundsInternal.h"

#include "routemodel/RouteModelCoders.h"

namespace ambrell {

CVRouteBoundsInternal CVRouteBoundsInternal::decodeValue(const boost::json::value& json) {
    return routejson::readDocument(json, routejson::readBounds);
}

boost::json::value CVRouteBoundsInternal::encode() const {
    return routejson::writeDocument(*this, routejson::writeBounds);
}

CVRoutePolylineInternal CVRoutePolylineInternal::decodeValue(const boost::json::value& json) {
    return routejson::readDocument(json, routejson::readPolyline);
}

boost::json::value CVRoutePolylineInternal::encode() const {
    return routejson::writeDocument(*this, routejson::writePolyline);
}

namespace routejson {

CVRouteBoundsInternal readBounds(const ObjectReader& reader) {
    return {
        .northeast = reader.object("northeast", readCoordinate).value_or(nullptr),
        .southwest = reader.object("southwest", readCoordinate).value_or(nullptr),
    };
}

boost::json::value writeBounds(const CVRouteBoundsInternal& bounds, const Path& path) {
    ObjectWriter writer(path);
    if (bounds.northeast) writer.object("northeast", *bounds.northeast, writeCoordinate);
    if (bounds.southwest) writer.object("southwest", *bounds.southwest, writeCoordinate);
    return writer.take();
}

CVRoutePolylineInternal readPolyline(const ObjectReader& reader) { return {.points = reader.text("points")}; }

boost::json::value writePolyline(const CVRoutePolylineInternal& polyline, const Path& path) {
    ObjectWriter writer(path);
    writer.text("points", polyline.points);
    return writer.take();
}

}  // namespace routejson

}  // namespace ambrell
