#include "platform/Label.h"

#include <algorithm>

namespace ambrell::platform {

void Label::setText(std::optional<std::string> text) {
    text_ = std::move(text);
    invalidateIntrinsicContentSize();
}

void Label::setFont(Font font) {
    font_ = std::move(font);
    invalidateIntrinsicContentSize();
}

Font Label::fittedFont() const {
    if (!adjustsFontSizeToFitWidth_ || numberOfLines_ != 1 || !text_) return font_;
    const double available = bounds().size.width;
    const double width = measureText(*text_, font_).width;
    if (available <= 0 || width <= available) return font_;
    // Unhinted text widths scale with the font size.
    const double factor = std::max(available / width, std::clamp(minimumScaleFactor_, 0.0, 1.0));
    Font fitted = font_;
    fitted.size = font_.size * factor;
    return fitted;
}

CGSize Label::intrinsicContentSize() const {
    if (!text_) return {0, 0};
    if (numberOfLines_ != 1 && bounds().size.width > 0) return measureText(*text_, font_, bounds().size.width);
    return measureText(*text_, font_);
}

}  // namespace ambrell::platform
