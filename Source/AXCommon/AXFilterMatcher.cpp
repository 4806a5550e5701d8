#include "Source/AXCommon/AXFilterMatcher.h"

#include "Source/AXCommon/AXGeodesy.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace ambrell::axsearch {
namespace {

constexpr std::uint32_t kStatusActive = 1;
constexpr std::uint32_t kStatusSearchable = 2;
constexpr std::uint32_t kStatusOutsideActivityWindow = 4;

std::optional<std::vector<std::int32_t>> sorted(const std::optional<std::vector<std::int32_t>>& ids) {
    if (!ids) {
        return std::nullopt;
    }
    auto copy = *ids;
    std::sort(copy.begin(), copy.end());
    return copy;
}

bool contains(const std::vector<std::int32_t>& sortedIds, std::int32_t id) {
    return std::binary_search(sortedIds.begin(), sortedIds.end(), id);
}

bool sharesGroup(const std::vector<std::int32_t>& sortedGroups, const std::vector<std::int32_t>& groups) {
    return std::any_of(groups.begin(), groups.end(), [&](std::int32_t group) { return contains(sortedGroups, group); });
}

}  // namespace

AXFilterMatcher::AXFilterMatcher(const AXFilter& filter)
    : locationIds_(sorted(filter.locationIds)),
      parentIds_(sorted(filter.parentIds)),
      groups_(sorted(filter.groups)),
      typeIds_(sorted(filter.typeIds)),
      floor_(filter.floor),
      ignoreSearchableStatus_(filter.ignoreSearchableStatus),
      ignoreActiveStatus_(filter.ignoreActiveStatus) {
    if (filter.bounds) {
        if (!axgeo::isFinite(filter.bounds->northeast) || !axgeo::isFinite(filter.bounds->southwest)) {
            throw std::invalid_argument("AXFilter bounds must be finite coordinates");
        }
        bounds_ = axgeo::AXBox::fromBounds(*filter.bounds);
    }
}

bool AXFilterMatcher::statusPasses(std::uint32_t status, bool ignoreSearchableStatus, bool ignoreActiveStatus) {
    if (!ignoreActiveStatus && ((status & kStatusActive) == 0 || (status & kStatusOutsideActivityWindow) != 0)) {
        return false;
    }
    return ignoreSearchableStatus || (status & kStatusSearchable) != 0;
}

bool AXFilterMatcher::matchesFields(const AXFilterFields& fields) const {
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
    return !floor_ || !fields.isIndoor || std::round(fields.altitude) == static_cast<double>(*floor_);
}

bool AXFilterMatcher::matchesGroupsAndBox(const std::vector<std::int32_t>& groups, const axgeo::AXBox& box) const {
    if (groups_ && !sharesGroup(*groups_, groups)) {
        return false;
    }
    return !bounds_ || bounds_->intersects(box);
}

}  // namespace ambrell::axsearch
