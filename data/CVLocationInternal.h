#pragma once

#include <atomic>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <boost/json/fwd.hpp>

#include "Ambrell/CVLiveUpdate.h"
#include "Ambrell/CVLocation.h"
#include "Ambrell/CVLocationUpdate.h"
#include "Source/AXCommon/AXLocation.h"
#include "data/CVGeoDataProperties.h"
#include "data/CVLocationFieldInternal.h"
#include "jsonmodel/JSONModel/JSONModel.h"

namespace ambrell {

// The floor value of a location update that carries no floor.
inline constexpr std::int64_t CVLocationUpdateFloorInvalid = std::numeric_limits<std::int64_t>::min();
static_assert(CVLocationUpdateFloorInvalid == CVLocationUpdate::kFloorInvalid);

// A location's drawing state (0 plain, 1 selected, 2 highlighted): the map
// control writes it under its own lock while renders read it on their tasks,
// so each read and write is atomic. Copying copies the value.
class CVLocationStateValue {
public:
    explicit CVLocationStateValue(std::int64_t value = 0) noexcept : value_(value) {}
    CVLocationStateValue(const CVLocationStateValue& other) noexcept : value_(other.load()) {}
    CVLocationStateValue& operator=(const CVLocationStateValue& other) noexcept {
        store(other.load());
        return *this;
    }
    CVLocationStateValue& operator=(std::int64_t value) noexcept {
        store(value);
        return *this;
    }
    ~CVLocationStateValue() = default;

    operator std::int64_t() const noexcept { return load(); }  // NOLINT(google-explicit-constructor)
    [[nodiscard]] std::int64_t load() const noexcept { return value_.load(std::memory_order_acquire); }
    void store(std::int64_t value) noexcept { value_.store(value, std::memory_order_release); }

private:
    std::atomic<std::int64_t> value_;
};

// The library's location, read from one GeoJSON feature of the locations
// document:
//
//     {"id": "r-101", "geometry": {"type": "Polygon", "coordinates": [...]},
//      "properties": {"name": "Room 101", "type": "MeetingRoom", "locationType": "ROOM",
//                     "venue": "CAMPUS", "building": "B1", "floor": 1,
//                     "anchor": {"type": "Point", "coordinates": [12.5, 55.7]}, "status": 3, ...}}
//
// Only "Point" and "Polygon" features make locations; a polygon's position
// is its anchor. Floor and position are kept in step and guarded, because
// live updates replace the position while the map reads it; the other
// members are plain and belong to whoever owns the location.
class CVLocationInternal : public JSONModelOf<CVLocationInternal>, public CVLocation, public CVGeoDataProperties {
public:
    std::string locationId = "0";
    std::string name;
    std::string type;
    std::optional<std::string> locationBaseTypeString;
    std::string venue;
    std::string building;
    std::optional<std::string> floorName;
    std::string externalId;
    std::optional<std::string> locationDescription;
    std::vector<std::string> aliases;
    std::vector<std::string> categories;
    CVLocationFieldMap fields;
    std::optional<std::string> imageURL;
    // Seconds since 1970; both bounds exclusive.
    std::optional<double> activeFrom;
    std::optional<double> activeTo;
    std::optional<bool> isBookable;
    std::optional<std::vector<std::string>> restrictions;
    std::shared_ptr<CVDisplayRule> displayRule;
    std::optional<CVLocationSettings> locationSettings;
    // Read and written by their custom setters and getters only.
    static constexpr std::string_view kJSONCustomMembers[] = {"displayRule", "locationSettings"};

    // Not read from JSON: set by the location source, the map and live updates.
    CVLocationStateValue state;
    std::shared_ptr<CVType> typeRef;
    std::optional<std::string> labelCacheKey;
    std::optional<double> priority;
    std::optional<CLLocationCoordinate2D> iconMapAnchorValue;

    // Defaults: empty texts, id "0", floor 0, a zero position.
    CVLocationInternal();
    // Only the name and the position (and its floor); nothing else is set.
    CVLocationInternal(const CVPoint& point, std::string name);

    // One GeoJSON feature; false with the "[E] Failed to construct CVLocation
    // from dict" log line, naming the feature by its id, when it forms no
    // location (no geometry object, a type other than Point and Polygon, a
    // polygon that does not read, or a failed import, whose error goes to
    // `error`).
    bool initWithDictionary(const boost::json::value& dictionary, JSONModelErrorOut error = nullptr) override;
    // The same without the log line, for a reader of many features that logs
    // refusals in its own measure.
    bool initWithFeature(const boost::json::value& feature, JSONModelErrorOut error = nullptr);

    static void declareJSON(JSONModelDeclaration<CVLocationInternal>& d);
    void setNameWithNSString(std::string_view text);
    void setCategoriesWithNSDictionary(const boost::json::object& categories);
    void setDisplayRuleWithJSONObject(const boost::json::value& value);
    void setLocationSettingsWithJSONObject(const boost::json::value& value);
    [[nodiscard]] boost::json::value JSONObjectForDisplayRule() const;
    [[nodiscard]] boost::json::value JSONObjectForLocationSettings() const;

    // Setting the floor moves a stored position to it; setting the position
    // sets the floor to the position's floor index.
    [[nodiscard]] std::optional<double> getFloorIndex() const override;
    void setFloorIndex(std::optional<double> floorIndex);
    // A zero point (not stored) when none is set.
    [[nodiscard]] CVPoint getPosition() const override;
    [[nodiscard]] bool hasPosition() const;
    void setPosition(const CVPoint& position);

    [[nodiscard]] const std::string& getLocationId() const override { return locationId; }
    [[nodiscard]] const std::string& getName() const override { return name; }
    [[nodiscard]] const std::string& getType() const override { return type; }
    [[nodiscard]] std::shared_ptr<CVDisplayRule> getDisplayRule() const override { return displayRule; }
    [[nodiscard]] const std::optional<CVLocationSettings>& getLocationSettings() const override {
        return locationSettings;
    }
    [[nodiscard]] CVLocationBaseType baseType() const override;

    // The multipolygon, else the polygon, else the position; first repairs a
    // position whose floor drifted from the floor index, with a warning.
    [[nodiscard]] CVLocationGeometry geometry() const override;
    [[nodiscard]] CVGeoBounds coordinateBounds() const override;
    [[nodiscard]] double area() const override;
    [[nodiscard]] bool isIndoors() const override { return !building.empty(); }
    // The icon of the rule the entry object resolves; none without one.
    [[nodiscard]] std::optional<std::string> iconUrl() const override;
    [[nodiscard]] bool isActiveForDate(double secondsSince1970) const override;
    [[nodiscard]] std::shared_ptr<CVLocationProperty> getProperty(const std::string& key) const override;
    [[nodiscard]] std::shared_ptr<CVLocationField> getPropertyForKey(
        const std::optional<std::string>& key) const override;
    [[nodiscard]] std::shared_ptr<CVLocationField> propertyWithKey(const std::optional<std::string>& key) const {
        return getPropertyForKey(key);
    }
    // The icon anchor; the zero point when unset.
    [[nodiscard]] CLLocationCoordinate2D iconMapAnchor() const {
        return iconMapAnchorValue.value_or(CLLocationCoordinate2D{});
    }

    // "<building>-<floor>" lower-cased ("b1-2"); none without both.
    [[nodiscard]] std::optional<std::string> readableLocationIdForBuildingFloor() const;
    // The id of the floor, building or venue holding the location, found
    // through the readable-id index; the location's own id when it names none.
    [[nodiscard]] std::optional<std::string> parentId() const;
    [[nodiscard]] std::int32_t axLocationId() const;
    [[nodiscard]] std::int32_t axParentId() const override;
    // A new search-engine record of the location as it is now.
    [[nodiscard]] AXLocation axLocation() const;
    // The same with its texts in `language`, for a batch that reads the
    // content language once.
    [[nodiscard]] AXLocation axLocation(const std::string& language) const;

    // Derived locations. The copy keeps identity, names, texts, type,
    // categories, fields, status, polygon and position (and so the floor);
    // not the multipolygon, activity window, image URL, floor name,
    // restrictions, booking, priority, display rule, settings, type
    // reference, icon anchor or live updates. Fields are copied one by one,
    // so the copy is independent.
    [[nodiscard]] std::shared_ptr<CVLocationInternal> copyWithZone() const;
    // Name, position (on the source's floor), floor, display rule and state
    // of any location; categories and fields too of one of ours. No id.
    [[nodiscard]] static std::shared_ptr<CVLocationInternal> initWithLocation(const CVLocation& location);
    // The location a host update describes: a point of interest of its own,
    // or a copy of its prototype with the update's changes. Venue and
    // building come from the venue lists in memory at its position.
    [[nodiscard]] static std::shared_ptr<CVLocationInternal> initWithLocationUpdate(const CVLocationUpdate& update);

    // Live updates, the newest of each domain. Guarded by one lock for all
    // locations; a position update moves the location under that lock.
    // False, with a debug log line, for an update older than the stored one
    // of its domain (an equal moment is taken) and for one without a domain.
    bool assignLiveUpdate(const std::shared_ptr<const CVLiveUpdate>& update);
    [[nodiscard]] std::shared_ptr<const CVLiveUpdate> getLiveUpdateForDomainType(const std::string& domainType) const;
    // The stored update's value; none without an update of the domain.
    [[nodiscard]] std::optional<boost::json::value> getLiveValueForKey(const std::string& key,
                                                                       const std::string& domainType) const;

private:
    // Copyable, so that the model stays a value: a copy gets its own lock.
    struct Lock {
        Lock() = default;
        Lock(const Lock&) {}
        Lock& operator=(const Lock&) { return *this; }
        std::mutex mutex;
    };

    // Named as its JSON property, which the mapping reads by the member's name.
    std::optional<double> floorIndex;  // NOLINT(readability-identifier-naming)
    mutable Lock positionLock_;
    mutable std::optional<CVPoint> position_;
    // A C++ copy of the model starts without live updates, as copyWithZone does.
    struct LiveUpdates {
        LiveUpdates() = default;
        LiveUpdates(const LiveUpdates&) {}
        LiveUpdates& operator=(const LiveUpdates&) { return *this; }
        // None until the first assignLiveUpdate.
        std::optional<std::map<std::string, std::shared_ptr<const CVLiveUpdate>, std::less<>>> byDomain;
    };
    LiveUpdates liveUpdates_;

    BOOST_DESCRIBE_CLASS(CVLocationInternal, (JSONModel),
                         (locationId, name, type, locationBaseTypeString, venue, building, floorName, externalId,
                          locationDescription, aliases, categories, fields, imageURL, activeFrom, activeTo, isBookable,
                          restrictions, displayRule, locationSettings),
                         (), (floorIndex))
};

// The locations document: {"list": [feature, ...]} or a bare array of features.
struct CVLocationDataset : JSONModelOf<CVLocationDataset> {
    std::optional<std::vector<std::shared_ptr<CVLocationInternal>>> list;

    CVLocationDataset() = default;
    explicit CVLocationDataset(std::vector<std::shared_ptr<CVLocationInternal>> locations)
        : list(std::move(locations)) {}

    // An object's "list", or a top-level array, of features: each feature that
    // forms a location is kept and the others are skipped, so one bad feature
    // does not lose the rest. The first refusals are logged one by one, by
    // position and id; the rest of the document's only as a count. An object without a "list" array leaves the list
    // unset and reports the bad-JSON error, yet the dataset is made; any other
    // JSON value makes none (so initWithData refuses it).
    bool initWithDictionary(const boost::json::value& dictionary, JSONModelErrorOut error = nullptr) override;
};
BOOST_DESCRIBE_STRUCT(CVLocationDataset, (JSONModel), (list))

}  // namespace ambrell
