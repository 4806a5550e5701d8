#pragma once

#include "Source/AXCommon/AXCoordinate.h"
#include "Source/AXCommon/AXPolygon.h"

#include <memory>
#include <optional>

namespace ambrell::axgeo {

// A point in metres on a local plane.
struct AXPlanePoint {
    double x = 0;
    double y = 0;
};

// Equirectangular projection to metres around an origin: exact enough over
// the extent of a room, and cheap.
class AXLocalProjection {
public:
    explicit AXLocalProjection(AXCoordinate origin);
    [[nodiscard]] AXPlanePoint project(AXCoordinate coordinate) const;

private:
    AXCoordinate origin_;
    double metresPerDegreeLat_;
    double metresPerDegreeLng_;
};

// The part of a room where a walker keeps a distance from every wall and
// every obstacle: the outline shrunk and each hole grown by that distance.
class AXRoomFreeSpace {
public:
    // Nothing for a room that cannot be used (a ring with fewer than three
    // distinct points, a self-crossing or non-finite ring) or when nothing is
    // left after shrinking. Holes may overlap each other or the walls.
    // Errors inside the geometry engine propagate as exceptions.
    [[nodiscard]] static std::optional<AXRoomFreeSpace> build(const AXPolygon& room,
                                                              const AXLocalProjection& projection, double wallDistance);

    AXRoomFreeSpace(AXRoomFreeSpace&&) noexcept;
    AXRoomFreeSpace& operator=(AXRoomFreeSpace&&) noexcept;
    ~AXRoomFreeSpace();

    // Whether the straight segment runs inside the free space all along.
    [[nodiscard]] bool containsSegment(AXPlanePoint from, AXPlanePoint to) const;

private:
    struct Impl;
    explicit AXRoomFreeSpace(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace ambrell::axgeo
