#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace boost::json {
class object;
}

namespace ambrell {

// What happened. The raw values cross the host interface; the texts are the
// names written into the usage log.
enum class CVLogEvent : std::int64_t {
    enteredForeground = 0,
    enteredBackground = 1,
    sdkLoaded = 2,
    mapInstantiated = 3,
    languageChanged = 4,
    offlineModeChanged = 5,
    searchPerformed = 6,
    directionsRequested = 7,
    directionsRendered = 8,
    subscriptionStarted = 9,
    subscriptionStopped = 10,
    livedataEnabledForMap = 11,
    mapClicked = 12,
    clusteringModeChanged = 13,
    locationSourcesRegistered = 14,
    datasetAdded = 15,
    datasetRemoved = 16,
    datasetSynchronized = 17,
};

// The area of the library an event belongs to.
enum class CVLogDomain : std::int64_t {
    appLifeTime = 0,
    configuration = 1,
    search = 2,
    directions = 3,
    liveData = 4,
    map = 5,
    locationSources = 6,
    datasetManager = 7,
};

// None for a raw value that names no case.
[[nodiscard]] std::optional<CVLogEvent> CVLogEventFromRawValue(std::int64_t rawValue) noexcept;
[[nodiscard]] std::optional<CVLogDomain> CVLogDomainFromRawValue(std::int64_t rawValue) noexcept;

[[nodiscard]] constexpr std::int64_t rawValue(CVLogEvent event) noexcept { return static_cast<std::int64_t>(event); }
[[nodiscard]] constexpr std::int64_t rawValue(CVLogDomain domain) noexcept { return static_cast<std::int64_t>(domain); }

// "search_performed", "app_life_time", ...; "" for a value outside the cases
// (only a cast can make one).
[[nodiscard]] std::string_view description(CVLogEvent event) noexcept;
[[nodiscard]] std::string_view description(CVLogDomain domain) noexcept;

// One recorded usage event.
struct CVLogEntry {
    using Parameters = std::map<std::string, std::string>;

    std::chrono::system_clock::time_point date;
    CVLogDomain domain = CVLogDomain::appLifeTime;
    std::string logType = "event";
    CVLogEvent name = CVLogEvent::enteredForeground;
    std::optional<Parameters> parameters;

    // The entry as a log package holds it: "logType", "name", "domain", "date"
    // (UTC ISO 8601 with milliseconds) and "parameters" (an empty object when
    // the entry has none).
    [[nodiscard]] boost::json::object dictionary() const;

    friend bool operator==(const CVLogEntry&, const CVLogEntry&) = default;
};

}  // namespace ambrell
