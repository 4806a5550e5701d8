#include "tests/jsonmodel/JSONModel/TestModels.h"

#include <cmath>

#include "jsonmodel/JSONModel/JSONModelDeclaration.h"

namespace ambrell::test {

void Venue::declareJSON(JSONModelDeclaration<Venue>& d) {
    d.keyMapper(JSONKeyMapper::initWithModelToJSONDictionary(
         {{"venueId", "id"}, {"name", "venueInfo.name"}, {"properties", "venueInfo.fields"}, {"bbox", "geometry.bbox"}}))
        .optional({"properties", "bbox", "neighbours", "anchor", "entryPoints"})
        .ignore({"hits"})
        .setter("name", &Venue::setNameWithNSString);
}

void Venue::setNameWithNSString(std::string_view text) {
    // The service writes line breaks as a backslash and an "n".
    name = text;
    for (auto at = name.find("\\n"); at != std::string::npos; at = name.find("\\n", at + 1)) name.replace(at, 2, "\n");
}

void Everything::declareJSON(JSONModelDeclaration<Everything>& d) {
    d.optional({"flag", "tiny", "byte", "shortNumber", "unsignedShort", "number", "unsignedNumber", "longNumber",
                "unsignedLong", "ratio", "precise", "text", "words", "tags", "counts", "raw", "settings"});
}

void Location::declareJSON(JSONModelDeclaration<Location>& d) {
    d.keyMapper(JSONKeyMapper::initWithModelToJSONDictionary({{"locationId", "id"}, {"name", "properties.name"}}))
        .index("locationId");
}

void Room::declareJSON(JSONModelDeclaration<Room>& d) { d.optional({"name"}); }

bool Point::validate(JSONModelErrorOut error) {
    if (std::abs(lat) > 90) setJSONModelError(error, JSONModelError::errorModelIsInvalid());
    return std::abs(lat) <= 90;
}

void Building::declareJSON(JSONModelDeclaration<Building>& d) { d.optional({"rooms", "floors"}); }

void Badge::declareJSON(JSONModelDeclaration<Badge>& d) { d.getter("label", &Badge::JSONObjectForLabel); }

boost::json::value Badge::JSONObjectForLabel() const { return boost::json::value("label:" + label); }

void Profile::declareJSON(JSONModelDeclaration<Profile>& d) {
    d.keyMapper(JSONKeyMapper::initWithModelToJSONDictionary({{"userId", "uid"}}));
}

}  // namespace ambrell::test

AMBRELL_JSON_MODEL_DEFINE(ambrell::test::Field)
AMBRELL_JSON_MODEL_DEFINE(ambrell::test::Point)
AMBRELL_JSON_MODEL_DEFINE(ambrell::test::Venue)
AMBRELL_JSON_MODEL_DEFINE(ambrell::test::Everything)
AMBRELL_JSON_MODEL_DEFINE(ambrell::test::Location)
AMBRELL_JSON_MODEL_DEFINE(ambrell::test::Room)
AMBRELL_JSON_MODEL_DEFINE(ambrell::test::Building)
AMBRELL_JSON_MODEL_DEFINE(ambrell::test::Badge)
AMBRELL_JSON_MODEL_DEFINE(ambrell::test::Profile)
