#pragma once

#include <cstdint>
#include <optional>

#include <boost/json/fwd.hpp>

#include "Ambrell/CVDisplayRule.h"
#include "Ambrell/CVLocationSettings.h"
#include "platform/Error.h"

namespace ambrell {

// What the map does where labels and icons of locations collide.
enum class CVCollisionHandling : std::int32_t {
    allowOverlap = 0,
    removeLabelFirst = 1,
    removeIconFirst = 2,
    removeIconAndLabel = 3,
};

// Opacities of the 3D walls and extrusions, from 0 to 1.
struct CVSettings3D {
    double wallOpacity = 1;
    double extrusionOpacity = 1;

    friend bool operator==(const CVSettings3D&, const CVSettings3D&) = default;
};

// The rules of a location's selected and highlighted states.
struct CVStateDisplayRules {
    std::optional<CVDisplayRuleData> selection;
    std::optional<CVDisplayRuleData> highlight;

    friend bool operator==(const CVStateDisplayRules&, const CVStateDisplayRules&) = default;
};

// The solution-wide map settings of the solution document's "solutionConfig":
//
//     {"enableClustering": true, "newSelection": true, "collisionHandling": "REMOVE_LABEL_FIRST",
//      "settings3D": {"wallOpacity": 0.6, "extrusionOpacity": 0.8},
//      "mainDisplayRule": {...}, "buildingDisplayRule": {...},
//      "stateDisplayRules": {"selection": {...}, "highlight": {...}},
//      "locationSettings": {"selectable": true}}
//
// Display rules are read as CVDisplayRule reads them. Every key is optional.
struct CVSolutionConfig {
    bool enableClustering = false;
    bool newSelection = false;
    CVCollisionHandling collisionHandling = CVCollisionHandling::allowOverlap;
    CVSettings3D settings3D;
    std::optional<CVDisplayRuleData> mainDisplayRuleData;
    std::optional<CVDisplayRuleData> buildingDisplayRuleData;
    std::optional<CVStateDisplayRules> stateDisplayRules;
    std::optional<CVLocationSettings> locationSettings;

    // Unknown keys are ignored; null counts as absent. "collisionHandling" is
    // one of "ALLOW_OVERLAP", "REMOVE_LABEL_FIRST", "REMOVE_ICON_FIRST",
    // "REMOVE_ICON_AND_LABEL" (any letter case) or the raw value 0 to 3. None
    // with the error when the value is not an object or a known key holds a
    // value it cannot take, so a configuration is never half read.
    [[nodiscard]] static std::optional<CVSolutionConfig> initWithDictionary(const boost::json::value& dictionary,
                                                                            platform::NSError* error = nullptr);
    // The keys above, written so that initWithDictionary reads them back.
    [[nodiscard]] boost::json::object JSONObject() const;

    friend bool operator==(const CVSolutionConfig&, const CVSolutionConfig&) = default;
};

}  // namespace ambrell
