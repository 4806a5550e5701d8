#pragma once

#include "Source/AXCommon/AXEdge.h"
#include "Source/AXCommon/AXPolygon.h"

#include <utility>
#include <vector>

namespace ambrell {

// The part of a routed path that runs through one room.
struct AXRoomPathSegment {
    AXPolygon room;
    std::vector<AXEdge> path;

    [[nodiscard]] static AXRoomPathSegment RoomPathSegmentWithRoom(AXPolygon room, std::vector<AXEdge> path) {
        return {std::move(room), std::move(path)};
    }

    friend bool operator==(const AXRoomPathSegment&, const AXRoomPathSegment&) = default;
};

}  // namespace ambrell
