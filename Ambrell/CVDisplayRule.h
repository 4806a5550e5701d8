#pragma once

#include <memory>
#include <optional>
#include <string>

#include <boost/json/fwd.hpp>

#include "platform/Error.h"

namespace ambrell {

// How a location shows on the map. Every value is optional: an unset one is
// resolved through the rule's parent (a location's rule defers to its type's)
// by the map's rule manager, not here. Colours are kept as the document's
// "#RRGGBB" texts.
struct CVDisplayRuleData {
    std::optional<bool> visible;
    std::optional<bool> iconVisible;
    std::optional<std::string> iconUrl;
    std::optional<double> iconWidth;
    std::optional<double> iconHeight;
    std::optional<double> zoomFrom;
    std::optional<double> zoomTo;
    std::optional<bool> labelVisible;
    std::optional<std::string> label;
    std::optional<double> labelMaxWidth;
    std::optional<bool> polygonVisible;
    std::optional<std::string> polygonFillColor;
    std::optional<double> polygonFillOpacity;
    std::optional<std::string> polygonStrokeColor;
    std::optional<double> polygonStrokeOpacity;
    std::optional<double> polygonStrokeWidth;
    std::optional<bool> extrusionVisible;
    std::optional<double> extrusionHeight;
    std::optional<std::string> extrusionColor;
    std::optional<bool> wallsVisible;
    std::optional<double> wallsHeight;
    std::optional<std::string> wallsColor;
    std::optional<bool> clickable;

    friend bool operator==(const CVDisplayRuleData&, const CVDisplayRuleData&) = default;
};

// A display rule as a solution document writes it:
// {"visible": true, "icon": "https://…/cafe.png", "iconSize": {"width": 24, "height": 24},
//  "zoomFrom": 17, "zoomTo": 22, "label": "{{name}}", "polygonFillColor": "#AABBCC", …}.
class CVDisplayRule {
public:
    CVDisplayRule() = default;
    explicit CVDisplayRule(CVDisplayRuleData data) : data_(std::move(data)) {}

    // Unknown keys are ignored. Null with the error when the value is not an
    // object or a known key holds the wrong kind of value, so that a rule
    // never carries half of a malformed document.
    [[nodiscard]] static std::shared_ptr<CVDisplayRule> initWithDictionary(const boost::json::value& dictionary,
                                                                           platform::NSError* error = nullptr);

    // The document form that initWithDictionary reads back; unset values are left out.
    [[nodiscard]] boost::json::object JSONObject() const;

    [[nodiscard]] const CVDisplayRuleData& data() const { return data_; }
    [[nodiscard]] const std::optional<std::string>& iconUrl() const { return data_.iconUrl; }
    [[nodiscard]] bool isVisible() const { return data_.visible.value_or(true); }

    friend bool operator==(const CVDisplayRule&, const CVDisplayRule&) = default;

private:
    CVDisplayRuleData data_;
};

}  // namespace ambrell
