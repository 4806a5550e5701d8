#include "jsonmodel/JSONModel/JSONValueTransformer.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>

#include <boost/json/value.hpp>
#include <boost/url/parse.hpp>

namespace ambrell {
namespace {

using Clock = std::chrono::system_clock;

constexpr std::array<JSONValueTransformer::PrimitiveName, 17> kPrimitivesNames{{
    {"@?", "Block"},
    {"B", "BOOL"},
    {"B", "BOOL"},
    {"C", "unsigned char"},
    {"I", "unsigned int"},
    {"I", "NSInteger"},
    {"L", "usigned long"},
    {"Q", "unsigned long long"},
    {"Q", "NSUInteger"},
    {"S", "unsigned short"},
    {"c", "char"},
    {"d", "double"},
    {"f", "float"},
    {"i", "int"},
    {"l", "long"},
    {"q", "long long"},
    {"s", "short"},
}};

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool equalsIgnoringCase(std::string_view text, std::string_view lower) {
    if (text.size() != lower.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != lower[i]) return false;
    }
    return true;
}

std::string_view skipBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\n' ||
                             text.front() == '\r' || text.front() == '\f' || text.front() == '\v')) {
        text.remove_prefix(1);
    }
    return text;
}

// Reads `count` digits at `pos`; none unless all are digits.
std::optional<int> readDigits(std::string_view text, std::size_t pos, std::size_t count) {
    if (pos + count > text.size()) return std::nullopt;
    int value = 0;
    for (std::size_t i = pos; i < pos + count; ++i) {
        if (!isDigit(text[i])) return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// Whether whole seconds since the epoch fit the clock's duration.
bool fitsClock(long double seconds) {
    using Rep = Clock::duration::rep;
    const long double perSecond = static_cast<long double>(Clock::period::den) / Clock::period::num;
    // A little short of the end, so that rounding on the way cannot step past it.
    const long double limit = static_cast<long double>(std::numeric_limits<Rep>::max()) / perSecond * 0.999L;
    return std::isfinite(seconds) && seconds > -limit && seconds < limit;
}

}  // namespace

const JSONValueTransformer& JSONValueTransformer::shared() {
    static const JSONValueTransformer transformer;
    return transformer;
}

std::span<const JSONValueTransformer::PrimitiveName> JSONValueTransformer::primitivesNames() {
    return kPrimitivesNames;
}

std::string_view JSONValueTransformer::primitiveNameForEncoding(std::string_view encoding) {
    for (const auto& [code, name] : kPrimitivesNames) {
        if (code == encoding) return name;
    }
    return {};
}

std::string_view JSONValueTransformer::classByResolvingClusterClasses(const boost::json::value& value) {
    switch (value.kind()) {
        case boost::json::kind::string: return "NSString";
        case boost::json::kind::array: return "NSArray";
        case boost::json::kind::object: return "NSDictionary";
        case boost::json::kind::null: return "NSNull";
        case boost::json::kind::bool_:
        case boost::json::kind::int64:
        case boost::json::kind::uint64:
        case boost::json::kind::double_: return "NSNumber";
    }
    return "NSNull";
}

bool JSONValueTransformer::BOOLFromNSNumber(const boost::json::value& number) const {
    switch (number.kind()) {
        case boost::json::kind::bool_: return number.get_bool();
        case boost::json::kind::int64: return number.get_int64() != 0;
        case boost::json::kind::uint64: return number.get_uint64() != 0;
        case boost::json::kind::double_: return std::trunc(number.get_double()) != 0.0;
        default: return false;
    }
}

bool JSONValueTransformer::BOOLFromNSString(std::string_view text) const {
    if (equalsIgnoringCase(text, "true") || equalsIgnoringCase(text, "yes")) return true;
    // The integer value: an optional sign and the digits that follow it.
    std::string_view rest = skipBlanks(text);
    if (!rest.empty() && (rest.front() == '+' || rest.front() == '-')) rest.remove_prefix(1);
    for (char c : rest) {
        if (!isDigit(c)) break;
        if (c != '0') return true;
    }
    return false;
}

boost::json::value JSONValueTransformer::JSONObjectFromBOOL(bool flag) const { return boost::json::value(flag); }

boost::json::value JSONValueTransformer::NSNumberFromNSString(std::string_view text) const {
    std::string_view rest = skipBlanks(text);
    // The longest prefix of the form [+-]digits[.digits][(e|E)[+-]digits].
    std::size_t end = 0;
    if (end < rest.size() && (rest[end] == '+' || rest[end] == '-')) ++end;
    const std::size_t digitsStart = end;
    while (end < rest.size() && isDigit(rest[end])) ++end;
    std::size_t mantissaDigits = end - digitsStart;
    bool integral = true;
    if (end < rest.size() && rest[end] == '.') {
        std::size_t fraction = end + 1;
        while (fraction < rest.size() && isDigit(rest[fraction])) ++fraction;
        mantissaDigits += fraction - end - 1;
        if (fraction - end - 1 > 0 || mantissaDigits > 0) {
            end = fraction;
            integral = false;
        }
    }
    if (mantissaDigits == 0) return boost::json::value(std::int64_t{0});
    if (end < rest.size() && (rest[end] == 'e' || rest[end] == 'E')) {
        std::size_t exponent = end + 1;
        if (exponent < rest.size() && (rest[exponent] == '+' || rest[exponent] == '-')) ++exponent;
        const std::size_t exponentDigits = exponent;
        while (exponent < rest.size() && isDigit(rest[exponent])) ++exponent;
        if (exponent > exponentDigits) {
            end = exponent;
            integral = false;
        }
    }
    std::string_view number = rest.substr(0, end);
    std::string_view unsignedPart = number;
    const bool negative = !number.empty() && number.front() == '-';
    if (!number.empty() && (number.front() == '+' || number.front() == '-')) unsignedPart.remove_prefix(1);
    if (integral) {
        if (negative) {
            std::int64_t value = 0;
            auto [ptr, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
            if (ec == std::errc() && ptr == number.data() + number.size()) return boost::json::value(value);
        } else {
            std::uint64_t value = 0;
            auto [ptr, ec] = std::from_chars(unsignedPart.data(), unsignedPart.data() + unsignedPart.size(), value);
            if (ec == std::errc() && ptr == unsignedPart.data() + unsignedPart.size()) {
                if (value <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
                    return boost::json::value(static_cast<std::int64_t>(value));
                }
                return boost::json::value(value);
            }
        }
    }
    double value = 0;
    auto [ptr, ec] = std::from_chars(unsignedPart.data(), unsignedPart.data() + unsignedPart.size(), value);
    if (ec == std::errc::result_out_of_range) {
        // Past the range of a double (tiny magnitudes read as 0 already).
        value = std::numeric_limits<double>::infinity();
    } else if (ec != std::errc()) {
        value = 0;
    }
    (void)ptr;
    return boost::json::value(negative ? -value : value);
}

std::string JSONValueTransformer::NSStringFromNSNumber(const boost::json::value& number) const {
    switch (number.kind()) {
        case boost::json::kind::bool_: return number.get_bool() ? "1" : "0";
        case boost::json::kind::int64: return std::to_string(number.get_int64());
        case boost::json::kind::uint64: return std::to_string(number.get_uint64());
        case boost::json::kind::double_: {
            std::array<char, 64> buffer{};
            auto [ptr, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), number.get_double());
            if (ec != std::errc()) return "0";
            return std::string(buffer.data(), ptr);
        }
        default: return {};
    }
}

std::optional<JSONURL> JSONValueTransformer::NSURLFromNSString(std::string_view text) const {
    if (text.empty()) return std::nullopt;
    if (!boost::urls::parse_uri_reference(text)) return std::nullopt;
    return JSONURL{std::string(text)};
}

std::string JSONValueTransformer::JSONObjectFromNSURL(const JSONURL& url) const { return url.absoluteString; }

std::optional<Clock::time_point> JSONValueTransformer::NSDateFromNSString(std::string_view text) const {
    std::string compact;
    compact.reserve(text.size());
    for (char c : text) {
        if (c != ':') compact += c;
    }
    // yyyy-MM-ddTHHmmss: 17 characters, then the zone.
    std::string_view t = compact;
    if (t.size() < 18 || t[4] != '-' || t[7] != '-' || t[10] != 'T') return std::nullopt;
    auto year = readDigits(t, 0, 4);
    auto month = readDigits(t, 5, 2);
    auto day = readDigits(t, 8, 2);
    auto hour = readDigits(t, 11, 2);
    auto minute = readDigits(t, 13, 2);
    auto second = readDigits(t, 15, 2);
    if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
    if (*hour > 23 || *minute > 59 || *second > 59) return std::nullopt;
    std::string_view zone = t.substr(17);
    int offsetMinutes = 0;
    if (zone == "Z") {
        offsetMinutes = 0;
    } else if (zone.size() == 5 && (zone[0] == '+' || zone[0] == '-')) {
        auto zoneHours = readDigits(zone, 1, 2);
        auto zoneMinutes = readDigits(zone, 3, 2);
        if (!zoneHours || !zoneMinutes || *zoneHours > 23 || *zoneMinutes > 59) return std::nullopt;
        offsetMinutes = (*zoneHours * 60 + *zoneMinutes) * (zone[0] == '-' ? -1 : 1);
    } else {
        return std::nullopt;
    }
    const std::chrono::year_month_day date{std::chrono::year{*year}, std::chrono::month{static_cast<unsigned>(*month)},
                                           std::chrono::day{static_cast<unsigned>(*day)}};
    if (!date.ok()) return std::nullopt;
    const long long days = std::chrono::sys_days(date).time_since_epoch().count();
    const long long seconds = days * 86400LL + *hour * 3600LL + *minute * 60LL + *second - offsetMinutes * 60LL;
    if (!fitsClock(static_cast<long double>(seconds))) return std::nullopt;
    return Clock::time_point(std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(seconds)));
}

std::string JSONValueTransformer::JSONObjectFromNSDate(Clock::time_point date) const {
    const auto seconds = std::chrono::floor<std::chrono::seconds>(date);
    const auto days = std::chrono::floor<std::chrono::days>(seconds);
    const std::chrono::year_month_day ymd{days};
    const std::chrono::hh_mm_ss time{seconds - days};
    std::array<char, 40> buffer{};
    const int length = std::snprintf(
        buffer.data(), buffer.size(), "%04d-%02u-%02uT%02d:%02d:%02d+0000", static_cast<int>(ymd.year()),
        static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()), static_cast<int>(time.hours().count()),
        static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()));
    return std::string(buffer.data(), static_cast<std::size_t>(length > 0 ? length : 0));
}

std::optional<Clock::time_point> JSONValueTransformer::NSDateFromNSNumber(double seconds) const {
    if (!fitsClock(seconds)) return std::nullopt;
    return Clock::time_point(std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)));
}

}  // namespace ambrell
