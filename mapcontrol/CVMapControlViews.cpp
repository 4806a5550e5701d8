#include <utility>

#include "Ambrell/CVBundleImage.h"
#include "data/CVSolutionInternal.h"
#include "mapcontrol/CVFloorSelectorControl.h"
#include "mapcontrol/CVMapControlInternal.h"
#include "platform/runtime/Actor.h"
#include "platform/runtime/MainQueue.h"

namespace ambrell {

namespace map_control_views {
namespace {

constexpr double kLogoWidth = 90;
constexpr double kLogoHeight = 32;

}  // namespace
}  // namespace map_control_views

void CVMapControlInternal::installLogo() {
    const auto view = map_->view();
    if (!view) return;
    const auto solution = entry_->solution();
    if (!solution || solution->whiteLabel) return;
    const auto image = bundleImage("corvay-on-map-logo");
    if (!image) return;
    onMain([weak = weak_from_this(), view, image] {
        const auto self = weak.lock();
        if (!self) return;
        auto logo = std::make_shared<platform::ImageView>();
        logo->setImage(*image);
        logo->setContentMode(platform::ContentMode::ScaleAspectFit);
        logo->setTranslatesAutoresizingMaskIntoConstraints(false);
        view->addSubview(logo);
        using platform::LayoutAttribute;
        using platform::LayoutConstraint;
        logo->addConstraint(
            LayoutConstraint::equalToConstant(logo, LayoutAttribute::Width, map_control_views::kLogoWidth));
        logo->addConstraint(
            LayoutConstraint::equalToConstant(logo, LayoutAttribute::Height, map_control_views::kLogoHeight));
        auto bottom = LayoutConstraint::equal(logo, LayoutAttribute::Bottom, view, LayoutAttribute::Bottom,
                                              -self->map_->padding().bottom);
        bottom->secondGuide = platform::LayoutGuide::SafeArea;
        auto right = LayoutConstraint::equal(logo, LayoutAttribute::Right, view, LayoutAttribute::Right);
        right->secondGuide = platform::LayoutGuide::Margins;
        {
            std::lock_guard lock(self->mutex_);
            self->logoView_ = logo;
            self->logoConstraint_ = bottom;
        }
        view->addConstraint(bottom);
        view->addConstraint(right);
    });
}

void CVMapControlInternal::setMapPadding(platform::EdgeInsets padding) {
    map_->setPadding(padding);
    const double bottom = map_->padding().bottom;
    std::lock_guard lock(mutex_);
    if (logoConstraint_) logoConstraint_->constant = -bottom;
}

std::shared_ptr<platform::ImageView> CVMapControlInternal::logoView() const {
    std::lock_guard lock(mutex_);
    return logoView_;
}

std::shared_ptr<platform::LayoutConstraint> CVMapControlInternal::logoConstraint() const {
    std::lock_guard lock(mutex_);
    return logoConstraint_;
}

platform::Awaitable<void> CVMapControlInternal::installDefaultFloorSelector(
    std::shared_ptr<CVMapControlInternal> self) {
    if (!self->map_->view()) co_return;
    co_await platform::runOn(platform::SerialExecutor::mainQueue(), [&self]() -> platform::Awaitable<void> {
        const auto view = self->map_->view();
        if (view && !self->floorSelector()) {
            auto control = CVFloorSelectorControl::create();
            control->setMaxHeight(view->bounds().size.height / 2);
            self->setFloorSelector(std::move(control));
        }
        co_return;
    });
}

void CVMapControlInternal::setFloorSelector(std::shared_ptr<CVCustomFloorSelector> selector) {
    std::shared_ptr<CVCustomFloorSelector> previous;
    {
        std::lock_guard lock(mutex_);
        previous = std::exchange(floorSelector_, std::move(selector));
    }
    // Without a map view there is nowhere to show a selector: the previous
    // one is left as it is.
    if (!map_->view()) return;
    if (platform::MainQueue::shared().isCurrent()) {
        floorSelectorChanged(previous);
        return;
    }
    onMain([self = shared_from_this(), previous] { self->floorSelectorChanged(previous); });
}

void CVMapControlInternal::floorSelectorChanged(const std::shared_ptr<CVCustomFloorSelector>& previous) {
    const auto view = map_->view();
    if (!view) return;
    auto selector = floorSelector();
    if (previous && previous != selector) previous->remove();
    if (!selector) {
        auto control = CVFloorSelectorControl::create();
        control->setMaxHeight(view->bounds().size.height / 2);
        selector = control;
        setFloorSelector(std::move(control));
    }
    selector->setDelegate(std::weak_ptr<CVFloorSelectorDelegate>(shared_from_this()));
    if (hideFloorSelector()) {
        selector->onHide();
        return;
    }
    // A selector that is no view has nothing to add; it is still told.
    if (auto selectorView = std::dynamic_pointer_cast<platform::View>(selector)) view->addSubview(selectorView);
    selector->onShow();
}

void CVMapControlInternal::removeViews() {
    std::shared_ptr<CVCustomFloorSelector> selector;
    std::shared_ptr<platform::ImageView> logo;
    {
        std::lock_guard lock(mutex_);
        selector = std::move(floorSelector_);
        logo = std::move(logoView_);
    }
    if (!selector && !logo) return;
    platform::MainQueue::shared().async([selector, logo] {
        if (selector) selector->remove();
        if (logo) logo->removeFromSuperview();
    });
}

}  // namespace ambrell
