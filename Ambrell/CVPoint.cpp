#include "Ambrell/CVPoint.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace ambrell {

namespace {

// Shortest text that reads back as the same double, independent of the
// process locale.
void appendNumber(std::string& text, double number) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, number);
    if (result.ec == std::errc()) text.append(buffer, result.ptr);
}

}  // namespace

int CVPoint::zIndex() const {
    if (std::isnan(z_)) return 0;
    if (z_ <= static_cast<double>(std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
    if (z_ >= static_cast<double>(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
    return static_cast<int>(z_);
}

std::string CVPoint::latLongString() const {
    std::string text;
    appendNumber(text, latitude_);
    text += ',';
    appendNumber(text, longitude_);
    return text;
}

std::string CVPoint::description() const {
    std::string text = latLongString();
    text += ',';
    appendNumber(text, z_);
    return text;
}

}  // namespace ambrell
