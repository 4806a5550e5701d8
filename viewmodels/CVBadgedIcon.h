#pragma once

#include <memory>
#include <string>

#include "Ambrell/CVLiveUpdate.h"
#include "platform/Color.h"
#include "platform/Image.h"
#include "platform/Text.h"
#include "platform/runtime/Executor.h"

namespace ambrell {

class CVDisplayRule;
class CVLocationInternal;

// Where a badge's centre sits on an icon, as fractions of the icon's width
// from its left edge and of its height from its top edge.
struct CVIconBadgePosition {
    double x = 0;
    double y = 0;

    friend bool operator==(const CVIconBadgePosition&, const CVIconBadgePosition&) = default;
};

// One live-data badge: a short text on a rounded background over an icon.
class CVBadgedIconConfiguration {
public:
    // Near the icon's bottom-left corner, where every badge made here goes.
    static constexpr CVIconBadgePosition kDefaultPosition{0.2, 0.8};

    CVBadgedIconConfiguration(std::shared_ptr<const platform::Image> originalIcon, std::string badgeText,
                              platform::Color badgeTextColor, float badgePadding, platform::Color badgeBackgroundColor,
                              platform::Font badgeFont, CVIconBadgePosition badgePosition)
        : originalIcon(std::move(originalIcon)),
          badgeText(std::move(badgeText)),
          badgeTextColor(badgeTextColor),
          badgePadding(badgePadding),
          badgeBackgroundColor(badgeBackgroundColor),
          badgeFont(std::move(badgeFont)),
          badgePosition(badgePosition) {}
    // A check mark on green when available, "X" on red when not.
    CVBadgedIconConfiguration(std::shared_ptr<const platform::Image> originalIcon,
                              const CVAvailabilityLiveUpdate& availability);
    // White text in the system font of size 12.
    CVBadgedIconConfiguration(std::shared_ptr<const platform::Image> originalIcon, std::string badgeText,
                              platform::Color badgeBackgroundColor);

    std::shared_ptr<const platform::Image> originalIcon;
    std::string badgeText;
    platform::Color badgeTextColor;
    // Points between the text and the badge's edge on every side.
    float badgePadding = 2;
    platform::Color badgeBackgroundColor;
    platform::Font badgeFont;
    CVIconBadgePosition badgePosition = kDefaultPosition;
};

class CVBadgedIcon {
public:
    // The icon, upright, with the badge centred on the badge position; the
    // canvas grows evenly on both sides where the badge reaches beyond the
    // icon, so the icon stays centred. The badge is never narrower than high:
    // one character gives a circle, a longer text a pill. Drawn for the main
    // screen. The icon itself when there is none or nothing can be drawn.
    [[nodiscard]] static std::shared_ptr<const platform::Image> render(const CVBadgedIconConfiguration& configuration);
};

// The icon with the location's latest live value as a badge: availability
// (with the occupancy, when both agree), else occupancy, temperature, CO2,
// humidity or count, the first there. The very icon when the location has
// no live value of those kinds. Safe from any thread.
[[nodiscard]] std::shared_ptr<const platform::Image> makeLiveDataBadge(
    const CVLocationInternal& location, const std::shared_ptr<const platform::Image>& icon);

// The icon with the rule's own round badge at the rule's badge corner (top
// right when it names none). The very icon when the rule's badge is hidden or
// has no size; the bare badge, or the blank image, when there is no icon.
[[nodiscard]] platform::Awaitable<std::shared_ptr<const platform::Image>> applyRuleBadge(
    std::shared_ptr<const platform::Image> icon, std::shared_ptr<const CVDisplayRule> rule);
// The same, at once on the calling thread; no rule counts as a hidden badge.
[[nodiscard]] std::shared_ptr<const platform::Image> ruleBadgedIcon(const std::shared_ptr<const platform::Image>& icon,
                                                                    const CVDisplayRule* rule);

}  // namespace ambrell
