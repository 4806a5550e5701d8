#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <boost/json/object.hpp>

#include "Ambrell/CVGeometry.h"
#include "jsonmodel/JSONModel/JSONModel.h"

namespace ambrell {

// Geometry derived from a location, one entry of the "derivedGeometry" sync
// document: {"geodataId": "r-101", "geodataType": "room", "type": "wall",
// "geometry": {"type": "MultiPolygon", ...}}. Every key is optional; a
// "Polygon" or "MultiPolygon" geometry is built into `cvGeometry`.
struct CVDerivedGeometry : JSONModelOf<CVDerivedGeometry> {
    std::optional<std::string> geodataId;
    std::optional<std::string> geodataType;
    // "floorplan", "wall" and "extrusion" are the kinds the collection files.
    std::optional<std::string> type;
    std::optional<boost::json::object> geometry;
    std::shared_ptr<const CVGeometry> cvGeometry;
    static constexpr std::string_view kJSONIgnoredMembers[] = {"cvGeometry"};

    static void declareJSON(JSONModelDeclaration<CVDerivedGeometry>& d);
    // Keeps the object; another geometry type leaves `cvGeometry` as it was.
    void setGeometryWithNSDictionary(const boost::json::object& dictionary);
};
BOOST_DESCRIBE_STRUCT(CVDerivedGeometry, (JSONModel), (geodataId, geodataType, type, geometry, cvGeometry))

// The derived geometries of a load, filed by kind under the id of their location.
class CVDerivedGeometryCollection {
public:
    using ById = std::map<std::string, std::shared_ptr<CVDerivedGeometry>>;

    CVDerivedGeometryCollection() = default;
    // Floor plans, walls and extrusions are filed (a later one with the same
    // location id replaces an earlier one); other kinds, and geometries
    // without a location id, are not.
    explicit CVDerivedGeometryCollection(const std::vector<std::shared_ptr<CVDerivedGeometry>>& derivedGeometries);

    // The location's floor plan, walls and extrusion, in that order, those
    // it has; glass is not included.
    [[nodiscard]] std::vector<std::shared_ptr<CVDerivedGeometry>> getDerivedGeometriesForLocationId(
        const std::string& locationId) const;

    [[nodiscard]] const ById& floor() const { return floor_; }
    [[nodiscard]] const ById& walls() const { return walls_; }
    [[nodiscard]] const ById& extrusions() const { return extrusions_; }
    [[nodiscard]] const ById& glass() const { return glass_; }
    void setFloor(ById floor) { floor_ = std::move(floor); }
    void setWalls(ById walls) { walls_ = std::move(walls); }
    void setExtrusions(ById extrusions) { extrusions_ = std::move(extrusions); }
    void setGlass(ById glass) { glass_ = std::move(glass); }

private:
    ById floor_;
    ById walls_;
    ById extrusions_;
    ById glass_;
};

}  // namespace ambrell
