#include "mapcontrol/CVDefaultRouteStopIconConfig.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

#include <boost/json/object.hpp>
#include <boost/json/value.hpp>

#include "Ambrell/CVBundleImage.h"
#include "platform/Screen.h"
#include "platform/Text.h"
#include "viewmodels/ImageUtilities.h"

namespace ambrell {

namespace default_route_stop_icon {
namespace {

constexpr CGSize kPinSize{28, 33};
constexpr double kNumberFontSize = 14;
// The number sits this far above the pin's middle, inside its round head.
constexpr double kNumberLift = 2;

// A pixel of ours (premultiplied, alpha on top) as the packed RGBA word
// rgba32() gives: red on top, alpha at the bottom.
std::uint32_t packedRGBA(std::uint32_t argb) { return argb << 8 | argb >> 24; }

double unitComponent(double component) { return std::isnan(component) ? 0.0 : std::clamp(component, 0.0, 1.0); }

// The colour as one of our pixels, premultiplied by its alpha.
std::uint32_t premultipliedPixel(const platform::Color& color) {
    const double alpha = unitComponent(color.alpha);
    const auto byte = [](double value) { return static_cast<std::uint32_t>(value * 255.999999); };
    return byte(alpha) << 24 | byte(unitComponent(color.red) * alpha) << 16 |
           byte(unitComponent(color.green) * alpha) << 8 | byte(unitComponent(color.blue) * alpha);
}

std::shared_ptr<const platform::Image> recoloured(const std::shared_ptr<const platform::Image>& pin,
                                                  const platform::Color& color) {
    const std::uint32_t from = rgba32(CVDefaultRouteStopIconConfig::pinColor());
    const std::uint32_t to = premultipliedPixel(color);
    platform::Image image = *pin;
    // Only exact matches change, so anti-aliased edges keep their colour.
    for (auto& pixel : image.pixels()) {
        if (packedRGBA(pixel) == from) pixel = to;
    }
    return std::make_shared<const platform::Image>(std::move(image));
}

}  // namespace
}  // namespace default_route_stop_icon

platform::Color CVDefaultRouteStopIconConfig::pinColor() {
    static const platform::Color color = platform::Color::fromHex("#EF4444").value();
    return color;
}

CVDefaultRouteStopIconConfig::CVDefaultRouteStopIconConfig(bool numbered, std::optional<std::string> label,
                                                           platform::Color color)
    : numbered_(numbered), label_(std::move(label)), color_(color) {
    image_ = bundleImage("stop-pin");
    if (!image_ || color == pinColor()) return;
    image_ = default_route_stop_icon::recoloured(image_, color);
}

CVDefaultRouteStopIconConfig::CVDefaultRouteStopIconConfig(Decoded) {}

std::shared_ptr<CVDefaultRouteStopIconConfig> CVDefaultRouteStopIconConfig::decode(const boost::json::value&) {
    return std::shared_ptr<CVDefaultRouteStopIconConfig>(new CVDefaultRouteStopIconConfig(Decoded{}));
}

boost::json::value CVDefaultRouteStopIconConfig::encode() const { return boost::json::object(); }

std::shared_ptr<const platform::Image> CVDefaultRouteStopIconConfig::image() const {
    std::lock_guard lock(mutex_);
    return image_;
}

void CVDefaultRouteStopIconConfig::setImage(std::shared_ptr<const platform::Image> image) {
    std::lock_guard lock(mutex_);
    image_ = std::move(image);
}

bool CVDefaultRouteStopIconConfig::numbered() const {
    std::lock_guard lock(mutex_);
    return numbered_;
}

void CVDefaultRouteStopIconConfig::setNumbered(bool numbered) {
    std::lock_guard lock(mutex_);
    numbered_ = numbered;
}

std::optional<std::string> CVDefaultRouteStopIconConfig::label() const {
    std::lock_guard lock(mutex_);
    return label_;
}

void CVDefaultRouteStopIconConfig::setLabel(std::optional<std::string> label) {
    std::lock_guard lock(mutex_);
    label_ = std::move(label);
}

platform::Color CVDefaultRouteStopIconConfig::color() const {
    std::lock_guard lock(mutex_);
    return color_;
}

void CVDefaultRouteStopIconConfig::setColor(platform::Color color) {
    std::lock_guard lock(mutex_);
    color_ = color;
}

std::shared_ptr<const platform::Image> CVDefaultRouteStopIconConfig::numberedImage(int number) const {
    std::shared_ptr<const platform::Image> pin;
    bool withNumber = true;
    {
        std::lock_guard lock(mutex_);
        pin = image_;
        withNumber = numbered_;
    }
    if (!pin) return nullptr;
    auto base = resized(pin, default_route_stop_icon::kPinSize);
    if (!withNumber) return base;

    // Drawn for the screen, whatever scale the pin came in.
    const double scale = platform::Screen::scale();
    const CGSize size{base->width() / base->scale(), base->height() / base->scale()};
    const int width = static_cast<int>(std::ceil(size.width * scale - 1e-9));
    const int height = static_cast<int>(std::ceil(size.height * scale - 1e-9));
    auto drawn = base->scale() == scale && base->width() == width && base->height() == height
                     ? std::optional<platform::Image>(*base)
                     : base->scaledTo(width, height, scale);
    if (!drawn) return base;

    const std::string text = std::to_string(number);
    const auto font = platform::Font::boldSystemFont(default_route_stop_icon::kNumberFontSize);
    const CGSize box = platform::measureText(text, font);
    const CGPoint origin{(size.width - box.width) / 2,
                         (size.height - box.height) / 2 - default_route_stop_icon::kNumberLift};
    platform::drawText(*drawn, text, font, origin, platform::Color{1, 1, 1, 1});
    return std::make_shared<const platform::Image>(std::move(*drawn));
}

}  // namespace ambrell
