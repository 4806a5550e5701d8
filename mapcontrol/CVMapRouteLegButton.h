#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/Button.h"

namespace ambrell {

// The small white rounded button with an icon and a grey title that marks
// the end of a route leg; the directions renderer draws it into a marker
// image. It sizes itself to its title.
class CVMapRouteLegButton : public platform::Button {
public:
    explicit CVMapRouteLegButton(const CGRect& frame = {});

    // Then sizes the button: the title's measured width plus 40 (20 without
    // a title) by at least 20, with the title inset 6 on each side.
    void setTitle(std::optional<std::string> title, platform::ControlState state) override;
    // The image is shown at 20 x 20 points, fitted.
    void setImage(std::optional<platform::Image> image, platform::ControlState state) override;

    // A button with the icon and the title for the normal state, drawn into
    // an image; null without an icon or when it cannot be drawn. The same
    // icon and title at the same screen scale give the same image, drawn
    // once while it is among the last few drawn. Any thread.
    [[nodiscard]] static std::shared_ptr<const platform::Image> markerImage(
        const std::shared_ptr<const platform::Image>& icon, const std::optional<std::string>& title);
};

}  // namespace ambrell
