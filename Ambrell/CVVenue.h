#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Ambrell/CVEntityInfo.h"
#include "Ambrell/CVGeometry.h"
#include "Ambrell/CVLocation.h"
#include "Ambrell/CVMapStyle.h"
#include "Ambrell/CVPoint.h"
#include "Ambrell/CVSolutionConfig.h"

// The public protocols of a solution and of its venues, buildings and floors.
// As with locations, stored values are read through get-accessors, because
// the library's models keep them in members of the same names; computed
// values and operations keep their plain names.

namespace ambrell {

// One floor of a building.
class CVFloor {
public:
    CVFloor() = default;
    CVFloor(const CVFloor&) = default;
    CVFloor& operator=(const CVFloor&) = default;
    virtual ~CVFloor() = default;

    [[nodiscard]] virtual const std::string& getFloorId() const = 0;
    [[nodiscard]] virtual const std::string& getName() const = 0;
    [[nodiscard]] virtual std::optional<double> getFloorIndex() const = 0;
    [[nodiscard]] virtual const std::optional<std::string>& getBuildingId() const = 0;
    [[nodiscard]] virtual const std::vector<std::string>& getAliases() const = 0;
};

// One building of a venue with its floors, keyed by floor index as text.
class CVBuilding {
public:
    CVBuilding() = default;
    CVBuilding(const CVBuilding&) = default;
    CVBuilding& operator=(const CVBuilding&) = default;
    virtual ~CVBuilding() = default;

    [[nodiscard]] virtual const std::string& getBuildingId() const = 0;
    [[nodiscard]] virtual const std::string& getName() const = 0;
    [[nodiscard]] virtual const std::optional<std::string>& getAdministrativeId() const = 0;
    [[nodiscard]] virtual const std::optional<std::string>& getExternalId() const = 0;
    [[nodiscard]] virtual const std::optional<std::string>& getAddress() const = 0;
    [[nodiscard]] virtual const std::optional<std::string>& getVenueId() const = 0;
    [[nodiscard]] virtual std::shared_ptr<const CVEntityInfo> getBuildingInfo() const = 0;
    [[nodiscard]] virtual std::map<std::string, std::shared_ptr<CVFloor>> getFloors() const = 0;
    [[nodiscard]] virtual std::optional<double> getDefaultFloor() const = 0;
    [[nodiscard]] virtual std::optional<double> getCurrentFloor() const = 0;
    [[nodiscard]] virtual const std::optional<CVPoint>& getAnchor() const = 0;
    // The outline; null when the document has no polygon.
    [[nodiscard]] virtual std::shared_ptr<const CVPolygonGeometry> geometry() const = 0;
    // The box around the outline; none without one.
    [[nodiscard]] virtual std::optional<CVGeoBounds> boundingBox() const = 0;
    // The building as a location, so it can be searched and selected.
    [[nodiscard]] virtual std::shared_ptr<CVLocation> asLocationObject() const = 0;
};

// A venue: a site of one or more buildings with its map styles.
class CVVenue {
public:
    CVVenue() = default;
    CVVenue(const CVVenue&) = default;
    CVVenue& operator=(const CVVenue&) = default;
    virtual ~CVVenue() = default;

    [[nodiscard]] virtual const std::string& getVenueId() const = 0;
    [[nodiscard]] virtual const std::string& getName() const = 0;
    [[nodiscard]] virtual const std::optional<std::string>& getAdministrativeId() const = 0;
    [[nodiscard]] virtual const std::optional<std::string>& getSolutionId() const = 0;
    [[nodiscard]] virtual std::shared_ptr<const CVEntityInfo> getVenueInfo() const = 0;
    [[nodiscard]] virtual std::optional<double> getDefaultFloor() const = 0;
    [[nodiscard]] virtual const std::optional<std::string>& getTilesUrl() const = 0;
    [[nodiscard]] virtual const std::optional<CVPoint>& getAnchor() const = 0;
    [[nodiscard]] virtual const std::vector<std::shared_ptr<const CVPoint>>& getEntryPoints() const = 0;
    [[nodiscard]] virtual const std::optional<std::string>& getGraphId() const = 0;
    [[nodiscard]] virtual const std::optional<std::string>& getExternalId() const = 0;
    [[nodiscard]] virtual std::vector<std::shared_ptr<CVMapStyle>> getStyles() const = 0;
    // The style the host asked for, if any.
    [[nodiscard]] virtual std::shared_ptr<CVMapStyle> getMapStyleOverride() const = 0;
    virtual void setMapStyleOverride(const std::shared_ptr<const CVMapStyle>& style) = 0;
    // The overriding style when the venue has it, else the first style.
    [[nodiscard]] virtual std::shared_ptr<CVMapStyle> defaultStyle() const = 0;
    [[nodiscard]] virtual std::shared_ptr<const CVPolygonGeometry> geometry() const = 0;
    // From the document's bounding box; none when it has no four numbers.
    [[nodiscard]] virtual std::optional<CVGeoBounds> boundingBox() const = 0;
    // Whether the venue has a route network.
    [[nodiscard]] virtual bool hasGraph() const = 0;
    // The venue as a location, so it can be searched and selected.
    [[nodiscard]] virtual std::shared_ptr<CVLocation> getLocation() const = 0;
};

// The loaded solution: its languages, modules, map settings and location types.
class CVSolution {
public:
    CVSolution() = default;
    CVSolution(const CVSolution&) = default;
    CVSolution& operator=(const CVSolution&) = default;
    virtual ~CVSolution() = default;

    [[nodiscard]] virtual const std::string& getSolutionId() const = 0;
    [[nodiscard]] virtual const std::string& getName() const = 0;
    [[nodiscard]] virtual const std::string& getDefaultLanguage() const = 0;
    [[nodiscard]] virtual const std::vector<std::string>& getAvailableLanguages() const = 0;
    [[nodiscard]] virtual const std::vector<std::string>& getModules() const = 0;
    [[nodiscard]] virtual const std::optional<std::string>& getMapClientUrl() const = 0;
    // True when the map shows no logo.
    [[nodiscard]] virtual bool getWhiteLabel() const = 0;
    [[nodiscard]] virtual const std::optional<CVSolutionConfig>& getConfig() const = 0;
    [[nodiscard]] virtual std::vector<std::shared_ptr<CVType>> getTypes() const = 0;
    // The id of the solution's data set.
    [[nodiscard]] virtual const std::string& dataSetId() const = 0;
};

}  // namespace ambrell
