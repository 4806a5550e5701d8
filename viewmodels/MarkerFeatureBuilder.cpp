#include "viewmodels/MarkerFeatureBuilder.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "Ambrell/CVLog.h"
#include "Ambrell/CVSaturatingCast.h"
#include "data/CVLocationInternal.h"
#include "foundation/ColorHelpers.h"
#include "platform/Screen.h"
#include "viewmodels/CVBadgedIcon.h"
#include "viewmodels/CVLabelTemplate.h"
#include "viewmodels/CVLocationSelectability.h"
#include "viewmodels/CVModelError.h"
#include "viewmodels/DisplayRuleImages.h"
#include "viewmodels/FeatureNumbers.h"
#include "viewmodels/ImageUtilities.h"

namespace ambrell {

namespace marker_feature_builder {
namespace {

using Icon = std::shared_ptr<const platform::Image>;

bool inZoomRange(std::optional<double> from, std::optional<double> to, double zoom) {
    return from && to && *from <= zoom && zoom <= *to;
}

void writeColor(CVFeatureProperties& properties, CVModelPropertyKey key, const std::optional<platform::Color>& color) {
    std::optional<std::string> hex;
    if (color) hex = hexString(*color, false);
    if (hex) {
        properties[key] = std::move(*hex);
    } else {
        properties.erase(key);
    }
}

// The area the adapter sorts markers by: big rooms under small ones. A point,
// or an outline of no area, sorts by latitude instead, southern ones on top.
double sortingArea(const CVLocationInternal& location) {
    const auto geometry = location.cv_effectiveGeometry();
    if (const auto* polygon = dynamic_cast<const CVPolygonGeometry*>(geometry.get())) {
        const double area = polygon->area();
        if (area != 0) return area;
    }
    return -location.getPosition().latitude();
}

void writeLabel(CVFeatureProperties& properties, const CVDisplayRule& rule, const FontStyle& style,
                const std::string& label, double cameraBearing) {
    if (!label.empty()) properties[CVModelPropertyKey::markerLabel] = label;
    properties[CVModelPropertyKey::labelSize] = style.size;
    writeColor(properties, CVModelPropertyKey::labelColor, style.color);
    writeColor(properties, CVModelPropertyKey::labelHaloColor, style.haloColor);
    properties[CVModelPropertyKey::labelHaloWidth] = style.haloWidth;
    properties[CVModelPropertyKey::labelHaloBlur] = style.haloBlur;
    properties[CVModelPropertyKey::labelOpacity] =
        style.color ? static_cast<double>(alphaComponent(*style.color)) : 1.0;
    properties[CVModelPropertyKey::labelFont] = style.font.family;
    properties[CVModelPropertyKey::labelMaxWidth] = saturatingCast<std::uint64_t>(rule.labelMaxWidth().value_or(0));
    const auto labelType = rule.labelType();
    if (labelType) {
        properties[CVModelPropertyKey::labelType] = std::string(labelTypeName(*labelType));
    } else {
        properties.erase(CVModelPropertyKey::labelType);
    }
    if (labelType == CVLabelType::flat) {
        properties[CVModelPropertyKey::labelBearing] =
            uprightLabelBearing(rule.labelStyleBearing().value_or(0), cameraBearing);
    }
}

// What a rule badge is drawn from: the same values give the same pixels.
struct BadgeLook {
    std::optional<CVBadgePosition> position;
    std::optional<std::int64_t> radius;
    std::optional<double> strokeWidth;
    std::optional<double> scale;
    std::optional<platform::Color> strokeColor;
    std::optional<platform::Color> fillColor;
    double screenScale = 0;

    explicit BadgeLook(const CVDisplayRule& rule)
        : position(rule.badgePosition()),
          radius(rule.badgeRadius()),
          strokeWidth(rule.badgeStrokeWidth()),
          scale(rule.badgeScale()),
          strokeColor(rule.badgeStrokeColor()),
          fillColor(rule.badgeFillColor()),
          screenScale(platform::Screen::scale()) {}

    friend bool operator==(const BadgeLook&, const BadgeLook&) = default;
};

// The icons with their rule badge drawn, and the badges drawn alone (under
// no icon), kept so that warm renders do not draw them again for every
// location. An entry holds its icon, so an icon that is dropped and another
// made at its address never matches it.
class BadgedIcons {
public:
    // `draw` makes the image when none is kept; a null image is not kept.
    template <typename Draw>
    Icon badged(const Icon& icon, const CVDisplayRule& rule, Draw&& draw) {
        BadgeLook look(rule);
        {
            std::lock_guard lock(mutex_);
            const auto found = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& entry) {
                return entry.icon == icon && entry.look == look;
            });
            if (found != entries_.end()) return found->image;
        }
        Icon image = draw();
        if (!image) return image;
        std::lock_guard lock(mutex_);
        // Few badge looks are shown at once: a full list starts over rather
        // than keeping images no render asks for any more.
        if (entries_.size() >= kEntries) entries_.clear();
        entries_.push_back(Entry{icon, std::move(look), image});
        return image;
    }

private:
    struct Entry {
        Icon icon;
        BadgeLook look;
        Icon image;
    };
    static constexpr std::size_t kEntries = 64;

    std::mutex mutex_;
    std::vector<Entry> entries_;
};

BadgedIcons& badgedIcons() {
    static BadgedIcons icons;
    return icons;
}

// Stores the icon the marker shows, with its live-data badge and the rule's
// badge, under data[icon]; `ruleIcon` is the rule's icon when the marker
// shows it, else null.
void attachIcon(const CVLocationInternal& location, const CVDisplayRule& rule, const Icon& ruleIcon, double zoom,
                ViewModel& viewModel) {
    if (ruleIcon) viewModel.data[CVModelData::icon] = makeLiveDataBadge(location, ruleIcon);
    if (!inZoomRange(rule.badgeZoomFrom(), rule.badgeZoomTo(), zoom) || !rule.badgeVisible().value_or(false)) return;
    const auto stored = viewModel.data.find(CVModelData::icon);
    const Icon* icon = stored == viewModel.data.end() ? nullptr : std::any_cast<Icon>(&stored->second);
    if (icon != nullptr && *icon) {
        Icon badged = badgedIcons().badged(*icon, rule, [&] { return ruleBadgedIcon(*icon, &rule); });
        if (badged) {
            viewModel.data[CVModelData::icon] = std::move(badged);
        } else {
            viewModel.data.erase(CVModelData::icon);
        }
        return;
    }
    Icon badge = badgedIcons().badged(nullptr, rule, [&] { return drawnBadge(rule); });
    viewModel.data[CVModelData::icon] = badge ? std::move(badge) : transparentPixel();
}

// The icon's width in points, or none without an icon.
std::optional<double> iconWidth(const ViewModel& viewModel) {
    const auto stored = viewModel.data.find(CVModelData::icon);
    if (stored == viewModel.data.end()) return std::nullopt;
    const Icon* icon = std::any_cast<Icon>(&stored->second);
    if (icon == nullptr || !*icon) return std::nullopt;
    return (*icon)->width() / (*icon)->scale();
}

}  // namespace
}  // namespace marker_feature_builder

double uprightLabelBearing(double ruleBearing, double cameraBearing) {
    const double bearing = std::fmod(ruleBearing, 360.0);
    const double difference = std::abs(bearing - cameraBearing);
    return difference <= 90 || difference >= 270 ? bearing : bearing + 180;
}

bool markerShowsIcon(const CVDisplayRule& rule, bool selected, double zoom) {
    using namespace marker_feature_builder;
    return selected || (inZoomRange(rule.zoomFrom(), rule.zoomTo(), zoom) && rule.iconVisible().value_or(false));
}

std::optional<MarkerDraft> draftMarkerFeature(const CVLocation& location, const CVDisplayRule& rule,
                                              const std::optional<FontStyle>& fontStyle, bool selected,
                                              bool showInfoWindow, ViewModel& viewModel, double zoom,
                                              double cameraBearing) {
    using namespace marker_feature_builder;
    const auto* internal = dynamic_cast<const CVLocationInternal*>(&location);
    if (internal == nullptr) return std::nullopt;
    if (selected && showInfoWindow) viewModel.showInfoWindow = true;

    const std::string label = expandedLabel(location, rule);
    std::optional<FontStyle> ruleStyle;
    if (!fontStyle) ruleStyle.emplace(rule);
    const FontStyle& style = fontStyle ? *fontStyle : *ruleStyle;

    CVFeatureProperties properties;
    properties[CVModelPropertyKey::markerLabelInfoWindow] = label;
    if (!internal->name.empty()) properties[CVModelPropertyKey::locationName] = internal->name;
    properties[CVModelPropertyKey::markerGeometryArea] = sortingArea(*internal);
    if (inZoomRange(rule.labelZoomFrom(), rule.labelZoomTo(), zoom) && rule.labelVisible().value_or(false)) {
        writeLabel(properties, rule, style, label, cameraBearing);
    }

    const bool selectable = resolvedSelectable(location);
    properties[CVModelPropertyKey::markerId] = internal->locationId;
    properties[CVModelPropertyKey::type] = CVRenderedFeatureType::marker;
    properties[CVModelPropertyKey::axType] = internal->type;
    properties[CVModelPropertyKey::isCollidable] = internal->state == 0;
    properties[CVModelPropertyKey::isClusterable] = selectable && internal->state == 0;
    properties[CVModelPropertyKey::clickable] = selectable;
    if (const auto placement = rule.iconPlacement()) {
        properties[CVModelPropertyKey::markerIconPlacement] = std::string(invertedText(*placement));
    }

    try {
        return MarkerDraft{CVViewModelFeatureGeometry(GeoJsonGeometryType::Point, internal->getPosition()),
                           std::move(properties), style.size};
    } catch (const CVModelError&) {
        CVLog::core().debug("Unable to parse marker geometry!");
        return std::nullopt;
    }
}

void finishMarkerFeature(MarkerDraft draft, const CVLocation& location, const CVDisplayRule& rule,
                         const std::shared_ptr<const platform::Image>& icon, double zoom, ViewModel& viewModel) {
    using namespace marker_feature_builder;
    const auto* internal = dynamic_cast<const CVLocationInternal*>(&location);
    if (internal == nullptr) return;
    attachIcon(*internal, rule, icon, zoom, viewModel);

    CVFeatureProperties& properties = draft.properties;
    const auto width = iconWidth(viewModel);
    properties[CVModelPropertyKey::hasImage] = width.has_value();
    const auto shownLabel = properties.find(CVModelPropertyKey::markerLabel);
    if (shownLabel != properties.end() && !std::get<std::string>(shownLabel->second).empty()) {
        if (!width) {
            properties[CVModelPropertyKey::labelOffset] = std::vector<double>{0, 0};
        } else if (draft.labelSize <= 0) {
            // Offsets are in label sizes: a label of no size sits on the point.
            properties[CVModelPropertyKey::labelOffset] = std::vector<double>{0, 0};
        } else {
            const float offset = static_cast<float>(*width * 0.5 / static_cast<double>(draft.labelSize));
            properties[CVModelPropertyKey::labelOffset] = std::vector<double>{singlePrecisionValue(offset), 0};
        }
        properties[CVModelPropertyKey::labelAnchor] = std::string(width ? "left" : "center");
    }
    viewModel.marker =
        CVViewModelFeature("Feature", internal->locationId, std::move(properties), std::move(draft.point));
}

platform::Awaitable<void> buildMarkerFeature(const CVLocation& location, std::shared_ptr<const CVDisplayRule> rule,
                                             std::optional<FontStyle> fontStyle, bool selected, bool showInfoWindow,
                                             ViewModel& viewModel, double zoom, double cameraBearing) {
    if (!rule) co_return;
    auto draft =
        draftMarkerFeature(location, *rule, fontStyle, selected, showInfoWindow, viewModel, zoom, cameraBearing);
    if (!draft) co_return;
    std::shared_ptr<const platform::Image> icon;
    if (markerShowsIcon(*rule, selected, zoom)) icon = co_await displayRuleIcon(rule);
    finishMarkerFeature(std::move(*draft), location, *rule, icon, zoom, viewModel);
}

}  // namespace ambrell
