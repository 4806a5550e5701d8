#include "data/CVLocationInternal.h"

#include <chrono>
#include <cmath>
#include <string_view>

#include <boost/json/value.hpp>
#include <fmt/format.h>

#include "Ambrell/CVLog.h"
#include "data/AmbrellLegacy.h"
#include "data/CVAXGeometry.h"
#include "data/CVEntrySeams.h"
#include "data/CVLocationSourceIndex.h"
#include "data/CVModelText.h"
#include "foundation/CVInternalStringUtils.h"
#include "foundation/CVTextCase.h"
#include "jsonmodel/JSONModel/JSONModelDeclaration.h"

namespace ambrell {

namespace {

constexpr std::string_view kLocationInitOperation = "-[CVLocationInternal initWithDictionary:error:]";

// The integer part of a floor number, held to what a floor index can be, so
// that an absurd value in a document cannot overflow a conversion.
std::int64_t integerFloor(double value) {
    if (!std::isfinite(value)) return 0;
    constexpr double kLimit = 9.0e18;
    if (value >= kLimit) return static_cast<std::int64_t>(kLimit);
    if (value <= -kLimit) return static_cast<std::int64_t>(-kLimit);
    return static_cast<std::int64_t>(value);
}

// A number as a document or a log line shows it: integers without a fraction.
std::string numberText(double value) {
    if (std::isfinite(value) && value == std::trunc(value) && std::abs(value) < 1e15) {
        return fmt::format("{}", static_cast<std::int64_t>(value));
    }
    return fmt::format("{}", value);
}

const boost::json::value* valueAtPath(const boost::json::object& object, std::initializer_list<std::string_view> path) {
    const boost::json::object* current = &object;
    const boost::json::value* value = nullptr;
    for (auto key : path) {
        if (current == nullptr) return nullptr;
        value = current->if_contains(key);
        if (value == nullptr) return nullptr;
        current = value->if_object();
    }
    return value;
}

// [longitude, latitude, ...] as a point on the floor; a zero point when the
// array is not there or too short, as a polygon's missing anchor reads.
CVPoint pointFromCoordinates(const boost::json::value* coordinates, std::optional<double> floorIndex) {
    double latitude = 0;
    double longitude = 0;
    if (const auto* pair = coordinates != nullptr ? coordinates->if_array() : nullptr;
        pair != nullptr && pair->size() >= 2 && (*pair)[0].is_number() && (*pair)[1].is_number()) {
        longitude = (*pair)[0].to_number<double>();
        latitude = (*pair)[1].to_number<double>();
    }
    return CVPoint(latitude, longitude, floorIndex.value_or(0));
}

}  // namespace

CVLocationInternal::CVLocationInternal() : floorIndex(0.0), position_(CVPoint(0, 0)) {}

CVLocationInternal::CVLocationInternal(const CVPoint& point, std::string name) : name(std::move(name)) {
    // Nothing but the name and the position: not even the default id.
    locationId.clear();
    setPosition(point);
}

void CVLocationInternal::declareJSON(JSONModelDeclaration<CVLocationInternal>& d) {
    d.keyMapper(JSONKeyMapper::initWithModelToJSONDictionary({
                    {"locationId", "id"},
                    {"name", "properties.name"},
                    {"type", "properties.type"},
                    {"locationBaseTypeString", "properties.locationType"},
                    {"venue", "properties.venue"},
                    {"building", "properties.building"},
                    {"floorIndex", "properties.floor"},
                    {"floorName", "properties.floorName"},
                    {"externalId", "properties.externalId"},
                    {"locationDescription", "properties.description"},
                    {"aliases", "properties.aliases"},
                    {"categories", "properties.categories"},
                    {"fields", "properties.fields"},
                    {"imageURL", "properties.imageURL"},
                    {"activeFrom", "properties.activeFrom"},
                    {"activeTo", "properties.activeTo"},
                    {"isBookable", "properties.bookable"},
                    {"restrictions", "properties.restrictions"},
                    {"displayRule", "properties.displayRule"},
                    {"locationSettings", "properties.locationSettings"},
                }))
        .optional({"locationId", "name", "type", "venue", "building", "externalId", "aliases", "categories", "fields",
                   "displayRule"})
        .setter("name", &CVLocationInternal::setNameWithNSString)
        .setter("categories", &CVLocationInternal::setCategoriesWithNSDictionary)
        .genericSetter("displayRule", &CVLocationInternal::setDisplayRuleWithJSONObject)
        .genericSetter("locationSettings", &CVLocationInternal::setLocationSettingsWithJSONObject)
        .getter("displayRule", &CVLocationInternal::JSONObjectForDisplayRule)
        .getter("locationSettings", &CVLocationInternal::JSONObjectForLocationSettings);
}

bool CVLocationInternal::initWithDictionary(const boost::json::value& dictionary, JSONModelErrorOut error) {
    if (initWithFeature(dictionary, error)) return true;
    const std::string id = CVElementIdForLog(dictionary);
    CVLog::core().error("{} [E] Failed to construct CVLocation from dict: {}", kLocationInitOperation,
                        id.empty() ? std::string("feature without an id") : "feature with id " + id);
    return false;
}

bool CVLocationInternal::initWithFeature(const boost::json::value& dictionary, JSONModelErrorOut error) {
    const auto* object = dictionary.if_object();
    const auto* geometryValue = object != nullptr ? object->if_contains("geometry") : nullptr;
    bool built = false;
    if (geometryValue != nullptr && geometryValue->is_object()) {
        built = JSONModel::initWithDictionary(dictionary, error);
        if (built) {
            const auto& geometryObject = geometryValue->get_object();
            const auto* typeValue = geometryObject.if_contains("type");
            const std::string_view geometryType =
                typeValue != nullptr && typeValue->is_string() ? std::string_view(typeValue->get_string()) : "";
            if (geometryType == "Polygon") {
                platform::NSError polygonError;
                auto polygon = CVPolygonGeometry::initWithDictionary(*geometryValue, &polygonError);
                built = polygon != nullptr;
                cv_setPolygon(std::move(polygon));
                setPosition(
                    pointFromCoordinates(valueAtPath(*object, {"properties", "anchor", "coordinates"}), floorIndex));
            } else if (geometryType == "Point") {
                setPosition(pointFromCoordinates(geometryObject.if_contains("coordinates"), floorIndex));
            } else {
                // Multipolygon locations come from floors, never from this document.
                built = false;
            }
            cv_updateGeoDataStatusFromDict(dictionary);
        }
    }
    if (!built) return false;
    state = 0;
    return true;
}

void CVLocationInternal::setNameWithNSString(std::string_view text) { name = CVNameWithLineBreaks(text); }

void CVLocationInternal::setCategoriesWithNSDictionary(const boost::json::object& object) {
    categories.clear();
    categories.reserve(object.size());
    for (const auto& entry : object) categories.emplace_back(entry.key());
}

void CVLocationInternal::setDisplayRuleWithJSONObject(const boost::json::value& value) {
    displayRule = CVDisplayRule::initWithDictionary(value);
}

void CVLocationInternal::setLocationSettingsWithJSONObject(const boost::json::value& value) {
    locationSettings = CVLocationSettings::initWithDictionary(value);
}

boost::json::value CVLocationInternal::JSONObjectForDisplayRule() const {
    if (!displayRule) return nullptr;
    return displayRule->JSONObject();
}

boost::json::value CVLocationInternal::JSONObjectForLocationSettings() const {
    if (!locationSettings) return nullptr;
    return locationSettings->JSONObject();
}

std::optional<double> CVLocationInternal::getFloorIndex() const {
    std::lock_guard lock(positionLock_.mutex);
    return floorIndex;
}

void CVLocationInternal::setFloorIndex(std::optional<double> index) {
    std::lock_guard lock(positionLock_.mutex);
    floorIndex = index;
    if (index && position_) position_ = CVPoint(position_->latitude(), position_->longitude(), *index);
}

CVPoint CVLocationInternal::getPosition() const {
    std::lock_guard lock(positionLock_.mutex);
    return position_.value_or(CVPoint(0, 0));
}

bool CVLocationInternal::hasPosition() const {
    std::lock_guard lock(positionLock_.mutex);
    return position_.has_value();
}

void CVLocationInternal::setPosition(const CVPoint& position) {
    std::lock_guard lock(positionLock_.mutex);
    // Sliced to a plain point: subclasses of points are not kept by a location.
    position_ = CVPoint(position.latitude(), position.longitude(), position.z());
    floorIndex = static_cast<double>(position.zIndex());
}

CVLocationBaseType CVLocationInternal::baseType() const {
    if (!locationBaseTypeString) return as_CVLocationBaseType(std::nullopt);
    return as_CVLocationBaseType(*locationBaseTypeString);
}

CVLocationGeometry CVLocationInternal::geometry() const {
    std::optional<CVPoint> position;
    {
        std::lock_guard lock(positionLock_.mutex);
        if (position_ && floorIndex) {
            const std::int64_t floor = integerFloor(*floorIndex);
            if (position_->zIndex() != floor) {
                CVLog::core().error(
                    "-[CVLocationInternal geometry] [W] Point zIndex:{:2} differed from floorIndex:{:2} "
                    "on location:{}, type:{}",
                    position_->zIndex(), floor, name, type);
                position_ = CVPoint(position_->latitude(), position_->longitude(), static_cast<double>(floor));
            }
        }
        position = position_;
    }
    if (auto multiPolygon = cv_multiPolygon()) return multiPolygon;
    if (auto polygon = cv_polygon()) return polygon;
    if (position) return *position;
    return std::monostate{};
}

CVGeoBounds CVLocationInternal::coordinateBounds() const {
    std::vector<double> box;
    if (const auto shape = cv_boundingGeometry(); shape && !shape->boundingBox().empty()) {
        box = shape->boundingBox();
    } else {
        const CVPoint position = getPosition();
        box = {position.longitude(), position.latitude(), position.longitude(), position.latitude()};
    }
    std::vector<CLLocationCoordinate2D> corners;
    // Pairs of (longitude, latitude); a trailing odd number has no partner.
    for (std::size_t i = 0; i + 1 < box.size(); i += 2) corners.push_back({box[i + 1], box[i]});
    return CVGeoBounds(corners);
}

double CVLocationInternal::area() const {
    auto geometry = cv_effectiveGeometry();
    return geometry ? geometry->area() : 0;
}

std::optional<std::string> CVLocationInternal::iconUrl() const {
    auto entry = CVEntryObjectSeam::installed();
    if (!entry) return std::nullopt;
    auto rule = entry->displayRuleForLocation(*this);
    if (!rule) return std::nullopt;
    return rule->iconUrl();
}

bool CVLocationInternal::isActiveForDate(double secondsSince1970) const {
    return (!activeFrom || *activeFrom < secondsSince1970) && (!activeTo || *activeTo > secondsSince1970);
}

std::shared_ptr<CVLocationProperty> CVLocationInternal::getProperty(const std::string& key) const {
    auto field = fields.find(key);
    if (field == fields.end() || !field->second) return nullptr;
    return std::make_shared<CVLocationProperty>(field->second, key);
}

std::shared_ptr<CVLocationField> CVLocationInternal::getPropertyForKey(const std::optional<std::string>& key) const {
    if (!key) return nullptr;
    if (auto field = fields.find(*key); field != fields.end()) return field->second;
    const std::string lowered = lowercasedText(*key);
    for (const auto& [name, field] : fields) {
        if (lowercasedText(name) == lowered) return field;
    }
    return nullptr;
}

std::optional<std::string> CVLocationInternal::readableLocationIdForBuildingFloor() const {
    const auto floor = getFloorIndex();
    if (building.empty() || !floor) return std::nullopt;
    return lowercasedText(building + "-" + numberText(*floor));
}

std::optional<std::string> CVLocationInternal::parentId() const {
    std::optional<std::string> key;
    const auto kind = baseType();
    // Floors, buildings and venues hang from the next level up, never from a floor.
    const bool isLevel =
        kind == CVLocationBaseType::floor || kind == CVLocationBaseType::building || kind == CVLocationBaseType::venue;
    if (isIndoors() && !isLevel) key = readableLocationIdForBuildingFloor();
    if (!key && !building.empty()) key = "ax_b_" + lowercasedText(building);
    if (!key && !venue.empty()) key = "ax_v_" + lowercasedText(venue);
    if (!key) return locationId;
    return CVLocationSourceIndex::current()->parentIdForReadableId(*key);
}

std::int32_t CVLocationInternal::axLocationId() const { return CVInternalStringUtils::hashOf(locationId); }

std::int32_t CVLocationInternal::axParentId() const {
    const auto parent = parentId();
    return CVInternalStringUtils::hashOf(parent ? std::optional<std::string_view>(*parent) : std::nullopt);
}

AXLocation CVLocationInternal::axLocation() const { return axLocation(AmbrellLegacy::getLanguage()); }

AXLocation CVLocationInternal::axLocation(const std::string& language) const {
    const auto now = static_cast<double>(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count());

    std::vector<AXTextProperty> properties;
    properties.reserve(2 + fields.size());
    properties.push_back(AXTextProperty::TextPropertyWithLanguage(language, "name", name));
    properties.push_back(AXTextProperty::TextPropertyWithLanguage(language, "externalid", externalId));
    for (const auto& [fieldName, field] : fields) {
        if (!field || !field->value || field->value->empty()) continue;
        properties.push_back(
            AXTextProperty::TextPropertyWithLanguage(language, lowercasedText(fieldName), *field->value));
    }

    std::uint32_t status = 0;
    if (cv_isActive()) status = isActiveForDate(now) ? 1 : 5;
    if (cv_isSearchable()) status += 2;

    // Joined and split again: an alias holding commas stands for several.
    std::vector<std::string> axAliases;
    for (const auto& alias : aliases) {
        const std::string lowered = lowercasedText(alias);
        std::string_view rest = lowered;
        while (true) {
            const auto comma = rest.find(',');
            const auto piece = rest.substr(0, comma);
            if (!piece.empty()) axAliases.emplace_back(piece);
            if (comma == std::string_view::npos) break;
            rest.remove_prefix(comma + 1);
        }
    }

    std::vector<std::int32_t> groups;
    groups.reserve(categories.size());
    for (const auto& category : categories) groups.push_back(CVInternalStringUtils::hashOf(category));

    // Points of interest and areas search alike; rooms search as areas.
    static constexpr std::int64_t kAxBaseTypes[] = {0, 0, 1, 3, 4, 5};
    const auto raw = static_cast<std::uint32_t>(baseType());
    const std::int64_t axBaseType = raw < std::size(kAxBaseTypes) ? kAxBaseTypes[raw] : 0;

    const CVPoint position = getPosition();
    AXGeometry geometry = axGeometry(position);
    // One read of the shape: another thread may replace the outline meanwhile.
    if (const auto shape = cv_boundingGeometry()) {
        const std::vector<double>& box = shape->boundingBox();
        if (box.size() == 4) {
            geometry.bounds = AXCoordinateBounds::CoordinateBoundsWithNortheast(
                AXCoordinate::CoordinateWithLat(box[3], box[2]), AXCoordinate::CoordinateWithLat(box[1], box[0]));
        }
    }

    const auto altitude = static_cast<float>(getFloorIndex().value_or(0));
    return AXLocation::LocationWithLocationId(axLocationId(), axParentId(), std::move(axAliases), std::move(groups),
                                              status, axBaseType, std::move(properties), geometry, altitude,
                                              CVInternalStringUtils::hashOf(type), 0, isIndoors());
}

std::shared_ptr<CVLocationInternal> CVLocationInternal::copyWithZone() const {
    auto copy = std::make_shared<CVLocationInternal>();
    copy->aliases = aliases;
    copy->building = building;
    copy->categories = categories;
    copy->externalId = externalId;
    copy->setFloorIndex(getFloorIndex());
    copy->labelCacheKey = labelCacheKey;
    copy->locationBaseTypeString = locationBaseTypeString;
    copy->locationDescription = locationDescription;
    copy->locationId = locationId;
    copy->cv_setGeoDataStatus(cv_geoDataStatus());
    copy->cv_setPolygon(cv_polygon());
    copy->name = name;
    // The position decides the floor, as it does for any location.
    copy->setPosition(getPosition());
    for (const auto& [fieldName, field] : fields)
        copy->fields.emplace(fieldName, field ? field->copyWithZone() : nullptr);
    copy->type = type;
    copy->venue = venue;
    copy->state = 0;
    return copy;
}

std::shared_ptr<CVLocationInternal> CVLocationInternal::initWithLocation(const CVLocation& source) {
    const CVPoint sourcePosition = source.getPosition();
    const auto floor = source.getFloorIndex();
    auto location = std::make_shared<CVLocationInternal>(CVPoint(sourcePosition.latitude(), sourcePosition.longitude(),
                                                                 static_cast<double>(integerFloor(floor.value_or(0)))),
                                                         source.getName());
    if (const auto* ours = dynamic_cast<const CVLocationInternal*>(&source)) {
        location->categories = ours->categories;
        for (const auto& [fieldName, field] : ours->fields) {
            location->fields.emplace(fieldName, field ? field->copyWithZone() : nullptr);
        }
        location->state = ours->state;
    }
    location->setFloorIndex(floor);
    location->displayRule = source.getDisplayRule();
    return location;
}

bool CVLocationDataset::initWithDictionary(const boost::json::value& dictionary, JSONModelErrorOut error) {
    const boost::json::value* features = nullptr;
    if (dictionary.is_array()) {
        features = &dictionary;
    } else if (const auto* object = dictionary.if_object()) {
        features = object->if_contains("list");
        if (features == nullptr || !features->is_array()) {
            setJSONModelError(error, JSONModelError::errorBadJSON());
            return true;
        }
    } else {
        setJSONModelError(error, JSONModelError::errorBadJSON());
        return false;
    }
    std::vector<std::shared_ptr<CVLocationInternal>> locations;
    locations.reserve(features->get_array().size());
    CVRefusalLines lines(kLocationInitOperation, "feature");
    const auto& array = features->get_array();
    for (std::size_t position = 0; position < array.size(); ++position) {
        auto location = std::make_shared<CVLocationInternal>();
        if (location->initWithFeature(array[position])) {
            locations.push_back(std::move(location));
            continue;
        }
        if (!lines.count()) continue;
        const std::string id = CVElementIdForLog(array[position]);
        CVLog::core().error("{} [E] Failed to construct CVLocation from dict: feature at index {}{}",
                            kLocationInitOperation, position, id.empty() ? std::string() : " with id " + id);
    }
    lines.finish();
    list = std::move(locations);
    return true;
}

}  // namespace ambrell

AMBRELL_JSON_MODEL_DEFINE(ambrell::CVLocationInternal)
AMBRELL_JSON_MODEL_DEFINE(ambrell::CVLocationDataset)
