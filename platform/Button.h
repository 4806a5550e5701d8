#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Image.h"
#include "platform/ImageView.h"
#include "platform/Label.h"
#include "platform/View.h"

namespace ambrell::platform {

// A control's state: normal, or any combination of the flags.
enum class ControlState : std::uint8_t { Normal = 0, Highlighted = 1, Disabled = 2, Selected = 4 };

enum class ControlEvent { TouchUpInside, ValueChanged };

enum class ContentHorizontalAlignment { Center, Left, Right, Fill };

// A view that runs actions on its events. There is no touch input here: the
// host, or a test, fires an event with sendActions().
class Control : public View {
public:
    using Action = std::function<void(Control& sender)>;

    using View::View;

    [[nodiscard]] ControlState state() const;
    [[nodiscard]] bool isSelected() const { return selected_; }
    virtual void setSelected(bool selected);
    [[nodiscard]] bool isEnabled() const { return enabled_; }
    virtual void setEnabled(bool enabled);
    [[nodiscard]] bool isHighlighted() const { return highlighted_; }
    virtual void setHighlighted(bool highlighted);
    [[nodiscard]] ContentHorizontalAlignment contentHorizontalAlignment() const { return horizontalAlignment_; }
    void setContentHorizontalAlignment(ContentHorizontalAlignment alignment);

    // Actions run in the order added; an action should hold its target weakly.
    void addTarget(ControlEvent event, Action action);
    void removeAllTargets() { actions_.clear(); }
    // Runs the event's actions; a disabled control runs none.
    void sendActions(ControlEvent event);

protected:
    // Called after the state changed.
    virtual void stateDidChange() {}

private:
    bool selected_ = false;
    bool enabled_ = true;
    bool highlighted_ = false;
    ContentHorizontalAlignment horizontalAlignment_ = ContentHorizontalAlignment::Center;
    std::vector<std::pair<ControlEvent, Action>> actions_;
};

enum class ButtonType { Custom, System };

// A control with a title and an image per state. A state without a value of
// its own shows the normal state's. The title label and the image view are
// subviews, laid out side by side (image first) in the bounds shrunk by the
// content insets, each further inset by its own insets.
class Button : public Control {
public:
    explicit Button(ButtonType type = ButtonType::Custom, const CGRect& frame = {});

    [[nodiscard]] ButtonType buttonType() const { return type_; }

    virtual void setTitle(std::optional<std::string> title, ControlState state);
    [[nodiscard]] std::optional<std::string> titleForState(ControlState state) const;
    [[nodiscard]] std::optional<std::string> currentTitle() const { return titleForState(state()); }
    // A custom button's titles are white, a system button's blue, unless set.
    void setTitleColor(std::optional<Color> color, ControlState state);
    [[nodiscard]] std::optional<Color> titleColorForState(ControlState state) const;
    [[nodiscard]] Color currentTitleColor() const;
    virtual void setImage(std::optional<Image> image, ControlState state);
    [[nodiscard]] std::optional<Image> imageForState(ControlState state) const;
    [[nodiscard]] std::optional<Image> currentImage() const { return imageForState(state()); }

    [[nodiscard]] const std::shared_ptr<Label>& titleLabel() const { return titleLabel_; }
    [[nodiscard]] const std::shared_ptr<ImageView>& imageView() const { return imageView_; }

    [[nodiscard]] const EdgeInsets& contentEdgeInsets() const { return contentInsets_; }
    void setContentEdgeInsets(const EdgeInsets& insets);
    [[nodiscard]] const EdgeInsets& titleEdgeInsets() const { return titleInsets_; }
    void setTitleEdgeInsets(const EdgeInsets& insets);
    [[nodiscard]] const EdgeInsets& imageEdgeInsets() const { return imageInsets_; }
    void setImageEdgeInsets(const EdgeInsets& insets);

    void layoutSubviews() override;
    // The image and the title side by side, with the content insets.
    [[nodiscard]] CGSize intrinsicContentSize() const override;

protected:
    void stateDidChange() override;

private:
    // Shows the current state's title, colour and image.
    void refreshContent();

    ButtonType type_;
    std::map<ControlState, std::string> titles_;
    std::map<ControlState, Color> titleColors_;
    std::map<ControlState, Image> images_;
    std::shared_ptr<Label> titleLabel_;
    std::shared_ptr<ImageView> imageView_;
    EdgeInsets contentInsets_;
    EdgeInsets titleInsets_;
    EdgeInsets imageInsets_;
};

}  // namespace ambrell::platform
