#include "routemodel/CVTransitDetailsInternal.h"

#include "routemodel/RouteModelCoders.h"

namespace ambrell {

CVTransitDetailsInternal CVTransitDetailsInternal::decodeValue(const boost::json::value& json) {
    return routejson::readDocument(json, routejson::readTransitDetails);
}

boost::json::value CVTransitDetailsInternal::encode() const {
    return routejson::writeDocument(*this, routejson::writeTransitDetails);
}

namespace routejson {

namespace {

CVTransitStopInternal readStop(const ObjectReader& reader) { return {.name = reader.text("name")}; }

boost::json::value writeStop(const CVTransitStopInternal& stop, const Path& path) {
    ObjectWriter writer(path);
    writer.text("name", stop.name);
    return writer.take();
}

CVTransitTimeInternal readTime(const ObjectReader& reader) {
    return {.text = reader.text("text"), .time_zone = reader.text("time_zone"), .value = reader.number("value")};
}

boost::json::value writeTime(const CVTransitTimeInternal& time, const Path& path) {
    ObjectWriter writer(path);
    writer.text("text", time.text);
    writer.text("time_zone", time.time_zone);
    writer.number("value", time.value);
    return writer.take();
}

CVTransitVehicleInternal readVehicle(const ObjectReader& reader) {
    return {.name = reader.text("name"), .type = reader.text("type"), .icon = reader.text("icon")};
}

boost::json::value writeVehicle(const CVTransitVehicleInternal& vehicle, const Path& path) {
    ObjectWriter writer(path);
    writer.text("name", vehicle.name);
    writer.text("type", vehicle.type);
    writer.text("icon", vehicle.icon);
    return writer.take();
}

CVTransitAgencyInternal readAgency(const ObjectReader& reader) {
    return {.name = reader.text("name"), .url = reader.text("url"), .phone = reader.text("phone")};
}

boost::json::value writeAgency(const CVTransitAgencyInternal& agency, const Path& path) {
    ObjectWriter writer(path);
    writer.text("name", agency.name);
    writer.text("url", agency.url);
    writer.text("phone", agency.phone);
    return writer.take();
}

CVTransitLineInternal readLine(const ObjectReader& reader) {
    return {
        .name = reader.text("name"),
        .short_name = reader.text("short_name"),
        .color = reader.text("color"),
        .text_color = reader.text("text_color"),
        .url = reader.text("url"),
        .icon = reader.text("icon"),
        .vehicle = reader.object("vehicle", readVehicle),
        .agencies = reader.objects("agencies", readAgency),
    };
}

boost::json::value writeLine(const CVTransitLineInternal& line, const Path& path) {
    ObjectWriter writer(path);
    writer.text("name", line.name);
    writer.text("short_name", line.short_name);
    writer.text("color", line.color);
    writer.text("text_color", line.text_color);
    writer.text("url", line.url);
    writer.text("icon", line.icon);
    if (line.vehicle) writer.object("vehicle", *line.vehicle, writeVehicle);
    writer.list("agencies", line.agencies, writeAgency);
    return writer.take();
}

}  // namespace

CVTransitDetailsInternal readTransitDetails(const ObjectReader& reader) {
    return {
        .arrival_stop = reader.object("arrival_stop", readStop),
        .departure_stop = reader.object("departure_stop", readStop),
        .arrival_time = reader.object("arrival_time", readTime),
        .departure_time = reader.object("departure_time", readTime),
        .headsign = reader.text("headsign"),
        .num_stops = reader.integer("num_stops"),
        .line = reader.object("line", readLine),
    };
}

boost::json::value writeTransitDetails(const CVTransitDetailsInternal& details, const Path& path) {
    ObjectWriter writer(path);
    if (details.arrival_stop) writer.object("arrival_stop", *details.arrival_stop, writeStop);
    if (details.departure_stop) writer.object("departure_stop", *details.departure_stop, writeStop);
    if (details.arrival_time) writer.object("arrival_time", *details.arrival_time, writeTime);
    if (details.departure_time) writer.object("departure_time", *details.departure_time, writeTime);
    writer.text("headsign", details.headsign);
    if (details.num_stops) writer.integer("num_stops", *details.num_stops);
    if (details.line) writer.object("line", *details.line, writeLine);
    return writer.take();
}

}  // namespace routejson

}  // namespace ambrell
