#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Ambrell/CVLocation.h"
#include "Ambrell/CVLocationUpdate.h"
#include "platform/Coordinate.h"

namespace ambrell {

class CVLocationUpdateInternal;

// A location update as the factory makes it: the host's values, and the
// location they describe. Immutable, so any thread may read it.
class CVHostLocationUpdate final : public CVLocationUpdate {
public:
    explicit CVHostLocationUpdate(std::shared_ptr<const CVLocationUpdateInternal> update);

    [[nodiscard]] std::shared_ptr<const CVLocation> prototypeLocation() const override;
    [[nodiscard]] const std::optional<std::string>& type() const override;
    [[nodiscard]] const std::optional<std::string>& name() const override;
    [[nodiscard]] CLLocationCoordinate2D position() const override;
    [[nodiscard]] std::int64_t floorIndex() const override;
    [[nodiscard]] const std::string& locationId() const override;
    [[nodiscard]] const std::optional<std::vector<std::string>>& categories() const override;
    [[nodiscard]] const std::optional<std::vector<std::shared_ptr<CVLocationField>>>& properties() const override;
    [[nodiscard]] CLLocationCoordinate2D iconMapAnchor() const override;

    // The location this update describes: the prototype's values with the
    // update's over them. A new object on each call.
    [[nodiscard]] std::shared_ptr<CVLocation> location() const;

private:
    std::shared_ptr<const CVLocationUpdateInternal> update_;
};

// Fills one location update, setter by setter; each setter answers the
// builder so calls chain. Unset members stay absent, the floor
// CVLocationUpdate::kFloorInvalid.
class CVLocationUpdateBuilder {
public:
    // A copy fills its own update (moves copy too, so no builder is ever empty).
    CVLocationUpdateBuilder(const CVLocationUpdateBuilder& other);
    CVLocationUpdateBuilder& operator=(const CVLocationUpdateBuilder& other);
    ~CVLocationUpdateBuilder() = default;

    CVLocationUpdateBuilder& type(std::string type);
    CVLocationUpdateBuilder& name(std::string name);
    CVLocationUpdateBuilder& position(CLLocationCoordinate2D position);
    CVLocationUpdateBuilder& floorIndex(std::int64_t floorIndex);
    CVLocationUpdateBuilder& categories(std::vector<std::string> categories);
    // "name", "description", "alias", "imageUrl" or a field name of one's own.
    CVLocationUpdateBuilder& addPropertyWithType(std::string type, std::string value);
    CVLocationUpdateBuilder& iconMapAnchor(CLLocationCoordinate2D anchor);

    // The update as filled so far; the builder may go on for another.
    [[nodiscard]] std::shared_ptr<CVHostLocationUpdate> build() const;

private:
    friend class CVLocationUpdateFactory;
    explicit CVLocationUpdateBuilder(std::shared_ptr<CVLocationUpdateInternal> update) : update_(std::move(update)) {}

    // Never shared with an update already built.
    std::shared_ptr<CVLocationUpdateInternal> update_;
};

// Where a host starts its location updates.
class CVLocationUpdateFactory {
public:
    // An update of a location of the host's own.
    [[nodiscard]] CVLocationUpdateBuilder updateWithId(std::string locationId) const;
    // An update of `location` (its prototype), under its id.
    [[nodiscard]] CVLocationUpdateBuilder updateWithLocation(std::shared_ptr<const CVLocation> location) const;
};

}  // namespace ambrell
