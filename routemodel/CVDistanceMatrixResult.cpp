#include "routemodel/CVDistanceMatrixResult.h"

#include "routemodel/RouteModelCoders.h"

namespace ambrell {

namespace {

using routejson::ObjectReader;
using routejson::ObjectWriter;
using routejson::Path;

CVDistanceMatrixElements readElements(const ObjectReader& reader) {
    return {
        .distance = reader.object("distance", routejson::readProperty),
        .duration = reader.object("duration", routejson::readProperty),
        .status = reader.text("status"),
    };
}

boost::json::value writeElements(const CVDistanceMatrixElements& elements, const Path& path) {
    ObjectWriter writer(path);
    if (elements.distance) writer.object("distance", *elements.distance, routejson::writeProperty);
    if (elements.duration) writer.object("duration", *elements.duration, routejson::writeProperty);
    writer.text("status", elements.status);
    return writer.take();
}

CVDistanceMatrixRows readRows(const ObjectReader& reader) {
    return {.elements = reader.objects("elements", readElements)};
}

boost::json::value writeRows(const CVDistanceMatrixRows& rows, const Path& path) {
    ObjectWriter writer(path);
    writer.list("elements", rows.elements, writeElements);
    return writer.take();
}

CVDistanceMatrixResult readMatrixResult(const ObjectReader& reader) {
    return {
        .destination_addresses = reader.texts("destination_addresses"),
        .origin_addresses = reader.texts("origin_addresses"),
        .rows = reader.objects("rows", readRows),
        .status = reader.text("status"),
        .venue = reader.text("venue"),
        .bestOrigin = reader.text("bestOrigin"),
        .bestDestination = reader.text("bestDestination"),
    };
}

boost::json::value writeMatrixResult(const CVDistanceMatrixResult& result, const Path& path) {
    ObjectWriter writer(path);
    writer.texts("destination_addresses", result.destination_addresses);
    writer.texts("origin_addresses", result.origin_addresses);
    writer.list("rows", result.rows, writeRows);
    writer.text("status", result.status);
    writer.text("venue", result.venue);
    writer.text("bestOrigin", result.bestOrigin);
    writer.text("bestDestination", result.bestDestination);
    return writer.take();
}

}  // namespace

CVDistanceMatrixResult CVDistanceMatrixResult::decode(std::string_view json) {
    return decodeValue(routejson::parse(json));
}

CVDistanceMatrixResult CVDistanceMatrixResult::decodeValue(const boost::json::value& json) {
    return routejson::readDocument(json, readMatrixResult);
}

boost::json::value CVDistanceMatrixResult::encode() const { return routejson::writeDocument(*this, writeMatrixResult); }

}  // namespace ambrell
