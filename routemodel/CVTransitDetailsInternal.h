#pragma once

#include <optional>
#include <string>
#include <vector>

#include <boost/json/fwd.hpp>

// What an outdoor transit step rides: stops, line, vehicle, operators and
// times, carried as the directions data gives them.

namespace ambrell {

struct CVTransitStopInternal {
    std::optional<std::string> name;

    friend bool operator==(const CVTransitStopInternal&, const CVTransitStopInternal&) = default;
};

// "time_zone" names the zone; "value" is seconds since 1970.
struct CVTransitTimeInternal {
    std::optional<std::string> text;
    std::optional<std::string> time_zone;
    std::optional<double> value;

    friend bool operator==(const CVTransitTimeInternal&, const CVTransitTimeInternal&) = default;
};

struct CVTransitVehicleInternal {
    std::optional<std::string> name;
    std::optional<std::string> type;
    std::optional<std::string> icon;

    friend bool operator==(const CVTransitVehicleInternal&, const CVTransitVehicleInternal&) = default;
};

struct CVTransitAgencyInternal {
    std::optional<std::string> name;
    std::optional<std::string> url;
    std::optional<std::string> phone;

    friend bool operator==(const CVTransitAgencyInternal&, const CVTransitAgencyInternal&) = default;
};

struct CVTransitLineInternal {
    std::optional<std::string> name;
    std::optional<std::string> short_name;
    std::optional<std::string> color;
    std::optional<std::string> text_color;
    std::optional<std::string> url;
    std::optional<std::string> icon;
    std::optional<CVTransitVehicleInternal> vehicle;
    std::optional<std::vector<CVTransitAgencyInternal>> agencies;

    friend bool operator==(const CVTransitLineInternal&, const CVTransitLineInternal&) = default;
};

struct CVTransitDetailsInternal {
    std::optional<CVTransitStopInternal> arrival_stop;
    std::optional<CVTransitStopInternal> departure_stop;
    std::optional<CVTransitTimeInternal> arrival_time;
    std::optional<CVTransitTimeInternal> departure_time;
    std::optional<std::string> headsign;
    std::optional<int> num_stops;
    std::optional<CVTransitLineInternal> line;

    // Throws CVRouteCodingError.
    [[nodiscard]] static CVTransitDetailsInternal decodeValue(const boost::json::value& json);
    [[nodiscard]] boost::json::value encode() const;

    friend bool operator==(const CVTransitDetailsInternal&, const CVTransitDetailsInternal&) = default;
};

}  // namespace ambrell
