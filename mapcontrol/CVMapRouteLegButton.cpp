#include "mapcontrol/CVMapRouteLegButton.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <tuple>

#include "mapcontrol/CVImageRenderer.h"
#include "platform/Screen.h"
#include "platform/SystemColors.h"
#include "platform/Text.h"

namespace ambrell {

namespace route_leg_button {
namespace {

constexpr double kSide = 20;
constexpr double kCornerRadius = 10;
constexpr double kTitleFontSize = 11;
constexpr double kTitlePadding = 40;
constexpr double kTitleInset = 6;
// Each drawing of a route draws its leg buttons again, nearly always the same
// few: they are kept, up to this many.
constexpr std::size_t kKeptImages = 32;

// A drawn button by what it shows: the icon (held, so that its address is
// not reused while it is a key), the title and the screen's scale.
using DrawnKey = std::tuple<std::shared_ptr<const platform::Image>, std::optional<std::string>, double>;

struct DrawnButtons {
    std::mutex mutex;
    std::map<DrawnKey, std::shared_ptr<const platform::Image>> images;
};

DrawnButtons& drawnButtons() {
    static DrawnButtons kept;
    return kept;
}

}  // namespace
}  // namespace route_leg_button

CVMapRouteLegButton::CVMapRouteLegButton(const CGRect& frame) : platform::Button(platform::ButtonType::Custom, frame) {
    layer()->setCornerRadius(route_leg_button::kCornerRadius);
    setContentHorizontalAlignment(platform::ContentHorizontalAlignment::Left);
    setBackgroundColor(platform::SystemColors::white());
    titleLabel()->setFont(platform::Font::systemFont(route_leg_button::kTitleFontSize));
    setTitleColor(platform::SystemColors::gray(), platform::ControlState::Normal);
    setFrame(CGRect{{0, 0}, {route_leg_button::kSide, route_leg_button::kSide}});
    imageView()->setFrame(CGRect{{0, 0}, {route_leg_button::kSide, route_leg_button::kSide}});
}

void CVMapRouteLegButton::setTitle(std::optional<std::string> title, platform::ControlState state) {
    platform::Button::setTitle(title, state);
    const CGSize measured = platform::measureText(title.value_or(""), titleLabel()->font());
    const double width =
        measured.width == 0 ? route_leg_button::kSide : measured.width + route_leg_button::kTitlePadding;
    const double height = std::max(measured.height, route_leg_button::kSide);
    setFrame(CGRect{{0, 0}, {width, height}});
    setTitleEdgeInsets(platform::EdgeInsets{0, route_leg_button::kTitleInset, 0, route_leg_button::kTitleInset});
}

void CVMapRouteLegButton::setImage(std::optional<platform::Image> image, platform::ControlState state) {
    if (image) {
        const auto shown = CVImageRenderer::imageResize(std::make_shared<const platform::Image>(std::move(*image)),
                                                        CGSize{route_leg_button::kSide, route_leg_button::kSide});
        image = *shown;
    }
    platform::Button::setImage(std::move(image), state);
    setImageEdgeInsets(platform::EdgeInsets{});
    imageView()->setContentMode(platform::ContentMode::ScaleAspectFit);
}

std::shared_ptr<const platform::Image> CVMapRouteLegButton::markerImage(
    const std::shared_ptr<const platform::Image>& icon, const std::optional<std::string>& title) {
    // Without its icon the marker shows none at all.
    if (!icon) return nullptr;
    route_leg_button::DrawnKey key{icon, title, platform::Screen::scale()};
    auto& kept = route_leg_button::drawnButtons();
    {
        std::lock_guard lock(kept.mutex);
        if (const auto found = kept.images.find(key); found != kept.images.end()) return found->second;
    }
    auto button = std::make_shared<CVMapRouteLegButton>();
    button->setImage(*icon, platform::ControlState::Normal);
    if (title) button->setTitle(*title, platform::ControlState::Normal);
    auto image = CVImageRenderer::imageWithView(*button);
    if (!image) return image;
    std::lock_guard lock(kept.mutex);
    if (kept.images.size() >= route_leg_button::kKeptImages) kept.images.clear();
    kept.images.emplace(std::move(key), image);
    return image;
}

}  // namespace ambrell
