#include "routemodel/CVRouteResultInternal.h"

#include <utility>

#include "routemodel/RouteModelCoders.h"

namespace ambrell {

namespace {

std::shared_ptr<CVRouteResultInternal> readRouteResult(const routejson::ObjectReader& reader) {
    auto result = std::make_shared<CVRouteResultInternal>();
    auto routes = reader.objects("routes", routejson::readRoute);
    if (routes) result->setRoutes(std::move(*routes));
    result->setStatus(reader.text("status"));
    return result;
}

boost::json::value writeRouteResult(const CVRouteResultInternal& result, const routejson::Path& path) {
    routejson::ObjectWriter writer(path);
    if (result.hasRoutes()) writer.list("routes", result.routes(), routejson::pointeeWriter(routejson::writeRoute));
    writer.text("status", result.status());
    return writer.take();
}

}  // namespace

std::shared_ptr<CVRouteResultInternal> CVRouteResultInternal::decode(std::string_view json) {
    return decodeValue(routejson::parse(json));
}

std::shared_ptr<CVRouteResultInternal> CVRouteResultInternal::decodeValue(const boost::json::value& json) {
    return routejson::readDocument(json, readRouteResult);
}

boost::json::value CVRouteResultInternal::encode() const { return routejson::writeDocument(*this, writeRouteResult); }

}  // namespace ambrell
