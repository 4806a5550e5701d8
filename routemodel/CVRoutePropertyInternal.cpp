#include "routemodel/CVRoutePropertyInternal.h"

#include "routemodel/RouteModelCoders.h"

namespace ambrell {

CVRoutePropertyInternal CVRoutePropertyInternal::decodeValue(const boost::json::value& json) {
    return routejson::readDocument(json, routejson::readProperty);
}

boost::json::value CVRoutePropertyInternal::encode() const {
    return routejson::writeDocument(*this, routejson::writeProperty);
}

namespace routejson {

CVRoutePropertyInternal readProperty(const ObjectReader& reader) {
    return {.text = reader.text("text"), .value = reader.truncatedInteger("value")};
}

boost::json::value writeProperty(const CVRoutePropertyInternal& property, const Path& path) {
    ObjectWriter writer(path);
    writer.text("text", property.text);
    writer.integer("value", property.value);
    return writer.take();
}

}  // namespace routejson

}  // namespace ambrell
