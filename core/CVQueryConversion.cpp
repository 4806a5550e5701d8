#include "core/CVQueryConversion.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "foundation/CVInternalStringUtils.h"
#include "foundation/CVTextCase.h"

namespace ambrell {

namespace {

std::optional<std::vector<std::int32_t>> hashed(const std::optional<std::vector<std::string>>& texts) {
    if (!texts) return std::nullopt;
    std::vector<std::int32_t> ids;
    ids.reserve(texts->size());
    for (const auto& text : *texts) ids.push_back(CVInternalStringUtils::hashOf(text));
    return ids;
}

AXCoordinate axCoordinate(CLLocationCoordinate2D coordinate) {
    return AXCoordinate::CoordinateWithLat(coordinate.latitude, coordinate.longitude);
}

}  // namespace

AXQuery axQueryFrom(const CVQuery& query) {
    AXQuery converted;
    converted.text = query.query;
    converted.propertyKeys.reserve(query.queryProperties.size());
    for (const auto& key : query.queryProperties) converted.propertyKeys.push_back(lowercasedText(key));
    if (query.near) converted.near = AXCoordinate::CoordinateWithLat(query.near->latitude(), query.near->longitude());
    converted.ordering = AXOrdering::relevance;
    return converted;
}

AXFilter axFilterFrom(const CVFilter& filter) {
    return axFilterFrom(filter,
                        [](const std::string& locationId) { return CVInternalStringUtils::hashOf(locationId); });
}

AXFilter axFilterFrom(const CVFilter& filter, const std::function<std::int32_t(const std::string&)>& locationEngineId) {
    AXFilter converted;
    if (filter.locations) {
        std::vector<std::int32_t> ids;
        ids.reserve(filter.locations->size());
        for (const auto& locationId : *filter.locations) ids.push_back(locationEngineId(locationId));
        converted.locationIds = std::move(ids);
    }
    converted.parentIds = hashed(filter.parents);
    converted.groups = hashed(filter.categories);
    converted.typeIds = hashed(filter.types);
    // The floor's whole number as a point's floor index reads it, so a floor
    // that is not a number or out of range never makes an undefined cast.
    if (filter.floorIndex) converted.floor = CVPoint(0, 0, *filter.floorIndex).zIndex();
    if (filter.bounds) {
        converted.bounds = AXCoordinateBounds::CoordinateBoundsWithNortheast(axCoordinate(filter.bounds->northEast()),
                                                                             axCoordinate(filter.bounds->southWest()));
    }
    converted.take = filter.take;
    converted.skip = filter.skip;
    converted.ignoreSearchableStatus = filter.ignoreSearchableStatus;
    converted.ignoreActiveStatus = filter.ignoreActiveStatus;
    return converted;
}

}  // namespace ambrell
