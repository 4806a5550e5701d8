#pragma once

#include <optional>

#include "platform/Image.h"
#include "platform/View.h"

namespace ambrell::platform {

enum class ContentMode { ScaleToFill, ScaleAspectFit, ScaleAspectFill, Center };

// A view that shows an image, placed in its bounds by the content mode.
class ImageView : public View {
public:
    using View::View;

    [[nodiscard]] const std::optional<Image>& image() const { return image_; }
    void setImage(std::optional<Image> image);
    [[nodiscard]] ContentMode contentMode() const { return contentMode_; }
    void setContentMode(ContentMode mode) { contentMode_ = mode; }

    // The image's size in points; none without an image.
    [[nodiscard]] CGSize intrinsicContentSize() const override;

private:
    std::optional<Image> image_;
    ContentMode contentMode_ = ContentMode::ScaleToFill;
};

}  // namespace ambrell::platform
