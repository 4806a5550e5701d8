#pragma once

#include <string_view>

#include "platform/Text.h"

// For the platform's own drawing code: text shown on a cairo context that
// the caller has placed and clipped.
using cairo_t = struct _cairo;

namespace ambrell::platform::text_drawing {

// Shows the text in the context's current source with its layout box's
// top-left corner at the context's origin. The box is `width` points wide:
// lines wrap at it when `wrap` is set, and `alignment` places each line in
// it. Draws nothing for empty text or a size that measureText() refuses.
void showText(cairo_t* context, std::string_view text, const Font& font, double width, bool wrap,
              TextAlignment alignment);

}  // namespace ambrell::platform::text_drawing
