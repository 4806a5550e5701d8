#include "viewmodels/CVBadgedIcon.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string_view>

#include <fmt/format.h>

#include "Ambrell/CVDisplayRule.h"
#include "data/CVLocationInternal.h"
#include "platform/Screen.h"
#include "viewmodels/DisplayRuleImages.h"
#include "viewmodels/ImageCanvas.h"
#include "viewmodels/ImageUtilities.h"

namespace ambrell {

namespace badged_icon {
namespace {

using ImagePtr = std::shared_ptr<const platform::Image>;

constexpr std::string_view kNoLiveData = "NO_LIVE_DATA";
constexpr platform::Color kWhite = platform::Color::fromRGBA(1, 1, 1, 1);
// The platform's dark grey, a third of white.
constexpr platform::Color kDarkGrey = platform::Color::fromRGBA(1.0 / 3, 1.0 / 3, 1.0 / 3, 1);
constexpr double kBadgeFontSize = 12;
constexpr double kLiveBadgeFontSize = 10;
constexpr float kPadding = 2;

// The colours are constants of this file: one that does not parse is a
// programming error, and stops the program.
platform::Color hexColor(std::string_view hex) { return platform::Color::fromHex(hex).value(); }

const platform::Color& availableColor() {
    static const auto color = hexColor("#56C281");
    return color;
}
const platform::Color& unavailableColor() {
    static const auto color = hexColor("#DE1B1B");
    return color;
}
// Availability and occupancy that disagree.
const platform::Color& disagreementColor() {
    static const auto color = hexColor("#AD5F00");
    return color;
}
const platform::Color& measurementColor() {
    static const auto color = hexColor("#1E2025");
    return color;
}

CGSize pointSize(const platform::Image& image) {
    return {image.width() / image.scale(), image.height() / image.scale()};
}

// The canvas that holds an icon of `icon` points with a `badge` centred at
// the fractions `at` of it, growing evenly where the badge reaches out; and
// where the icon and the badge go on it.
struct BadgeLayout {
    CGSize canvas;
    CanvasRect icon;
    CanvasRect badge;
};

BadgeLayout layoutBadge(CGSize icon, CGSize badge, CVIconBadgePosition at) {
    const double width = std::max(icon.width, icon.width * std::max(at.x, 1 - at.x) + badge.width);
    const double height = std::max(icon.height, icon.height * std::max(at.y, 1 - at.y) + badge.height);
    const double iconX = (width - icon.width) * 0.5;
    const double iconY = (height - icon.height) * 0.5;
    return BadgeLayout{CGSize{width, height}, CanvasRect{iconX, iconY, icon.width, icon.height},
                       CanvasRect{iconX + icon.width * at.x - badge.width * 0.5,
                                  iconY + icon.height * at.y - badge.height * 0.5, badge.width, badge.height}};
}

std::string countText(std::int64_t people) { return people < 1 ? "-" : std::to_string(people); }

// Whole degrees, ties to even, with the unit: "21 °C". Never "-0".
std::string temperatureText(const CVMeasurement& temperature) {
    const double rounded = std::nearbyint(temperature.value);
    if (!std::isfinite(rounded)) return temperature.description();
    return fmt::format("{:.0f} {}", rounded == 0 ? 0.0 : rounded, temperature.unitSymbol);
}

template <typename Update>
std::shared_ptr<const Update> liveUpdate(const CVLocationInternal& location, std::string_view domainType) {
    return std::dynamic_pointer_cast<const Update>(location.getLiveUpdateForDomainType(std::string(domainType)));
}

// The configuration the location's live values call for, or none.
std::optional<CVBadgedIconConfiguration> liveDataConfiguration(const CVLocationInternal& location,
                                                               const ImagePtr& icon) {
    const auto availability = liveUpdate<CVAvailabilityLiveUpdate>(location, CVLiveDomainType::availability);
    const auto count = liveUpdate<CVCountLiveUpdate>(location, CVLiveDomainType::count);
    const auto co2 = liveUpdate<CVCO2LiveUpdate>(location, CVLiveDomainType::co2);
    const auto humidity = liveUpdate<CVHumidityLiveUpdate>(location, CVLiveDomainType::humidity);
    const auto occupancy = liveUpdate<CVOccupancyLiveUpdate>(location, CVLiveDomainType::occupancy);
    const auto temperature = liveUpdate<CVTemperatureLiveUpdate>(location, CVLiveDomainType::temperature);

    if (availability) {
        if (!occupancy) return CVBadgedIconConfiguration(icon, *availability);
        const bool occupied = occupancy->numberOfPeople >= 1;
        // A check mark or a cross when the two agree, amber when they do not.
        if (availability->available == occupied) {
            return CVBadgedIconConfiguration(icon, countText(occupancy->numberOfPeople), disagreementColor());
        }
        return CVBadgedIconConfiguration(icon, *availability);
    }
    if (occupancy) return CVBadgedIconConfiguration(icon, countText(occupancy->numberOfPeople), measurementColor());
    if (temperature) {
        return CVBadgedIconConfiguration(icon, temperatureText(temperature->temperature), measurementColor());
    }
    if (co2) return CVBadgedIconConfiguration(icon, decimalDescription(co2->co2Level), measurementColor());
    if (humidity) return CVBadgedIconConfiguration(icon, humidity->relativeHumidity.description(), measurementColor());
    if (count) return CVBadgedIconConfiguration(icon, std::to_string(count->count), measurementColor());
    return std::nullopt;
}

CVIconBadgePosition ruleBadgeFractions(std::optional<CVBadgePosition> position) {
    switch (position.value_or(CVBadgePosition::topRight)) {
        case CVBadgePosition::topLeft: return {0.2, 0.2};
        case CVBadgePosition::topRight: return {0.8, 0.2};
        case CVBadgePosition::bottomLeft: return {0.2, 0.8};
        case CVBadgePosition::bottomRight: return {0.8, 0.8};
    }
    return {0.8, 0.2};
}

}  // namespace
}  // namespace badged_icon

CVBadgedIconConfiguration::CVBadgedIconConfiguration(std::shared_ptr<const platform::Image> originalIcon,
                                                     const CVAvailabilityLiveUpdate& availability)
    : CVBadgedIconConfiguration(std::move(originalIcon), availability.available ? "\u2713" : "X",
                                availability.available ? badged_icon::availableColor()
                                                       : badged_icon::unavailableColor()) {}

CVBadgedIconConfiguration::CVBadgedIconConfiguration(std::shared_ptr<const platform::Image> originalIcon,
                                                     std::string badgeText, platform::Color badgeBackgroundColor)
    : CVBadgedIconConfiguration(std::move(originalIcon), std::move(badgeText), badged_icon::kWhite,
                                badged_icon::kPadding, badgeBackgroundColor,
                                platform::Font::systemFont(badged_icon::kBadgeFontSize), kDefaultPosition) {}

std::shared_ptr<const platform::Image> CVBadgedIcon::render(const CVBadgedIconConfiguration& configuration) {
    const auto& icon = configuration.originalIcon;
    if (!icon) return icon;
    const double padding = configuration.badgePadding;
    const auto text = platform::measureText(configuration.badgeText, configuration.badgeFont);
    const double badgeHeight = text.height + 2 * padding;
    const double badgeWidth = std::max(text.width + 2 * padding, badgeHeight);
    const auto layout = badged_icon::layoutBadge(badged_icon::pointSize(*icon), CGSize{badgeWidth, badgeHeight},
                                                 configuration.badgePosition);

    auto canvas = ImageCanvas::create(layout.canvas, platform::Screen::scale());
    if (!canvas) return icon;
    canvas->drawImage(*icon, layout.icon);
    const auto& badge = layout.badge;
    canvas->fillRoundedRect(badge, std::min(badge.width, badge.height) * 0.5, configuration.badgeBackgroundColor);
    canvas->drawCentredText(
        configuration.badgeText, configuration.badgeFont,
        CanvasRect{badge.x + padding, badge.y + padding, badge.width - 2 * padding, badge.height - 2 * padding},
        configuration.badgeTextColor);
    return std::make_shared<const platform::Image>(std::move(*canvas).image());
}

std::shared_ptr<const platform::Image> makeLiveDataBadge(const CVLocationInternal& location,
                                                         const std::shared_ptr<const platform::Image>& icon) {
    auto configuration = badged_icon::liveDataConfiguration(location, icon);
    if (!configuration || badged_icon::kNoLiveData.starts_with(configuration->badgeText)) return icon;
    configuration->badgeFont = platform::Font::systemFont(badged_icon::kLiveBadgeFontSize);
    configuration->badgePosition = CVBadgedIconConfiguration::kDefaultPosition;
    configuration->badgeTextColor = badged_icon::kWhite;
    return CVBadgedIcon::render(*configuration);
}

platform::Awaitable<std::shared_ptr<const platform::Image>> applyRuleBadge(std::shared_ptr<const platform::Image> icon,
                                                                           std::shared_ptr<const CVDisplayRule> rule) {
    co_return ruleBadgedIcon(icon, rule.get());
}

std::shared_ptr<const platform::Image> ruleBadgedIcon(const std::shared_ptr<const platform::Image>& icon,
                                                      const CVDisplayRule* rule) {
    std::shared_ptr<const platform::Image> badge;
    if (rule != nullptr) badge = drawnBadge(*rule);
    if (!icon) return badge ? badge : transparentPixel();
    if (!badge || !rule->badgeVisible().value_or(false)) return icon;

    const auto layout = badged_icon::layoutBadge(badged_icon::pointSize(*icon), badged_icon::pointSize(*badge),
                                                 badged_icon::ruleBadgeFractions(rule->badgePosition()));
    auto canvas = ImageCanvas::create(layout.canvas, platform::Screen::scale());
    if (!canvas) return icon;
    canvas->drawImage(*icon, layout.icon);
    canvas->drawImage(*badge, layout.badge);
    return std::make_shared<const platform::Image>(std::move(*canvas).image());
}

}  // namespace ambrell
