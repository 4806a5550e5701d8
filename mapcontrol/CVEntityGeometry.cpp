#include "mapcontrol/CVEntityGeometry.h"

#include <vector>

#include "data/CVFloorInternal.h"

namespace ambrell {

namespace entity_geometry {
namespace {

std::optional<CVPoint> anchorOrCentre(const std::optional<CVPoint>& anchor, const std::optional<CVGeoBounds>& bounds) {
    if (anchor) return *anchor;
    if (!bounds) return std::nullopt;
    const auto centre = bounds->center();
    return CVPoint(centre.latitude, centre.longitude);
}

void appendOuterRing(const CVPolygonGeometry& polygon, std::vector<CLLocationCoordinate2D>& points) {
    if (polygon.coordinates().empty()) return;
    const auto& ring = polygon.coordinates().front();
    points.insert(points.end(), ring.begin(), ring.end());
}

}  // namespace
}  // namespace entity_geometry

std::optional<CVGeoBounds> entityBounds(const CVVenue& venue) { return venue.boundingBox(); }

std::optional<CVPoint> entityPosition(const CVVenue& venue) {
    return entity_geometry::anchorOrCentre(venue.getAnchor(), entityBounds(venue));
}

bool entityIsPoint(const CVVenue& /*venue*/) { return false; }

std::optional<CVGeoBounds> entityBounds(const CVBuilding& building) { return building.boundingBox(); }

std::optional<CVPoint> entityPosition(const CVBuilding& building) {
    return entity_geometry::anchorOrCentre(building.getAnchor(), entityBounds(building));
}

bool entityIsPoint(const CVBuilding& /*building*/) { return false; }

std::optional<CVGeoBounds> entityBounds(const CVFloorInternal& floor) {
    std::vector<CLLocationCoordinate2D> points;
    const auto outline = floor.cv_effectiveGeometry();
    if (const auto* polygon = dynamic_cast<const CVPolygonGeometry*>(outline.get())) {
        entity_geometry::appendOuterRing(*polygon, points);
    } else if (const auto* multiPolygon = dynamic_cast<const CVMultiPolygonGeometry*>(outline.get())) {
        for (const auto& part : multiPolygon->polygons()) entity_geometry::appendOuterRing(part, points);
    }
    if (points.empty()) return std::nullopt;
    return CVGeoBounds(points);
}

std::optional<CVPoint> entityPosition(const CVFloorInternal& floor) {
    return entity_geometry::anchorOrCentre(std::nullopt, entityBounds(floor));
}

bool entityIsPoint(const CVFloorInternal& /*floor*/) { return false; }

CVGeoBounds entityBounds(const CVLocation& location) { return location.coordinateBounds(); }

CVPoint entityPosition(const CVLocation& location) { return location.getPosition(); }

bool entityIsPoint(const CVLocation& location) {
    const auto bounds = entityBounds(location);
    const double height = bounds.northEast().latitude - bounds.southWest().latitude;
    const double width = bounds.northEast().longitude - bounds.southWest().longitude;
    return height * width == 0;
}

}  // namespace ambrell
