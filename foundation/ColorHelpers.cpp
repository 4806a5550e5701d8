#include "foundation/ColorHelpers.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <string_view>

namespace ambrell {

namespace {

bool allFinite(const platform::Color& c) {
    return std::isfinite(c.red) && std::isfinite(c.green) && std::isfinite(c.blue) && std::isfinite(c.alpha);
}

// 255.999999 rather than 255 or 256 so that 1.0 still maps to FF and each of
// the 256 codes gets an equal share of [0, 1].
std::int64_t componentCode(double component) {
    const double scaled = std::trunc(component * 255.999999);
    // 2^63 is the first double past the int64 range; converting it or
    // anything beyond would be undefined.
    constexpr double kLimit = 9223372036854775808.0;
    if (scaled >= kLimit) return std::numeric_limits<std::int64_t>::max();
    if (scaled < -kLimit) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(scaled);
}

void appendHex(std::string& out, std::int64_t code) {
    // Colour bytes, nearly every code there is, skip the formatter: markers
    // and polygons write several per location on every render.
    if (code >= 0 && code <= 0xFF) {
        constexpr std::string_view kDigits = "0123456789ABCDEF";
        out += kDigits[static_cast<std::size_t>(code) >> 4];
        out += kDigits[static_cast<std::size_t>(code) & 0xF];
        return;
    }
    char buffer[17];
    // Printed through its unsigned pattern: a negative code shows as its two's
    // complement.
    std::snprintf(buffer, sizeof buffer, "%02lX", static_cast<unsigned long>(code));
    out += buffer;
}

}  // namespace

platform::Color adjustedLightness(const platform::Color& color, double factor) {
    if (!allFinite(color) || std::isnan(factor)) return color;
    const double f = std::clamp(factor, -1.0, 1.0);
    const double hue = color.hsb().hue;

    const double max = std::max({color.red, color.green, color.blue});
    const double min = std::min({color.red, color.green, color.blue});
    const double lightness = (max + min) * 0.5;
    double saturation = 0;
    if (max != min) {
        const double denominator = lightness < 0.5 ? 2 * lightness : 2 - 2 * lightness;
        // Only extended-range colours can bring the denominator to zero or
        // below; they have no meaningful HSL saturation.
        saturation = denominator > 0 ? (max - min) / denominator : 0;
    }

    double adjusted = lightness;
    if (f > 0) {
        adjusted = lightness + (1 - lightness) * f;
    } else if (f < 0) {
        adjusted = lightness - std::fabs(f) * lightness;
    }

    const double v = saturation * std::min(adjusted, 1 - adjusted);
    const double brightness = adjusted + v;
    const double hsbSaturation = (adjusted > 0 && brightness != 0) ? 2 * v / brightness : 0;
    return platform::Color::fromHSB(hue, hsbSaturation, brightness, color.alpha);
}

float alphaComponent(const platform::Color& color) {
    // Narrowing a double beyond the float range is undefined; saturate instead.
    constexpr double kLargest = std::numeric_limits<float>::max();
    return static_cast<float>(std::clamp(color.alpha, -kLargest, kLargest));
}

std::optional<std::string> hexString(const platform::Color& color, bool includingAlpha) {
    if (std::isnan(color.red) || std::isnan(color.green) || std::isnan(color.blue) ||
        (includingAlpha && std::isnan(color.alpha))) {
        return std::nullopt;
    }
    std::string out = "#";
    out.reserve(9);
    appendHex(out, componentCode(color.red));
    appendHex(out, componentCode(color.green));
    appendHex(out, componentCode(color.blue));
    if (includingAlpha) appendHex(out, componentCode(color.alpha));
    return out;
}

}  // namespace ambrell
