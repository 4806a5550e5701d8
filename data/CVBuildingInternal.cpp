#include "data/CVBuildingInternal.h"

#include "Ambrell/CVLog.h"
#include "data/CVLocationSourceIndex.h"
#include "data/CVModelText.h"
#include "foundation/CVTextCase.h"
#include "jsonmodel/JSONModel/JSONModelDeclaration.h"

namespace ambrell {

namespace {

constexpr std::string_view kBuildingInitOperation = "-[CVBuildingInternal initWithDictionary:error:]";

// The readable ids of a building's pseudo-locations: the building's first,
// then its floors'. Registered at every read, because a reset of the index
// empties it while the building, kept in memory, answers its locations again.
void registerReadableIds(CVLocationSourceIndex& index, const std::optional<std::string>& administrativeId,
                         const std::vector<std::shared_ptr<CVLocationInternal>>& locations) {
    if (locations.empty()) return;
    // A building without an administrative id has no readable id to be found by.
    if (administrativeId) {
        index.setParentId(locations.front()->locationId, "ax_b_" + lowercasedText(*administrativeId));
    }
    for (auto floor = std::next(locations.begin()); floor != locations.end(); ++floor) {
        if (const auto readableId = (*floor)->readableLocationIdForBuildingFloor()) {
            index.setParentId((*floor)->locationId, *readableId);
        }
    }
}

}  // namespace

void CVBuildingInternal::declareJSON(JSONModelDeclaration<CVBuildingInternal>& d) {
    d.keyMapper(JSONKeyMapper::initWithModelToJSONDictionary(
                    {{"buildingId", "id"}, {"name", "buildingInfo.name"}, {"properties", "buildingInfo.fields"}}))
        .optional({"buildingInfo", "buildingId", "name", "properties", "administrativeId", "externalId", "address",
                   "venueId", "floors", "defaultFloor", "currentFloor", "anchor"})
        .setter("name", &CVBuildingInternal::setNameWithNSString)
        .setter("buildingInfo", &CVBuildingInternal::setBuildingInfoWithNSDictionary)
        .getter("buildingInfo", &CVBuildingInternal::JSONObjectForBuildingInfo);
}

bool CVBuildingInternal::initWithDictionary(const boost::json::value& dictionary, JSONModelErrorOut error) {
    const auto* input = dictionary.if_object();
    const auto* floorsValue = input != nullptr ? input->if_contains("floors") : nullptr;
    const auto* floorList = floorsValue != nullptr ? floorsValue->if_object() : nullptr;
    if (floorList == nullptr) {
        if (!JSONModel::initWithDictionary(dictionary, error) || input == nullptr) return false;
    } else {
        // One malformed floor must not cost its building, nor the building its document.
        if (!JSONModel::initWithDictionary(CVObjectWithoutKey(*input, "floors"), error)) return false;
        Floors kept;
        CVRefusalLines lines(kBuildingInitOperation, "floor");
        for (const auto& entry : *floorList) {
            auto floor = std::make_shared<CVFloorInternal>();
            std::optional<JSONModelError> floorError;
            if (floor->initWithDictionary(entry.value(), &floorError)) {
                kept.insert_or_assign(std::string(entry.key()), std::move(floor));
            } else if (lines.count()) {
                CVLog::core().error("{} [E] Skipped floor {} (id {}) of building {}: {}", kBuildingInitOperation,
                                    CVShortTextForLog(boost::json::value(entry.key())),
                                    CVElementIdOrNoneForLog(entry.value()), CVElementIdOrNoneForLog(dictionary),
                                    CVRefusalForLog(floorError, "no geometry object"));
            }
        }
        lines.finish();
        floors = std::move(kept);
    }
    const auto* geometry = input->if_contains("geometry");
    if (geometry != nullptr && geometry->is_object()) {
        const auto* type = geometry->get_object().if_contains("type");
        if (type != nullptr && type->is_string() && type->get_string() == "Polygon") {
            cv_setPolygon(CVPolygonGeometry::initWithDictionary(*geometry));
        }
    }
    cv_updateGeoDataStatusFromDict(dictionary);
    for (auto& [key, floor] : floors) {
        if (floor && !floor->floorIndex) floor->floorIndex = static_cast<double>(CVIntegerValueOfText(key));
    }
    return true;
}

void CVBuildingInternal::setNameWithNSString(std::string_view text) { name = CVNameWithLineBreaks(text); }

void CVBuildingInternal::setBuildingInfoWithNSDictionary(const boost::json::object& info) {
    auto read = CVEntityInfo::initWithDictionary(info);
    buildingInfo = read ? std::make_shared<CVEntityInfo>(std::move(*read)) : nullptr;
}

boost::json::value CVBuildingInternal::JSONObjectForBuildingInfo() const {
    if (!buildingInfo) return nullptr;
    return buildingInfo->JSONObject();
}

std::optional<CVGeoBounds> CVBuildingInternal::boundingBox() const {
    std::lock_guard lock(derived_.mutex);
    if (!derived_.boundsDone) {
        derived_.boundsDone = true;
        if (const auto polygon = geometry()) {
            std::optional<CVGeoBounds> bounds;
            for (const auto& ring : polygon->coordinates()) {
                for (const auto& point : ring) {
                    bounds = bounds ? bounds->includingCoordinate(point) : CVGeoBounds(point, point);
                }
            }
            derived_.bounds = bounds;
        }
    }
    return derived_.bounds;
}

std::vector<std::shared_ptr<CVLocationInternal>> CVBuildingInternal::getLocationsForBuildingAndFloors() const {
    std::lock_guard lock(derived_.mutex);
    if (derived_.cvLocationObjects) {
        registerReadableIds(*CVLocationSourceIndex::current(), administrativeId, *derived_.cvLocationObjects);
        return *derived_.cvLocationObjects;
    }

    const std::string buildingKey = lowercasedText(administrativeId.value_or(""));
    std::vector<std::shared_ptr<CVLocationInternal>> locations;

    auto building = std::make_shared<CVLocationInternal>();
    if (anchor) building->setPosition(*anchor);
    building->name = name;
    building->type = "BUILDING";
    building->locationBaseTypeString = "BUILDING";
    building->locationId = buildingId;
    if (administrativeId) building->aliases = {buildingKey};
    building->externalId = externalId.value_or("");
    building->building.clear();
    building->fields = properties;
    if (address && !address->empty()) {
        building->fields["address"] = std::make_shared<CVLocationFieldInternal>("text", "address", *address);
    }
    building->setFloorIndex(0);
    building->categories = {"BUILDING"};
    if (const auto polygon = geometry()) building->cv_setPolygon(std::make_shared<CVPolygonGeometry>(*polygon));
    building->cv_setGeoDataStatus(cv_geoDataStatus());
    locations.push_back(std::move(building));

    for (const auto& [key, floor] : floors) {
        if (!floor) continue;
        auto location = std::make_shared<CVLocationInternal>();
        location->name = floor->name;
        if (anchor) location->setPosition(*anchor);
        location->type = "FLOOR";
        location->locationBaseTypeString = "FLOOR";
        location->building = buildingKey;
        location->setFloorIndex(floor->floorIndex);
        location->locationId = floor->floorId;
        location->aliases = floor->aliases;
        location->externalId.clear();
        location->categories = {"FLOOR"};
        location->cv_setMultiPolygon(floor->cv_multiPolygon());
        // A floor drawn as one polygon keeps its outline as well.
        location->cv_setPolygon(floor->cv_polygon());
        location->cv_setGeoDataStatus(floor->cv_geoDataStatus());
        locations.push_back(std::move(location));
    }

    registerReadableIds(*CVLocationSourceIndex::current(), administrativeId, locations);
    derived_.cvLocationObjects = locations;
    return locations;
}

std::shared_ptr<CVLocation> CVBuildingInternal::asLocationObject() const {
    return getLocationsForBuildingAndFloors().front();
}

}  // namespace ambrell

AMBRELL_JSON_MODEL_DEFINE(ambrell::CVBuildingInternal)
