#pragma once

#include "Source/AXCommon/AXBox.h"
#include "Source/AXCommon/AXFilter.h"
#include "Source/AXCommon/AXLocation.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

namespace ambrell::axsearch {

// The fields of a location that most filters test, packed small: a filter
// that has to look at every location reads a few bytes of each instead of
// the whole record.
struct AXFilterFields {
    std::int32_t locationId = 0;
    std::int32_t parentId = 0;
    std::int32_t typeId = 0;
    std::uint32_t status = 0;
    float altitude = 0;
    bool isIndoor = false;

    [[nodiscard]] static AXFilterFields of(const AXLocation& location) {
        return {location.locationId, location.parentId, location.typeId,
                location.status,     location.altitude, location.isIndoor};
    }
};

// An AXFilter prepared for testing many locations: id lists sorted once so
// that each test is a binary search.
class AXFilterMatcher {
public:
    // Throws std::invalid_argument when the filter's bounds are not finite.
    explicit AXFilterMatcher(const AXFilter& filter);

    // Split in two so that the packed fields can rule most locations out
    // before their groups and box are read. Inline: it runs for every
    // location of a filter-only query.
    [[nodiscard]] bool matchesFields(const AXFilterFields& fields) const {
        if (!statusPasses(fields.status, ignoreSearchableStatus_, ignoreActiveStatus_)) {
            return false;
        }
        if (locationIds_ && !contains(*locationIds_, fields.locationId)) {
            return false;
        }
        if (parentIds_ && !contains(*parentIds_, fields.parentId)) {
            return false;
        }
        if (typeIds_ && !contains(*typeIds_, fields.typeId)) {
            return false;
        }
        // Stored altitudes are finite (checked at upsert), so the rounding is exact.
        return !floor_ || !fields.isIndoor ||
               static_cast<double>(std::round(fields.altitude)) == static_cast<double>(*floor_);
    }
    [[nodiscard]] bool matchesGroupsAndBox(const std::vector<std::int32_t>& groups, const axgeo::AXBox& box) const;
    // For a location already found inside the bounds.
    [[nodiscard]] bool matchesGroups(const std::vector<std::int32_t>& groups) const;

    [[nodiscard]] const std::optional<axgeo::AXBox>& bounds() const { return bounds_; }

    // Statuses are bits: 1 active, 4 outside its activity window, 2 searchable.
    [[nodiscard]] static bool statusPasses(std::uint32_t status, bool ignoreSearchableStatus, bool ignoreActiveStatus) {
        constexpr std::uint32_t kActive = 1;
        constexpr std::uint32_t kSearchable = 2;
        constexpr std::uint32_t kOutsideActivityWindow = 4;
        if (!ignoreActiveStatus && ((status & kActive) == 0 || (status & kOutsideActivityWindow) != 0)) {
            return false;
        }
        return ignoreSearchableStatus || (status & kSearchable) != 0;
    }

private:
    [[nodiscard]] static bool contains(const std::vector<std::int32_t>& sortedIds, std::int32_t id) {
        // Short lists (a type or two, a venue's parents) are faster to walk.
        if (sortedIds.size() <= 8) {
            return std::find(sortedIds.begin(), sortedIds.end(), id) != sortedIds.end();
        }
        return std::binary_search(sortedIds.begin(), sortedIds.end(), id);
    }

    using IdList = std::optional<std::vector<std::int32_t>>;

    IdList locationIds_;
    IdList parentIds_;
    IdList groups_;
    IdList typeIds_;
    std::optional<int> floor_;
    std::optional<axgeo::AXBox> bounds_;
    bool ignoreSearchableStatus_;
    bool ignoreActiveStatus_;
};

}  // namespace ambrell::axsearch
