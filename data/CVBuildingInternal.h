#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Ambrell/CVEntityInfo.h"
#include "Ambrell/CVVenue.h"
#include "data/CVFloorInternal.h"
#include "data/CVGeoDataProperties.h"
#include "data/CVLocationFieldInternal.h"
#include "data/CVLocationInternal.h"
#include "data/CVPointJSON.h"
#include "jsonmodel/JSONModel/JSONModel.h"

namespace ambrell {

// One building of the "buildings" sync document:
//
//     {"id": "b-1", "administrativeId": "B1", "venueId": "v-1", "address": "1 Dock Road",
//      "buildingInfo": {"name": "North House", "fields": {...}},
//      "anchor": {"type": "Point", "coordinates": [lng, lat]},
//      "geometry": {"type": "Polygon", "coordinates": [...]},
//      "floors": {"0": floor, "1": floor}, "defaultFloor": 0}
//
// Every key is optional. Only a "Polygon" outline is kept. A floor that does
// not read is skipped with an error line naming it (bounded as
// CVRefusalLines says), and the building keeps its other floors. A floor
// without its own "zIndex" takes the number of its key. The bounding box and
// the pseudo-locations are made once, on first read, and then kept.
class CVBuildingInternal : public JSONModelOf<CVBuildingInternal>, public CVBuilding, public CVGeoDataProperties {
public:
    using Floors = std::map<std::string, std::shared_ptr<CVFloorInternal>>;

    std::shared_ptr<CVEntityInfo> buildingInfo;
    // Read and written by its custom setter and getter only.
    static constexpr std::string_view kJSONCustomMembers[] = {"buildingInfo"};
    std::string buildingId;
    std::string name;
    CVLocationFieldMap properties;
    std::optional<std::string> administrativeId;
    std::optional<std::string> externalId;
    std::optional<std::string> address;
    std::optional<std::string> venueId;
    Floors floors;
    std::optional<double> defaultFloor;
    std::optional<double> currentFloor;
    std::optional<CVPoint> anchor;

    static void declareJSON(JSONModelDeclaration<CVBuildingInternal>& d);
    bool initWithDictionary(const boost::json::value& dictionary, JSONModelErrorOut error = nullptr) override;

    // A backslash followed by "n" stands for a line break.
    void setNameWithNSString(std::string_view text);
    // Information that does not read leaves `buildingInfo` unset.
    void setBuildingInfoWithNSDictionary(const boost::json::object& info);
    [[nodiscard]] boost::json::value JSONObjectForBuildingInfo() const;

    // The building's location first ("BUILDING", readable id "ax_b_<administrative id>"),
    // then one per floor ("FLOOR", readable id "<administrative id>-<floor index>"),
    // each registered in the readable-id index. Made on the first call; later
    // calls answer the same locations.
    [[nodiscard]] std::vector<std::shared_ptr<CVLocationInternal>> getLocationsForBuildingAndFloors() const;

    [[nodiscard]] const std::string& getBuildingId() const override { return buildingId; }
    [[nodiscard]] const std::string& getName() const override { return name; }
    [[nodiscard]] const std::optional<std::string>& getAdministrativeId() const override { return administrativeId; }
    [[nodiscard]] const std::optional<std::string>& getExternalId() const override { return externalId; }
    [[nodiscard]] const std::optional<std::string>& getAddress() const override { return address; }
    [[nodiscard]] const std::optional<std::string>& getVenueId() const override { return venueId; }
    [[nodiscard]] std::shared_ptr<const CVEntityInfo> getBuildingInfo() const override { return buildingInfo; }
    [[nodiscard]] std::map<std::string, std::shared_ptr<CVFloor>> getFloors() const override {
        return {floors.begin(), floors.end()};
    }
    [[nodiscard]] std::optional<double> getDefaultFloor() const override { return defaultFloor; }
    [[nodiscard]] std::optional<double> getCurrentFloor() const override { return currentFloor; }
    [[nodiscard]] const std::optional<CVPoint>& getAnchor() const override { return anchor; }
    [[nodiscard]] std::shared_ptr<const CVPolygonGeometry> geometry() const override { return cv_polygon(); }
    [[nodiscard]] std::optional<CVGeoBounds> boundingBox() const override;
    [[nodiscard]] std::shared_ptr<CVLocation> asLocationObject() const override;

private:
    // Copyable, so the model stays a value: a copy works out its own.
    struct Derived {
        Derived() = default;
        Derived(const Derived&) {}
        Derived& operator=(const Derived&) { return *this; }
        std::mutex mutex;
        bool boundsDone = false;
        std::optional<CVGeoBounds> bounds;
        std::optional<std::vector<std::shared_ptr<CVLocationInternal>>> cvLocationObjects;
    };
    mutable Derived derived_;
};
BOOST_DESCRIBE_STRUCT(CVBuildingInternal, (JSONModel),
                      (buildingInfo, buildingId, name, properties, administrativeId, externalId, address, venueId,
                       floors, defaultFloor, currentFloor, anchor))

}  // namespace ambrell
