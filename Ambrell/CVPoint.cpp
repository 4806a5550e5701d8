#include "Ambrell/CVPoint.h"

#include <charconv>
#include <cmath>
#include <initializer_list>
#include <limits>
#include <system_error>

namespace ambrell {

namespace {

// The shortest plain decimal that reads back as the same double, independent
// of the process locale: a web service reads "0.0000144" where it may not
// read "1.44e-05". Zero has no sign, so a point on the equator or the prime
// meridian never goes out as "-0". The number must be finite.
void appendNumber(std::string& text, double number) {
    if (number == 0) number = 0;
    // The longest is the smallest subnormal: "0.", 323 zeros and 1 digit,
    // with its sign.
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, number, std::chars_format::fixed);
    if (result.ec == std::errc()) text.append(buffer, result.ptr);
}

// The numbers as "a,b,c"; empty when one is not finite: such a point has no
// text a request could carry.
std::string joinedNumbers(std::initializer_list<double> numbers) {
    std::string text;
    for (const double number : numbers) {
        if (!std::isfinite(number)) return {};
        if (!text.empty()) text += ',';
        appendNumber(text, number);
    }
    return text;
}

}  // namespace

int CVPoint::zIndex() const {
    if (std::isnan(z_)) return 0;
    if (z_ <= static_cast<double>(std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
    if (z_ >= static_cast<double>(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
    return static_cast<int>(z_);
}

std::string CVPoint::latLongString() const { return joinedNumbers({latitude_, longitude_}); }

std::string CVPoint::description() const { return joinedNumbers({latitude_, longitude_, z_}); }

}  // namespace ambrell
