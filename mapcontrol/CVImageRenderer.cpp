#include "mapcontrol/CVImageRenderer.h"

#include <cmath>
#include <limits>
#include <optional>

#include "platform/Screen.h"
#include "platform/ViewRenderer.h"

namespace ambrell {

namespace image_renderer {
namespace {

constexpr double kTripleScaleWidth = 52;
constexpr double kDoubleScaleWidth = 32;

// Whole pixels for a side in points, as a renderer rounds up; none for a
// side no image can have.
std::optional<int> pixelSide(double points, double scale) {
    const double pixels = std::ceil(points * scale - 1e-9);
    if (!std::isfinite(pixels) || pixels < 1 || pixels > std::numeric_limits<int>::max()) return std::nullopt;
    return static_cast<int>(pixels);
}

std::shared_ptr<const platform::Image> rewrapped(const platform::Image& image, double scale) {
    auto copy = platform::Image::create(image.width(), image.height(), scale);
    if (!copy) return nullptr;
    std::copy(image.pixels().begin(), image.pixels().end(), copy->pixels().begin());
    return std::make_shared<const platform::Image>(std::move(*copy));
}

}  // namespace
}  // namespace image_renderer

std::shared_ptr<const platform::Image> CVImageRenderer::imageWithView(platform::View& view) {
    // The button's title and image are placed by layout, which drawing does not run.
    view.layoutIfNeeded();
    return imageWithSize(view.bounds().size, view.isOpaque(), *view.layer());
}

std::shared_ptr<const platform::Image> CVImageRenderer::imageWithSize(CGSize size, bool opaque,
                                                                      const platform::Layer& layer) {
    if (size.width == 0 && size.height == 0) return nullptr;
    auto image = platform::renderLayer(layer, size, opaque, platform::Screen::scale());
    if (!image) return nullptr;
    return std::make_shared<const platform::Image>(std::move(*image));
}

std::shared_ptr<const platform::Image> CVImageRenderer::scaledIconFromImage(
    const std::shared_ptr<const platform::Image>& image) {
    if (!image) return image;
    const double width = image->width() / image->scale();
    if (width > image_renderer::kTripleScaleWidth) return image_renderer::rewrapped(*image, 3);
    if (width > image_renderer::kDoubleScaleWidth) return image_renderer::rewrapped(*image, 2);
    return image;
}

std::shared_ptr<const platform::Image> CVImageRenderer::imageResize(const std::shared_ptr<const platform::Image>& image,
                                                                    CGSize size) {
    if (!image) return image;
    const double width = image->width() / image->scale();
    const double height = image->height() / image->scale();
    if (std::abs(height - size.height) < 1 && std::abs(width - size.width) < 1) return image;
    const double scale = platform::Screen::scale();
    const auto pixelWidth = image_renderer::pixelSide(size.width, scale);
    const auto pixelHeight = image_renderer::pixelSide(size.height, scale);
    if (!pixelWidth || !pixelHeight) return image;
    auto drawn = image->scaledTo(*pixelWidth, *pixelHeight, scale);
    if (!drawn) return image;
    return std::make_shared<const platform::Image>(std::move(*drawn));
}

}  // namespace ambrell
