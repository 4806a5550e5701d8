#include "platform/Image.h"

#include "platform/CairoHandles.h"

#include <cairo.h>

#include <cstring>
#include <memory>

namespace ambrell::platform {

namespace image_scaling {
namespace {

// cairo reads and writes the pixels in place: a stride of whole 32-bit
// words per row is the layout of Image itself.
CairoSurfacePtr surfaceOver(std::uint32_t* pixels, int width, int height) {
    return CairoSurfacePtr(cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(pixels),
                                                               CAIRO_FORMAT_ARGB32, width, height,
                                                               width * static_cast<int>(sizeof(std::uint32_t))));
}

}  // namespace
}  // namespace image_scaling

std::optional<Image> Image::scaledTo(int width, int height, double scale) const {
    auto result = create(width, height, scale);
    if (!result || pixels_.empty()) return std::nullopt;

    // cairo wants writable memory even to read from; the copy keeps a const
    // image from being handed out as writable.
    auto sourcePixels = pixels_;
    const auto source = image_scaling::surfaceOver(sourcePixels.data(), width_, height_);
    const auto target = image_scaling::surfaceOver(result->pixels_.data(), width, height);
    if (cairo_surface_status(source.get()) != CAIRO_STATUS_SUCCESS ||
        cairo_surface_status(target.get()) != CAIRO_STATUS_SUCCESS) {
        return std::nullopt;
    }
    {
        const CairoContextPtr context(cairo_create(target.get()));
        cairo_scale(context.get(), static_cast<double>(width) / width_, static_cast<double>(height) / height_);
        const CairoPatternPtr pattern(cairo_pattern_create_for_surface(source.get()));
        // Pad rather than fade: the edge pixels of a stretched icon stay as
        // opaque as they were.
        cairo_pattern_set_extend(pattern.get(), CAIRO_EXTEND_PAD);
        cairo_pattern_set_filter(pattern.get(), CAIRO_FILTER_GOOD);
        cairo_set_source(context.get(), pattern.get());
        cairo_set_operator(context.get(), CAIRO_OPERATOR_SOURCE);
        cairo_paint(context.get());
        if (cairo_status(context.get()) != CAIRO_STATUS_SUCCESS) return std::nullopt;
    }
    cairo_surface_flush(target.get());
    return result;
}

}  // namespace ambrell::platform
