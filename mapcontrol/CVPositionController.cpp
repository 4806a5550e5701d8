#include "mapcontrol/CVPositionController.h"

#include <utility>

#include "Ambrell/AmbrellShared.h"
#include "data/CVEntrySeams.h"
#include "platform/runtime/Task.h"
#include "viewmodels/CVPositionPresenter.h"
#include "viewmodels/DisplayRuleImages.h"
#include "viewmodels/ImageUtilities.h"

namespace ambrell {

namespace position_controller {
namespace {

constexpr double kOpaqueMarker = 1.0;
constexpr double kOtherFloorMarker = 0.5;

// The rule's colour (red when unset) at the rule's opacity (clear when unset).
platform::Color circleColor(const std::optional<platform::Color>& color, const std::optional<double>& opacity) {
    platform::Color result = color.value_or(platform::Color{1, 0, 0, 1});
    result.alpha = opacity.value_or(0);
    return result;
}

}  // namespace
}  // namespace position_controller

std::shared_ptr<CVPositionController> CVPositionController::create(std::weak_ptr<CVMapControlDrawingSeam> mapControl) {
    return create(
        std::move(mapControl),
        []() -> std::shared_ptr<CVDisplayRule> {
            const auto entry = CVEntryObjectSeam::installed();
            if (!entry) return nullptr;
            return entry->displayRuleForDisplayRuleType(static_cast<int>(CVDisplayRuleType::blueDot));
        },
        [](std::shared_ptr<const CVDisplayRule> rule) { return displayRuleIcon(std::move(rule)); });
}

std::shared_ptr<CVPositionController> CVPositionController::create(std::weak_ptr<CVMapControlDrawingSeam> mapControl,
                                                                   PositionRuleSource positionRule,
                                                                   IconLoader iconLoader) {
    return std::shared_ptr<CVPositionController>(
        new CVPositionController(std::move(mapControl), std::move(positionRule), std::move(iconLoader)));
}

CVPositionController::CVPositionController(std::weak_ptr<CVMapControlDrawingSeam> mapControl,
                                           PositionRuleSource positionRule, IconLoader iconLoader)
    : mapControl_(std::move(mapControl)), positionRule_(std::move(positionRule)), iconLoader_(std::move(iconLoader)) {}

std::optional<CVPositionResult> CVPositionController::latestPosition() const {
    std::lock_guard lock(mutex_);
    return latestPosition_;
}

bool CVPositionController::enabled() const {
    std::lock_guard lock(mutex_);
    return enabled_;
}

void CVPositionController::setEnabled(bool enabled) {
    // Waits for a drawing reaching the presenter: once switched off, the
    // caller's clearing of the marker is the last word.
    std::lock_guard drawing(presenterMutex_);
    std::lock_guard lock(mutex_);
    enabled_ = enabled;
}

void CVPositionController::draw(const CVPositionResult& position) {
    std::uint64_t number = 0;
    {
        std::lock_guard lock(mutex_);
        if (!enabled_) return;
        latestPosition_ = position;
        number = ++drawsStarted_;
    }
    auto rule = positionRule_ ? positionRule_() : nullptr;
    if (!rule) return;
    platform::Task::start([self = shared_from_this(), position, rule = std::move(rule), number]() mutable {
        return self->drawWhenIconLoaded(position, std::move(rule), number);
    });
}

platform::Awaitable<void> CVPositionController::drawWhenIconLoaded(CVPositionResult position,
                                                                   std::shared_ptr<CVDisplayRule> rule,
                                                                   std::uint64_t number) {
    std::optional<int> floorShown;
    if (const auto map = mapControl_.lock()) floorShown = map->currentFloorIndex();

    std::shared_ptr<const platform::Image> icon;
    if (iconLoader_) icon = co_await iconLoader_(rule);

    const auto map = mapControl_.lock();
    if (!map) co_return;
    const auto provider = map->mapProvider();
    const auto presenter = provider ? provider->positionPresenter() : nullptr;
    if (!presenter) co_return;
    if (!icon) icon = transparentPixel();

    const double opacity =
        floorShown == position.floorIndex ? position_controller::kOpaqueMarker : position_controller::kOtherFloorMarker;
    const auto fill = position_controller::circleColor(rule->polygonFillColor(), rule->polygonFillOpacity());
    const auto stroke = position_controller::circleColor(rule->polygonStrokeColor(), rule->polygonStrokeOpacity());
    const double strokeWidth = rule->polygonStrokeWidth().value_or(0);

    std::lock_guard lock(presenterMutex_);
    // Switched off while the icon loaded: the marker is no longer wanted.
    if (number < lastDrawn_ || !enabled()) co_return;
    lastDrawn_ = number;
    presenter->apply(position.coordinate, std::move(icon), position.bearing, opacity, position.accuracy, fill, stroke,
                     strokeWidth);
}

}  // namespace ambrell
