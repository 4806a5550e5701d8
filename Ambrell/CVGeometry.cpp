#include "Ambrell/CVGeometry.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <string>
#include <utility>

#include <boost/json/value.hpp>

#include "Ambrell/ErrorObjects.h"

namespace ambrell {

namespace {

constexpr double kEarthRadius = 6378137.0;

bool failGeometry(platform::NSError* error, std::string text) {
    if (error != nullptr) *error = errorWithDescription(std::string(CVGeometryErrorDomain), 1, std::move(text));
    return false;
}

// [west, south, east, north] of every coordinate, or empty.
std::vector<double> boxOf(const std::vector<CVPolygonGeometry::Ring>& rings) {
    bool first = true;
    double west = 0, south = 0, east = 0, north = 0;
    for (const auto& ring : rings) {
        for (const auto& c : ring) {
            if (first) {
                west = east = c.longitude;
                south = north = c.latitude;
                first = false;
                continue;
            }
            west = std::min(west, c.longitude);
            east = std::max(east, c.longitude);
            south = std::min(south, c.latitude);
            north = std::max(north, c.latitude);
        }
    }
    if (first) return {};
    return {west, south, east, north};
}

std::vector<double> unionOf(const std::vector<double>& a, const std::vector<double>& b) {
    if (a.size() != 4) return b;
    if (b.size() != 4) return a;
    return {std::min(a[0], b[0]), std::min(a[1], b[1]), std::max(a[2], b[2]), std::max(a[3], b[3])};
}

// Area of one ring on a sphere (the spherical-excess approximation used for
// small polygons); the sign follows the winding, so callers take the magnitude.
double ringArea(const CVPolygonGeometry::Ring& ring) {
    if (ring.size() < 3) return 0;
    constexpr double kToRadians = std::numbers::pi / 180.0;
    double sum = 0;
    for (std::size_t i = 0; i < ring.size(); ++i) {
        const auto& a = ring[i];
        const auto& b = ring[(i + 1) % ring.size()];
        sum += (b.longitude - a.longitude) * kToRadians *
               (2 + std::sin(a.latitude * kToRadians) + std::sin(b.latitude * kToRadians));
    }
    return std::abs(sum * kEarthRadius * kEarthRadius / 2.0);
}

bool ringContains(const CVPolygonGeometry::Ring& ring, CLLocationCoordinate2D p) {
    bool inside = false;
    const std::size_t n = ring.size();
    for (std::size_t i = 0, j = n - 1; i < n; j = i++) {
        const auto& a = ring[i];
        const auto& b = ring[j];
        if ((a.latitude > p.latitude) != (b.latitude > p.latitude)) {
            const double crossing =
                a.longitude + (p.latitude - a.latitude) * (b.longitude - a.longitude) / (b.latitude - a.latitude);
            if (p.longitude < crossing) inside = !inside;
        }
    }
    return inside;
}

// Metres from p to the nearest edge of the ring, on a plane tangent at p
// (exact enough over the extent of a building).
double metresToRing(const CVPolygonGeometry::Ring& ring, CLLocationCoordinate2D p) {
    constexpr double kToRadians = std::numbers::pi / 180.0;
    const double metresPerDegreeLatitude = kEarthRadius * kToRadians;
    const double metresPerDegreeLongitude = metresPerDegreeLatitude * std::cos(p.latitude * kToRadians);
    const auto plane = [&](CLLocationCoordinate2D c) {
        return std::pair{(c.longitude - p.longitude) * metresPerDegreeLongitude,
                         (c.latitude - p.latitude) * metresPerDegreeLatitude};
    };
    double nearest = std::numeric_limits<double>::infinity();
    const std::size_t n = ring.size();
    for (std::size_t i = 0; i < n; ++i) {
        const auto [ax, ay] = plane(ring[i]);
        const auto [bx, by] = plane(ring[(i + 1) % n]);
        const double dx = bx - ax;
        const double dy = by - ay;
        const double lengthSquared = dx * dx + dy * dy;
        const double t = lengthSquared > 0 ? std::clamp(-(ax * dx + ay * dy) / lengthSquared, 0.0, 1.0) : 0.0;
        nearest = std::min(nearest, std::hypot(ax + t * dx, ay + t * dy));
    }
    return nearest;
}

bool readRings(const boost::json::value& coordinates, std::vector<CVPolygonGeometry::Ring>& rings,
               platform::NSError* error) {
    const auto* ringArray = coordinates.if_array();
    if (ringArray == nullptr) return failGeometry(error, "Polygon coordinates are not an array of rings");
    bool anyPoint = false;
    for (const auto& ringValue : *ringArray) {
        const auto* points = ringValue.if_array();
        if (points == nullptr) return failGeometry(error, "A polygon ring is not an array of positions");
        CVPolygonGeometry::Ring ring;
        ring.reserve(points->size());
        for (const auto& pointValue : *points) {
            const auto* pair = pointValue.if_array();
            if (pair == nullptr || pair->size() < 2 || !(*pair)[0].is_number() || !(*pair)[1].is_number()) {
                return failGeometry(error, "A polygon position is not [longitude, latitude]");
            }
            const double lng = (*pair)[0].to_number<double>();
            const double lat = (*pair)[1].to_number<double>();
            if (!std::isfinite(lng) || !std::isfinite(lat))
                return failGeometry(error, "A polygon position is not finite");
            ring.push_back({lat, lng});
        }
        anyPoint = anyPoint || !ring.empty();
        rings.push_back(std::move(ring));
    }
    if (!anyPoint) return failGeometry(error, "A polygon has no positions");
    return true;
}

bool checkType(const boost::json::value& dictionary, std::string_view type, platform::NSError* error) {
    const auto* object = dictionary.if_object();
    if (object == nullptr) return failGeometry(error, "A geometry is not a JSON object");
    const auto* typeValue = object->if_contains("type");
    if (typeValue == nullptr || !typeValue->is_string() || typeValue->get_string() != type) {
        return failGeometry(error, "A geometry is not of type " + std::string(type));
    }
    if (object->if_contains("coordinates") == nullptr) return failGeometry(error, "A geometry has no coordinates");
    return true;
}

}  // namespace

CVGeoBounds::CVGeoBounds(std::span<const CLLocationCoordinate2D> coordinates) {
    if (coordinates.empty()) return;
    southWest_ = northEast_ = coordinates.front();
    for (const auto& c : coordinates.subspan(1)) *this = includingCoordinate(c);
}

CLLocationCoordinate2D CVGeoBounds::center() const {
    return {(southWest_.latitude + northEast_.latitude) / 2, (southWest_.longitude + northEast_.longitude) / 2};
}

bool CVGeoBounds::containsCoordinate(CLLocationCoordinate2D c) const {
    return c.latitude >= southWest_.latitude && c.latitude <= northEast_.latitude &&
           c.longitude >= southWest_.longitude && c.longitude <= northEast_.longitude;
}

bool CVGeoBounds::intersectsWithOther(const CVGeoBounds& other) const {
    return southWest_.latitude <= other.northEast_.latitude && other.southWest_.latitude <= northEast_.latitude &&
           southWest_.longitude <= other.northEast_.longitude && other.southWest_.longitude <= northEast_.longitude;
}

CVGeoBounds CVGeoBounds::includingCoordinate(CLLocationCoordinate2D c) const {
    return {{std::min(southWest_.latitude, c.latitude), std::min(southWest_.longitude, c.longitude)},
            {std::max(northEast_.latitude, c.latitude), std::max(northEast_.longitude, c.longitude)}};
}

CVPolygonGeometry::CVPolygonGeometry(std::vector<Ring> rings) : rings_(std::move(rings)), boundingBox_(boxOf(rings_)) {}

std::shared_ptr<CVPolygonGeometry> CVPolygonGeometry::initWithDictionary(const boost::json::value& dictionary,
                                                                         platform::NSError* error) {
    if (!checkType(dictionary, "Polygon", error)) return nullptr;
    std::vector<Ring> rings;
    if (!readRings(dictionary.get_object().at("coordinates"), rings, error)) return nullptr;
    return std::make_shared<CVPolygonGeometry>(std::move(rings));
}

double CVPolygonGeometry::area() const {
    if (rings_.empty()) return 0;
    double area = ringArea(rings_.front());
    for (std::size_t i = 1; i < rings_.size(); ++i) area -= ringArea(rings_[i]);
    return std::max(area, 0.0);
}

bool CVPolygonGeometry::containsPoint(CLLocationCoordinate2D coordinate) const {
    if (!std::isfinite(coordinate.latitude) || !std::isfinite(coordinate.longitude)) return false;
    bool inside = false;
    for (const auto& ring : rings_) {
        if (!ring.empty() && ringContains(ring, coordinate)) inside = !inside;
    }
    return inside;
}

bool CVPolygonGeometry::containsCoordinate(CLLocationCoordinate2D coordinate, bool ignorePolygonHoles,
                                           CVGeometryContainmentMetadata* metadata) const {
    if (!std::isfinite(coordinate.latitude) || !std::isfinite(coordinate.longitude)) return false;
    const std::size_t tested = ignorePolygonHoles ? std::min<std::size_t>(rings_.size(), 1) : rings_.size();
    bool inside = false;
    double nearest = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < tested; ++i) {
        if (rings_[i].empty()) continue;
        if (ringContains(rings_[i], coordinate)) inside = !inside;
        if (metadata != nullptr) nearest = std::min(nearest, metresToRing(rings_[i], coordinate));
    }
    if (metadata != nullptr) metadata->distance = inside ? 0 : nearest;
    return inside;
}

CVMultiPolygonGeometry::CVMultiPolygonGeometry(std::vector<CVPolygonGeometry> polygons)
    : polygons_(std::move(polygons)) {
    for (const auto& polygon : polygons_) boundingBox_ = unionOf(boundingBox_, polygon.boundingBox());
}

std::shared_ptr<CVMultiPolygonGeometry> CVMultiPolygonGeometry::initWithDictionary(const boost::json::value& dictionary,
                                                                                   platform::NSError* error) {
    if (!checkType(dictionary, "MultiPolygon", error)) return nullptr;
    const auto* polygonArray = dictionary.get_object().at("coordinates").if_array();
    if (polygonArray == nullptr) {
        failGeometry(error, "MultiPolygon coordinates are not an array of polygons");
        return nullptr;
    }
    if (polygonArray->empty()) {
        failGeometry(error, "A multipolygon has no polygons");
        return nullptr;
    }
    std::vector<CVPolygonGeometry> polygons;
    polygons.reserve(polygonArray->size());
    for (const auto& polygonValue : *polygonArray) {
        std::vector<CVPolygonGeometry::Ring> rings;
        if (!readRings(polygonValue, rings, error)) return nullptr;
        polygons.emplace_back(std::move(rings));
    }
    return std::make_shared<CVMultiPolygonGeometry>(std::move(polygons));
}

double CVMultiPolygonGeometry::area() const {
    double area = 0;
    for (const auto& polygon : polygons_) area += polygon.area();
    return area;
}

bool CVMultiPolygonGeometry::containsPoint(CLLocationCoordinate2D coordinate) const {
    return std::any_of(polygons_.begin(), polygons_.end(),
                       [&](const CVPolygonGeometry& polygon) { return polygon.containsPoint(coordinate); });
}

bool CVMultiPolygonGeometry::containsCoordinate(CLLocationCoordinate2D coordinate, bool ignorePolygonHoles,
                                                CVGeometryContainmentMetadata* metadata) const {
    if (!std::isfinite(coordinate.latitude) || !std::isfinite(coordinate.longitude)) return false;
    double nearest = std::numeric_limits<double>::infinity();
    for (const auto& polygon : polygons_) {
        CVGeometryContainmentMetadata found;
        if (polygon.containsCoordinate(coordinate, ignorePolygonHoles, &found)) {
            if (metadata != nullptr) metadata->distance = 0;
            return true;
        }
        nearest = std::min(nearest, found.distance);
    }
    if (metadata != nullptr) metadata->distance = nearest;
    return false;
}

}  // namespace ambrell
