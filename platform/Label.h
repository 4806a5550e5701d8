#pragma once

#include <optional>
#include <string>

#include "platform/Color.h"
#include "platform/Text.h"
#include "platform/View.h"

namespace ambrell::platform {

// A view that shows text, centred vertically in its bounds.
class Label : public View {
public:
    using View::View;

    [[nodiscard]] const std::optional<std::string>& text() const { return text_; }
    void setText(std::optional<std::string> text);
    [[nodiscard]] const Font& font() const { return font_; }
    void setFont(Font font);
    // Black unless set.
    [[nodiscard]] const Color& textColor() const { return textColor_; }
    void setTextColor(const Color& color) { textColor_ = color; }
    [[nodiscard]] TextAlignment textAlignment() const { return textAlignment_; }
    void setTextAlignment(TextAlignment alignment) { textAlignment_ = alignment; }
    // 1 keeps the text on one line (line breaks in it still start lines);
    // any other number wraps it at the bounds width (0: no limit).
    [[nodiscard]] int numberOfLines() const { return numberOfLines_; }
    void setNumberOfLines(int lines) { numberOfLines_ = lines; }
    // One-line text wider than the bounds is drawn smaller to fit, down to
    // minimumScaleFactor of the font size (0: as small as it takes).
    [[nodiscard]] bool adjustsFontSizeToFitWidth() const { return adjustsFontSizeToFitWidth_; }
    void setAdjustsFontSizeToFitWidth(bool adjusts) { adjustsFontSizeToFitWidth_ = adjusts; }
    [[nodiscard]] double minimumScaleFactor() const { return minimumScaleFactor_; }
    void setMinimumScaleFactor(double factor) { minimumScaleFactor_ = factor; }

    // The font the text is drawn in at the current bounds: the font, or a
    // smaller one when it shrinks to fit.
    [[nodiscard]] Font fittedFont() const;
    // The size of the text on one line (or wrapped at the bounds width when
    // the label wraps).
    [[nodiscard]] CGSize intrinsicContentSize() const override;

private:
    std::optional<std::string> text_;
    Font font_ = Font::systemFont(17);
    Color textColor_{0, 0, 0, 1};
    TextAlignment textAlignment_ = TextAlignment::Left;
    int numberOfLines_ = 1;
    bool adjustsFontSizeToFitWidth_ = false;
    double minimumScaleFactor_ = 0;
};

}  // namespace ambrell::platform
