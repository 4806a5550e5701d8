#pragma once

#include <string>
#include <string_view>

#include "platform/CGPoint.h"
#include "platform/CGSize.h"
#include "platform/Color.h"
#include "platform/Image.h"

namespace ambrell::platform {

// A font by family, size in points and weight.
struct Font {
    // The family every Debian machine with fonts-dejavu-core has, so text
    // measures and renders alike everywhere.
    static constexpr std::string_view systemFamily = "DejaVu Sans";
    // The size, in points, of the platform's default system font.
    static constexpr double systemFontSize = 14;

    std::string family = std::string(systemFamily);
    double size = 12;
    bool bold = false;

    [[nodiscard]] static Font systemFont(double size) { return Font{std::string(systemFamily), size, false}; }
    [[nodiscard]] static Font boldSystemFont(double size) { return Font{std::string(systemFamily), size, true}; }

    friend bool operator==(const Font&, const Font&) = default;
};

enum class TextAlignment { Left, Center, Right };

// Text is laid out by pango on cairo, on one line (line breaks in the text
// start new lines), with hinting off and grey antialiasing: sizes scale with
// the font size and the screen's scale alike, and pixels carry no colour
// fringes. Safe to call from any thread.

// The size in points that drawText() covers; zero by zero for empty text or
// a size that is not a finite positive number.
[[nodiscard]] CGSize measureText(std::string_view text, const Font& font);
// The size the text covers laid out in lines at most `maxWidth` points wide:
// lines wrap between words, or inside a word longer than a line. A width that
// is not a finite positive number lays the text out as measureText() does.
[[nodiscard]] CGSize measureText(std::string_view text, const Font& font, double maxWidth);

// Draws the text over the image with its top-left corner at `origin`, in
// points of the image (its scale turns them into pixels). Text that is not
// valid UTF-8 is drawn with its bad bytes replaced; a font size that is not a
// finite positive number draws nothing.
void drawText(Image& image, std::string_view text, const Font& font, CGPoint origin, const Color& color);

}  // namespace ambrell::platform
