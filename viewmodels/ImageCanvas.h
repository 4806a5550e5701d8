#pragma once

#include <optional>
#include <string_view>

#include "platform/CGPoint.h"
#include "platform/CGSize.h"
#include "platform/Color.h"
#include "platform/Image.h"
#include "platform/Text.h"

namespace ambrell {

// A rectangle of a canvas, in points from its top-left corner.
struct CanvasRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    friend bool operator==(const CanvasRect&, const CanvasRect&) = default;
};

// A transparent image to draw icons on, sized in points at a scale, as the
// platform's image renderer makes one: a fraction of a pixel still takes a
// whole one. Shapes are antialiased; coordinates are points, y downwards.
class ImageCanvas {
public:
    // None when the size gives no pixel, or more than an image can hold, or
    // the scale is not a finite positive number.
    [[nodiscard]] static std::optional<ImageCanvas> create(CGSize size, double scale);

    // Stretched to fill the rectangle, smoothed.
    void drawImage(const platform::Image& image, const CanvasRect& rect);
    void fillRoundedRect(const CanvasRect& rect, double cornerRadius, const platform::Color& color);
    void fillEllipse(const CanvasRect& rect, const platform::Color& color);
    // The line is centred on the ellipse's edge.
    void strokeEllipse(const CanvasRect& rect, double lineWidth, const platform::Color& color);
    // One line, centred across the rectangle, its top at the rectangle's top.
    void drawCentredText(std::string_view text, const platform::Font& font, const CanvasRect& rect,
                         const platform::Color& color);

    [[nodiscard]] const platform::Image& image() const& { return image_; }
    [[nodiscard]] platform::Image image() && { return std::move(image_); }

private:
    explicit ImageCanvas(platform::Image image) : image_(std::move(image)) {}

    platform::Image image_;
};

}  // namespace ambrell
