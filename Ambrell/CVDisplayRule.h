#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <boost/json/fwd.hpp>

#include "platform/CGSize.h"
#include "platform/Color.h"
#include "platform/Error.h"

namespace ambrell {

namespace platform {
class Image;
}  // namespace platform

// The fixed rules of a solution, by the raw values hosts pass.
enum class CVDisplayRuleType : int {
    selectionState = 0,
    highlightState = 1,
    building = 2,
    oldSelection = 3,
    blueDot = 4,
    defaultRule = 5,
    main = 6,
};

// How a label lies: upright facing the viewer, or flat on the floor, turned
// by the label's bearing.
enum class CVLabelType : int {
    floating = 0,
    flat = 1,
};

// Where the icon sits relative to its location's point.
enum class CVIconPlacement : int {
    center = 0,
    top = 1,
    bottom = 2,
    left = 3,
    right = 4,
    topLeft = 5,
    topRight = 6,
    bottomLeft = 7,
    bottomRight = 8,
};

// The corner of the icon a rule's badge sits on.
enum class CVBadgePosition : int {
    topLeft = 0,
    topRight = 1,
    bottomLeft = 2,
    bottomRight = 3,
};

// "floating", "flat": the texts the map adapter and the documents use.
[[nodiscard]] std::string_view labelTypeName(CVLabelType type);
[[nodiscard]] std::optional<CVLabelType> labelTypeNamed(std::string_view name);
// "center", "top", "bottom", "left", "right", "top-left", "top-right",
// "bottom-left", "bottom-right", as documents write them.
[[nodiscard]] std::string_view iconPlacementName(CVIconPlacement placement);
[[nodiscard]] std::optional<CVIconPlacement> iconPlacementNamed(std::string_view name);
// The anchor of the icon image that puts it there: an icon above its point
// hangs from its bottom edge ("top" gives "bottom", "top-left" gives
// "bottom-right", "center" stays).
[[nodiscard]] std::string_view invertedText(CVIconPlacement placement);
// "topLeft", "topRight", "bottomLeft", "bottomRight".
[[nodiscard]] std::string_view badgePositionName(CVBadgePosition position);
[[nodiscard]] std::optional<CVBadgePosition> badgePositionNamed(std::string_view name);

// How a location shows on the map. Every value is optional: an unset one is
// taken from the rule's parent chain (CVDisplayRule). Colours carry their
// opacity as alpha.
struct CVDisplayRuleData {
    std::optional<bool> visible;
    std::optional<bool> clickable;
    // The icon's zoom range, and that of the rule as a whole (showAt).
    std::optional<double> zoomFrom;
    std::optional<double> zoomTo;

    std::optional<bool> iconVisible;
    // An image the app set; it wins over the URL and is used as it is.
    std::shared_ptr<const platform::Image> icon;
    std::optional<std::string> iconUrl;
    // Points.
    std::optional<CGSize> iconSize;
    std::optional<double> iconScale;
    std::optional<CVIconPlacement> iconPlacement;

    std::optional<bool> labelVisible;
    // A template: {{name}}, {{externalId}}, {{roomId}}.
    std::optional<std::string> label;
    std::optional<double> labelZoomFrom;
    std::optional<double> labelZoomTo;
    std::optional<double> labelMaxWidth;
    std::optional<CVLabelType> labelType;
    std::optional<double> labelStyleTextSize;
    std::optional<platform::Color> labelStyleTextColor;
    std::optional<platform::Color> labelStyleHaloColor;
    std::optional<double> labelStyleHaloWidth;
    std::optional<double> labelStyleHaloBlur;
    // Degrees; read for flat labels.
    std::optional<double> labelStyleBearing;

    std::optional<bool> polygonVisible;
    std::optional<double> polygonZoomFrom;
    std::optional<double> polygonZoomTo;
    std::optional<platform::Color> polygonFillColor;
    std::optional<double> polygonFillOpacity;
    std::optional<platform::Color> polygonStrokeColor;
    std::optional<double> polygonStrokeOpacity;
    std::optional<double> polygonStrokeWidth;
    // -1 (black) to 1 (white).
    std::optional<double> polygonLightnessFactor;

    std::optional<bool> wallsVisible;
    std::optional<double> wallsZoomFrom;
    std::optional<double> wallsZoomTo;
    std::optional<platform::Color> wallsColor;
    std::optional<double> wallsHeight;
    std::optional<double> wallsLightnessFactor;

    std::optional<bool> extrusionVisible;
    std::optional<double> extrusionZoomFrom;
    std::optional<double> extrusionZoomTo;
    std::optional<platform::Color> extrusionColor;
    std::optional<double> extrusionHeight;
    std::optional<double> extrusionLightnessFactor;

    std::optional<bool> model2DVisible;
    std::optional<double> model2DZoomFrom;
    std::optional<double> model2DZoomTo;
    // The image's URL text.
    std::optional<std::string> model2DModel;
    std::optional<double> model2DWidthMeters;
    std::optional<double> model2DHeightMeters;
    std::optional<double> model2DBearing;

    std::optional<bool> model3DVisible;
    std::optional<double> model3DZoomFrom;
    std::optional<double> model3DZoomTo;
    // The model file's URL text.
    std::optional<std::string> model3DModel;
    std::optional<double> model3DScale;
    std::optional<double> model3DRotationX;
    std::optional<double> model3DRotationY;
    std::optional<double> model3DRotationZ;

    std::optional<bool> badgeVisible;
    std::optional<double> badgeZoomFrom;
    std::optional<double> badgeZoomTo;
    std::optional<CVBadgePosition> badgePosition;
    // Points.
    std::optional<std::int64_t> badgeRadius;
    std::optional<double> badgeStrokeWidth;
    std::optional<double> badgeScale;
    std::optional<platform::Color> badgeStrokeColor;
    std::optional<platform::Color> badgeFillColor;

    // The root of every solution's chain: every member set but the icon and
    // its URL; badges, models, walls and extrusions off.
    [[nodiscard]] static CVDisplayRuleData defaultRuleData();
    // The user's position: an icon and a translucent accuracy circle.
    [[nodiscard]] static CVDisplayRuleData userPositionData();
    // The state rules: polygon colours only.
    [[nodiscard]] static CVDisplayRuleData oldSelectionData();
    [[nodiscard]] static CVDisplayRuleData selectionData();
    [[nodiscard]] static CVDisplayRuleData highlightData();

    friend bool operator==(const CVDisplayRuleData&, const CVDisplayRuleData&) = default;
};

// A display rule: values of its own, over those of the rule it wraps (its
// base), over those of its parent. The map's rules chain a location's rule to
// its type's, the solution's main rule and the default rule, so a value set
// anywhere up the chain reaches the location.
//
// A rule's own values are fixed at creation except `visible`, which may be set
// from any thread while others read the rule. The base and the parent are
// fixed too, so a chain never loops.
//
// A solution document writes a rule as
//   {"visible": true, "icon": "https://…/cafe.png", "iconSize": {"width": 24, "height": 24},
//    "zoomFrom": 17, "zoomTo": 22, "label": "{{name}}", "polygonFillColor": "#AABBCC",
//    "polygonFillOpacity": 0.5, "labelType": "flat", "badgePosition": "topLeft", …}
// with every other member under its own name.
class CVDisplayRule {
public:
    // A new empty rule: every value comes from nowhere.
    CVDisplayRule();
    // init(ruleData:): the values given, without base or parent.
    explicit CVDisplayRule(CVDisplayRuleData ruleData);
    CVDisplayRule(const CVDisplayRule& other);
    CVDisplayRule& operator=(const CVDisplayRule&) = delete;
    ~CVDisplayRule();

    // init(rule:): a rule wrapping `rule`, with no parent; null without one.
    [[nodiscard]] static std::shared_ptr<CVDisplayRule> withRule(std::shared_ptr<CVDisplayRule> rule);
    // init(rule:parent:): a rule wrapping `rule` whose unset values come from
    // `parent` (none: from nowhere); null without a rule to wrap.
    [[nodiscard]] static std::shared_ptr<CVDisplayRule> withRule(std::shared_ptr<CVDisplayRule> rule,
                                                                 std::shared_ptr<CVDisplayRule> parent);
    // The same values and base under another parent (none: without one).
    [[nodiscard]] std::shared_ptr<CVDisplayRule> copy(std::shared_ptr<CVDisplayRule> newParent) const;

    // Unknown keys are ignored; null counts as absent. Null with the error
    // when the value is not an object or a known key holds the wrong kind of
    // value, so that a rule never carries half of a malformed document.
    [[nodiscard]] static std::shared_ptr<CVDisplayRule> initWithDictionary(const boost::json::value& dictionary,
                                                                           platform::NSError* error = nullptr);
    // The document form of the rule's own values, which initWithDictionary
    // reads back; unset values are left out, and so are the app's icon image,
    // the base and the parent.
    [[nodiscard]] boost::json::object JSONObject() const;

    // The rule's own values (not those of its base or parent).
    [[nodiscard]] CVDisplayRuleData data() const;
    [[nodiscard]] const std::shared_ptr<CVDisplayRule>& rule() const { return base_; }
    [[nodiscard]] const std::shared_ptr<CVDisplayRule>& parent() const { return parent_; }

    // Resolved values: the rule's own, else its base's, else its parent's.
    [[nodiscard]] std::optional<bool> visible() const;
    // Visible unless some rule of the chain says otherwise.
    [[nodiscard]] bool isVisible() const { return visible().value_or(true); }
    // Safe while other threads read this rule or chains through it.
    void setVisible(bool visible);

    [[nodiscard]] std::optional<bool> clickable() const { return resolved(&CVDisplayRuleData::clickable); }
    [[nodiscard]] std::optional<double> zoomFrom() const { return resolved(&CVDisplayRuleData::zoomFrom); }
    [[nodiscard]] std::optional<double> zoomTo() const { return resolved(&CVDisplayRuleData::zoomTo); }
    // zoomFrom <= zoom <= zoomTo; false when a bound is unset.
    [[nodiscard]] bool showAt(double zoom) const;

    [[nodiscard]] std::optional<bool> iconVisible() const { return resolved(&CVDisplayRuleData::iconVisible); }
    [[nodiscard]] std::shared_ptr<const platform::Image> icon() const;
    [[nodiscard]] std::optional<std::string> iconUrl() const { return resolved(&CVDisplayRuleData::iconUrl); }
    [[nodiscard]] std::optional<CGSize> iconSize() const { return resolved(&CVDisplayRuleData::iconSize); }
    [[nodiscard]] std::optional<double> iconScale() const { return resolved(&CVDisplayRuleData::iconScale); }
    [[nodiscard]] std::optional<CVIconPlacement> iconPlacement() const {
        return resolved(&CVDisplayRuleData::iconPlacement);
    }

    [[nodiscard]] std::optional<bool> labelVisible() const { return resolved(&CVDisplayRuleData::labelVisible); }
    [[nodiscard]] std::optional<std::string> label() const { return resolved(&CVDisplayRuleData::label); }
    [[nodiscard]] std::optional<double> labelZoomFrom() const { return resolved(&CVDisplayRuleData::labelZoomFrom); }
    [[nodiscard]] std::optional<double> labelZoomTo() const { return resolved(&CVDisplayRuleData::labelZoomTo); }
    [[nodiscard]] std::optional<double> labelMaxWidth() const { return resolved(&CVDisplayRuleData::labelMaxWidth); }
    [[nodiscard]] std::optional<CVLabelType> labelType() const { return resolved(&CVDisplayRuleData::labelType); }
    [[nodiscard]] std::optional<double> labelStyleTextSize() const {
        return resolved(&CVDisplayRuleData::labelStyleTextSize);
    }
    [[nodiscard]] std::optional<platform::Color> labelStyleTextColor() const {
        return resolved(&CVDisplayRuleData::labelStyleTextColor);
    }
    [[nodiscard]] std::optional<platform::Color> labelStyleHaloColor() const {
        return resolved(&CVDisplayRuleData::labelStyleHaloColor);
    }
    [[nodiscard]] std::optional<double> labelStyleHaloWidth() const {
        return resolved(&CVDisplayRuleData::labelStyleHaloWidth);
    }
    [[nodiscard]] std::optional<double> labelStyleHaloBlur() const {
        return resolved(&CVDisplayRuleData::labelStyleHaloBlur);
    }
    [[nodiscard]] std::optional<double> labelStyleBearing() const {
        return resolved(&CVDisplayRuleData::labelStyleBearing);
    }

    [[nodiscard]] std::optional<bool> polygonVisible() const { return resolved(&CVDisplayRuleData::polygonVisible); }
    [[nodiscard]] std::optional<double> polygonZoomFrom() const {
        return resolved(&CVDisplayRuleData::polygonZoomFrom);
    }
    [[nodiscard]] std::optional<double> polygonZoomTo() const { return resolved(&CVDisplayRuleData::polygonZoomTo); }
    [[nodiscard]] std::optional<platform::Color> polygonFillColor() const {
        return resolved(&CVDisplayRuleData::polygonFillColor);
    }
    [[nodiscard]] std::optional<double> polygonFillOpacity() const {
        return resolved(&CVDisplayRuleData::polygonFillOpacity);
    }
    [[nodiscard]] std::optional<platform::Color> polygonStrokeColor() const {
        return resolved(&CVDisplayRuleData::polygonStrokeColor);
    }
    [[nodiscard]] std::optional<double> polygonStrokeOpacity() const {
        return resolved(&CVDisplayRuleData::polygonStrokeOpacity);
    }
    [[nodiscard]] std::optional<double> polygonStrokeWidth() const {
        return resolved(&CVDisplayRuleData::polygonStrokeWidth);
    }
    [[nodiscard]] std::optional<double> polygonLightnessFactor() const {
        return resolved(&CVDisplayRuleData::polygonLightnessFactor);
    }

    [[nodiscard]] std::optional<bool> wallsVisible() const { return resolved(&CVDisplayRuleData::wallsVisible); }
    [[nodiscard]] std::optional<double> wallsZoomFrom() const { return resolved(&CVDisplayRuleData::wallsZoomFrom); }
    [[nodiscard]] std::optional<double> wallsZoomTo() const { return resolved(&CVDisplayRuleData::wallsZoomTo); }
    [[nodiscard]] std::optional<platform::Color> wallsColor() const { return resolved(&CVDisplayRuleData::wallsColor); }
    [[nodiscard]] std::optional<double> wallsHeight() const { return resolved(&CVDisplayRuleData::wallsHeight); }
    [[nodiscard]] std::optional<double> wallsLightnessFactor() const {
        return resolved(&CVDisplayRuleData::wallsLightnessFactor);
    }

    [[nodiscard]] std::optional<bool> extrusionVisible() const {
        return resolved(&CVDisplayRuleData::extrusionVisible);
    }
    [[nodiscard]] std::optional<double> extrusionZoomFrom() const {
        return resolved(&CVDisplayRuleData::extrusionZoomFrom);
    }
    [[nodiscard]] std::optional<double> extrusionZoomTo() const {
        return resolved(&CVDisplayRuleData::extrusionZoomTo);
    }
    [[nodiscard]] std::optional<platform::Color> extrusionColor() const {
        return resolved(&CVDisplayRuleData::extrusionColor);
    }
    [[nodiscard]] std::optional<double> extrusionHeight() const {
        return resolved(&CVDisplayRuleData::extrusionHeight);
    }
    [[nodiscard]] std::optional<double> extrusionLightnessFactor() const {
        return resolved(&CVDisplayRuleData::extrusionLightnessFactor);
    }

    [[nodiscard]] std::optional<bool> model2DVisible() const { return resolved(&CVDisplayRuleData::model2DVisible); }
    [[nodiscard]] std::optional<double> model2DZoomFrom() const {
        return resolved(&CVDisplayRuleData::model2DZoomFrom);
    }
    [[nodiscard]] std::optional<double> model2DZoomTo() const { return resolved(&CVDisplayRuleData::model2DZoomTo); }
    [[nodiscard]] std::optional<std::string> model2DModel() const { return resolved(&CVDisplayRuleData::model2DModel); }
    [[nodiscard]] std::optional<double> model2DWidthMeters() const {
        return resolved(&CVDisplayRuleData::model2DWidthMeters);
    }
    [[nodiscard]] std::optional<double> model2DHeightMeters() const {
        return resolved(&CVDisplayRuleData::model2DHeightMeters);
    }
    [[nodiscard]] std::optional<double> model2DBearing() const { return resolved(&CVDisplayRuleData::model2DBearing); }

    [[nodiscard]] std::optional<bool> model3DVisible() const { return resolved(&CVDisplayRuleData::model3DVisible); }
    [[nodiscard]] std::optional<double> model3DZoomFrom() const {
        return resolved(&CVDisplayRuleData::model3DZoomFrom);
    }
    [[nodiscard]] std::optional<double> model3DZoomTo() const { return resolved(&CVDisplayRuleData::model3DZoomTo); }
    [[nodiscard]] std::optional<std::string> model3DModel() const { return resolved(&CVDisplayRuleData::model3DModel); }
    [[nodiscard]] std::optional<double> model3DScale() const { return resolved(&CVDisplayRuleData::model3DScale); }
    [[nodiscard]] std::optional<double> model3DRotationX() const {
        return resolved(&CVDisplayRuleData::model3DRotationX);
    }
    [[nodiscard]] std::optional<double> model3DRotationY() const {
        return resolved(&CVDisplayRuleData::model3DRotationY);
    }
    [[nodiscard]] std::optional<double> model3DRotationZ() const {
        return resolved(&CVDisplayRuleData::model3DRotationZ);
    }

    [[nodiscard]] std::optional<bool> badgeVisible() const { return resolved(&CVDisplayRuleData::badgeVisible); }
    [[nodiscard]] std::optional<double> badgeZoomFrom() const { return resolved(&CVDisplayRuleData::badgeZoomFrom); }
    [[nodiscard]] std::optional<double> badgeZoomTo() const { return resolved(&CVDisplayRuleData::badgeZoomTo); }
    [[nodiscard]] std::optional<CVBadgePosition> badgePosition() const {
        return resolved(&CVDisplayRuleData::badgePosition);
    }
    [[nodiscard]] std::optional<std::int64_t> badgeRadius() const { return resolved(&CVDisplayRuleData::badgeRadius); }
    [[nodiscard]] std::optional<double> badgeStrokeWidth() const {
        return resolved(&CVDisplayRuleData::badgeStrokeWidth);
    }
    [[nodiscard]] std::optional<double> badgeScale() const { return resolved(&CVDisplayRuleData::badgeScale); }
    [[nodiscard]] std::optional<platform::Color> badgeStrokeColor() const {
        return resolved(&CVDisplayRuleData::badgeStrokeColor);
    }
    [[nodiscard]] std::optional<platform::Color> badgeFillColor() const {
        return resolved(&CVDisplayRuleData::badgeFillColor);
    }

    // Whether each kind of feature shows at the zoom: its flag, then both
    // bounds (inclusive), tested in that order and no further than the first
    // that fails; models also need a model text that is not empty. The icon
    // asks showAt().
    [[nodiscard]] bool showIconWithZoom(double zoom) const;
    [[nodiscard]] bool showLabelWithZoom(double zoom) const;
    [[nodiscard]] bool showPolygonWithZoom(double zoom) const;
    [[nodiscard]] bool showModel2DWithZoom(double zoom) const;
    [[nodiscard]] bool showModel3DWithZoom(double zoom) const;
    [[nodiscard]] bool showFeatureExtrusionWithZoom(double zoom) const;
    [[nodiscard]] bool showWallExtrusionWithZoom(double zoom) const;
    [[nodiscard]] bool showBadgeWithZoom(double zoom) const;

    // Same own values, base and parent.
    friend bool operator==(const CVDisplayRule& lhs, const CVDisplayRule& rhs);

private:
    // The own value, else the base's, else the parent's.
    template <typename T>
    [[nodiscard]] std::optional<T> resolved(std::optional<T> CVDisplayRuleData::*member) const {
        for (const CVDisplayRule* rule = this; rule != nullptr && !rule->setsNothing_; rule = rule->parent_.get()) {
            if (!rule->ownValuesUnset_) {
                if (const auto& own = rule->data_.*member) return own;
            }
            if (rule->base_ && !rule->base_->setsNothing_) {
                if (auto fromBase = rule->base_->resolved(member)) return fromBase;
            }
        }
        return std::nullopt;
    }
    // Sets ownValuesUnset_ and setsNothing_ from the own values, the base
    // and the parent, once they are given.
    void noteWhatIsSet();

    static constexpr std::int8_t kVisibleUnset = -1;

    // `visible` lives in visible_; data_.visible stays unset.
    CVDisplayRuleData data_;
    std::atomic<std::int8_t> visible_{kVisibleUnset};
    std::shared_ptr<CVDisplayRule> base_;
    std::shared_ptr<CVDisplayRule> parent_;
    // Whether the rule's own values other than `visible` are all unset, and
    // whether nothing but `visible` is set anywhere on its chain: most rules
    // of a location's chain are empty wrappers, which every read would
    // otherwise walk through value by value.
    bool ownValuesUnset_ = true;
    bool setsNothing_ = true;
};

}  // namespace ambrell
