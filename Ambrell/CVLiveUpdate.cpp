#include "Ambrell/CVLiveUpdate.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace ambrell {

std::string decimalDescription(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    // Plain digits between 1e-4 and 1e16, an exponent beyond: the platform's
    // choice, not whichever form is shorter.
    const double magnitude = std::fabs(value);
    const bool plain = magnitude == 0 || (magnitude >= 1e-4 && magnitude < 1e16);
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value,
                                      plain ? std::chars_format::fixed : std::chars_format::scientific);
    if (result.ec != std::errc()) return "nan";
    std::string text(buffer, result.ptr);
    if (plain && text.find('.') == std::string::npos) text += ".0";
    return text;
}

}  // namespace ambrell
