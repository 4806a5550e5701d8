#include "mapcontrol/CVFloorSelectorControl.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <mutex>

#include "platform/SystemColors.h"
#include "platform/Text.h"
#include "platform/runtime/MainQueue.h"

namespace ambrell {

namespace floor_selector {
namespace {

using platform::Color;
using platform::LayoutAttribute;
using platform::LayoutConstraint;

struct ClassSettings {
    std::mutex mutex;
    std::optional<Color> selectedColor;
    std::optional<Color> tintColor;
    std::optional<Color> floorButtonTitleColor;
    std::optional<Color> selectedFloorButtonTitleColor;
    std::optional<Color> floorButtonBackgroundColor;
    std::optional<Color> selectedFloorButtonBackgroundColor;
    std::int64_t floorButtonBorderPadding = 1;
    std::optional<Color> userFloorColor;
};

ClassSettings& settings() {
    // Never destroyed: a control may read the settings while statics go.
    static auto* shared = new ClassSettings();
    return *shared;
}

template <typename Value>
Value read(Value ClassSettings::*field) {
    auto& shared = settings();
    const std::lock_guard lock(shared.mutex);
    return shared.*field;
}

template <typename Value>
void write(Value ClassSettings::*field, Value value) {
    auto& shared = settings();
    const std::lock_guard lock(shared.mutex);
    shared.*field = std::move(value);
}

double padding() { return static_cast<double>(read(&ClassSettings::floorButtonBorderPadding)); }

// The number of characters (not bytes) of a UTF-8 text.
std::size_t characterCount(const std::string& text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// A floor index as a number object prints itself: whole numbers without a
// fraction.
std::string indexTitle(std::optional<double> index) {
    if (!index) return {};
    if (std::isfinite(*index) && std::trunc(*index) == *index && std::fabs(*index) < 1e15) {
        return fmt::format("{}", static_cast<long long>(*index));
    }
    return fmt::format("{}", *index);
}

platform::Font titleFontFor(const CVFloorButton& button) {
    const auto title = button.currentTitle();
    return platform::Font::systemFont(title && characterCount(*title) < 3 ? 16 : 12);
}

std::size_t truncatedCount(double value) {
    if (!std::isfinite(value) || value <= 0) return 0;
    return static_cast<std::size_t>(std::min(value, 1e9));
}

std::shared_ptr<LayoutConstraint> withPriority(std::shared_ptr<LayoutConstraint> constraint, float priority) {
    constraint->priority = priority;
    return constraint;
}

}  // namespace
}  // namespace floor_selector

std::optional<platform::Color> CVFloorSelectorControl::selectedColor() {
    return floor_selector::read(&floor_selector::ClassSettings::selectedColor);
}
void CVFloorSelectorControl::setSelectedColor(std::optional<platform::Color> color) {
    floor_selector::write(&floor_selector::ClassSettings::selectedColor, color);
}
std::optional<platform::Color> CVFloorSelectorControl::tintColor() {
    return floor_selector::read(&floor_selector::ClassSettings::tintColor);
}
void CVFloorSelectorControl::setTintColor(std::optional<platform::Color> color) {
    floor_selector::write(&floor_selector::ClassSettings::tintColor, color);
}
std::optional<platform::Color> CVFloorSelectorControl::floorButtonTitleColor() {
    return floor_selector::read(&floor_selector::ClassSettings::floorButtonTitleColor);
}
void CVFloorSelectorControl::setFloorButtonTitleColor(std::optional<platform::Color> color) {
    floor_selector::write(&floor_selector::ClassSettings::floorButtonTitleColor, color);
}
std::optional<platform::Color> CVFloorSelectorControl::selectedFloorButtonTitleColor() {
    return floor_selector::read(&floor_selector::ClassSettings::selectedFloorButtonTitleColor);
}
void CVFloorSelectorControl::setSelectedFloorButtonTitleColor(std::optional<platform::Color> color) {
    floor_selector::write(&floor_selector::ClassSettings::selectedFloorButtonTitleColor, color);
}
std::optional<platform::Color> CVFloorSelectorControl::floorButtonBackgroundColor() {
    return floor_selector::read(&floor_selector::ClassSettings::floorButtonBackgroundColor);
}
void CVFloorSelectorControl::setFloorButtonBackgroundColor(std::optional<platform::Color> color) {
    floor_selector::write(&floor_selector::ClassSettings::floorButtonBackgroundColor, color);
}
std::optional<platform::Color> CVFloorSelectorControl::selectedFloorButtonBackgroundColor() {
    return floor_selector::read(&floor_selector::ClassSettings::selectedFloorButtonBackgroundColor);
}
void CVFloorSelectorControl::setSelectedFloorButtonBackgroundColor(std::optional<platform::Color> color) {
    floor_selector::write(&floor_selector::ClassSettings::selectedFloorButtonBackgroundColor, color);
}
std::int64_t CVFloorSelectorControl::floorButtonBorderPadding() {
    return floor_selector::read(&floor_selector::ClassSettings::floorButtonBorderPadding);
}
void CVFloorSelectorControl::setFloorButtonBorderPadding(std::int64_t padding) {
    floor_selector::write(&floor_selector::ClassSettings::floorButtonBorderPadding, padding);
}
std::optional<platform::Color> CVFloorSelectorControl::userFloorColor() {
    return floor_selector::read(&floor_selector::ClassSettings::userFloorColor);
}
void CVFloorSelectorControl::setUserFloorColor(std::optional<platform::Color> color) {
    floor_selector::write(&floor_selector::ClassSettings::userFloorColor, color);
}

CVFloorSelectorControl::CVFloorSelectorControl(const platform::CGRect& frame) : View(frame) {}

CVFloorSelectorControl::~CVFloorSelectorControl() {
    cvsdk_stopMonitoringContentSizeChanges();
    currentBuilding_.reset();
    floorIndex_.reset();
}

std::shared_ptr<CVFloorSelectorControl> CVFloorSelectorControl::create() {
    auto control = std::make_shared<CVFloorSelectorControl>(platform::CGRect{});
    control->buildViewStructure();
    return control;
}

void CVFloorSelectorControl::buildViewStructure() {
    using platform::LayoutAttribute;
    using platform::LayoutConstraint;
    const auto self = std::static_pointer_cast<CVFloorSelectorControl>(shared_from_this());
    const double p = floor_selector::padding();

    auto scroll = std::make_shared<platform::ScrollView>();
    scrollview_ = scroll;
    container_ = scroll;
    scroll->setDelegate(self);
    scroll->setShowsVerticalScrollIndicator(true);
    scroll->setIndicatorStyle(platform::ScrollIndicatorStyle::Black);

    buttons_.clear();
    floors_.clear();
    addSubview(container_);
    floorIndex_ = 0;
    maxVisibleFloorButtons_ = 4;
    setTranslatesAutoresizingMaskIntoConstraints(false);
    container_->setTranslatesAutoresizingMaskIntoConstraints(false);

    layer()->setShadowRadius(8);
    layer()->setShadowColor(platform::SystemColors::black());
    layer()->setShadowOpacity(0.25);

    auto imageView = std::make_shared<platform::ImageView>();
    imageView->setContentMode(platform::ContentMode::Center);
    imageView->setClipsToBounds(true);
    imageView->setTranslatesAutoresizingMaskIntoConstraints(false);
    addSubview(imageView);
    topImageView_ = imageView;
    addConstraint(LayoutConstraint::equal(imageView, LayoutAttribute::Width, self, LayoutAttribute::Width));
    addConstraint(LayoutConstraint::equal(imageView, LayoutAttribute::Top, self, LayoutAttribute::Top));
    topImageHeightConstraint_ = LayoutConstraint::equalToConstant(imageView, LayoutAttribute::Height, 0);
    addConstraint(topImageHeightConstraint_);
    addConstraint(LayoutConstraint::equal(imageView, LayoutAttribute::Left, self, LayoutAttribute::Left));

    addConstraint(LayoutConstraint::equal(container_, LayoutAttribute::Width, self, LayoutAttribute::Width));
    addConstraint(LayoutConstraint::equal(container_, LayoutAttribute::Top, imageView, LayoutAttribute::Bottom, p));
    addConstraint(LayoutConstraint::equal(container_, LayoutAttribute::Bottom, self, LayoutAttribute::Bottom));
    addConstraint(LayoutConstraint::equal(container_, LayoutAttribute::Left, self, LayoutAttribute::Left));

    const std::weak_ptr<CVFloorSelectorControl> weakSelf = self;
    cvsdk_onContentSizeChange([weakSelf](CVDynamicTextSize) {
        // The size is set on any thread; the views are rebuilt on the main one.
        const auto rebuild = [weakSelf] {
            const auto control = weakSelf.lock();
            if (!control || !control->superview()) return;
            control->setupAutoLayout();
            control->updateLayout();
            control->updateFloors(control->currentBuilding(), true);
        };
        if (platform::MainQueue::shared().isCurrent()) {
            rebuild();
        } else {
            platform::MainQueue::shared().async(rebuild);
        }
    });
}

float CVFloorSelectorControl::getDynamicWidthBasedOnDynamicFont() {
    return static_cast<float>(platform::measureText("LLG", platform::Font::systemFont(12)).width);
}

double CVFloorSelectorControl::getDynamicButtonSize() const {
    const double p = floor_selector::padding();
    return std::max(std::max(bounds().size.width, 34.0) - 2 * p,
                    static_cast<double>(getDynamicWidthBasedOnDynamicFont()));
}

void CVFloorSelectorControl::setupAutoLayout() {
    using platform::LayoutAttribute;
    using platform::LayoutConstraint;
    using platform::LayoutPriority;
    if (!disableAutomaticLayoutManagement_) {
        const auto self = shared_from_this();
        const double p = floor_selector::padding();
        const double s = getDynamicButtonSize();
        const double width = s + 2 * p;
        const double height = 6 * (s + p) + p;
        const double top = 4 * (std::max(bounds().size.width, 34.0) - 2 * p);

        removeConstraint(heightConstraint_);
        removeConstraint(widthConstraint_);
        heightConstraint_ = floor_selector::withPriority(
            LayoutConstraint::equalToConstant(self, LayoutAttribute::Height, height), LayoutPriority::defaultHigh);
        widthConstraint_ = floor_selector::withPriority(
            LayoutConstraint::equalToConstant(self, LayoutAttribute::Width, width), LayoutPriority::defaultHigh);
        addConstraint(heightConstraint_);
        addConstraint(widthConstraint_);

        const auto parent = superview();
        if (parent) {
            parent->removeConstraint(xPositionConstraint_);
            parent->removeConstraint(yPositionConstraint_);
        }
        xPositionConstraint_ = floor_selector::withPriority(
            LayoutConstraint::equal(self, LayoutAttribute::Right, parent, LayoutAttribute::Right, -4),
            LayoutPriority::defaultHigh);
        yPositionConstraint_ = floor_selector::withPriority(
            LayoutConstraint::equal(self, LayoutAttribute::Top, parent, LayoutAttribute::Top, top),
            LayoutPriority::defaultHigh);
        if (parent) {
            parent->addConstraint(xPositionConstraint_);
            parent->addConstraint(yPositionConstraint_);
        }
    }
    initScrollIndicators();
}

void CVFloorSelectorControl::initScrollIndicators() {
    using platform::LayoutAttribute;
    using platform::LayoutConstraint;
    if (topScrollIndicator_.lock()) return;
    const auto self = shared_from_this();
    const double s = getDynamicButtonSize();
    const platform::Color white = platform::SystemColors::white();
    auto withAlpha = [white](double alpha) { return platform::Color{white.red, white.green, white.blue, alpha}; };
    const std::vector<platform::Color> fading = {withAlpha(1.0), withAlpha(0.95), withAlpha(0.8),
                                                 withAlpha(0.7), withAlpha(0.6),  withAlpha(0.0)};

    auto makeStrip = [&](std::vector<platform::Color> colors, std::vector<double> locations) {
        auto strip = std::make_shared<platform::View>();
        strip->setTranslatesAutoresizingMaskIntoConstraints(false);
        strip->setUserInteractionEnabled(false);
        auto gradient = std::make_shared<platform::GradientLayer>();
        gradient->setColors(std::move(colors));
        gradient->setLocations(std::move(locations));
        strip->layer()->insertSublayer(gradient, 0);
        addSubview(strip);
        return std::make_pair(strip, gradient);
    };

    const auto [top, topGradient] = makeStrip(fading, {0, 0.1, 0.37, 0.45, 0.55, 1});
    addConstraint(LayoutConstraint::equal(top, LayoutAttribute::Width, self, LayoutAttribute::Width, -2));
    addConstraint(LayoutConstraint::equalToConstant(top, LayoutAttribute::Height, s));
    addConstraint(LayoutConstraint::equal(top, LayoutAttribute::Top, container_, LayoutAttribute::Top));
    addConstraint(LayoutConstraint::equal(top, LayoutAttribute::Left, self, LayoutAttribute::Left, 1));

    std::vector<platform::Color> reversed(fading.rbegin(), fading.rend());
    const auto [bottom, bottomGradient] = makeStrip(std::move(reversed), {0, 1 - 0.55, 1 - 0.45, 1 - 0.37, 1 - 0.1, 1});
    addConstraint(LayoutConstraint::equal(bottom, LayoutAttribute::Width, self, LayoutAttribute::Width, -2));
    addConstraint(LayoutConstraint::equalToConstant(bottom, LayoutAttribute::Height, s));
    addConstraint(LayoutConstraint::equal(bottom, LayoutAttribute::Top, self, LayoutAttribute::Bottom, -s));
    addConstraint(LayoutConstraint::equal(bottom, LayoutAttribute::Left, self, LayoutAttribute::Left, 1));

    topScrollIndicator_ = top;
    topScrollIndicatorGradient_ = topGradient;
    bottomScrollIndicator_ = bottom;
    bottomScrollIndicatorGradient_ = bottomGradient;
    setNeedsLayout();
    layoutIfNeeded();
}

void CVFloorSelectorControl::placeSubviews() {
    const double p = floor_selector::padding();
    const double width = bounds().size.width;
    const double height = bounds().size.height;
    const double imageHeight = topImageHeightConstraint_ ? topImageHeightConstraint_->constant : 0;
    if (const auto imageView = topImageView_.lock()) imageView->setFrame({{0, 0}, {width, imageHeight}});
    const double containerTop = imageHeight + p;
    if (container_) container_->setFrame({{0, containerTop}, {width, std::max(0.0, height - containerTop)}});
    const double s = getDynamicButtonSize();
    if (const auto top = topScrollIndicator_.lock()) top->setFrame({{1, containerTop}, {width - 2, s}});
    if (const auto bottom = bottomScrollIndicator_.lock()) bottom->setFrame({{1, height - s}, {width - 2, s}});
}

void CVFloorSelectorControl::updateScrollIndicatorPositions() {
    if (const auto top = topScrollIndicator_.lock()) {
        if (const auto gradient = topScrollIndicatorGradient_.lock()) gradient->setFrame(top->bounds());
    }
    if (const auto bottom = bottomScrollIndicator_.lock()) {
        if (const auto gradient = bottomScrollIndicatorGradient_.lock()) gradient->setFrame(bottom->bounds());
    }
}

void CVFloorSelectorControl::updateScrollIndicatorVisibility() {
    const auto scroll = scrollview_.lock();
    if (!scroll) return;
    const auto s = static_cast<float>(getDynamicButtonSize());
    const double offset = scroll->contentOffset().y;
    if (const auto top = topScrollIndicator_.lock()) top->setAlpha(std::min(offset, static_cast<double>(s)) / s);
    if (const auto bottom = bottomScrollIndicator_.lock()) {
        const double below = scroll->contentSize().height - (offset + scroll->bounds().size.height);
        bottom->setAlpha(std::min(below, static_cast<double>(s)) / s);
    }
}

void CVFloorSelectorControl::didMoveToSuperview() {
    if (superview()) setupAutoLayout();
}

void CVFloorSelectorControl::layoutSubviews() {
    View::layoutSubviews();
    if (const auto parent = superview(); parent && maxHeight_ == 0) maxHeight_ = 0.8 * parent->bounds().size.height;
    updateLayout();
}

double CVFloorSelectorControl::topImageHeight() const {
    const auto imageView = topImageView_.lock();
    return imageView && imageView->image() ? bounds().size.width : 0;
}

void CVFloorSelectorControl::updateLayout() {
    const double p = floor_selector::padding();
    const double s = getDynamicButtonSize();
    const double imageHeight = topImageHeight();
    if (topImageHeightConstraint_) topImageHeightConstraint_->constant = imageHeight;
    placeSubviews();

    maxVisibleFloorButtons_ = floor_selector::truncatedCount((maxHeight_ - imageHeight) / s);
    const auto count = static_cast<double>(buttons_.size());
    const double contentHeight = (s + p) * count + p;
    if (heightConstraint_) {
        const double visible = std::min(static_cast<double>(maxVisibleFloorButtons_), count);
        const double height = imageHeight + (s + p) * visible + p;
        if (height != heightConstraint_->constant) {
            heightConstraint_->constant = height;
            setNeedsLayout();
        }
    }
    maxVisibleFloorButtons_ = floor_selector::truncatedCount((bounds().size.height - imageHeight) / s);
    if (const auto scroll = scrollview_.lock(); scroll && scroll->contentSize().height != contentHeight) {
        scroll->setContentSize({bounds().size.width, contentHeight});
        invalidateIntrinsicContentSize();
    }
    updateScrollIndicatorPositions();
    updateScrollIndicatorVisibility();
}

platform::CGSize CVFloorSelectorControl::intrinsicContentSize() const {
    const auto scroll = scrollview_.lock();
    if (!scroll) return {0, topImageHeight()};
    return {scroll->contentSize().width, scroll->contentSize().height + topImageHeight()};
}

std::optional<platform::Image> CVFloorSelectorControl::topIcon() const {
    const auto imageView = topImageView_.lock();
    return imageView ? imageView->image() : std::nullopt;
}

void CVFloorSelectorControl::setTopIcon(std::optional<platform::Image> icon) {
    const auto imageView = topImageView_.lock();
    if (!imageView) return;
    imageView->setImage(std::move(icon));
    const double height = topImageHeight();
    if (topImageHeightConstraint_ && height != topImageHeightConstraint_->constant) {
        invalidateIntrinsicContentSize();
        setNeedsLayout();
    }
}

void CVFloorSelectorControl::setBackgroundColor(std::optional<platform::Color> color) {
    View::setBackgroundColor(color);
    if (container_) container_->setBackgroundColor(color);
}

void CVFloorSelectorControl::scrollViewDidScroll(platform::ScrollView& /*scrollView*/) {
    updateScrollIndicatorVisibility();
}

void CVFloorSelectorControl::setBuilding(const std::shared_ptr<CVBuilding>& building) {
    building_ = building;
    updateFloors(building, false);
}

void CVFloorSelectorControl::updateFloors(const std::shared_ptr<CVBuilding>& building, bool forceUpdate) {
    const auto clearButtons = [this] {
        if (container_) {
            const auto subviews = container_->subviews();
            for (const auto& subview : subviews) subview->removeFromSuperview();
        }
        buttons_.clear();
    };
    if (!building) clearButtons();
    const auto current = currentBuilding_.lock();
    const bool sameBuilding = building == current;
    const bool floorMoved = sameBuilding && building && building->getCurrentFloor() != floorIndex_;
    if (sameBuilding && !floorMoved && !forceUpdate) return;

    currentBuilding_ = building;
    floors_.clear();
    const auto floorsById = building ? building->getFloors() : std::map<std::string, std::shared_ptr<CVFloor>>{};
    nFloors_ = floorsById.size();
    clearButtons();

    if (const auto background = floorButtonBackgroundColor()) {
        setBackgroundColor(background);
    } else if (const auto tint = tintColor()) {
        setBackgroundColor(tint);
    } else {
        setBackgroundColor(backgroundColor());
    }

    for (const auto& [id, floor] : floorsById) {
        if (floor) floors_.push_back(floor);
    }
    // Highest first; floors without an index go last.
    std::stable_sort(floors_.begin(), floors_.end(), [](const auto& a, const auto& b) {
        const auto left = a->getFloorIndex();
        const auto right = b->getFloorIndex();
        if (!left || !right) return left.has_value() && !right.has_value();
        return *left > *right;
    });
    for (std::size_t i = 0; i < floors_.size(); ++i) buttons_.push_back(setupButtonWithFloor(floors_[i], i));
    updateLayout();

    const std::weak_ptr<CVFloorSelectorControl> weakSelf =
        std::static_pointer_cast<CVFloorSelectorControl>(shared_from_this());
    platform::MainQueue::shared().async([weakSelf] {
        const auto control = weakSelf.lock();
        if (!control) return;
        control->scrollToCurrentFloor();
        if (const auto scroll = control->scrollview()) {
            scroll->setShowsVerticalScrollIndicator(false);
            scroll->setShowsVerticalScrollIndicator(true);
        }
    });
}

std::shared_ptr<CVFloorButton> CVFloorSelectorControl::setupButtonWithFloor(const std::shared_ptr<CVFloor>& floor,
                                                                            std::size_t positionIndex) {
    const double p = floor_selector::padding();
    const double s = getDynamicButtonSize();
    auto button = std::make_shared<CVFloorButton>();
    const std::weak_ptr<CVFloorSelectorControl> weakSelf =
        std::static_pointer_cast<CVFloorSelectorControl>(shared_from_this());
    button->addTarget(platform::ControlEvent::TouchUpInside, [weakSelf](platform::Control& sender) {
        const auto control = weakSelf.lock();
        auto* tapped = dynamic_cast<CVFloorButton*>(&sender);
        if (control && tapped) control->notifyFloorSelect(*tapped);
    });
    const auto index = floor ? floor->getFloorIndex() : std::nullopt;
    const std::string name = floor ? floor->getName() : std::string();
    button->setTitle(name.empty() ? floor_selector::indexTitle(index) : name, platform::ControlState::Normal);
    button->setFrame({{p, static_cast<double>(positionIndex) * (s + p) + p}, {s, s}});
    button->setBackgroundColor(floorButtonBackgroundColor().value_or(platform::SystemColors::white()));
    button->setTitleColor(floorButtonTitleColor().value_or(platform::SystemColors::gray()),
                          platform::ControlState::Normal);
    button->titleLabel()->setFont(platform::Font::systemFont(16));
    button->titleLabel()->setAdjustsFontSizeToFitWidth(true);
    button->setFloorIndex(index);
    if (userFloor_ && index == userFloor_) highlightUserFloorButton(*button);
    if (floorIndex_ && index == floorIndex_) selectButton(*button);
    if (container_) container_->addSubview(button);
    return button;
}

void CVFloorSelectorControl::selectButton(CVFloorButton& button) {
    button.setSelected(true);
    button.setTitleColor(selectedFloorButtonTitleColor().value_or(platform::SystemColors::white()),
                         platform::ControlState::Normal);
    button.titleLabel()->setFont(floor_selector::titleFontFor(button));
    auto background = selectedFloorButtonBackgroundColor();
    if (!background) background = selectedColor();
    button.setBackgroundColor(background.value_or(platform::SystemColors::lightGray()));
}

void CVFloorSelectorControl::deselectButton(CVFloorButton& button) {
    button.setSelected(false);
    auto title = floorButtonTitleColor();
    if (!title) title = tintColor();
    button.setTitleColor(title.value_or(platform::SystemColors::gray()), platform::ControlState::Normal);
    button.titleLabel()->setFont(floor_selector::titleFontFor(button));
    button.setBackgroundColor(floorButtonBackgroundColor().value_or(platform::SystemColors::white()));
}

void CVFloorSelectorControl::highlightUserFloorButton(CVFloorButton& button) {
    button.titleLabel()->setFont(platform::Font::boldSystemFont(16));
    button.setTitleColor(userFloorColor(), platform::ControlState::Normal);
}

void CVFloorSelectorControl::setFloorIndex(std::optional<double> floorIndex) {
    if (floorIndex == floorIndex_) return;
    floorIndex_ = floorIndex;
    const auto buttons = buttons_;
    for (const auto& button : buttons) {
        const auto index = button->floorIndex();
        if (floorIndex && index == floorIndex) {
            selectButton(*button);
        } else if (button->isSelected()) {
            deselectButton(*button);
        }
        if (userFloor_ && index == userFloor_) highlightUserFloorButton(*button);
    }
    if (!floorIndex) return;
    if (const auto listener = delegate()) listener->onFloorIndexChanged(*floorIndex);
}

void CVFloorSelectorControl::notifyFloorSelect(CVFloorButton& button) {
    const auto tapped = button.floorIndex();
    if (!tapped || tapped == floorIndex_) return;
    // The button may go while the delegate rebuilds the column.
    const auto keep = std::static_pointer_cast<CVFloorButton>(button.shared_from_this());
    selectButton(button);
    const auto buttons = buttons_;
    for (const auto& other : buttons) {
        const auto index = other->floorIndex();
        if (floorIndex_ && index == floorIndex_) deselectButton(*other);
        if (userFloor_ && index == userFloor_) highlightUserFloorButton(*other);
    }
    setFloorIndex(tapped);
    if (const auto listener = delegate(); listener && floorIndex_) listener->onFloorIndexChanged(*floorIndex_);
}

void CVFloorSelectorControl::setUserFloorIndex(std::optional<double> floorIndex) {
    {
        auto& shared = floor_selector::settings();
        const std::lock_guard lock(shared.mutex);
        if (!shared.userFloorColor) shared.userFloorColor = platform::SystemColors::gray();
    }
    userFloor_ = floorIndex;
    const auto buttons = buttons_;
    for (const auto& button : buttons) {
        const auto index = button->floorIndex();
        deselectButton(*button);
        if (floorIndex_ && index == floorIndex_) selectButton(*button);
        if (userFloor_ && index == userFloor_) highlightUserFloorButton(*button);
    }
}

void CVFloorSelectorControl::up() {
    const auto found = std::find_if(floors_.begin(), floors_.end(), [this](const auto& floor) {
        return floorIndex_ && floor->getFloorIndex() == floorIndex_;
    });
    if (found == floors_.end() || found == floors_.begin()) return;
    setFloorIndex((*std::prev(found))->getFloorIndex());
}

void CVFloorSelectorControl::down() {
    const auto found = std::find_if(floors_.begin(), floors_.end(), [this](const auto& floor) {
        return floorIndex_ && floor->getFloorIndex() == floorIndex_;
    });
    if (found == floors_.end() || std::next(found) == floors_.end()) return;
    setFloorIndex((*std::next(found))->getFloorIndex());
}

void CVFloorSelectorControl::scrollToCurrentFloor() {
    const auto scroll = scrollview_.lock();
    if (!scroll) return;
    long long position = 0;
    for (std::size_t i = 0; i < floors_.size(); ++i) {
        if (floorIndex_ && floors_[i]->getFloorIndex() == floorIndex_) {
            position = static_cast<long long>(i);
            break;
        }
    }
    const auto n = static_cast<long long>(floors_.size());
    const auto m = static_cast<long long>(std::min<std::size_t>(maxVisibleFloorButtons_, 1000000000));
    long long first = 0;
    if (n <= m || position < m - 1) {
        first = 0;
    } else if (position > n - m) {
        first = n - m;
    } else {
        first = position - (m + 1) / 2;
    }
    const double p = floor_selector::padding();
    const double y = (getDynamicButtonSize() + p) * static_cast<double>(first) + p;
    if (y != scroll->contentOffset().y) scroll->setContentOffset({0, y}, true);
}

void CVFloorSelectorControl::remove() {
    const std::weak_ptr<View> weakSelf = weak_from_this();
    platform::MainQueue::shared().async([weakSelf] {
        if (const auto control = weakSelf.lock()) control->removeFromSuperview();
    });
}

}  // namespace ambrell
