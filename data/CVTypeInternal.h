#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <boost/json/fwd.hpp>

#include "Ambrell/CVDisplayRule.h"
#include "Ambrell/CVLocation.h"
#include "Ambrell/CVLocationSettings.h"
#include "data/CVLocationFieldInternal.h"
#include "jsonmodel/JSONModel/JSONModel.h"

namespace ambrell {

// A location type of the solution: {"name": "MeetingRoom", "translatedName":
// "Meeting room", "displayRule": {...}, "fields": {...}, "restrictions": [...],
// "locationSettings": {...}}. "name", "translatedName" and "displayRule" are
// required; a display rule or settings object that does not read leaves the
// value unset rather than refusing the type.
struct CVTypeInternal : JSONModelOf<CVTypeInternal>, CVType {
    std::string name;
    std::string translatedName;
    std::shared_ptr<CVDisplayRule> displayRule;
    std::optional<CVLocationFieldMap> fields;
    std::optional<std::vector<std::string>> restrictions;
    std::optional<CVLocationSettings> locationSettings;
    // Read and written by the setters and getters below only.
    static constexpr std::string_view kJSONCustomMembers[] = {"displayRule", "locationSettings"};

    static void declareJSON(JSONModelDeclaration<CVTypeInternal>& d);
    void setDisplayRuleWithJSONObject(const boost::json::value& value);
    void setLocationSettingsWithJSONObject(const boost::json::value& value);
    [[nodiscard]] boost::json::value JSONObjectForDisplayRule() const;
    [[nodiscard]] boost::json::value JSONObjectForLocationSettings() const;

    [[nodiscard]] const std::string& getName() const override { return name; }
    [[nodiscard]] const std::string& getTranslatedName() const override { return translatedName; }
    [[nodiscard]] std::shared_ptr<CVDisplayRule> getDisplayRule() const override { return displayRule; }
    [[nodiscard]] const std::optional<CVLocationSettings>& getLocationSettings() const override {
        return locationSettings;
    }
};
BOOST_DESCRIBE_STRUCT(CVTypeInternal, (JSONModel),
                      (name, translatedName, displayRule, fields, restrictions, locationSettings))

}  // namespace ambrell
