#pragma once

#include <variant>
#include <vector>

#include <boost/json/value.hpp>

#include "Ambrell/CVGeometry.h"
#include "Ambrell/CVPoint.h"
#include "viewmodels/GeoJsonGeometryType.h"

namespace ambrell {

class GeoJsonTextWriter;

// The forms that feature coordinates come in. Arrays of numbers are GeoJSON
// positions as they are written, [longitude, latitude]; points and polygons
// are written as positions in that order too. The last alternative stands for
// any other value a caller may hold (a JSON array nested too deep, a text):
// it fits no geometry type.
using CVFeatureCoordinates =
    std::variant<CVPoint, std::vector<double>, std::vector<std::vector<double>>, std::vector<CVPoint>,
                 std::vector<std::vector<CVPoint>>, CVPolygonGeometry, std::vector<std::vector<std::vector<CVPoint>>>,
                 std::vector<CVPolygonGeometry>, CVMultiPolygonGeometry, boost::json::value>;

// A feature's GeoJSON geometry: its type and coordinates, checked against
// each other when it is made and fixed from then on.
class CVViewModelFeatureGeometry {
public:
    // Throws CVModelError: IllegalGeoJsonGeometryType when the coordinates'
    // form does not allow the type, IllegalStateException when they have no
    // known form. The coordinates are kept as given.
    CVViewModelFeatureGeometry(GeoJsonGeometryType type, CVFeatureCoordinates coordinates);

    [[nodiscard]] GeoJsonGeometryType type() const { return type_; }
    [[nodiscard]] const CVFeatureCoordinates& coordinates() const { return coordinates_; }

    // Writes {"type": ..., "coordinates": ...}. Returns false, having written
    // part of it, when a coordinate is not a finite number.
    [[nodiscard]] bool encode(GeoJsonTextWriter& writer) const;

private:
    GeoJsonGeometryType type_;
    CVFeatureCoordinates coordinates_;
};

}  // namespace ambrell
