#pragma once

#include "Source/AXCommon/AXGeometry.h"
#include "Source/AXCommon/AXTextProperty.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace ambrell {

// A location as the search engine indexes it; ids are hashes of the SDK's
// text ids.
struct AXLocation {
    std::int32_t locationId = 0;
    std::int32_t parentId = 0;
    std::vector<std::string> aliases;
    std::vector<std::int32_t> groups;
    std::uint32_t status = 0;
    std::int64_t baseType = 0;
    std::vector<AXTextProperty> properties;
    AXGeometry geometry;
    float altitude = 0;
    std::int32_t typeId = 0;
    std::int32_t sourceId = 0;
    bool isIndoor = false;

    [[nodiscard]] static AXLocation LocationWithLocationId(std::int32_t locationId, std::int32_t parentId,
                                                           std::vector<std::string> aliases,
                                                           std::vector<std::int32_t> groups, std::uint32_t status,
                                                           std::int64_t baseType,
                                                           std::vector<AXTextProperty> properties, AXGeometry geometry,
                                                           float altitude, std::int32_t typeId, std::int32_t sourceId,
                                                           bool isIndoor) {
        return {locationId,
                parentId,
                std::move(aliases),
                std::move(groups),
                status,
                baseType,
                std::move(properties),
                geometry,
                altitude,
                typeId,
                sourceId,
                isIndoor};
    }

    friend bool operator==(const AXLocation&, const AXLocation&) = default;
};

}  // namespace ambrell
