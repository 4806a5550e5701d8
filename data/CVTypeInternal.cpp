#include "data/CVTypeInternal.h"

#include "jsonmodel/JSONModel/JSONModelDeclaration.h"

namespace ambrell {

void CVTypeInternal::declareJSON(JSONModelDeclaration<CVTypeInternal>& d) {
    d.optional({"fields", "restrictions", "locationSettings"})
        .genericSetter("displayRule", &CVTypeInternal::setDisplayRuleWithJSONObject)
        .genericSetter("locationSettings", &CVTypeInternal::setLocationSettingsWithJSONObject)
        .getter("displayRule", &CVTypeInternal::JSONObjectForDisplayRule)
        .getter("locationSettings", &CVTypeInternal::JSONObjectForLocationSettings);
}

void CVTypeInternal::setDisplayRuleWithJSONObject(const boost::json::value& value) {
    displayRule = CVDisplayRule::initWithDictionary(value);
}

void CVTypeInternal::setLocationSettingsWithJSONObject(const boost::json::value& value) {
    locationSettings = CVLocationSettings::initWithDictionary(value);
}

boost::json::value CVTypeInternal::JSONObjectForDisplayRule() const {
    if (!displayRule) return nullptr;
    return displayRule->JSONObject();
}

boost::json::value CVTypeInternal::JSONObjectForLocationSettings() const {
    if (!locationSettings) return nullptr;
    return locationSettings->JSONObject();
}

}  // namespace ambrell

AMBRELL_JSON_MODEL_DEFINE(ambrell::CVTypeInternal)
