#include "data/CVGeoDataProperties.h"

#include <cmath>
#include <limits>

#include <boost/json/value.hpp>

namespace ambrell {

namespace {

std::optional<std::uint32_t> statusFrom(const boost::json::value& value) {
    constexpr double kMaximum = std::numeric_limits<std::uint32_t>::max();
    if (value.is_int64()) {
        const auto number = value.get_int64();
        if (number < 0 || static_cast<double>(number) > kMaximum) return std::nullopt;
        return static_cast<std::uint32_t>(number);
    }
    if (value.is_uint64()) {
        const auto number = value.get_uint64();
        if (number > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
        return static_cast<std::uint32_t>(number);
    }
    if (value.is_double()) {
        const double number = value.get_double();
        if (!std::isfinite(number) || number < 0 || number > kMaximum) return std::nullopt;
        return static_cast<std::uint32_t>(number);
    }
    return std::nullopt;
}

}  // namespace

CVGeoDataProperties::CVGeoDataProperties(const CVGeoDataProperties& other) {
    std::lock_guard lock(other.mutex_);
    status_ = other.status_;
    polygon_ = other.polygon_;
    multiPolygon_ = other.multiPolygon_;
}

CVGeoDataProperties& CVGeoDataProperties::operator=(const CVGeoDataProperties& other) {
    if (this == &other) return *this;
    std::scoped_lock lock(mutex_, other.mutex_);
    status_ = other.status_;
    polygon_ = other.polygon_;
    multiPolygon_ = other.multiPolygon_;
    return *this;
}

std::uint32_t CVGeoDataProperties::cv_geoDataStatus() const {
    std::lock_guard lock(mutex_);
    return status_.value_or(kStatusUnset);
}

void CVGeoDataProperties::cv_setGeoDataStatus(std::uint32_t status) {
    std::lock_guard lock(mutex_);
    status_ = status;
}

bool CVGeoDataProperties::cv_isActive() const { return (cv_geoDataStatus() & kStatusActive) != 0; }

bool CVGeoDataProperties::cv_isSearchable() const { return (cv_geoDataStatus() & kStatusUnset) == kStatusUnset; }

void CVGeoDataProperties::cv_updateGeoDataStatusFromDict(const boost::json::value& dictionary) {
    const auto* object = dictionary.if_object();
    if (object == nullptr) return;
    const boost::json::value* status = nullptr;
    if (const auto* properties = object->if_contains("properties"); properties != nullptr && properties->is_object()) {
        status = properties->get_object().if_contains("status");
    }
    if (status == nullptr) status = object->if_contains("status");
    if (status == nullptr) return;
    if (auto value = statusFrom(*status)) cv_setGeoDataStatus(*value);
}

std::shared_ptr<const CVPolygonGeometry> CVGeoDataProperties::cv_polygon() const {
    std::lock_guard lock(mutex_);
    return polygon_;
}

void CVGeoDataProperties::cv_setPolygon(std::shared_ptr<const CVPolygonGeometry> polygon) {
    std::lock_guard lock(mutex_);
    polygon_ = std::move(polygon);
}

std::shared_ptr<const CVMultiPolygonGeometry> CVGeoDataProperties::cv_multiPolygon() const {
    std::lock_guard lock(mutex_);
    return multiPolygon_;
}

void CVGeoDataProperties::cv_setMultiPolygon(std::shared_ptr<const CVMultiPolygonGeometry> multiPolygon) {
    std::lock_guard lock(mutex_);
    multiPolygon_ = std::move(multiPolygon);
}

std::shared_ptr<const CVGeometry> CVGeoDataProperties::cv_effectiveGeometry() const {
    std::lock_guard lock(mutex_);
    if (multiPolygon_) return multiPolygon_;
    return polygon_;
}

std::shared_ptr<const CVGeometry> CVGeoDataProperties::cv_boundingGeometry() const {
    std::lock_guard lock(mutex_);
    if (polygon_) return polygon_;
    return multiPolygon_;
}

}  // namespace ambrell
