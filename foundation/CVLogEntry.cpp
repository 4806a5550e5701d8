#include "foundation/CVLogEntry.h"

#include <array>
#include <boost/json/object.hpp>

#include "foundation/DateFormats.h"

namespace ambrell {

namespace {

constexpr std::array<std::string_view, 18> kEventTexts = {
    "entered_foreground",   "entered_background",      "sdk_loaded",
    "map_instantiated",     "language_changed",        "offline_mode_changed",
    "search_performed",     "directions_requested",    "directions_rendered",
    "subscription_started", "subscription_stopped",    "livedata_enabled_for_map",
    "map_clicked",          "clustering_mode_changed", "location_sources_registered",
    "dataset_added",        "dataset_removed",         "dataset_synchronized",
};

constexpr std::array<std::string_view, 8> kDomainTexts = {
    "app_life_time", "configuration", "search", "directions", "live_data", "map", "location_sources", "dataset_manager",
};

template <std::size_t N>
std::string_view textAt(const std::array<std::string_view, N>& texts, std::int64_t raw) noexcept {
    if (raw < 0 || raw >= static_cast<std::int64_t>(N)) return {};
    return texts[static_cast<std::size_t>(raw)];
}

}  // namespace

std::optional<CVLogEvent> CVLogEventFromRawValue(std::int64_t rawValue) noexcept {
    if (rawValue < 0 || rawValue >= static_cast<std::int64_t>(kEventTexts.size())) return std::nullopt;
    return static_cast<CVLogEvent>(rawValue);
}

std::optional<CVLogDomain> CVLogDomainFromRawValue(std::int64_t rawValue) noexcept {
    if (rawValue < 0 || rawValue >= static_cast<std::int64_t>(kDomainTexts.size())) return std::nullopt;
    return static_cast<CVLogDomain>(rawValue);
}

std::string_view description(CVLogEvent event) noexcept { return textAt(kEventTexts, rawValue(event)); }

std::string_view description(CVLogDomain domain) noexcept { return textAt(kDomainTexts, rawValue(domain)); }

boost::json::object CVLogEntry::dictionary() const {
    boost::json::object parameterObject;
    if (parameters) {
        for (const auto& [key, value] : *parameters) parameterObject[key] = value;
    }
    boost::json::object entry;
    entry["logType"] = logType;
    entry["name"] = description(name);
    entry["domain"] = description(domain);
    entry["date"] = cv_asUtcIso8601(date);
    entry["parameters"] = std::move(parameterObject);
    return entry;
}

}  // namespace ambrell
