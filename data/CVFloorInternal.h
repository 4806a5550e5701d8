#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Ambrell/CVVenue.h"
#include "data/CVGeoDataProperties.h"
#include "jsonmodel/JSONModel/JSONModel.h"

namespace ambrell {

// One floor of a building document's "floors":
//
//     {"id": "f-b1-0", "name": "Ground floor", "zIndex": 0, "buildingId": "b-1",
//      "aliases": ["G"], "geometry": {"type": "MultiPolygon", "coordinates": [...]}}
//
// "id" and "name" are required, and so is a geometry object: a floor without
// one is refused with the "[E] Failed to construct CVFloor from dict" log line.
struct CVFloorInternal : JSONModelOf<CVFloorInternal>, CVFloor, CVGeoDataProperties {
    std::string floorId;
    std::string name;
    std::optional<double> floorIndex;
    std::optional<std::string> buildingId;
    std::optional<std::string> style;
    std::vector<std::string> aliases;

    static void declareJSON(JSONModelDeclaration<CVFloorInternal>& d);
    // The outline is read first (a "Polygon" or a "MultiPolygon"), then the
    // fields. A caller that asks for the error (as a building reading its
    // floors does) gets the fields' verdict alone; otherwise a floor whose
    // outline does not read is refused too.
    bool initWithDictionary(const boost::json::value& dictionary, JSONModelErrorOut error = nullptr) override;

    [[nodiscard]] const std::string& getFloorId() const override { return floorId; }
    [[nodiscard]] const std::string& getName() const override { return name; }
    [[nodiscard]] std::optional<double> getFloorIndex() const override { return floorIndex; }
    [[nodiscard]] const std::optional<std::string>& getBuildingId() const override { return buildingId; }
    [[nodiscard]] const std::vector<std::string>& getAliases() const override { return aliases; }
};
BOOST_DESCRIBE_STRUCT(CVFloorInternal, (JSONModel), (floorId, name, floorIndex, buildingId, style, aliases))

}  // namespace ambrell
