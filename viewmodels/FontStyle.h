#pragma once

#include <cstdint>
#include <optional>

#include "platform/Color.h"
#include "platform/Text.h"

namespace ambrell {

class CVDisplayRule;

// The font, size, colour and halo of the labels the map draws beside
// markers. An immutable value once built, so it crosses threads freely.
struct FontStyle {
    std::int64_t size = 0;
    std::optional<platform::Color> color;
    platform::Font font = defaultFont();
    std::optional<platform::Color> haloColor;
    std::int64_t haloWidth = 0;
    std::int64_t haloBlur = 0;

    FontStyle() = default;
    FontStyle(platform::Font font, std::int64_t size, std::optional<platform::Color> color,
              std::optional<platform::Color> haloColor, std::int64_t haloWidth, std::int64_t haloBlur)
        : size(size),
          color(color),
          font(std::move(font)),
          haloColor(haloColor),
          haloWidth(haloWidth),
          haloBlur(haloBlur) {}
    // The rule's label style (text size, text colour, halo colour, width and
    // blur) in the default font, whatever font the host chose for the map.
    explicit FontStyle(const CVDisplayRule& displayRule);

    // "ArialMT" at the system font size; fontconfig picks what stands in for it.
    [[nodiscard]] static platform::Font defaultFont() {
        return platform::Font{"ArialMT", platform::Font::systemFontSize, false};
    }

    friend bool operator==(const FontStyle&, const FontStyle&) = default;
};

}  // namespace ambrell
