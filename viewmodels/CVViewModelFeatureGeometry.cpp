#include "viewmodels/CVViewModelFeatureGeometry.h"

#include <cmath>
#include <utility>

#include "viewmodels/CVModelError.h"
#include "viewmodels/GeoJsonTextWriter.h"

namespace ambrell {

namespace feature_geometry {
namespace {

using Type = GeoJsonGeometryType;

// Whether a coordinates form, by the variant's index, allows the type; the
// last form allows none.
bool allows(std::size_t form, Type type) {
    switch (form) {
        case 0:
        case 1: return type == Type::Point;
        case 2:
        case 3: return type == Type::MultiPoint || type == Type::LineString;
        case 4:
        case 5: return type == Type::MultiLineString || type == Type::Polygon;
        case 6:
        case 7:
        case 8: return type == Type::MultiPolygon;
        default: return false;
    }
}

bool isKnownForm(std::size_t form) { return form <= 8; }

struct CoordinatesWriter {
    GeoJsonTextWriter& writer;

    bool number(double value) const {
        if (!std::isfinite(value)) return false;
        writer.number(value);
        return true;
    }
    bool position(double longitude, double latitude) const {
        writer.beginArray();
        const bool finite = number(longitude) && number(latitude);
        if (finite) writer.endArray();
        return finite;
    }

    bool operator()(const CVPoint& point) const { return position(point.longitude(), point.latitude()); }
    bool operator()(const CLLocationCoordinate2D& coordinate) const {
        return position(coordinate.longitude, coordinate.latitude);
    }
    bool operator()(double value) const { return number(value); }
    bool operator()(const CVPolygonGeometry& polygon) const { return (*this)(polygon.coordinates()); }
    bool operator()(const CVMultiPolygonGeometry& multiPolygon) const { return (*this)(multiPolygon.polygons()); }
    bool operator()(const boost::json::value&) const { return false; }

    template <typename Element>
    bool operator()(const std::vector<Element>& elements) const {
        writer.beginArray();
        for (const auto& element : elements) {
            if (!(*this)(element)) return false;
        }
        writer.endArray();
        return true;
    }
};

}  // namespace
}  // namespace feature_geometry

CVViewModelFeatureGeometry::CVViewModelFeatureGeometry(GeoJsonGeometryType type, CVFeatureCoordinates coordinates)
    : type_(type), coordinates_(std::move(coordinates)) {
    const auto form = coordinates_.index();
    if (!feature_geometry::isKnownForm(form)) throw CVModelError(CVModelErrorCase::IllegalStateException);
    if (!feature_geometry::allows(form, type_)) throw CVModelError(CVModelErrorCase::IllegalGeoJsonGeometryType);
}

bool CVViewModelFeatureGeometry::encode(GeoJsonTextWriter& writer) const {
    writer.beginObject();
    writer.name("type");
    writer.string(rawValue(type_));
    writer.name("coordinates");
    if (!std::visit(feature_geometry::CoordinatesWriter{writer}, coordinates_)) return false;
    writer.endObject();
    return true;
}

}  // namespace ambrell
