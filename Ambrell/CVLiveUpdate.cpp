#include "Ambrell/CVLiveUpdate.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string_view>
#include <system_error>
#include <utility>

namespace ambrell {
namespace cv_live_update {
namespace {

using Values = std::map<std::string, boost::json::value, std::less<>>;

// Reads `count` digits at `position`, moving past them.
std::optional<int> digitsAt(std::string_view text, std::size_t& position, std::size_t count) {
    if (position + count > text.size()) return std::nullopt;
    int value = 0;
    for (std::size_t index = 0; index < count; ++index) {
        const char digit = text[position + index];
        if (digit < '0' || digit > '9') return std::nullopt;
        value = value * 10 + (digit - '0');
    }
    position += count;
    return value;
}

bool expect(std::string_view text, std::size_t& position, char character) {
    if (position >= text.size() || text[position] != character) return false;
    ++position;
    return true;
}

// "YYYY-MM-DDTHH:MM:SS", an optional fraction, then "Z" or "+HH:MM"/"-HH:MM".
std::optional<CVLiveUpdate::Timestamp> parseIsoTimestamp(std::string_view text) {
    using namespace std::chrono;
    std::size_t position = 0;
    const auto year = digitsAt(text, position, 4);
    if (!year || !expect(text, position, '-')) return std::nullopt;
    const auto month = digitsAt(text, position, 2);
    if (!month || !expect(text, position, '-')) return std::nullopt;
    const auto day = digitsAt(text, position, 2);
    if (!day || !(expect(text, position, 'T') || expect(text, position, 't'))) return std::nullopt;
    const auto hour = digitsAt(text, position, 2);
    if (!hour || !expect(text, position, ':')) return std::nullopt;
    const auto minute = digitsAt(text, position, 2);
    if (!minute || !expect(text, position, ':')) return std::nullopt;
    const auto second = digitsAt(text, position, 2);
    if (!second || *hour > 23 || *minute > 59 || *second > 60) return std::nullopt;
    const year_month_day date{std::chrono::year{*year}, std::chrono::month{static_cast<unsigned>(*month)},
                              std::chrono::day{static_cast<unsigned>(*day)}};
    if (!date.ok()) return std::nullopt;
    std::int64_t fractionNanos = 0;
    if (position < text.size() && (text[position] == '.' || text[position] == ',')) {
        ++position;
        std::int64_t scale = 100'000'000;
        const std::size_t start = position;
        while (position < text.size() && text[position] >= '0' && text[position] <= '9') {
            fractionNanos += (text[position] - '0') * scale;
            scale /= 10;
            ++position;
        }
        if (position == start) return std::nullopt;
    }
    seconds offset{0};
    if (position < text.size() && (text[position] == 'Z' || text[position] == 'z')) {
        ++position;
    } else if (position < text.size() && (text[position] == '+' || text[position] == '-')) {
        const bool behind = text[position] == '-';
        ++position;
        const auto offsetHours = digitsAt(text, position, 2);
        if (!offsetHours || !expect(text, position, ':')) return std::nullopt;
        const auto offsetMinutes = digitsAt(text, position, 2);
        if (!offsetMinutes || *offsetHours > 23 || *offsetMinutes > 59) return std::nullopt;
        offset = hours{*offsetHours} + minutes{*offsetMinutes};
        if (behind) offset = -offset;
    } else {
        return std::nullopt;
    }
    if (position != text.size()) return std::nullopt;
    const auto moment = sys_days{date} + hours{*hour} + minutes{*minute} + seconds{*second} - offset;
    return time_point_cast<system_clock::duration>(moment + nanoseconds{fractionNanos});
}

std::optional<double> numberValue(const Values& values, std::string_view key) {
    const auto found = values.find(key);
    if (found == values.end() || !found->second.is_number()) return std::nullopt;
    const double number = found->second.to_number<double>();
    if (!std::isfinite(number)) return std::nullopt;
    return number;
}

std::optional<std::int64_t> integerValue(const Values& values, std::string_view key) {
    const auto found = values.find(key);
    if (found == values.end()) return std::nullopt;
    if (found->second.is_int64()) return found->second.get_int64();
    if (found->second.is_uint64() && found->second.get_uint64() <= static_cast<std::uint64_t>(INT64_MAX)) {
        return static_cast<std::int64_t>(found->second.get_uint64());
    }
    return std::nullopt;
}

std::optional<std::string> lastTopicLevel(const std::optional<std::string>& topicString) {
    if (!topicString) return std::nullopt;
    const auto slash = topicString->rfind('/');
    std::string level = slash == std::string::npos ? *topicString : topicString->substr(slash + 1);
    if (level.empty() || level == "+" || level == "#") return std::nullopt;
    return level;
}

// The typed update of the domain, or null when a required property is missing.
std::shared_ptr<CVLiveUpdate> typedUpdate(const std::string& domainType, CVLiveUpdate::Timestamp timestamp,
                                          std::string itemId, const Values& values) {
    if (domainType == CVLiveDomainType::availability) {
        const auto found = values.find("available");
        if (found == values.end() || !found->second.is_bool()) return nullptr;
        return std::make_shared<CVAvailabilityLiveUpdate>(timestamp, std::move(itemId), found->second.get_bool());
    }
    if (domainType == CVLiveDomainType::count) {
        const auto count = integerValue(values, "count");
        return count ? std::make_shared<CVCountLiveUpdate>(timestamp, std::move(itemId), *count) : nullptr;
    }
    if (domainType == CVLiveDomainType::co2) {
        const auto level = numberValue(values, "co2");
        return level ? std::make_shared<CVCO2LiveUpdate>(timestamp, std::move(itemId), *level) : nullptr;
    }
    if (domainType == CVLiveDomainType::humidity) {
        const auto percent = numberValue(values, "relativeHumidity");
        return percent ? std::make_shared<CVHumidityLiveUpdate>(timestamp, std::move(itemId), *percent) : nullptr;
    }
    if (domainType == CVLiveDomainType::occupancy) {
        const auto people = integerValue(values, "nrOfPeople");
        return people ? std::make_shared<CVOccupancyLiveUpdate>(timestamp, std::move(itemId), *people) : nullptr;
    }
    if (domainType == CVLiveDomainType::temperature) {
        const auto celsius = numberValue(values, "temperature");
        return celsius ? std::make_shared<CVTemperatureLiveUpdate>(timestamp, std::move(itemId), *celsius) : nullptr;
    }
    if (domainType == CVLiveDomainType::position) {
        const auto latitude = numberValue(values, "latitude");
        const auto longitude = numberValue(values, "longitude");
        const auto floorIndex = integerValue(values, "floorIndex");
        if (!latitude || !longitude || !floorIndex || std::fabs(*latitude) > 90 || std::fabs(*longitude) > 180) {
            return nullptr;
        }
        return std::make_shared<CVPositionLiveUpdate>(CVLiveUpdateTopic{domainType}, timestamp, std::move(itemId),
                                                      *latitude, *longitude, static_cast<long>(*floorIndex));
    }
    return std::make_shared<CVLiveUpdate>(CVLiveUpdateTopic{domainType}, timestamp, std::move(itemId));
}

}  // namespace
}  // namespace cv_live_update

std::shared_ptr<CVLiveUpdate> CVLiveUpdate::liveUpdateWithDictionary(const boost::json::object& dictionary,
                                                                     const std::optional<std::string>& topicString) {
    const auto* id = dictionary.if_contains("id");
    const auto* timestampValue = dictionary.if_contains("timestamp");
    if (!id || !id->is_string() || id->get_string().empty()) return nullptr;
    if (!timestampValue || !timestampValue->is_string()) return nullptr;
    std::string timestampText(timestampValue->get_string());
    const auto timestamp = cv_live_update::parseIsoTimestamp(timestampText);
    if (!timestamp) return nullptr;

    std::optional<std::string> domainType;
    if (const auto* domainValue = dictionary.if_contains("domainType")) {
        if (!domainValue->is_string() || domainValue->get_string().empty()) return nullptr;
        domainType = std::string(domainValue->get_string());
    } else {
        domainType = cv_live_update::lastTopicLevel(topicString);
    }
    if (!domainType) return nullptr;

    cv_live_update::Values values;
    if (const auto* properties = dictionary.if_contains("properties")) {
        if (!properties->is_object()) return nullptr;
        // Copied into the default memory: the document may live in a
        // caller's short-lived buffer.
        for (const auto& property : properties->get_object())
            values.emplace(std::string(property.key()),
                           boost::json::value(property.value(), boost::json::storage_ptr()));
    }
    auto update = cv_live_update::typedUpdate(*domainType, *timestamp, std::string(id->get_string()), values);
    if (!update) return nullptr;
    update->timestampText = std::move(timestampText);
    update->values = std::move(values);
    return update;
}

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
