#include "data/CVFloorInternal.h"

#include <boost/json/serialize.hpp>

#include "Ambrell/CVLog.h"
#include "jsonmodel/JSONModel/JSONModelDeclaration.h"

namespace ambrell {

namespace {

constexpr std::string_view kFloorInitOperation = "-[CVFloorInternal initWithDictionary:error:]";

void logRefusedFloor(const boost::json::value& dictionary) {
    CVLog::core().error("{} [E] Failed to construct CVFloor from dict: {}", kFloorInitOperation,
                        boost::json::serialize(dictionary));
}

}  // namespace

void CVFloorInternal::declareJSON(JSONModelDeclaration<CVFloorInternal>& d) {
    d.keyMapper(JSONKeyMapper::initWithModelToJSONDictionary({{"floorId", "id"}, {"floorIndex", "zIndex"}}))
        .optional({"aliases", "buildingId", "floorIndex", "style"});
}

bool CVFloorInternal::initWithDictionary(const boost::json::value& dictionary, JSONModelErrorOut error) {
    const auto* input = dictionary.if_object();
    const boost::json::value* geometry = input == nullptr ? nullptr : input->if_contains("geometry");
    if (geometry == nullptr || !geometry->is_object()) {
        cv_updateGeoDataStatusFromDict(dictionary);
        logRefusedFloor(dictionary);
        return false;
    }

    bool geometryFailed = false;
    const auto* type = geometry->get_object().if_contains("type");
    if (type != nullptr && type->is_string() && type->get_string() == "MultiPolygon") {
        platform::NSError geometryError;
        auto multiPolygon = CVMultiPolygonGeometry::initWithDictionary(*geometry, &geometryError);
        geometryFailed = multiPolygon == nullptr;
        cv_setMultiPolygon(std::move(multiPolygon));
    } else if (type != nullptr && type->is_string() && type->get_string() == "Polygon") {
        platform::NSError geometryError;
        auto polygon = CVPolygonGeometry::initWithDictionary(*geometry, &geometryError);
        geometryFailed = polygon == nullptr;
        cv_setPolygon(std::move(polygon));
    }

    const bool imported = JSONModel::initWithDictionary(dictionary, error);
    // The status is taken on both roads: a floor read inside a building keeps
    // its own status too.
    cv_updateGeoDataStatusFromDict(dictionary);
    if (error != nullptr) return imported;
    if (!imported || geometryFailed || cv_effectiveGeometry() == nullptr) {
        logRefusedFloor(dictionary);
        return false;
    }
    return true;
}

}  // namespace ambrell

AMBRELL_JSON_MODEL_DEFINE(ambrell::CVFloorInternal)
