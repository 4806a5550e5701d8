#pragma once

#include <cstdint>
#include <memory>

#include "platform/CGSize.h"
#include "platform/Color.h"
#include "platform/Image.h"

namespace ambrell {

// The bitmap layout that rgba32() values are painted with: alpha
// premultiplied and last (1) in 32-bit little-endian order (8192).
[[nodiscard]] std::uint32_t rgba32BitmapInfo() noexcept;

// The image redrawn at `size` points for the main screen (its scale, not the
// image's), stretched to fill: callers that keep the aspect ratio compute the
// size themselves. The very same image when `size` is the image's own size or
// zero by zero, or too large to draw; null for a side that is 0 (the other
// not), negative or not finite, which no image has, and for null.
[[nodiscard]] std::shared_ptr<const platform::Image> resized(const std::shared_ptr<const platform::Image>& image,
                                                             CGSize size);

// A new fully transparent image of one point at scale 1.
[[nodiscard]] std::shared_ptr<const platform::Image> transparentPixel();

// The colour packed as red << 24 | green << 16 | blue << 8 | alpha, each
// component times 255.999999 truncated. Components outside [0, 1] are held to
// it, and one that is not a number counts as 0.
[[nodiscard]] std::uint32_t rgba32(const platform::Color& color) noexcept;

}  // namespace ambrell
