#pragma once

#include <optional>
#include <string_view>

namespace ambrell::platform {

// An sRGB colour with components as given: like the platform's extended-range
// colours they are not clamped, so values outside [0, 1] survive conversions.
struct Color {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 1;

    struct HSB {
        double hue = 0;         // 0..1
        double saturation = 0;  // 0..1
        double brightness = 0;  // 0..1
        double alpha = 1;
    };

    static constexpr Color fromRGBA(double r, double g, double b, double a = 1) { return Color{r, g, b, a}; }
    static Color fromHSB(double hue, double saturation, double brightness, double alpha = 1);
    // "#" followed by six hexadecimal digits; none when the text does not parse.
    static std::optional<Color> fromHex(std::string_view text);

    [[nodiscard]] HSB hsb() const;

    friend bool operator==(const Color&, const Color&) = default;
};

}  // namespace ambrell::platform
