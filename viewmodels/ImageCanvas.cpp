#include "viewmodels/ImageCanvas.h"

#include "platform/CairoHandles.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <numbers>
#include <vector>

namespace ambrell {

namespace image_canvas {
namespace {

platform::CairoSurfacePtr surfaceOver(std::uint32_t* pixels, int width, int height) {
    return platform::CairoSurfacePtr(
        cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(pixels), CAIRO_FORMAT_ARGB32, width,
                                            height, width * static_cast<int>(sizeof(std::uint32_t))));
}

std::optional<int> pixelsFor(double points, double scale) {
    const double pixels = std::ceil(points * scale - 1e-9);
    if (!std::isfinite(pixels) || pixels < 1 || pixels > std::numeric_limits<int>::max()) return std::nullopt;
    return static_cast<int>(pixels);
}

bool isUsable(const CanvasRect& rect) {
    return std::isfinite(rect.x) && std::isfinite(rect.y) && std::isfinite(rect.width) && std::isfinite(rect.height) &&
           rect.width > 0 && rect.height > 0;
}

void setColor(cairo_t* context, const platform::Color& color) {
    cairo_set_source_rgba(context, color.red, color.green, color.blue, color.alpha);
}

void addEllipse(cairo_t* context, const CanvasRect& rect) {
    cairo_save(context);
    cairo_translate(context, rect.x + rect.width / 2, rect.y + rect.height / 2);
    cairo_scale(context, rect.width / 2, rect.height / 2);
    cairo_new_sub_path(context);
    cairo_arc(context, 0, 0, 1, 0, 2 * std::numbers::pi);
    cairo_close_path(context);
    cairo_restore(context);
}

// Runs `draw` with a context over the image's pixels whose unit is a point.
template <typename Draw>
void drawOn(platform::Image& image, Draw draw) {
    const auto surface = surfaceOver(image.pixels().data(), image.width(), image.height());
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return;
    {
        const platform::CairoContextPtr context(cairo_create(surface.get()));
        cairo_scale(context.get(), image.scale(), image.scale());
        draw(context.get());
    }
    cairo_surface_flush(surface.get());
}

}  // namespace
}  // namespace image_canvas

std::optional<ImageCanvas> ImageCanvas::create(CGSize size, double scale) {
    if (!std::isfinite(scale) || scale <= 0) return std::nullopt;
    const auto width = image_canvas::pixelsFor(size.width, scale);
    const auto height = image_canvas::pixelsFor(size.height, scale);
    if (!width || !height) return std::nullopt;
    auto image = platform::Image::create(*width, *height, scale);
    if (!image) return std::nullopt;
    return ImageCanvas(std::move(*image));
}

void ImageCanvas::drawImage(const platform::Image& image, const CanvasRect& rect) {
    if (!image_canvas::isUsable(rect) || image.pixels().empty()) return;
    // cairo wants writable memory even to read from.
    std::vector<std::uint32_t> sourcePixels(image.pixels().begin(), image.pixels().end());
    const auto source = image_canvas::surfaceOver(sourcePixels.data(), image.width(), image.height());
    if (cairo_surface_status(source.get()) != CAIRO_STATUS_SUCCESS) return;
    image_canvas::drawOn(image_, [&](cairo_t* context) {
        cairo_translate(context, rect.x, rect.y);
        cairo_scale(context, rect.width / image.width(), rect.height / image.height());
        const platform::CairoPatternPtr pattern(cairo_pattern_create_for_surface(source.get()));
        // Padded and clipped to the rectangle: the edges of the image stay
        // as sharp as the rectangle's.
        cairo_pattern_set_extend(pattern.get(), CAIRO_EXTEND_PAD);
        cairo_pattern_set_filter(pattern.get(), CAIRO_FILTER_GOOD);
        cairo_set_source(context, pattern.get());
        cairo_rectangle(context, 0, 0, image.width(), image.height());
        cairo_fill(context);
    });
}

void ImageCanvas::fillRoundedRect(const CanvasRect& rect, double cornerRadius, const platform::Color& color) {
    if (!image_canvas::isUsable(rect)) return;
    const double radius =
        std::clamp(std::isfinite(cornerRadius) ? cornerRadius : 0.0, 0.0, std::min(rect.width, rect.height) / 2);
    image_canvas::drawOn(image_, [&](cairo_t* context) {
        constexpr double kQuarter = std::numbers::pi / 2;
        const double left = rect.x;
        const double top = rect.y;
        const double right = rect.x + rect.width;
        const double bottom = rect.y + rect.height;
        cairo_new_sub_path(context);
        cairo_arc(context, right - radius, top + radius, radius, -kQuarter, 0);
        cairo_arc(context, right - radius, bottom - radius, radius, 0, kQuarter);
        cairo_arc(context, left + radius, bottom - radius, radius, kQuarter, 2 * kQuarter);
        cairo_arc(context, left + radius, top + radius, radius, 2 * kQuarter, 3 * kQuarter);
        cairo_close_path(context);
        cairo_set_fill_rule(context, CAIRO_FILL_RULE_WINDING);
        image_canvas::setColor(context, color);
        cairo_fill(context);
    });
}

void ImageCanvas::fillEllipse(const CanvasRect& rect, const platform::Color& color) {
    if (!image_canvas::isUsable(rect)) return;
    image_canvas::drawOn(image_, [&](cairo_t* context) {
        image_canvas::addEllipse(context, rect);
        image_canvas::setColor(context, color);
        cairo_fill(context);
    });
}

void ImageCanvas::strokeEllipse(const CanvasRect& rect, double lineWidth, const platform::Color& color) {
    if (!image_canvas::isUsable(rect) || !std::isfinite(lineWidth) || lineWidth <= 0) return;
    image_canvas::drawOn(image_, [&](cairo_t* context) {
        image_canvas::addEllipse(context, rect);
        cairo_set_line_width(context, lineWidth);
        image_canvas::setColor(context, color);
        cairo_stroke(context);
    });
}

void ImageCanvas::drawCentredText(std::string_view text, const platform::Font& font, const CanvasRect& rect,
                                  const platform::Color& color) {
    const auto size = platform::measureText(text, font);
    platform::drawText(image_, text, font, CGPoint{rect.x + (rect.width - size.width) / 2, rect.y}, color);
}

}  // namespace ambrell
