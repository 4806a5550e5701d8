#include "platform/Color.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "platform/HexDigit.h"

namespace ambrell::platform {

namespace {

using detail::hexDigitValue;

// The hue as a position on the hexcone, in [0, 6). A hue outside [0, 1]
// wraps around the circle; a non-finite one counts as red, since there is
// no sector it could name.
double hexconePosition(double hue) {
    if (!std::isfinite(hue)) return 0;
    double position = std::fmod(hue * 6, 6.0);
    if (position < 0) position += 6;
    return position >= 6 ? 0 : position;  // a tiny negative wraps to exactly 6
}

}  // namespace

Color Color::fromHSB(double hue, double saturation, double brightness, double alpha) {
    if (saturation == 0) return Color{brightness, brightness, brightness, alpha};

    const double position = hexconePosition(hue);
    const double sector = std::floor(position);
    const double fraction = position - sector;
    const double p = brightness * (1 - saturation);
    const double q = brightness * (1 - saturation * fraction);
    const double t = brightness * (1 - saturation * (1 - fraction));
    const double v = brightness;

    // Compared as doubles: position is finite and in [0, 6), so one matches.
    if (sector == 0) return Color{v, t, p, alpha};
    if (sector == 1) return Color{q, v, p, alpha};
    if (sector == 2) return Color{p, v, t, alpha};
    if (sector == 3) return Color{p, q, v, alpha};
    if (sector == 4) return Color{t, p, v, alpha};
    return Color{v, p, q, alpha};
}

Color::HSB Color::hsb() const {
    const double maximum = std::max({red, green, blue});
    const double minimum = std::min({red, green, blue});
    const double delta = maximum - minimum;

    HSB result;
    result.brightness = maximum;
    result.alpha = alpha;
    result.saturation = maximum != 0 ? delta / maximum : 0;
    if (delta == 0 || !std::isfinite(delta)) return result;  // grey: hue is undefined, reported as 0

    double hue = 0;
    if (red == maximum) {
        hue = (green - blue) / delta;
    } else if (green == maximum) {
        hue = 2 + (blue - red) / delta;
    } else {
        hue = 4 + (red - green) / delta;
    }
    hue /= 6;
    if (hue < 0) hue += 1;
    result.hue = hue;
    return result;
}

std::optional<Color> Color::fromHex(std::string_view text) {
    if (text.size() != 7 || text.front() != '#') return std::nullopt;
    std::uint8_t channels[3];
    for (std::size_t channel = 0; channel < 3; ++channel) {
        const auto high = hexDigitValue(text[1 + channel * 2]);
        const auto low = hexDigitValue(text[2 + channel * 2]);
        if (!high || !low) return std::nullopt;
        channels[channel] = static_cast<std::uint8_t>(*high << 4 | *low);
    }
    return Color{channels[0] / 255.0, channels[1] / 255.0, channels[2] / 255.0, 1};
}

}  // namespace ambrell::platform
