#pragma once

#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include <boost/json/fwd.hpp>

#include "platform/Coordinate.h"
#include "platform/Error.h"

namespace ambrell {

// Errors of the GeoJSON initialisers below.
inline constexpr std::string_view CVGeometryErrorDomain = "com.corvay.Ambrell.CVGeometry";

// A latitude/longitude rectangle. Longitudes are plain numbers: a box that
// straddles longitude 0 works, one that crosses the antimeridian does not.
class CVGeoBounds {
public:
    // Both corners at latitude 0, longitude 0.
    CVGeoBounds() = default;
    // Taken as given, not reordered.
    CVGeoBounds(CLLocationCoordinate2D southWest, CLLocationCoordinate2D northEast)
        : southWest_(southWest), northEast_(northEast) {}
    // The smallest box holding every coordinate; no coordinates give the
    // zero box of the default constructor.
    explicit CVGeoBounds(std::span<const CLLocationCoordinate2D> coordinates);

    [[nodiscard]] CLLocationCoordinate2D southWest() const { return southWest_; }
    [[nodiscard]] CLLocationCoordinate2D northEast() const { return northEast_; }
    [[nodiscard]] CLLocationCoordinate2D center() const;

    // Edges count as inside.
    [[nodiscard]] bool containsCoordinate(CLLocationCoordinate2D coordinate) const;
    // Touching edges count as intersecting.
    [[nodiscard]] bool intersectsWithOther(const CVGeoBounds& other) const;
    // A box grown to hold the coordinate as well.
    [[nodiscard]] CVGeoBounds includingCoordinate(CLLocationCoordinate2D coordinate) const;

    friend bool operator==(const CVGeoBounds&, const CVGeoBounds&) = default;

private:
    CLLocationCoordinate2D southWest_;
    CLLocationCoordinate2D northEast_;
};

// What a containment test found beside its answer: `distance` is the
// distance in metres from the point to the nearest edge of the shape when the
// point lies outside it, and 0 when it lies inside. A fresh one reads 0.
struct CVGeometryContainmentMetadata {
    double distance = 0;
};

// The shape a location, floor, building or venue covers. Immutable once made,
// so it may be shared between threads.
class CVGeometry {
public:
    CVGeometry() = default;
    CVGeometry(const CVGeometry&) = default;
    CVGeometry& operator=(const CVGeometry&) = default;
    virtual ~CVGeometry() = default;

    // "Polygon" or "MultiPolygon", as GeoJSON names it.
    [[nodiscard]] virtual std::string_view geometryType() const = 0;
    // [west longitude, south latitude, east longitude, north latitude];
    // empty when the shape has no coordinates.
    [[nodiscard]] virtual const std::vector<double>& boundingBox() const = 0;
    // Square metres on a spherical earth; holes subtract.
    [[nodiscard]] virtual double area() const = 0;
    // Even-odd rule over every ring; a point on an edge may fall either way.
    [[nodiscard]] virtual bool containsPoint(CLLocationCoordinate2D coordinate) const = 0;
};

// One GeoJSON polygon: an outer ring followed by its holes. Rings keep the
// coordinates as given (a closing point that repeats the first is kept).
class CVPolygonGeometry final : public CVGeometry {
public:
    using Ring = std::vector<CLLocationCoordinate2D>;

    explicit CVPolygonGeometry(std::vector<Ring> rings);

    // From a GeoJSON object {"type": "Polygon", "coordinates": [[[lng, lat], ...], ...]}.
    // Null with the error when the type is another, the coordinates are not
    // rings of number pairs, or no ring has a point.
    [[nodiscard]] static std::shared_ptr<CVPolygonGeometry> initWithDictionary(const boost::json::value& dictionary,
                                                                               platform::NSError* error = nullptr);

    [[nodiscard]] const std::vector<Ring>& coordinates() const { return rings_; }

    [[nodiscard]] std::string_view geometryType() const override { return "Polygon"; }
    [[nodiscard]] const std::vector<double>& boundingBox() const override { return boundingBox_; }
    [[nodiscard]] double area() const override;
    [[nodiscard]] bool containsPoint(CLLocationCoordinate2D coordinate) const override;
    // containsPoint, or with `ignorePolygonHoles` the outer ring alone; when
    // given, `metadata` gets the distance to the nearest edge of the rings
    // tested (a point in a hole is that far from the hole's edge). A
    // non-finite point is outside and leaves the metadata as it was.
    [[nodiscard]] bool containsCoordinate(CLLocationCoordinate2D coordinate, bool ignorePolygonHoles,
                                          CVGeometryContainmentMetadata* metadata = nullptr) const;

private:
    std::vector<Ring> rings_;
    std::vector<double> boundingBox_;
};

// Several polygons taken as one shape (a floor in separate parts).
class CVMultiPolygonGeometry final : public CVGeometry {
public:
    explicit CVMultiPolygonGeometry(std::vector<CVPolygonGeometry> polygons);

    // From a GeoJSON object {"type": "MultiPolygon", "coordinates": [polygon, ...]}.
    // Null with the error under the polygon's rules, or when there is no polygon.
    [[nodiscard]] static std::shared_ptr<CVMultiPolygonGeometry> initWithDictionary(
        const boost::json::value& dictionary, platform::NSError* error = nullptr);

    [[nodiscard]] const std::vector<CVPolygonGeometry>& polygons() const { return polygons_; }

    [[nodiscard]] std::string_view geometryType() const override { return "MultiPolygon"; }
    [[nodiscard]] const std::vector<double>& boundingBox() const override { return boundingBox_; }
    [[nodiscard]] double area() const override;
    [[nodiscard]] bool containsPoint(CLLocationCoordinate2D coordinate) const override;
    // Inside any of the polygons, under the polygon's rules; the distance is
    // to the nearest of them.
    [[nodiscard]] bool containsCoordinate(CLLocationCoordinate2D coordinate, bool ignorePolygonHoles,
                                          CVGeometryContainmentMetadata* metadata = nullptr) const;

private:
    std::vector<CVPolygonGeometry> polygons_;
    std::vector<double> boundingBox_;
};

}  // namespace ambrell
