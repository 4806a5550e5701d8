#include "platform/Button.h"

#include <algorithm>

namespace ambrell::platform {

namespace button_layout {
namespace {

ControlState stateWith(ControlState state, ControlState flag, bool on) {
    const auto bits = static_cast<unsigned>(state);
    const auto mask = static_cast<unsigned>(flag);
    return static_cast<ControlState>(on ? (bits | mask) : (bits & ~mask));
}

template <typename Value>
std::optional<Value> lookUp(const std::map<ControlState, Value>& values, ControlState state) {
    if (const auto found = values.find(state); found != values.end()) return found->second;
    if (const auto normal = values.find(ControlState::Normal); normal != values.end()) return normal->second;
    return std::nullopt;
}

template <typename Value>
void store(std::map<ControlState, Value>& values, ControlState state, std::optional<Value> value) {
    if (value) {
        values.insert_or_assign(state, std::move(*value));
    } else {
        values.erase(state);
    }
}

// The image's size in points, shrunk (keeping its shape) to fit `room`.
CGSize fittedImageSize(const Image& image, CGSize room) {
    CGSize size{image.width() / image.scale(), image.height() / image.scale()};
    if (size.width <= 0 || size.height <= 0) return {};
    const double factor = std::min({1.0, room.width / size.width, room.height / size.height});
    if (factor < 1) size = {size.width * std::max(factor, 0.0), size.height * std::max(factor, 0.0)};
    return size;
}

}  // namespace
}  // namespace button_layout

ControlState Control::state() const {
    auto state = ControlState::Normal;
    state = button_layout::stateWith(state, ControlState::Highlighted, highlighted_);
    state = button_layout::stateWith(state, ControlState::Disabled, !enabled_);
    state = button_layout::stateWith(state, ControlState::Selected, selected_);
    return state;
}

void Control::setSelected(bool selected) {
    if (selected_ == selected) return;
    selected_ = selected;
    stateDidChange();
}

void Control::setEnabled(bool enabled) {
    if (enabled_ == enabled) return;
    enabled_ = enabled;
    stateDidChange();
}

void Control::setHighlighted(bool highlighted) {
    if (highlighted_ == highlighted) return;
    highlighted_ = highlighted;
    stateDidChange();
}

void Control::setContentHorizontalAlignment(ContentHorizontalAlignment alignment) {
    horizontalAlignment_ = alignment;
    setNeedsLayout();
}

void Control::addTarget(ControlEvent event, Action action) {
    if (action) actions_.emplace_back(event, std::move(action));
}

void Control::sendActions(ControlEvent event) {
    if (!enabled_) return;
    // An action may add or remove actions, or drop the last reference to
    // this control's owner: run a copy, keeping this control alive.
    const auto self = weak_from_this().lock();
    const auto actions = actions_;
    for (const auto& [registered, action] : actions) {
        if (registered == event) action(*this);
    }
}

Button::Button(ButtonType type, const CGRect& frame)
    : Control(frame), type_(type), titleLabel_(std::make_shared<Label>()), imageView_(std::make_shared<ImageView>()) {
    titleLabel_->setFont(Font::systemFont(15));
    addSubview(imageView_);
    addSubview(titleLabel_);
    refreshContent();
}

void Button::setTitle(std::optional<std::string> title, ControlState state) {
    button_layout::store(titles_, state, std::move(title));
    refreshContent();
}

std::optional<std::string> Button::titleForState(ControlState state) const {
    return button_layout::lookUp(titles_, state);
}

void Button::setTitleColor(std::optional<Color> color, ControlState state) {
    button_layout::store(titleColors_, state, color);
    refreshContent();
}

std::optional<Color> Button::titleColorForState(ControlState state) const {
    return button_layout::lookUp(titleColors_, state);
}

Color Button::currentTitleColor() const {
    if (const auto color = titleColorForState(state())) return *color;
    return type_ == ButtonType::System ? Color{0, 122.0 / 255.0, 1, 1} : Color{1, 1, 1, 1};
}

void Button::setImage(std::optional<Image> image, ControlState state) {
    button_layout::store(images_, state, std::move(image));
    refreshContent();
}

std::optional<Image> Button::imageForState(ControlState state) const { return button_layout::lookUp(images_, state); }

void Button::setContentEdgeInsets(const EdgeInsets& insets) {
    contentInsets_ = insets;
    setNeedsLayout();
}

void Button::setTitleEdgeInsets(const EdgeInsets& insets) {
    titleInsets_ = insets;
    setNeedsLayout();
}

void Button::setImageEdgeInsets(const EdgeInsets& insets) {
    imageInsets_ = insets;
    setNeedsLayout();
}

void Button::stateDidChange() { refreshContent(); }

void Button::refreshContent() {
    const auto title = currentTitle();
    titleLabel_->setText(title);
    titleLabel_->setHidden(!title);
    titleLabel_->setTextColor(currentTitleColor());
    const auto image = currentImage();
    imageView_->setImage(image);
    imageView_->setHidden(!image);
    setNeedsLayout();
}

void Button::layoutSubviews() {
    const CGRect content = insetRect(CGRect{{0, 0}, bounds().size}, contentInsets_);
    CGSize imageSize;
    if (const auto& image = imageView_->image()) {
        imageSize = button_layout::fittedImageSize(*image, {content.width() - imageInsets_.left - imageInsets_.right,
                                                            content.height() - imageInsets_.top - imageInsets_.bottom});
    }
    const double imageBlock = imageSize.width > 0 ? imageSize.width + imageInsets_.left + imageInsets_.right : 0;
    const double titleRoom = std::max(0.0, content.width() - imageBlock - titleInsets_.left - titleInsets_.right);
    double titleWidth = 0;
    if (const auto& title = titleLabel_->text())
        titleWidth = std::min(measureText(*title, titleLabel_->font()).width, titleRoom);
    const auto alignment = contentHorizontalAlignment();
    if (alignment == ContentHorizontalAlignment::Fill) titleWidth = titleRoom;
    const double groupWidth =
        imageBlock + (titleLabel_->text() ? titleWidth + titleInsets_.left + titleInsets_.right : 0);

    double x = content.minX();
    if (alignment == ContentHorizontalAlignment::Center) x += (content.width() - groupWidth) / 2;
    if (alignment == ContentHorizontalAlignment::Right) x = content.maxX() - groupWidth;

    const double imageCentreY = content.midY() + (imageInsets_.top - imageInsets_.bottom) / 2;
    imageView_->setFrame(CGRect{{x + imageInsets_.left, imageCentreY - imageSize.height / 2}, imageSize});
    const double titleHeight = std::max(0.0, content.height() - titleInsets_.top - titleInsets_.bottom);
    titleLabel_->setFrame(
        CGRect{{x + imageBlock + titleInsets_.left, content.minY() + titleInsets_.top}, {titleWidth, titleHeight}});
}

CGSize Button::intrinsicContentSize() const {
    CGSize size;
    if (const auto image = currentImage()) {
        size.width += image->width() / image->scale() + imageInsets_.left + imageInsets_.right;
        size.height = image->height() / image->scale() + imageInsets_.top + imageInsets_.bottom;
    }
    if (const auto title = currentTitle()) {
        const CGSize text = measureText(*title, titleLabel_->font());
        size.width += text.width + titleInsets_.left + titleInsets_.right;
        size.height = std::max(size.height, text.height + titleInsets_.top + titleInsets_.bottom);
    }
    return {size.width + contentInsets_.left + contentInsets_.right,
            size.height + contentInsets_.top + contentInsets_.bottom};
}

}  // namespace ambrell::platform
