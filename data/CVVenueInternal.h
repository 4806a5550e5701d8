#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Ambrell/CVEntityInfo.h"
#include "Ambrell/CVVenue.h"
#include "data/CVBuildingInternal.h"
#include "data/CVGeoDataProperties.h"
#include "data/CVLocationFieldInternal.h"
#include "data/CVLocationInternal.h"
#include "data/CVMapStyleInternal.h"
#include "data/CVPointJSON.h"
#include "jsonmodel/JSONModel/JSONModel.h"

namespace ambrell {

// One venue of the "venues" sync document:
//
//     {"id": "v-1", "name": "CAMPUS", "solutionId": "...", "defaultFloor": 0,
//      "venueInfo": {"name": "Campus", "fields": {...}},
//      "geometry": {"type": "Polygon", "coordinates": [...], "bbox": [w, s, e, n]},
//      "anchor": {...}, "entryPoints": [{...}], "graphId": "CAMPUS_GRAPH",
//      "tilesUrl": "https://…/{style}/{z}/{x}/{y}.png",
//      "styles": [{"folder": "default", "displayName": "Default"}], "styleOverride": {...}}
//
// "id" and "venueInfo" are required. A listed style that does not read is
// skipped with an error line naming it (bounded as CVRefusalLines says), and
// the venue keeps the others.
// "mapStyleOverride" is another name for "styleOverride".
class CVVenueInternal : public JSONModelOf<CVVenueInternal>, public CVVenue, public CVGeoDataProperties {
public:
    // Tells whether a venue has a route network; the venue handler, which
    // knows, installs it. Without one no venue has a graph.
    using GraphDeterminer = std::function<bool(const CVVenueInternal&)>;

    // Held by pointer so that the mapping requires it.
    std::shared_ptr<CVEntityInfo> venueInfo;
    std::string venueId;
    std::string name;
    CVLocationFieldMap properties;
    std::optional<std::string> administrativeId;
    // West, south, east, north.
    std::optional<std::vector<double>> bbox;
    std::optional<std::string> solutionId;
    std::optional<double> defaultFloor;
    std::optional<std::string> tilesUrl;
    std::vector<std::shared_ptr<CVBuildingInternal>> buildings;
    std::optional<CVPoint> anchor;
    // Held by pointer, as lists of points are.
    std::vector<std::shared_ptr<const CVPoint>> entryPoints;
    std::optional<std::string> graphId;
    std::optional<std::string> externalId;
    std::vector<std::shared_ptr<CVMapStyleInternal>> styles;
    std::shared_ptr<CVMapStyleInternal> styleOverride;
    // Read and written by their custom setters and getters only.
    static constexpr std::string_view kJSONCustomMembers[] = {"venueInfo", "entryPoints"};

    static void declareJSON(JSONModelDeclaration<CVVenueInternal>& d);
    bool initWithDictionary(const boost::json::value& dictionary, JSONModelErrorOut error = nullptr) override;

    // The "venues" sync document: the bare list of venues or {"venues": [...]}.
    // The venues of the list that read, in document order; one that does not
    // is skipped with an error line naming its position and id (see
    // CVReadEachElement), so one bad venue never costs the others. None for
    // any other document, also for text that is not JSON.
    static std::optional<std::vector<std::shared_ptr<CVVenueInternal>>> venuesFromDocument(std::string_view text);
    // The venues of a document's list, read as above.
    static std::vector<std::shared_ptr<CVVenueInternal>> venuesFromList(const boost::json::array& list);

    // A backslash followed by "n" stands for a line break.
    void setNameWithNSString(std::string_view text);
    // Information that does not read leaves `venueInfo` unset.
    void setVenueInfoWithNSDictionary(const boost::json::object& info);
    [[nodiscard]] boost::json::value JSONObjectForVenueInfo() const;
    // Each entry that reads as a point, in order; the others are skipped.
    void setEntryPointsWithNSArray(const boost::json::array& points);
    [[nodiscard]] boost::json::value JSONObjectForEntryPoints() const;

    // A new pseudo-location of the venue at every call ("VENUE"), whose
    // readable id "ax_v_<administrative id>" is registered in the readable-id index.
    [[nodiscard]] std::shared_ptr<CVLocationInternal> getLocationObject() const;

    static void setGraphDeterminer(GraphDeterminer determiner);
    // Test-only.
    static void resetForTesting();

    [[nodiscard]] const std::string& getVenueId() const override { return venueId; }
    [[nodiscard]] const std::string& getName() const override { return name; }
    [[nodiscard]] const std::optional<std::string>& getAdministrativeId() const override { return administrativeId; }
    [[nodiscard]] const std::optional<std::string>& getSolutionId() const override { return solutionId; }
    [[nodiscard]] std::shared_ptr<const CVEntityInfo> getVenueInfo() const override { return venueInfo; }
    [[nodiscard]] std::optional<double> getDefaultFloor() const override { return defaultFloor; }
    [[nodiscard]] const std::optional<std::string>& getTilesUrl() const override { return tilesUrl; }
    [[nodiscard]] const std::optional<CVPoint>& getAnchor() const override { return anchor; }
    [[nodiscard]] const std::vector<std::shared_ptr<const CVPoint>>& getEntryPoints() const override {
        return entryPoints;
    }
    [[nodiscard]] const std::optional<std::string>& getGraphId() const override { return graphId; }
    [[nodiscard]] const std::optional<std::string>& getExternalId() const override { return externalId; }
    [[nodiscard]] std::vector<std::shared_ptr<CVMapStyle>> getStyles() const override {
        return {styles.begin(), styles.end()};
    }
    [[nodiscard]] std::shared_ptr<CVMapStyle> getMapStyleOverride() const override { return styleOverride; }
    // Kept as a style of the venue's own: a copy of its folder and name.
    void setMapStyleOverride(const std::shared_ptr<const CVMapStyle>& style) override;
    [[nodiscard]] std::shared_ptr<CVMapStyle> defaultStyle() const override;
    [[nodiscard]] std::shared_ptr<const CVPolygonGeometry> geometry() const override { return cv_polygon(); }
    // South-west (bbox[1], bbox[0]) and north-east (bbox[3], bbox[2]), made
    // anew at each read; none unless bbox holds at least four numbers.
    [[nodiscard]] std::optional<CVGeoBounds> boundingBox() const override;
    [[nodiscard]] bool hasGraph() const override;
    [[nodiscard]] std::shared_ptr<CVLocation> getLocation() const override { return getLocationObject(); }
};
BOOST_DESCRIBE_STRUCT(CVVenueInternal, (JSONModel),
                      (venueInfo, venueId, name, properties, administrativeId, bbox, solutionId, defaultFloor, tilesUrl,
                       buildings, anchor, entryPoints, graphId, externalId, styles, styleOverride))

}  // namespace ambrell
