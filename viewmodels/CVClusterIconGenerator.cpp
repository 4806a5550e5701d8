#include "viewmodels/CVClusterIconGenerator.h"

#include <cairo.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

#include "platform/Screen.h"
#include "platform/Text.h"

namespace ambrell {

namespace cluster_icon_generator {
namespace {

struct DestroySurface {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct DestroyContext {
    void operator()(cairo_t* context) const { cairo_destroy(context); }
};
using Surface = std::unique_ptr<cairo_surface_t, DestroySurface>;
using Context = std::unique_ptr<cairo_t, DestroyContext>;

// A canvas side in pixels: a fraction of a pixel still takes a whole one, as
// the platform's renderers round up.
std::optional<int> pixelsFor(double points, double scale) {
    const double pixels = std::ceil(points * scale - 1e-9);
    if (!std::isfinite(pixels) || pixels < 1 || pixels > std::numeric_limits<int>::max()) return std::nullopt;
    return static_cast<int>(pixels);
}

Surface surfaceOver(std::uint32_t* pixels, int width, int height) {
    return Surface(cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(pixels), CAIRO_FORMAT_ARGB32,
                                                       width, height, width * static_cast<int>(sizeof(std::uint32_t))));
}

void fillEllipse(cairo_t* context, double x, double y, double width, double height, const platform::Color& color) {
    cairo_save(context);
    cairo_translate(context, x + width / 2, y + height / 2);
    cairo_scale(context, width / 2, height / 2);
    cairo_arc(context, 0, 0, 1, 0, 2 * std::numbers::pi);
    cairo_restore(context);
    cairo_set_source_rgba(context, color.red, color.green, color.blue, color.alpha);
    cairo_fill(context);
}

// Stretched to the rectangle, as an image drawn into a rectangle is.
void drawImage(cairo_t* context, const platform::Image& image, double x, double y, double width, double height) {
    if (image.width() <= 0 || image.height() <= 0) return;
    // cairo wants writable memory even to read from.
    std::vector<std::uint32_t> pixels(image.pixels().begin(), image.pixels().end());
    const auto source = surfaceOver(pixels.data(), image.width(), image.height());
    if (cairo_surface_status(source.get()) != CAIRO_STATUS_SUCCESS) return;
    cairo_save(context);
    cairo_translate(context, x, y);
    cairo_scale(context, width / image.width(), height / image.height());
    cairo_set_source_surface(context, source.get(), 0, 0);
    cairo_pattern_set_filter(cairo_get_source(context), CAIRO_FILTER_GOOD);
    cairo_paint(context);
    cairo_restore(context);
}

}  // namespace
}  // namespace cluster_icon_generator

CVClusterIconGenerator::CVClusterIconGenerator(CGSize clusterIconSize, std::int64_t clusterCount,
                                               platform::Color colorOfCluster,
                                               std::shared_ptr<const platform::Image> iconOfLocationType)
    : clusterIconSize_(clusterIconSize),
      clusterCount_(clusterCount),
      colorOfCluster_(colorOfCluster),
      iconOfLocationType_(std::move(iconOfLocationType)) {}

std::shared_ptr<const platform::Image> CVClusterIconGenerator::generate() const {
    return generate(platform::Screen::scale());
}

std::shared_ptr<const platform::Image> CVClusterIconGenerator::generate(double scale) const {
    namespace drawing = cluster_icon_generator;
    const double width = clusterIconSize_.width;
    const double height = clusterIconSize_.height;
    const auto pixelWidth = drawing::pixelsFor(1.2 * width, scale);
    const auto pixelHeight = drawing::pixelsFor(1.2 * height, scale);
    if (!pixelWidth || !pixelHeight) return nullptr;
    auto canvas = platform::Image::create(*pixelWidth, *pixelHeight, scale);
    if (!canvas) return nullptr;

    const double disc = 0.6 * width;
    {
        const auto surface = drawing::surfaceOver(canvas->pixels().data(), canvas->width(), canvas->height());
        if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
        const drawing::Context context(cairo_create(surface.get()));
        cairo_scale(context.get(), scale, scale);
        if (iconOfLocationType_) drawing::drawImage(context.get(), *iconOfLocationType_, 0, 0, width, height);
        // The white disc half a point larger all round rings the count disc.
        drawing::fillEllipse(context.get(), 0.6 * width - 0.5, 0.12 * height - 0.5, disc + 1, disc + 1,
                             platform::Color::fromRGBA(1, 1, 1));
        drawing::fillEllipse(context.get(), 0.6 * width, 0.12 * height, disc, disc, colorOfCluster_);
        if (cairo_status(context.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
        cairo_surface_flush(surface.get());
    }

    // Centred across the disc's width, from a sixteenth of it down.
    const std::string count = std::to_string(clusterCount_);
    const auto font = platform::Font::boldSystemFont(disc * 0.7);
    const CGSize measured = platform::measureText(count, font);
    platform::drawText(*canvas, count, font,
                       CGPoint{0.6 * width + (disc - measured.width) / 2, 0.12 * height + disc * 0.0625},
                       platform::Color::fromRGBA(1, 1, 1));
    return std::make_shared<const platform::Image>(std::move(*canvas));
}

}  // namespace ambrell
