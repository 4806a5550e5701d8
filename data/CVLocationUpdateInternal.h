#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Ambrell/CVLocationUpdate.h"

namespace ambrell {

class CVLocationInternal;

// The host's location update, filled member by member: an update of a
// location of its own (no prototype) or of one of the solution's locations.
// A plain value; not synchronised.
class CVLocationUpdateInternal : public CVLocationUpdate {
public:
    // A location of the host's own, under this id.
    explicit CVLocationUpdateInternal(std::string locationId) : locationId_(std::move(locationId)) {}
    // A change to `prototype`, under its id.
    explicit CVLocationUpdateInternal(std::shared_ptr<const CVLocation> prototype);

    void setType(std::optional<std::string> type) { type_ = std::move(type); }
    void setName(std::optional<std::string> name) { name_ = std::move(name); }
    void setPosition(CLLocationCoordinate2D position) { position_ = position; }
    void setFloorIndex(std::int64_t floorIndex) { floorIndex_ = floorIndex; }
    void setCategories(std::optional<std::vector<std::string>> categories) { categories_ = std::move(categories); }
    void addPropertyWithType(std::string type, std::string value);
    void setIconMapAnchor(CLLocationCoordinate2D anchor) { iconMapAnchor_ = anchor; }

    [[nodiscard]] std::shared_ptr<const CVLocation> prototypeLocation() const override { return prototype_; }
    [[nodiscard]] const std::optional<std::string>& type() const override { return type_; }
    [[nodiscard]] const std::optional<std::string>& name() const override { return name_; }
    [[nodiscard]] CLLocationCoordinate2D position() const override { return position_; }
    [[nodiscard]] std::int64_t floorIndex() const override { return floorIndex_; }
    [[nodiscard]] const std::string& locationId() const override { return locationId_; }
    [[nodiscard]] const std::optional<std::vector<std::string>>& categories() const override { return categories_; }
    [[nodiscard]] const std::optional<std::vector<std::shared_ptr<CVLocationField>>>& properties() const override {
        return properties_;
    }
    [[nodiscard]] CLLocationCoordinate2D iconMapAnchor() const override { return iconMapAnchor_; }

    // The location this update describes (CVLocationInternal::initWithLocationUpdate).
    [[nodiscard]] std::shared_ptr<CVLocationInternal> location() const;

private:
    std::shared_ptr<const CVLocation> prototype_;
    std::optional<std::string> type_;
    std::optional<std::string> name_;
    CLLocationCoordinate2D position_;
    std::int64_t floorIndex_ = kFloorInvalid;
    std::string locationId_;
    std::optional<std::vector<std::string>> categories_;
    std::optional<std::vector<std::shared_ptr<CVLocationField>>> properties_;
    CLLocationCoordinate2D iconMapAnchor_;
};

}  // namespace ambrell
