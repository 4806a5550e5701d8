#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <boost/json/object.hpp>
#include <boost/json/value.hpp>

// Live data as a location receives it. The live-data service decodes these
// from its messages; a location keeps the newest one of each domain.
//
// A message (and each entry of a topic's state) is one JSON object:
//
//     {
//       "id": "<location id>",
//       "domainType": "occupancy",
//       "timestamp": "2026-12-07T10:15:00.250Z",
//       "properties": { "nrOfPeople": 4 }
//     }
//
// "id" and "timestamp" (ISO 8601, UTC "Z" or an offset) are required; the
// domain type, when absent, is the topic's last level. The properties each
// domain requires, with their JSON kinds:
//
//     availability   "available": boolean
//     count          "count": integer
//     co2            "co2": number (parts per million)
//     humidity       "relativeHumidity": number (percent)
//     occupancy      "nrOfPeople": integer
//     temperature    "temperature": number (degrees Celsius)
//     position       "latitude", "longitude": numbers; "floorIndex": integer
//
// Other domains need no properties. Every property is kept as the update's
// values, by its key.

namespace ambrell {

// The domains of live data a location can receive, as topics name them.
struct CVLiveDomainType {
    static constexpr std::string_view availability = "availability";
    static constexpr std::string_view co2 = "co2";
    static constexpr std::string_view count = "count";
    static constexpr std::string_view humidity = "humidity";
    static constexpr std::string_view occupancy = "occupancy";
    static constexpr std::string_view position = "position";
    static constexpr std::string_view temperature = "temperature";
};

// A number as the platform prints a double: the shortest text that reads
// back as the same value, always with a fraction or an exponent ("412.0",
// "21.5", "100000.0", "1e+16", "5e-05"), "nan" and "inf" as such. The same in
// every locale.
[[nodiscard]] std::string decimalDescription(double value);

// A value with its unit, as live data measures it.
struct CVMeasurement {
    double value = 0;
    // As printed after the value: "°C", "%".
    std::string unitSymbol;

    // The value's decimalDescription, a space and the unit: "45.0 %".
    [[nodiscard]] std::string description() const { return decimalDescription(value) + " " + unitSymbol; }
};

// What a live update is about: its domain ("occupancy", "position", ...).
struct CVLiveUpdateTopic {
    std::optional<std::string> domainType;
};

// One live value set of one item (a location id) at one moment.
class CVLiveUpdate {
public:
    using Timestamp = std::chrono::system_clock::time_point;

    CVLiveUpdate() = default;
    CVLiveUpdate(CVLiveUpdateTopic topic, Timestamp timestamp, std::string itemId,
                 std::map<std::string, boost::json::value, std::less<>> values = {})
        : topic(std::move(topic)), timestamp(timestamp), itemId(std::move(itemId)), values(std::move(values)) {}
    CVLiveUpdate(const CVLiveUpdate&) = default;
    CVLiveUpdate& operator=(const CVLiveUpdate&) = default;
    virtual ~CVLiveUpdate() = default;

    CVLiveUpdateTopic topic;
    Timestamp timestamp;
    // As the message carried it; updates are delivered in the order of these texts.
    std::string timestampText;
    std::string itemId;
    std::map<std::string, boost::json::value, std::less<>> values;

    // None when the update carries no value under the key.
    [[nodiscard]] std::optional<boost::json::value> getLiveValueForKey(const std::string& key) const {
        auto found = values.find(key);
        if (found == values.end()) return std::nullopt;
        return found->second;
    }

    // The update of one message object (layout above); the topic string, when
    // given, supplies a missing domain type. Null when the object is not a
    // live update.
    [[nodiscard]] static std::shared_ptr<CVLiveUpdate> liveUpdateWithDictionary(
        const boost::json::object& dictionary, const std::optional<std::string>& topicString);

    // For log lines: domain, item and moment.
    [[nodiscard]] virtual std::string debugDescription() const {
        const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(timestamp.time_since_epoch()).count();
        return "<CVLiveUpdate domainType=" + topic.domainType.value_or("(none)") + " itemId=" + itemId +
               " timestamp=" + std::to_string(millis) + "ms>";
    }
};

// A live update that moves its item: a position and a floor.
class CVPositionLiveUpdate : public CVLiveUpdate {
public:
    CVPositionLiveUpdate() = default;
    CVPositionLiveUpdate(CVLiveUpdateTopic topic, Timestamp timestamp, std::string itemId, double latitude,
                         double longitude, long floorIndex)
        : CVLiveUpdate(std::move(topic), timestamp, std::move(itemId)),
          latitude(latitude),
          longitude(longitude),
          floorIndex(floorIndex) {}

    double latitude = 0;
    double longitude = 0;
    long floorIndex = 0;

    [[nodiscard]] std::string debugDescription() const override {
        return CVLiveUpdate::debugDescription() + " position=" + std::to_string(latitude) + "," +
               std::to_string(longitude) + " floor=" + std::to_string(floorIndex);
    }
};

// Whether a location (a room, a desk) is free.
class CVAvailabilityLiveUpdate : public CVLiveUpdate {
public:
    CVAvailabilityLiveUpdate() = default;
    CVAvailabilityLiveUpdate(Timestamp timestamp, std::string itemId, bool available)
        : CVLiveUpdate(CVLiveUpdateTopic{std::string(CVLiveDomainType::availability)}, timestamp, std::move(itemId)),
          available(available) {}

    bool available = false;
};

// How many of something a location counts.
class CVCountLiveUpdate : public CVLiveUpdate {
public:
    CVCountLiveUpdate() = default;
    CVCountLiveUpdate(Timestamp timestamp, std::string itemId, std::int64_t count)
        : CVLiveUpdate(CVLiveUpdateTopic{std::string(CVLiveDomainType::count)}, timestamp, std::move(itemId)),
          count(count) {}

    std::int64_t count = 0;
};

// The carbon dioxide level of a location's air, in parts per million.
class CVCO2LiveUpdate : public CVLiveUpdate {
public:
    CVCO2LiveUpdate() = default;
    CVCO2LiveUpdate(Timestamp timestamp, std::string itemId, double co2Level)
        : CVLiveUpdate(CVLiveUpdateTopic{std::string(CVLiveDomainType::co2)}, timestamp, std::move(itemId)),
          co2Level(co2Level) {}

    double co2Level = 0;
};

// The relative humidity of a location's air, in percent.
class CVHumidityLiveUpdate : public CVLiveUpdate {
public:
    CVHumidityLiveUpdate() = default;
    CVHumidityLiveUpdate(Timestamp timestamp, std::string itemId, double percent)
        : CVLiveUpdate(CVLiveUpdateTopic{std::string(CVLiveDomainType::humidity)}, timestamp, std::move(itemId)),
          relativeHumidity{percent, "%"} {}

    CVMeasurement relativeHumidity{0, "%"};
};

// How many people are in a location.
class CVOccupancyLiveUpdate : public CVLiveUpdate {
public:
    CVOccupancyLiveUpdate() = default;
    CVOccupancyLiveUpdate(Timestamp timestamp, std::string itemId, std::int64_t numberOfPeople)
        : CVLiveUpdate(CVLiveUpdateTopic{std::string(CVLiveDomainType::occupancy)}, timestamp, std::move(itemId)),
          numberOfPeople(numberOfPeople) {}

    std::int64_t numberOfPeople = 0;
};

// The temperature of a location, in degrees Celsius.
class CVTemperatureLiveUpdate : public CVLiveUpdate {
public:
    CVTemperatureLiveUpdate() = default;
    CVTemperatureLiveUpdate(Timestamp timestamp, std::string itemId, double celsius)
        : CVLiveUpdate(CVLiveUpdateTopic{std::string(CVLiveDomainType::temperature)}, timestamp, std::move(itemId)),
          temperature{celsius, "°C"} {}

    CVMeasurement temperature{0, "°C"};
};

}  // namespace ambrell
