#include "Ambrell/CVDisplayRule.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string_view>
#include <type_traits>
#include <utility>

#include <boost/json/object.hpp>
#include <boost/json/value.hpp>

#include "Ambrell/CVAsciiText.h"
#include "Ambrell/CVSaturatingCast.h"
#include "Ambrell/ErrorObjects.h"

namespace ambrell {

namespace display_rule {
namespace {

using Data = CVDisplayRuleData;
using platform::Color;

template <typename E>
struct NamedCase {
    std::string_view name;
    E value;
};

constexpr std::array<NamedCase<CVLabelType>, 2> kLabelTypes{{
    {"floating", CVLabelType::floating},
    {"flat", CVLabelType::flat},
}};

// Each placement with the anchor that puts the icon there.
struct PlacementCase {
    std::string_view name;
    CVIconPlacement value;
    std::string_view inverted;
};

constexpr std::array<PlacementCase, 9> kPlacements{{
    {"center", CVIconPlacement::center, "center"},
    {"top", CVIconPlacement::top, "bottom"},
    {"bottom", CVIconPlacement::bottom, "top"},
    {"left", CVIconPlacement::left, "right"},
    {"right", CVIconPlacement::right, "left"},
    {"top-left", CVIconPlacement::topLeft, "bottom-right"},
    {"top-right", CVIconPlacement::topRight, "bottom-left"},
    {"bottom-left", CVIconPlacement::bottomLeft, "top-right"},
    {"bottom-right", CVIconPlacement::bottomRight, "top-left"},
}};

constexpr std::array<NamedCase<CVBadgePosition>, 4> kBadgePositions{{
    {"topLeft", CVBadgePosition::topLeft},
    {"topRight", CVBadgePosition::topRight},
    {"bottomLeft", CVBadgePosition::bottomLeft},
    {"bottomRight", CVBadgePosition::bottomRight},
}};

template <typename Cases, typename E>
std::string_view nameOf(const Cases& cases, E value) {
    for (const auto& entry : cases) {
        if (entry.value == value) return entry.name;
    }
    return {};
}

template <typename E, typename Cases>
std::optional<E> caseNamed(const Cases& cases, std::string_view name) {
    for (const auto& entry : cases) {
        if (equalsIgnoringASCIICase(entry.name, name)) return entry.value;
    }
    return std::nullopt;
}

// Every document key but "iconSize", with its member. The key "icon" has
// always named the icon's URL.
template <typename Visitor>
void visitKeys(Visitor&& visit) {
    visit("visible", &Data::visible);
    visit("clickable", &Data::clickable);
    visit("zoomFrom", &Data::zoomFrom);
    visit("zoomTo", &Data::zoomTo);
    visit("iconVisible", &Data::iconVisible);
    visit("icon", &Data::iconUrl);
    visit("iconScale", &Data::iconScale);
    visit("iconPlacement", &Data::iconPlacement);
    visit("labelVisible", &Data::labelVisible);
    visit("label", &Data::label);
    visit("labelZoomFrom", &Data::labelZoomFrom);
    visit("labelZoomTo", &Data::labelZoomTo);
    visit("labelMaxWidth", &Data::labelMaxWidth);
    visit("labelType", &Data::labelType);
    visit("labelStyleTextSize", &Data::labelStyleTextSize);
    visit("labelStyleTextColor", &Data::labelStyleTextColor);
    visit("labelStyleHaloColor", &Data::labelStyleHaloColor);
    visit("labelStyleHaloWidth", &Data::labelStyleHaloWidth);
    visit("labelStyleHaloBlur", &Data::labelStyleHaloBlur);
    visit("labelStyleBearing", &Data::labelStyleBearing);
    visit("polygonVisible", &Data::polygonVisible);
    visit("polygonZoomFrom", &Data::polygonZoomFrom);
    visit("polygonZoomTo", &Data::polygonZoomTo);
    visit("polygonFillColor", &Data::polygonFillColor);
    visit("polygonFillOpacity", &Data::polygonFillOpacity);
    visit("polygonStrokeColor", &Data::polygonStrokeColor);
    visit("polygonStrokeOpacity", &Data::polygonStrokeOpacity);
    visit("polygonStrokeWidth", &Data::polygonStrokeWidth);
    visit("polygonLightnessFactor", &Data::polygonLightnessFactor);
    visit("wallsVisible", &Data::wallsVisible);
    visit("wallsZoomFrom", &Data::wallsZoomFrom);
    visit("wallsZoomTo", &Data::wallsZoomTo);
    visit("wallsColor", &Data::wallsColor);
    visit("wallsHeight", &Data::wallsHeight);
    visit("wallsLightnessFactor", &Data::wallsLightnessFactor);
    visit("extrusionVisible", &Data::extrusionVisible);
    visit("extrusionZoomFrom", &Data::extrusionZoomFrom);
    visit("extrusionZoomTo", &Data::extrusionZoomTo);
    visit("extrusionColor", &Data::extrusionColor);
    visit("extrusionHeight", &Data::extrusionHeight);
    visit("extrusionLightnessFactor", &Data::extrusionLightnessFactor);
    visit("model2DVisible", &Data::model2DVisible);
    visit("model2DZoomFrom", &Data::model2DZoomFrom);
    visit("model2DZoomTo", &Data::model2DZoomTo);
    visit("model2DModel", &Data::model2DModel);
    visit("model2DWidthMeters", &Data::model2DWidthMeters);
    visit("model2DHeightMeters", &Data::model2DHeightMeters);
    visit("model2DBearing", &Data::model2DBearing);
    visit("model3DVisible", &Data::model3DVisible);
    visit("model3DZoomFrom", &Data::model3DZoomFrom);
    visit("model3DZoomTo", &Data::model3DZoomTo);
    visit("model3DModel", &Data::model3DModel);
    visit("model3DScale", &Data::model3DScale);
    visit("model3DRotationX", &Data::model3DRotationX);
    visit("model3DRotationY", &Data::model3DRotationY);
    visit("model3DRotationZ", &Data::model3DRotationZ);
    visit("badgeVisible", &Data::badgeVisible);
    visit("badgeZoomFrom", &Data::badgeZoomFrom);
    visit("badgeZoomTo", &Data::badgeZoomTo);
    visit("badgePosition", &Data::badgePosition);
    visit("badgeRadius", &Data::badgeRadius);
    visit("badgeStrokeWidth", &Data::badgeStrokeWidth);
    visit("badgeScale", &Data::badgeScale);
    visit("badgeStrokeColor", &Data::badgeStrokeColor);
    visit("badgeFillColor", &Data::badgeFillColor);
}

// The colours whose opacity the document keeps apart, as their alpha.
struct OpacityPair {
    std::optional<Color> Data::*color;
    std::optional<double> Data::*opacity;
};

constexpr std::array<OpacityPair, 2> kOpacityPairs{{
    {&Data::polygonFillColor, &Data::polygonFillOpacity},
    {&Data::polygonStrokeColor, &Data::polygonStrokeOpacity},
}};

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "#RRGGBB", or "#RRGGBBAA" as the rule writes a colour whose alpha its
// opacity does not carry; none otherwise, as an unreadable colour is unset.
std::optional<Color> colorFromText(std::string_view text) {
    if ((text.size() != 7 && text.size() != 9) || text.front() != '#') return std::nullopt;
    std::array<double, 4> components{0, 0, 0, 1};
    for (std::size_t i = 0; i * 2 + 1 < text.size(); ++i) {
        const int high = hexValue(text[i * 2 + 1]);
        const int low = hexValue(text[i * 2 + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        components[i] = (high * 16 + low) / 255.0;
    }
    return Color::fromRGBA(components[0], components[1], components[2], components[3]);
}

int componentByte(double component) {
    return saturatingCast<int>(std::round(std::clamp(std::isnan(component) ? 0.0 : component, 0.0, 1.0) * 255));
}

std::string colorText(const Color& color, bool withAlpha) {
    std::array<char, 10> text{};
    if (withAlpha) {
        std::snprintf(text.data(), text.size(), "#%02X%02X%02X%02X", componentByte(color.red),
                      componentByte(color.green), componentByte(color.blue), componentByte(color.alpha));
    } else {
        std::snprintf(text.data(), text.size(), "#%02X%02X%02X", componentByte(color.red), componentByte(color.green),
                      componentByte(color.blue));
    }
    return text.data();
}

// Reads one document into the data; the first problem is kept and the rest
// is not read.
class Reader {
public:
    explicit Reader(const boost::json::object& object) : object_(object) {}

    [[nodiscard]] const std::optional<std::string>& failure() const { return failure_; }

    template <typename T>
    void operator()(std::string_view key, std::optional<T> Data::*member) {
        if (failure_) return;
        const auto* value = object_.if_contains(key);
        if (value == nullptr || value->is_null()) return;
        read(key, *value, data.*member);
    }

    void iconSize() {
        if (failure_) return;
        const auto* value = object_.if_contains("iconSize");
        if (value == nullptr || value->is_null()) return;
        const auto* size = value->if_object();
        if (size == nullptr) return fail("iconSize", "is not an object");
        std::optional<double> width;
        std::optional<double> height;
        for (auto [side, out] : {std::pair{"width", &width}, std::pair{"height", &height}}) {
            const auto* number = size->if_contains(side);
            if (number != nullptr && !number->is_null()) read("iconSize", *number, *out);
        }
        // One side given stands for both: icons are square unless told otherwise.
        if (width && height) {
            data.iconSize = CGSize{*width, *height};
        } else if (width || height) {
            const double side = width ? *width : *height;
            data.iconSize = CGSize{side, side};
        }
    }

    Data data;

private:
    void fail(std::string_view key, std::string_view what) {
        if (!failure_) failure_ = "Display rule value \"" + std::string(key) + "\" " + std::string(what);
    }

    void read(std::string_view key, const boost::json::value& value, std::optional<bool>& out) {
        if (!value.is_bool()) return fail(key, "is not a boolean");
        out = value.get_bool();
    }

    void read(std::string_view key, const boost::json::value& value, std::optional<double>& out) {
        if (!value.is_number()) return fail(key, "is not a number");
        out = value.to_number<double>();
    }

    void read(std::string_view key, const boost::json::value& value, std::optional<std::int64_t>& out) {
        if (value.is_int64()) {
            out = value.get_int64();
        } else if (value.is_number()) {
            out = saturatingCast<std::int64_t>(value.to_number<double>());
        } else {
            fail(key, "is not a number");
        }
    }

    void read(std::string_view key, const boost::json::value& value, std::optional<std::string>& out) {
        if (!value.is_string()) return fail(key, "is not a text");
        out = std::string(value.get_string());
    }

    void read(std::string_view key, const boost::json::value& value, std::optional<Color>& out) {
        if (!value.is_string()) return fail(key, "is not a text");
        out = colorFromText(value.get_string());
    }

    template <typename E, typename Cases>
    void readCase(std::string_view key, const boost::json::value& value, const Cases& cases, std::optional<E>& out) {
        if (value.is_string()) {
            if (auto named = caseNamed<E>(cases, value.get_string())) {
                out = named;
                return;
            }
        } else if (value.is_int64()) {
            const auto raw = value.get_int64();
            for (const auto& entry : cases) {
                if (static_cast<std::int64_t>(entry.value) == raw) {
                    out = entry.value;
                    return;
                }
            }
        }
        fail(key, "names no known value");
    }

    void read(std::string_view key, const boost::json::value& value, std::optional<CVLabelType>& out) {
        readCase(key, value, kLabelTypes, out);
    }
    void read(std::string_view key, const boost::json::value& value, std::optional<CVIconPlacement>& out) {
        readCase(key, value, kPlacements, out);
    }
    void read(std::string_view key, const boost::json::value& value, std::optional<CVBadgePosition>& out) {
        readCase(key, value, kBadgePositions, out);
    }

    const boost::json::object& object_;
    std::optional<std::string> failure_;
};

class Writer {
public:
    Writer(const Data& data, boost::json::object& object) : data_(data), object_(object) {}

    template <typename T>
    void operator()(std::string_view key, std::optional<T> Data::*member) {
        const auto& value = data_.*member;
        if (!value) return;
        if constexpr (std::is_same_v<T, Color>) {
            object_[key] = colorText(*value, !alphaReadsBack(member, *value));
        } else if constexpr (std::is_same_v<T, CVLabelType>) {
            object_[key] = labelTypeName(*value);
        } else if constexpr (std::is_same_v<T, CVIconPlacement>) {
            object_[key] = iconPlacementName(*value);
        } else if constexpr (std::is_same_v<T, CVBadgePosition>) {
            object_[key] = badgePositionName(*value);
        } else {
            object_[key] = *value;
        }
    }

private:
    // Whether reading the colour back without its alpha digits gives the
    // same alpha: 1, or the opacity written beside it.
    bool alphaReadsBack(std::optional<Color> Data::*member, const Color& color) const {
        double expected = 1;
        for (const auto& pair : kOpacityPairs) {
            if (pair.color == member && data_.*pair.opacity && std::isfinite(*(data_.*pair.opacity))) {
                expected = *(data_.*pair.opacity);
            }
        }
        return componentByte(color.alpha) == componentByte(expected);
    }

    const Data& data_;
    boost::json::object& object_;
};

std::int8_t visibleState(std::optional<bool> visible) {
    if (!visible) return -1;
    return *visible ? 1 : 0;
}

Color rgb(int red, int green, int blue, double alpha = 1) {
    return Color::fromRGBA(red / 255.0, green / 255.0, blue / 255.0, alpha);
}

}  // namespace
}  // namespace display_rule

std::string_view labelTypeName(CVLabelType type) { return display_rule::nameOf(display_rule::kLabelTypes, type); }

std::optional<CVLabelType> labelTypeNamed(std::string_view name) {
    return display_rule::caseNamed<CVLabelType>(display_rule::kLabelTypes, name);
}

std::string_view iconPlacementName(CVIconPlacement placement) {
    return display_rule::nameOf(display_rule::kPlacements, placement);
}

std::optional<CVIconPlacement> iconPlacementNamed(std::string_view name) {
    return display_rule::caseNamed<CVIconPlacement>(display_rule::kPlacements, name);
}

std::string_view invertedText(CVIconPlacement placement) {
    for (const auto& entry : display_rule::kPlacements) {
        if (entry.value == placement) return entry.inverted;
    }
    return {};
}

std::string_view badgePositionName(CVBadgePosition position) {
    return display_rule::nameOf(display_rule::kBadgePositions, position);
}

std::optional<CVBadgePosition> badgePositionNamed(std::string_view name) {
    return display_rule::caseNamed<CVBadgePosition>(display_rule::kBadgePositions, name);
}

// Presets.

CVDisplayRuleData CVDisplayRuleData::defaultRuleData() {
    using display_rule::rgb;
    constexpr double kFrom = 17;
    constexpr double kTo = 999;
    CVDisplayRuleData data;
    data.visible = true;
    data.clickable = true;
    data.zoomFrom = kFrom;
    data.zoomTo = kTo;

    data.iconVisible = true;
    data.iconSize = CGSize{20, 20};
    data.iconScale = 1;
    data.iconPlacement = CVIconPlacement::center;

    data.labelVisible = true;
    data.label = "{{name}}";
    data.labelZoomFrom = 18;
    data.labelZoomTo = kTo;
    data.labelMaxWidth = 120;
    data.labelType = CVLabelType::floating;
    data.labelStyleTextSize = 12;
    data.labelStyleTextColor = rgb(0x00, 0x00, 0x00);
    data.labelStyleHaloColor = rgb(0xFF, 0xFF, 0xFF);
    data.labelStyleHaloWidth = 1;
    data.labelStyleHaloBlur = 1;
    data.labelStyleBearing = 0;

    data.polygonVisible = true;
    data.polygonZoomFrom = kFrom;
    data.polygonZoomTo = kTo;
    data.polygonFillOpacity = 0.2;
    data.polygonFillColor = rgb(0x30, 0x71, 0xD9, *data.polygonFillOpacity);
    data.polygonStrokeOpacity = 1;
    data.polygonStrokeColor = rgb(0x30, 0x71, 0xD9, *data.polygonStrokeOpacity);
    data.polygonStrokeWidth = 1;
    data.polygonLightnessFactor = 0;

    data.wallsVisible = false;
    data.wallsZoomFrom = kFrom;
    data.wallsZoomTo = kTo;
    data.wallsColor = rgb(0x9C, 0xA3, 0xAF);
    data.wallsHeight = 5;
    data.wallsLightnessFactor = -0.2;

    data.extrusionVisible = false;
    data.extrusionZoomFrom = kFrom;
    data.extrusionZoomTo = kTo;
    data.extrusionColor = rgb(0xAF, 0xB7, 0xC1);
    data.extrusionHeight = 2.5;
    data.extrusionLightnessFactor = 0.2;

    data.model2DVisible = false;
    data.model2DZoomFrom = kFrom;
    data.model2DZoomTo = kTo;
    data.model2DModel = "";
    data.model2DWidthMeters = 1;
    data.model2DHeightMeters = 1;
    data.model2DBearing = 0;

    data.model3DVisible = false;
    data.model3DZoomFrom = kFrom;
    data.model3DZoomTo = kTo;
    data.model3DModel = "";
    data.model3DScale = 1;
    data.model3DRotationX = 0;
    data.model3DRotationY = 0;
    data.model3DRotationZ = 0;

    data.badgeVisible = false;
    data.badgeZoomFrom = kFrom;
    data.badgeZoomTo = kTo;
    data.badgePosition = CVBadgePosition::topRight;
    data.badgeRadius = 6;
    data.badgeStrokeWidth = 2;
    data.badgeScale = 1;
    data.badgeStrokeColor = rgb(0xFF, 0xFF, 0xFF);
    data.badgeFillColor = rgb(0xEF, 0x44, 0x44);
    return data;
}

CVDisplayRuleData CVDisplayRuleData::userPositionData() {
    using display_rule::rgb;
    CVDisplayRuleData data;
    data.visible = true;
    data.clickable = false;
    data.zoomFrom = 0;
    data.zoomTo = 999;
    data.iconVisible = true;
    data.iconSize = CGSize{20, 20};
    data.labelVisible = false;
    data.polygonFillOpacity = 0.16;
    data.polygonFillColor = rgb(0x42, 0x85, 0xF4, *data.polygonFillOpacity);
    data.polygonStrokeOpacity = 0.4;
    data.polygonStrokeColor = rgb(0x42, 0x85, 0xF4, *data.polygonStrokeOpacity);
    data.polygonStrokeWidth = 1;
    return data;
}

namespace display_rule {
namespace {

CVDisplayRuleData statePolygon(Color fill, double fillOpacity, Color stroke) {
    CVDisplayRuleData data;
    fill.alpha = fillOpacity;
    data.polygonFillOpacity = fillOpacity;
    data.polygonFillColor = fill;
    data.polygonStrokeOpacity = stroke.alpha;
    data.polygonStrokeColor = stroke;
    return data;
}

}  // namespace
}  // namespace display_rule

CVDisplayRuleData CVDisplayRuleData::oldSelectionData() {
    using display_rule::rgb;
    return display_rule::statePolygon(rgb(0xEF, 0x6C, 0xCE), 0.4, rgb(0xEF, 0x6C, 0xCE));
}

CVDisplayRuleData CVDisplayRuleData::selectionData() {
    using display_rule::rgb;
    return display_rule::statePolygon(rgb(0x3B, 0x82, 0xF6), 0.4, rgb(0x1D, 0x4E, 0xD8));
}

CVDisplayRuleData CVDisplayRuleData::highlightData() {
    using display_rule::rgb;
    return display_rule::statePolygon(rgb(0xF5, 0x9E, 0x0B), 0.4, rgb(0xB4, 0x53, 0x09));
}

// The rule.

CVDisplayRule::CVDisplayRule() = default;

CVDisplayRule::CVDisplayRule(CVDisplayRuleData ruleData)
    : data_(std::move(ruleData)), visible_(display_rule::visibleState(data_.visible)) {
    data_.visible.reset();
    noteWhatIsSet();
}

CVDisplayRule::CVDisplayRule(const CVDisplayRule& other)
    : data_(other.data_),
      visible_(other.visible_.load(std::memory_order_acquire)),
      base_(other.base_),
      parent_(other.parent_),
      ownValuesUnset_(other.ownValuesUnset_),
      setsNothing_(other.setsNothing_) {}

CVDisplayRule::~CVDisplayRule() = default;

std::shared_ptr<CVDisplayRule> CVDisplayRule::withRule(std::shared_ptr<CVDisplayRule> rule) {
    return withRule(std::move(rule), nullptr);
}

std::shared_ptr<CVDisplayRule> CVDisplayRule::withRule(std::shared_ptr<CVDisplayRule> rule,
                                                       std::shared_ptr<CVDisplayRule> parent) {
    if (!rule) return nullptr;
    auto made = std::make_shared<CVDisplayRule>();
    made->base_ = std::move(rule);
    made->parent_ = std::move(parent);
    made->noteWhatIsSet();
    return made;
}

std::shared_ptr<CVDisplayRule> CVDisplayRule::copy(std::shared_ptr<CVDisplayRule> newParent) const {
    auto made = std::make_shared<CVDisplayRule>(*this);
    made->parent_ = std::move(newParent);
    made->noteWhatIsSet();
    return made;
}

void CVDisplayRule::noteWhatIsSet() {
    ownValuesUnset_ = data_ == CVDisplayRuleData{};
    setsNothing_ = ownValuesUnset_ && (!base_ || base_->setsNothing_) && (!parent_ || parent_->setsNothing_);
}

CVDisplayRuleData CVDisplayRule::data() const {
    CVDisplayRuleData data = data_;
    const auto state = visible_.load(std::memory_order_acquire);
    if (state != kVisibleUnset) data.visible = state == 1;
    return data;
}

std::optional<bool> CVDisplayRule::visible() const {
    for (const CVDisplayRule* rule = this; rule != nullptr; rule = rule->parent_.get()) {
        const auto state = rule->visible_.load(std::memory_order_acquire);
        if (state != kVisibleUnset) return state == 1;
        if (rule->base_) {
            if (auto fromBase = rule->base_->visible()) return fromBase;
        }
    }
    return std::nullopt;
}

void CVDisplayRule::setVisible(bool visible) { visible_.store(visible ? 1 : 0, std::memory_order_release); }

std::shared_ptr<const platform::Image> CVDisplayRule::icon() const {
    for (const CVDisplayRule* rule = this; rule != nullptr; rule = rule->parent_.get()) {
        if (rule->data_.icon) return rule->data_.icon;
        if (rule->base_) {
            if (auto fromBase = rule->base_->icon()) return fromBase;
        }
    }
    return nullptr;
}

bool operator==(const CVDisplayRule& lhs, const CVDisplayRule& rhs) {
    return lhs.data() == rhs.data() && lhs.base_ == rhs.base_ && lhs.parent_ == rhs.parent_;
}

// Documents.

std::shared_ptr<CVDisplayRule> CVDisplayRule::initWithDictionary(const boost::json::value& dictionary,
                                                                 platform::NSError* error) {
    const auto fail = [error](std::string text) -> std::shared_ptr<CVDisplayRule> {
        if (error != nullptr) *error = errorWithDescription("com.corvay.Ambrell.CVDisplayRule", 1, std::move(text));
        return nullptr;
    };
    const auto* object = dictionary.if_object();
    if (object == nullptr) return fail("A display rule is not a JSON object");
    display_rule::Reader reader(*object);
    display_rule::visitKeys(reader);
    reader.iconSize();
    if (reader.failure()) return fail(*reader.failure());
    for (const auto& pair : display_rule::kOpacityPairs) {
        auto& color = reader.data.*pair.color;
        const auto& opacity = reader.data.*pair.opacity;
        if (color && opacity && std::isfinite(*opacity)) color->alpha = *opacity;
    }
    return std::make_shared<CVDisplayRule>(std::move(reader.data));
}

boost::json::object CVDisplayRule::JSONObject() const {
    const CVDisplayRuleData own = data();
    boost::json::object object;
    display_rule::Writer writer(own, object);
    display_rule::visitKeys(writer);
    if (own.iconSize) object["iconSize"] = {{"width", own.iconSize->width}, {"height", own.iconSize->height}};
    return object;
}

// Zoom visibility.

bool CVDisplayRule::showAt(double zoom) const {
    const auto from = zoomFrom();
    if (!from || !(*from <= zoom)) return false;
    const auto to = zoomTo();
    return to && *to >= zoom;
}

namespace display_rule {
namespace {

// Flag, then lower bound, then upper bound; each read only when the one
// before passed.
bool shows(const CVDisplayRule& rule, double zoom, std::optional<bool> (CVDisplayRule::*flag)() const,
           std::optional<double> (CVDisplayRule::*from)() const, std::optional<double> (CVDisplayRule::*to)() const) {
    if (!(rule.*flag)().value_or(false)) return false;
    const auto lower = (rule.*from)();
    if (!lower || !(*lower <= zoom)) return false;
    const auto upper = (rule.*to)();
    return upper && *upper >= zoom;
}

}  // namespace
}  // namespace display_rule

bool CVDisplayRule::showIconWithZoom(double zoom) const { return showAt(zoom) && iconVisible().value_or(false); }

bool CVDisplayRule::showLabelWithZoom(double zoom) const {
    return display_rule::shows(*this, zoom, &CVDisplayRule::labelVisible, &CVDisplayRule::labelZoomFrom,
                               &CVDisplayRule::labelZoomTo);
}

bool CVDisplayRule::showPolygonWithZoom(double zoom) const {
    return display_rule::shows(*this, zoom, &CVDisplayRule::polygonVisible, &CVDisplayRule::polygonZoomFrom,
                               &CVDisplayRule::polygonZoomTo);
}

bool CVDisplayRule::showModel2DWithZoom(double zoom) const {
    if (!display_rule::shows(*this, zoom, &CVDisplayRule::model2DVisible, &CVDisplayRule::model2DZoomFrom,
                             &CVDisplayRule::model2DZoomTo)) {
        return false;
    }
    const auto model = model2DModel();
    return model && !model->empty();
}

bool CVDisplayRule::showModel3DWithZoom(double zoom) const {
    if (!display_rule::shows(*this, zoom, &CVDisplayRule::model3DVisible, &CVDisplayRule::model3DZoomFrom,
                             &CVDisplayRule::model3DZoomTo)) {
        return false;
    }
    const auto model = model3DModel();
    return model && !model->empty();
}

bool CVDisplayRule::showFeatureExtrusionWithZoom(double zoom) const {
    return display_rule::shows(*this, zoom, &CVDisplayRule::extrusionVisible, &CVDisplayRule::extrusionZoomFrom,
                               &CVDisplayRule::extrusionZoomTo);
}

bool CVDisplayRule::showWallExtrusionWithZoom(double zoom) const {
    return display_rule::shows(*this, zoom, &CVDisplayRule::wallsVisible, &CVDisplayRule::wallsZoomFrom,
                               &CVDisplayRule::wallsZoomTo);
}

bool CVDisplayRule::showBadgeWithZoom(double zoom) const {
    return display_rule::shows(*this, zoom, &CVDisplayRule::badgeVisible, &CVDisplayRule::badgeZoomFrom,
                               &CVDisplayRule::badgeZoomTo);
}

}  // namespace ambrell
