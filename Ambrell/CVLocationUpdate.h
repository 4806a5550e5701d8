#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Ambrell/CVLocation.h"
#include "platform/Coordinate.h"

namespace ambrell {

// What a host tells about a location of its own, or about a change to one of
// the solution's locations (its prototype): the library makes the location
// the update describes. Absent members leave the prototype's values.
class CVLocationUpdate {
public:
    // The floor of an update that names none.
    static constexpr std::int64_t kFloorInvalid = std::numeric_limits<std::int64_t>::min();

    CVLocationUpdate() = default;
    CVLocationUpdate(const CVLocationUpdate&) = default;
    CVLocationUpdate& operator=(const CVLocationUpdate&) = default;
    virtual ~CVLocationUpdate() = default;

    [[nodiscard]] virtual std::shared_ptr<const CVLocation> prototypeLocation() const = 0;
    [[nodiscard]] virtual const std::optional<std::string>& type() const = 0;
    [[nodiscard]] virtual const std::optional<std::string>& name() const = 0;
    [[nodiscard]] virtual CLLocationCoordinate2D position() const = 0;
    // kFloorInvalid when the update names no floor.
    [[nodiscard]] virtual std::int64_t floorIndex() const = 0;
    [[nodiscard]] virtual const std::string& locationId() const = 0;
    [[nodiscard]] virtual const std::optional<std::vector<std::string>>& categories() const = 0;
    // Each with a type ("name", "description", "alias", "imageUrl" or a field
    // name of the host's choosing) and a value.
    [[nodiscard]] virtual const std::optional<std::vector<std::shared_ptr<CVLocationField>>>& properties() const = 0;
    [[nodiscard]] virtual CLLocationCoordinate2D iconMapAnchor() const = 0;
};

}  // namespace ambrell
