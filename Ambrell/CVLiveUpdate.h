#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>

#include <boost/json/value.hpp>

// Live data as a location receives it. The live-data service decodes these
// from its messages; a location keeps the newest one of each domain.

namespace ambrell {

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
    std::string itemId;
    std::map<std::string, boost::json::value, std::less<>> values;

    // None when the update carries no value under the key.
    [[nodiscard]] std::optional<boost::json::value> getLiveValueForKey(const std::string& key) const {
        auto found = values.find(key);
        if (found == values.end()) return std::nullopt;
        return found->second;
    }

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

}  // namespace ambrell
