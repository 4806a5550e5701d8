#pragma once

#include <optional>

#include "platform/CGSize.h"
#include "platform/Image.h"
#include "platform/Layer.h"
#include "platform/View.h"

namespace ambrell::platform {

// Draws a layer tree with cairo: backgrounds with rounded corners, clipping,
// opacity, gradient and shape layers, and the text and images of the labels
// and image views whose layers they are. The layer's own top-left corner
// sits at the image's origin. A size of zero by zero gives none; a side of 0
// (or less than a pixel) beside a positive one still renders, one pixel
// wide. `opaque` fills the image black beneath the drawing.
[[nodiscard]] std::optional<Image> renderLayer(const Layer& layer, CGSize size, bool opaque, double scale);

// Lays the view out (layoutIfNeeded) and renders its layer at its bounds
// size, with the view's opaque flag.
[[nodiscard]] std::optional<Image> renderView(View& view, double scale);

}  // namespace ambrell::platform
