#include "Source/AXCommon/AXFilterMatcher.h"

#include "Source/AXCommon/AXGeodesy.h"

#include <algorithm>
#include <stdexcept>

namespace ambrell::axsearch {
namespace {

std::optional<std::vector<std::int32_t>> sorted(const std::optional<std::vector<std::int32_t>>& ids) {
    if (!ids) {
        return std::nullopt;
    }
    auto copy = *ids;
    std::sort(copy.begin(), copy.end());
    return copy;
}

bool sharesGroup(const std::vector<std::int32_t>& sortedGroups, const std::vector<std::int32_t>& groups) {
    return std::any_of(groups.begin(), groups.end(), [&](std::int32_t group) {
        return std::binary_search(sortedGroups.begin(), sortedGroups.end(), group);
    });
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

bool AXFilterMatcher::matchesGroups(const std::vector<std::int32_t>& groups) const {
    return !groups_ || sharesGroup(*groups_, groups);
}

bool AXFilterMatcher::matchesGroupsAndBox(const std::vector<std::int32_t>& groups, const axgeo::AXBox& box) const {
    return matchesGroups(groups) && (!bounds_ || bounds_->intersects(box));
}

}  // namespace ambrell::axsearch
