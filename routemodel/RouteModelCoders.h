#pragma once

#include <memory>

#include <boost/json/value.hpp>

#include "routemodel/CVRouteBoundsInternal.h"
#include "routemodel/CVRouteCoordinateInternal.h"
#include "routemodel/CVRouteInternal.h"
#include "routemodel/CVRouteLegInternal.h"
#include "routemodel/CVRoutePropertyInternal.h"
#include "routemodel/CVRouteResultInternal.h"
#include "routemodel/CVRouteStepInternal.h"
#include "routemodel/CVTransitDetailsInternal.h"
#include "routemodel/RouteJSONCoding.h"

// Readers and writers of each route record, so that the records can read and
// write the records they hold. Included by the coding sources only.

namespace ambrell::routejson {

[[nodiscard]] std::shared_ptr<CVRouteCoordinateInternal> readCoordinate(const ObjectReader& reader);
[[nodiscard]] boost::json::value writeCoordinate(const CVRouteCoordinateInternal& coordinate, const Path& path);

[[nodiscard]] CVRoutePropertyInternal readProperty(const ObjectReader& reader);
[[nodiscard]] boost::json::value writeProperty(const CVRoutePropertyInternal& property, const Path& path);

[[nodiscard]] CVRouteBoundsInternal readBounds(const ObjectReader& reader);
[[nodiscard]] boost::json::value writeBounds(const CVRouteBoundsInternal& bounds, const Path& path);
[[nodiscard]] CVRoutePolylineInternal readPolyline(const ObjectReader& reader);
[[nodiscard]] boost::json::value writePolyline(const CVRoutePolylineInternal& polyline, const Path& path);

[[nodiscard]] CVTransitDetailsInternal readTransitDetails(const ObjectReader& reader);
[[nodiscard]] boost::json::value writeTransitDetails(const CVTransitDetailsInternal& details, const Path& path);

[[nodiscard]] std::shared_ptr<CVRouteStepInternal> readStep(const ObjectReader& reader);
[[nodiscard]] boost::json::value writeStep(const CVRouteStepInternal& step, const Path& path);

[[nodiscard]] std::shared_ptr<CVRouteLegInternal> readLeg(const ObjectReader& reader);
[[nodiscard]] boost::json::value writeLeg(const CVRouteLegInternal& leg, const Path& path);

[[nodiscard]] std::shared_ptr<CVRouteInternal> readRoute(const ObjectReader& reader);
[[nodiscard]] boost::json::value writeRoute(const CVRouteInternal& route, const Path& path);

// Runs `read` on the document's top-level object.
template <typename Read>
auto readDocument(const boost::json::value& json, Read read) {
    const Path top;
    return read(ObjectReader(json, top));
}

template <typename T, typename Write>
boost::json::value writeDocument(const T& item, Write write) {
    const Path top;
    return write(item, top);
}

// Writers for list elements held by pointer: a missing element fails.
template <typename T>
auto pointeeWriter(boost::json::value (*write)(const T&, const Path&)) {
    return [write](const std::shared_ptr<T>& item, const Path& path) { return write(pointee(item, path), path); };
}

}  // namespace ambrell::routejson
