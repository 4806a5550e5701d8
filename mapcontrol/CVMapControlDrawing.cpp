#include <limits>
#include <utility>

#include "mapcontrol/CVDirectionsRendererInternal.h"
#include "mapcontrol/CVFloorSelectorControl.h"
#include "mapcontrol/CVMapControlInternal.h"
#include "platform/runtime/MainQueue.h"
#include "viewmodels/CVPositionPresenter.h"
#include "viewmodels/DisplayRuleImages.h"

namespace ambrell {

int CVMapControlInternal::Drawing::currentFloorIndex() const {
    // The floor as the renderer and the position drawing compare it: a map
    // floor beyond their range is none of theirs.
    const std::int64_t floor = owner_.currentFloorIndex();
    if (floor < std::numeric_limits<int>::min() || floor > std::numeric_limits<int>::max()) {
        return std::numeric_limits<int>::min();
    }
    return static_cast<int>(floor);
}

void CVMapControlInternal::Drawing::selectWithFloorIndex(int floorIndex) { owner_.selectWithFloorIndex(floorIndex); }

void CVMapControlInternal::Drawing::setCurrentDirectionsRenderer(std::weak_ptr<CVDirectionsRendererInternal> renderer) {
    std::lock_guard lock(owner_.mutex_);
    owner_.currentDirectionsRenderer_ = std::move(renderer);
}

std::shared_ptr<CVMapControlDrawingSeam> CVMapControlInternal::drawingSeam() {
    return std::shared_ptr<CVMapControlDrawingSeam>(shared_from_this(), &drawing_);
}

void CVMapControlInternal::makePositionController() {
    positionController_ = CVPositionController::create(
        drawingSeam(), [entry = entry_] { return entry->positionRule(); },
        [](std::shared_ptr<const CVDisplayRule> rule) { return displayRuleIcon(std::move(rule)); });
}

std::shared_ptr<CVPositionProvider> CVMapControlInternal::positionProvider() const {
    std::lock_guard lock(mutex_);
    return positionProvider_;
}

void CVMapControlInternal::setPositionProvider(std::shared_ptr<CVPositionProvider> provider) {
    {
        std::lock_guard lock(mutex_);
        positionProvider_ = provider;
    }
    if (provider) provider->setDelegate(std::weak_ptr<CVPositionProviderDelegate>(shared_from_this()));
}

bool CVMapControlInternal::showUserPosition() const {
    std::lock_guard lock(mutex_);
    return showUserPosition_;
}

void CVMapControlInternal::setShowUserPosition(bool show) {
    {
        std::lock_guard lock(mutex_);
        showUserPosition_ = show;
    }
    if (!positionController_) return;
    positionController_->setEnabled(show);
    if (const auto presenter = map_->positionPresenter()) presenter->clear();
    if (const auto latest = positionController_->latestPosition()) positionController_->draw(*latest);
}

void CVMapControlInternal::onPositionUpdate(const CVPositionResult& position) {
    if (positionController_) positionController_->draw(position);
    if (auto control = std::dynamic_pointer_cast<CVFloorSelectorControl>(floorSelector())) {
        onMain([control, floor = position.floorIndex] { control->setUserFloorIndex(static_cast<double>(floor)); });
    }
    auto self = shared_from_this();
    onMain([self, position] {
        std::shared_ptr<CVMapControlDelegate> delegate;
        if (self->delegateResponds(CVMapControlDelegateMember::onPositionUpdate, delegate)) {
            delegate->onPositionUpdate(position);
        }
    });
}

void CVMapControlInternal::redrawPosition() {
    if (!positionController_) return;
    if (const auto latest = positionController_->latestPosition()) positionController_->draw(*latest);
}

std::shared_ptr<CVDirectionsRenderer> CVMapControlInternal::newDirectionsRenderer() {
    return CVDirectionsRendererInternal::create(drawingSeam());
}

void CVMapControlInternal::directionsFloorHook() {
    // The renderer draws through the adapter's views: a floor changed on
    // another thread (a tap on the adapter's, a host's call) is followed on
    // the main thread, by the renderer current then.
    if (!platform::MainQueue::shared().isCurrent()) {
        onMain([self = shared_from_this()] { self->directionsFloorHook(); });
        return;
    }
    std::shared_ptr<CVDirectionsRendererInternal> renderer;
    {
        std::lock_guard lock(mutex_);
        renderer = currentDirectionsRenderer_.lock();
    }
    if (renderer) renderer->floorChanged();
}

}  // namespace ambrell
