#pragma once

#include <memory>
#include <optional>
#include <string>

#include <boost/json/fwd.hpp>

#include "Ambrell/CVRoute.h"

namespace ambrell {

// A point of a route: "lat", "lng", "zLevel" (the floor index as a number),
// "label" and "floor_name". Shared by the leg or step that holds it, so a
// label written here shows wherever the coordinate is used.
class CVRouteCoordinateInternal final : public CVRouteCoordinate {
public:
    CVRouteCoordinateInternal() = default;
    CVRouteCoordinateInternal(double lat, double lng, std::optional<double> zLevel = std::nullopt)
        : lat_(lat), lng_(lng), zLevel_(zLevel) {}

    // Throws CVRouteCodingError.
    [[nodiscard]] static std::shared_ptr<CVRouteCoordinateInternal> decodeValue(const boost::json::value& json);
    [[nodiscard]] boost::json::value encode() const;

    [[nodiscard]] std::optional<double> lat() const override { return lat_; }
    void setLat(std::optional<double> lat) { lat_ = lat; }
    [[nodiscard]] std::optional<double> lng() const override { return lng_; }
    void setLng(std::optional<double> lng) { lng_ = lng; }
    [[nodiscard]] std::optional<double> zLevel() const override { return zLevel_; }
    void setZLevel(std::optional<double> zLevel) { zLevel_ = zLevel; }
    [[nodiscard]] std::optional<std::string> label() const override { return label_; }
    void setLabel(std::optional<std::string> label) { label_ = std::move(label); }
    [[nodiscard]] std::optional<std::string> floor_name() const override { return floorName_; }
    void setFloor_name(std::optional<std::string> floorName) { floorName_ = std::move(floorName); }

private:
    std::optional<double> lat_;
    std::optional<double> lng_;
    std::optional<double> zLevel_;
    std::optional<std::string> label_;
    std::optional<std::string> floorName_;
};

}  // namespace ambrell
