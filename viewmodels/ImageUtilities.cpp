#include "viewmodels/ImageUtilities.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/Screen.h"

namespace ambrell {

namespace image_utilities {
namespace {

// Pixels for a side in points: a fraction of a pixel still needs one, as the
// platform's renderer rounds up; none when the side is unusable.
std::optional<int> pixelsFor(double points, double scale) {
    const double pixels = std::ceil(points * scale - 1e-9);
    if (!std::isfinite(pixels) || pixels < 1 || pixels > std::numeric_limits<int>::max()) return std::nullopt;
    return static_cast<int>(pixels);
}

std::uint32_t componentByte(double component) {
    if (std::isnan(component)) return 0;
    return static_cast<std::uint32_t>(std::clamp(component, 0.0, 1.0) * 255.999999);
}

}  // namespace
}  // namespace image_utilities

std::uint32_t rgba32BitmapInfo() noexcept {
    static const std::uint32_t bitmapInfo = 1U | 8192U;
    return bitmapInfo;
}

std::shared_ptr<const platform::Image> resized(const std::shared_ptr<const platform::Image>& image, CGSize size) {
    if (!image) return image;
    const CGSize own{image->width() / image->scale(), image->height() / image->scale()};
    if (size == own || size == CGSize{}) return image;

    const auto drawable = [](double side) { return std::isfinite(side) && side > 0; };
    if (!drawable(size.width) || !drawable(size.height)) return nullptr;
    const double scale = platform::Screen::scale();
    const auto width = image_utilities::pixelsFor(size.width, scale);
    const auto height = image_utilities::pixelsFor(size.height, scale);
    if (!width || !height) return image;
    auto drawn = image->scaledTo(*width, *height, scale);
    if (!drawn) return image;
    return std::make_shared<const platform::Image>(std::move(*drawn));
}

std::shared_ptr<const platform::Image> transparentPixel() {
    // A new image holds transparent pixels already.
    return std::make_shared<const platform::Image>(platform::Image::create(1, 1, 1.0).value());
}

std::uint32_t rgba32(const platform::Color& color) noexcept {
    return image_utilities::componentByte(color.red) << 24 | image_utilities::componentByte(color.green) << 16 |
           image_utilities::componentByte(color.blue) << 8 | image_utilities::componentByte(color.alpha);
}

}  // namespace ambrell
