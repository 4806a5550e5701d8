#pragma once

#include <memory>

#include "platform/CGSize.h"
#include "platform/Image.h"
#include "platform/Layer.h"
#include "platform/View.h"

namespace ambrell {

// Turns views and layers into images for the map, and resizes and rescales
// images. Drawn for the main screen's scale, on the caller's thread.
class CVImageRenderer {
public:
    CVImageRenderer() = delete;

    // The view, laid out, drawn at its bounds size with its opaque flag;
    // null for a view of no size.
    [[nodiscard]] static std::shared_ptr<const platform::Image> imageWithView(platform::View& view);
    // The layer drawn into an image of `size` points; null when both sides
    // are 0 (a side of 0 beside a positive one still draws).
    [[nodiscard]] static std::shared_ptr<const platform::Image> imageWithSize(CGSize size, bool opaque,
                                                                              const platform::Layer& layer);
    // A large icon shown smaller: the same pixels at scale 3 when wider than
    // 52 points, at scale 2 when wider than 32, else the image itself.
    [[nodiscard]] static std::shared_ptr<const platform::Image> scaledIconFromImage(
        const std::shared_ptr<const platform::Image>& image);
    // The image redrawn to fill `size` points, transparent where it does not
    // cover; the image itself when each side is within a point of the size
    // already, or when no image of that size can be drawn; null for null.
    [[nodiscard]] static std::shared_ptr<const platform::Image> imageResize(
        const std::shared_ptr<const platform::Image>& image, CGSize size);
};

}  // namespace ambrell
