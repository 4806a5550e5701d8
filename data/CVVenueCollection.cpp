#include "data/CVVenueCollection.h"

#include <cmath>
#include <limits>
#include <optional>
#include <string_view>

#include "Source/AXCommon/AXGeodesy.h"
#include "data/CVModelText.h"
#include "foundation/CVGeometryHelper.h"
#include "jsonmodel/JSONModel/JSONModelDeclaration.h"
#include "jsonmodel/JSONModel/JSONParsing.h"

namespace ambrell {

namespace {

bool outlineHolds(const std::shared_ptr<const CVPolygonGeometry>& outline, CLLocationCoordinate2D coordinate) {
    return outline && CVGeometryHelper::boundsContainsCoordinate(outline->coordinates(), coordinate);
}

// A floor index read as the floor number a point's z names: truncated toward
// zero; none for a number no floor of a point can have.
std::optional<int> floorLevel(const std::optional<double>& floorIndex) {
    if (!floorIndex || !std::isfinite(*floorIndex)) return std::nullopt;
    const double truncated = std::trunc(*floorIndex);
    if (truncated < std::numeric_limits<int>::min() || truncated > std::numeric_limits<int>::max()) {
        return std::nullopt;
    }
    return static_cast<int>(truncated);
}

}  // namespace

bool CVVenueCollection::initWithData(std::span<const std::uint8_t> data, JSONModelErrorOut error) {
    auto parsed = parseJSON(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
    if (parsed && parsed->is_object()) return initWithDictionary(*parsed, error);
    if (parsed && parsed->is_array()) {
        boost::json::object wrapped;
        wrapped["venues"] = std::move(*parsed);
        return initWithDictionary(wrapped, error);
    }
    return false;
}

bool CVVenueCollection::initWithString(std::string_view text, JSONModelErrorOut error) {
    return initWithData(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), error);
}

bool CVVenueCollection::initWithDictionary(const boost::json::value& dictionary, JSONModelErrorOut error) {
    const auto* object = dictionary.if_object();
    const auto* listValue = object != nullptr ? object->if_contains("venues") : nullptr;
    const auto* list = listValue != nullptr ? listValue->if_array() : nullptr;
    if (list == nullptr) return JSONModel::initWithDictionary(dictionary, error);
    // The list is read venue by venue, so that one bad venue costs only itself.
    auto rest = CVObjectWithoutKey(*object, "venues");
    rest["venues"] = boost::json::array();
    if (!JSONModel::initWithDictionary(rest, error)) return false;
    venues = CVVenueInternal::venuesFromList(*list);
    return true;
}

std::shared_ptr<CVBuildingInternal> CVVenueCollection::getBuilding(std::string_view buildingId) const {
    for (const auto& venue : venues) {
        if (!venue) continue;
        for (const auto& building : venue->buildings) {
            if (building && building->buildingId == buildingId) return building;
        }
    }
    return nullptr;
}

std::shared_ptr<CVVenueInternal> CVVenueCollection::getNearestVenue(const CVPoint& point, std::int32_t radius) const {
    const auto limit = static_cast<double>(radius);
    std::shared_ptr<CVVenueInternal> nearest;
    double nearestDistance = std::numeric_limits<double>::infinity();
    for (const auto& venue : venues) {
        const auto box = venue ? venue->boundingBox() : std::nullopt;
        if (!box) continue;
        const double latitude = (box->southWest().latitude + box->northEast().latitude) / 2;
        const double longitude = (box->southWest().longitude + box->northEast().longitude) / 2;
        const double distance = axgeo::haversineMeters({latitude, longitude}, {point.latitude(), point.longitude()});
        // Strictly nearer only: on a tie the earlier venue stays.
        if (distance <= limit && distance < nearestDistance) {
            nearest = venue;
            nearestDistance = distance;
        }
    }
    return nearest;
}

CVVenuePointData CVVenueCollection::dataFromPoint(const CVVenueCollection& venues,
                                                  const CVBuildingCollection& buildings, const CVPoint& point) {
    CVVenuePointData found;
    const auto coordinate = point.coordinate();
    const int level = point.zIndex();
    for (const auto& venue : venues.venues) {
        if (venue && outlineHolds(venue->geometry(), coordinate)) {
            found.venue = venue;
            break;
        }
    }
    for (const auto& building : buildings.buildings) {
        if (!building) continue;
        if (outlineHolds(building->geometry(), coordinate)) {
            found.building = building;
            found.floor = nullptr;
            for (const auto& [key, floor] : building->floors) {
                if (floor && floorLevel(floor->floorIndex) == level) {
                    found.floor = floor;
                    break;
                }
            }
            break;
        }
        // Outside the outline, a floor shape at the point's level still
        // places the point; a later building may take it over.
        for (const auto& [key, floor] : building->floors) {
            if (!floor || floorLevel(floor->floorIndex) != level) continue;
            const auto shape = floor->cv_effectiveGeometry();
            if (shape && shape->containsPoint(coordinate)) {
                found.building = building;
                found.floor = floor;
                break;
            }
        }
    }
    return found;
}

}  // namespace ambrell

AMBRELL_JSON_MODEL_DEFINE(ambrell::CVVenueCollection)
