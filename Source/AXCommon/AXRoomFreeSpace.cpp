#include "Source/AXCommon/AXRoomFreeSpace.h"

#include "Source/AXCommon/AXGeodesy.h"

#include <boost/geometry.hpp>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <tuple>
#include <utility>
#include <vector>

namespace ambrell::axgeo {
namespace {

namespace bg = boost::geometry;
using Point = bg::model::d2::point_xy<double>;
using Polygon = bg::model::polygon<Point>;
using MultiPolygon = bg::model::multi_polygon<Polygon>;
using Line = bg::model::linestring<Point>;

// A ring given in either orientation, open or closed, as a valid polygon.
std::optional<Polygon> ringAsPolygon(const AXPath& ring, const AXLocalProjection& projection) {
    Polygon polygon;
    std::vector<std::pair<double, double>> distinct;
    for (const auto& coordinate : ring.coordinates) {
        if (!isFinite(coordinate)) {
            return std::nullopt;
        }
        const auto point = projection.project(coordinate);
        if (!std::isfinite(point.x) || !std::isfinite(point.y)) {  // latitudes far out of range
            return std::nullopt;
        }
        polygon.outer().emplace_back(point.x, point.y);
        distinct.emplace_back(point.x, point.y);
    }
    std::sort(distinct.begin(), distinct.end());
    if (std::unique(distinct.begin(), distinct.end()) - distinct.begin() < 3) {
        return std::nullopt;
    }
    // Repeated consecutive points are a spike-free way of drawing a ring;
    // the validity test would reject them.
    auto& outer = polygon.outer();
    outer.erase(std::unique(outer.begin(), outer.end(),
                            [](const Point& a, const Point& b) { return a.x() == b.x() && a.y() == b.y(); }),
                outer.end());
    bg::correct(polygon);
    if (!bg::is_valid(polygon)) {
        return std::nullopt;
    }
    return polygon;
}

MultiPolygon buffered(const Polygon& polygon, double distance) {
    MultiPolygon result;
    if (distance == 0) {
        result.push_back(polygon);
        return result;
    }
    bg::buffer(polygon, result, bg::strategy::buffer::distance_symmetric<double>(distance),
               bg::strategy::buffer::side_straight(), bg::strategy::buffer::join_miter(),
               bg::strategy::buffer::end_flat(), bg::strategy::buffer::point_square());
    return result;
}

}  // namespace

AXLocalProjection::AXLocalProjection(AXCoordinate origin)
    : origin_(origin),
      metresPerDegreeLat_(kEarthRadiusMeters * std::numbers::pi / 180.0),
      metresPerDegreeLng_(metresPerDegreeLat_ * std::cos(origin.lat * std::numbers::pi / 180.0)) {}

AXPlanePoint AXLocalProjection::project(AXCoordinate coordinate) const {
    return {(coordinate.lng - origin_.lng) * metresPerDegreeLng_, (coordinate.lat - origin_.lat) * metresPerDegreeLat_};
}

struct AXRoomFreeSpace::Impl {
    MultiPolygon area;
};

AXRoomFreeSpace::AXRoomFreeSpace(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
AXRoomFreeSpace::AXRoomFreeSpace(AXRoomFreeSpace&&) noexcept = default;
AXRoomFreeSpace& AXRoomFreeSpace::operator=(AXRoomFreeSpace&&) noexcept = default;
AXRoomFreeSpace::~AXRoomFreeSpace() = default;

std::optional<AXRoomFreeSpace> AXRoomFreeSpace::build(const AXPolygon& room, const AXLocalProjection& projection,
                                                      double wallDistance) {
    const auto outline = ringAsPolygon(room.outerRing, projection);
    if (!outline) {
        return std::nullopt;
    }
    // Holes are grown one by one and merged, rather than buffering the room
    // with its holes at once: obstacles drawn across a wall or over one
    // another make an invalid polygon but are still sound obstacles.
    MultiPolygon blocked;
    for (const auto& ring : room.innerRings) {
        const auto hole = ringAsPolygon(ring, projection);
        if (!hole) {
            return std::nullopt;
        }
        MultiPolygon merged;
        bg::union_(blocked, buffered(*hole, wallDistance), merged);
        blocked = std::move(merged);
    }
    auto impl = std::make_unique<Impl>();
    const MultiPolygon shrunk = buffered(*outline, -wallDistance);
    if (blocked.empty()) {
        impl->area = shrunk;
    } else {
        bg::difference(shrunk, blocked, impl->area);
    }
    if (bg::is_empty(impl->area)) {
        return std::nullopt;
    }
    return AXRoomFreeSpace(std::move(impl));
}

bool AXRoomFreeSpace::containsSegment(AXPlanePoint from, AXPlanePoint to) const {
    const Line line{{from.x, from.y}, {to.x, to.y}};
    return bg::within(line, impl_->area);
}

}  // namespace ambrell::axgeo
