#include "data/CVDerivedGeometry.h"

#include "jsonmodel/JSONModel/JSONModelDeclaration.h"

namespace ambrell {

void CVDerivedGeometry::declareJSON(JSONModelDeclaration<CVDerivedGeometry>& d) {
    d.optional({"geodataId", "geodataType", "type", "geometry"})
        .setter("geometry", &CVDerivedGeometry::setGeometryWithNSDictionary);
}

void CVDerivedGeometry::setGeometryWithNSDictionary(const boost::json::object& dictionary) {
    geometry = dictionary;
    const auto* kind = dictionary.if_contains("type");
    if (kind == nullptr || !kind->is_string()) return;
    const boost::json::value value(dictionary);
    if (kind->get_string() == "Polygon") {
        cvGeometry = CVPolygonGeometry::initWithDictionary(value);
    } else if (kind->get_string() == "MultiPolygon") {
        cvGeometry = CVMultiPolygonGeometry::initWithDictionary(value);
    }
}

CVDerivedGeometryCollection::CVDerivedGeometryCollection(
    const std::vector<std::shared_ptr<CVDerivedGeometry>>& derivedGeometries) {
    for (const auto& derived : derivedGeometries) {
        // Without a location id there is nothing to file it under.
        if (!derived || !derived->type || !derived->geodataId) continue;
        ById* target = nullptr;
        if (*derived->type == "floorplan") {
            target = &floor_;
        } else if (*derived->type == "wall") {
            target = &walls_;
        } else if (*derived->type == "extrusion") {
            target = &extrusions_;
        }
        if (target != nullptr) target->insert_or_assign(*derived->geodataId, derived);
    }
}

std::vector<std::shared_ptr<CVDerivedGeometry>> CVDerivedGeometryCollection::getDerivedGeometriesForLocationId(
    const std::string& locationId) const {
    std::vector<std::shared_ptr<CVDerivedGeometry>> found;
    for (const ById* kind : {&floor_, &walls_, &extrusions_}) {
        if (auto entry = kind->find(locationId); entry != kind->end()) found.push_back(entry->second);
    }
    return found;
}

}  // namespace ambrell

AMBRELL_JSON_MODEL_DEFINE(ambrell::CVDerivedGeometry)
