#include "platform/ViewRenderer.h"

#include "platform/CairoHandles.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "platform/ImageView.h"
#include "platform/Label.h"
#include "platform/TextCairo.h"

namespace ambrell::platform {

namespace view_renderer {
namespace {

// Deep trees are a programming error; past this the rest is not drawn,
// rather than the stack running out.
constexpr int kMaxDepth = 256;

bool isFinite(const CGRect& rect) {
    return std::isfinite(rect.origin.x) && std::isfinite(rect.origin.y) && std::isfinite(rect.size.width) &&
           std::isfinite(rect.size.height);
}

void setSource(cairo_t* context, const Color& color) {
    cairo_set_source_rgba(context, color.red, color.green, color.blue, color.alpha);
}

// The rectangle (0, 0, width, height), its corners rounded by `radius` (at
// most half the shorter side).
void roundedRectangle(cairo_t* context, CGSize size, double radius) {
    radius = std::clamp(radius, 0.0, std::min(size.width, size.height) / 2);
    if (radius <= 0) {
        cairo_rectangle(context, 0, 0, size.width, size.height);
        return;
    }
    const double right = size.width;
    const double bottom = size.height;
    cairo_new_sub_path(context);
    cairo_arc(context, right - radius, radius, radius, -M_PI / 2, 0);
    cairo_arc(context, right - radius, bottom - radius, radius, 0, M_PI / 2);
    cairo_arc(context, radius, bottom - radius, radius, M_PI / 2, M_PI);
    cairo_arc(context, radius, radius, radius, M_PI, 3 * M_PI / 2);
    cairo_close_path(context);
}

void drawGradient(cairo_t* context, const GradientLayer& layer, CGSize size) {
    const auto& colors = layer.colors();
    if (colors.empty()) return;
    const CairoPatternPtr pattern(
        cairo_pattern_create_linear(layer.startPoint().x * size.width, layer.startPoint().y * size.height,
                                    layer.endPoint().x * size.width, layer.endPoint().y * size.height));
    const auto& locations = layer.locations();
    const bool spread = locations.size() != colors.size();
    for (std::size_t i = 0; i < colors.size(); ++i) {
        double offset = 0;
        if (!spread) {
            offset = locations[i];
        } else if (colors.size() > 1) {
            offset = static_cast<double>(i) / static_cast<double>(colors.size() - 1);
        }
        const auto& color = colors[i];
        cairo_pattern_add_color_stop_rgba(pattern.get(), std::clamp(offset, 0.0, 1.0), color.red, color.green,
                                          color.blue, color.alpha);
    }
    cairo_rectangle(context, 0, 0, size.width, size.height);
    cairo_set_source(context, pattern.get());
    cairo_fill(context);
}

void drawShape(cairo_t* context, const ShapeLayer& layer) {
    const auto& path = layer.path();
    if (!path || path->isEmpty()) return;
    cairo_new_path(context);
    for (const auto& figure : path->figures()) {
        if (figure.points.empty()) continue;
        cairo_move_to(context, figure.points.front().x, figure.points.front().y);
        for (std::size_t i = 1; i < figure.points.size(); ++i) {
            cairo_line_to(context, figure.points[i].x, figure.points[i].y);
        }
        if (figure.closed) cairo_close_path(context);
    }
    cairo_set_fill_rule(context, CAIRO_FILL_RULE_WINDING);
    if (const auto& fill = layer.fillColor()) {
        setSource(context, *fill);
        cairo_fill_preserve(context);
    }
    if (const auto& stroke = layer.strokeColor(); stroke && layer.lineWidth() > 0) {
        setSource(context, *stroke);
        cairo_set_line_width(context, layer.lineWidth());
        cairo_stroke_preserve(context);
    }
    cairo_new_path(context);
}

void drawImage(cairo_t* context, const Image& image, const CGRect& rect) {
    if (rect.size.width <= 0 || rect.size.height <= 0) return;
    // cairo reads the pixels in place but wants them writable; the image is
    // drawn from a copy so the view's own stays untouched.
    std::vector<std::uint32_t> pixels(image.pixels().begin(), image.pixels().end());
    const CairoSurfacePtr surface(cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(pixels.data()),
                                                                      CAIRO_FORMAT_ARGB32, image.width(),
                                                                      image.height(), image.width() * 4));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return;
    cairo_save(context);
    cairo_translate(context, rect.origin.x, rect.origin.y);
    cairo_scale(context, rect.size.width / image.width(), rect.size.height / image.height());
    cairo_set_source_surface(context, surface.get(), 0, 0);
    cairo_pattern_set_filter(cairo_get_source(context), CAIRO_FILTER_GOOD);
    cairo_paint(context);
    cairo_restore(context);
}

CGRect imageRect(const ImageView& view, const Image& image) {
    const CGRect bounds = view.bounds();
    const CGSize natural{image.width() / image.scale(), image.height() / image.scale()};
    if (view.contentMode() == ContentMode::ScaleToFill || natural.width <= 0 || natural.height <= 0) return bounds;
    double factor = 1;
    if (view.contentMode() == ContentMode::ScaleAspectFit) {
        factor = std::min(bounds.width() / natural.width, bounds.height() / natural.height);
    } else if (view.contentMode() == ContentMode::ScaleAspectFill) {
        factor = std::max(bounds.width() / natural.width, bounds.height() / natural.height);
    }
    const CGSize size{natural.width * factor, natural.height * factor};
    return CGRect{{bounds.midX() - size.width / 2, bounds.midY() - size.height / 2}, size};
}

void drawLabel(cairo_t* context, const Label& label) {
    const auto& text = label.text();
    if (!text || text->empty()) return;
    const CGRect bounds = label.bounds();
    const Font font = label.fittedFont();
    const bool wrap = label.numberOfLines() != 1 && bounds.width() > 0;
    const CGSize size = wrap ? measureText(*text, font, bounds.width()) : measureText(*text, font);
    cairo_save(context);
    cairo_translate(context, bounds.minX(), bounds.minY() + (bounds.height() - size.height) / 2);
    setSource(context, label.textColor());
    text_drawing::showText(context, *text, font, bounds.width(), wrap, label.textAlignment());
    cairo_restore(context);
}

// What the layer's view draws itself: text or an image.
void drawViewContents(cairo_t* context, const View* view) {
    if (const auto* label = dynamic_cast<const Label*>(view)) {
        drawLabel(context, *label);
    } else if (const auto* imageView = dynamic_cast<const ImageView*>(view)) {
        if (const auto& image = imageView->image()) drawImage(context, *image, imageRect(*imageView, *image));
    }
}

void drawLayerTree(cairo_t* context, const Layer& layer, int depth);

// The layer drawn with its top-left corner at the context's origin.
void drawLayerBody(cairo_t* context, const Layer& layer, int depth) {
    const CGRect bounds = layer.bounds();
    const CGSize size = bounds.size;
    const bool group = layer.opacity() < 1;
    if (group) cairo_push_group(context);

    if (const auto& background = layer.backgroundColor()) {
        roundedRectangle(context, size, layer.cornerRadius());
        setSource(context, *background);
        cairo_fill(context);
    }
    if (const auto* gradient = dynamic_cast<const GradientLayer*>(&layer)) drawGradient(context, *gradient, size);
    if (layer.masksToBounds()) {
        roundedRectangle(context, size, layer.cornerRadius());
        cairo_clip(context);
    }
    cairo_translate(context, -bounds.minX(), -bounds.minY());
    if (const auto* shape = dynamic_cast<const ShapeLayer*>(&layer)) drawShape(context, *shape);
    drawViewContents(context, layer.delegate());
    for (const auto& sublayer : layer.sublayers()) drawLayerTree(context, *sublayer, depth + 1);

    if (group) {
        cairo_pop_group_to_source(context);
        cairo_paint_with_alpha(context, std::clamp(layer.opacity(), 0.0, 1.0));
    }
}

// A sublayer, placed by its frame in its superlayer's coordinates.
void drawLayerTree(cairo_t* context, const Layer& layer, int depth) {
    if (depth > kMaxDepth || layer.isHidden() || layer.opacity() <= 0) return;
    const CGRect frame = layer.frame();
    if (!isFinite(frame) || !isFinite(layer.bounds())) return;
    cairo_save(context);
    cairo_translate(context, frame.minX(), frame.minY());
    drawLayerBody(context, layer, depth);
    cairo_restore(context);
}

int pixelsFor(double points, double scale) {
    const double pixels = std::ceil(points * scale - 1e-9);
    return pixels < 1 ? 1 : static_cast<int>(std::min(pixels, 32767.0));
}

}  // namespace
}  // namespace view_renderer

std::optional<Image> renderLayer(const Layer& layer, CGSize size, bool opaque, double scale) {
    if (!std::isfinite(size.width) || !std::isfinite(size.height) || !std::isfinite(scale) || scale <= 0) {
        return std::nullopt;
    }
    if (size.width <= 0 && size.height <= 0) return std::nullopt;
    auto image =
        Image::create(view_renderer::pixelsFor(size.width, scale), view_renderer::pixelsFor(size.height, scale), scale);
    if (!image) return std::nullopt;
    auto pixels = image->pixels();
    const CairoSurfacePtr surface(cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(pixels.data()),
                                                                      CAIRO_FORMAT_ARGB32, image->width(),
                                                                      image->height(), image->width() * 4));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return std::nullopt;
    {
        const CairoContextPtr context(cairo_create(surface.get()));
        cairo_scale(context.get(), scale, scale);
        if (opaque) {
            cairo_set_source_rgb(context.get(), 0, 0, 0);
            cairo_paint(context.get());
        }
        if (!layer.isHidden() && layer.opacity() > 0 && view_renderer::isFinite(layer.bounds())) {
            view_renderer::drawLayerBody(context.get(), layer, 0);
        }
    }
    cairo_surface_flush(surface.get());
    return image;
}

std::optional<Image> renderView(View& view, double scale) {
    view.layoutIfNeeded();
    return renderLayer(*view.layer(), view.bounds().size, view.isOpaque(), scale);
}

}  // namespace ambrell::platform
