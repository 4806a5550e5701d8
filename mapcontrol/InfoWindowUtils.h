#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/CGSize.h"
#include "platform/Color.h"
#include "platform/View.h"

namespace ambrell {

// Builds the callout the map shows above a selected location: a rounded box
// of text with a white pointer below it. Adapters may call it directly.
class InfoWindowUtils {
public:
    // The pointer's height: that of an equilateral triangle of side 12.
    static constexpr double kPointerHeight = 10.392304845413264;
    // The box is never lower than this.
    static constexpr double kMinimumBoxHeight = 35;

    // The text (empty when none) in the 14-point system font, wrapped at
    // maxWidth and held to maxHeight, rounded up to whole points.
    [[nodiscard]] static platform::CGSize boxSize(const std::optional<std::string>& text, double maxWidth,
                                                  double maxHeight);

    // An outer view boxWidth wide and max(boxHeight, 35) + kPointerHeight
    // high; its only subview is the box (max(boxHeight, 35) high, coloured,
    // corners rounded by 6) holding the centred label, and the box's layer
    // holds the white pointer, a shape layer named "triangle" whose tip lies
    // kPointerHeight below the box. Negative sizes count as 0.
    [[nodiscard]] static std::shared_ptr<platform::View> infoWindowView(const std::optional<std::string>& label,
                                                                        const platform::Color& color,
                                                                        const platform::Color& fontColor,
                                                                        std::int64_t boxHeight, std::int64_t boxWidth);
};

}  // namespace ambrell
