#include "Source/AXCommon/AXPathOptimization.h"

#include "Source/AXCommon/AXGeodesy.h"
#include "Source/AXCommon/AXRoomFreeSpace.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <stdexcept>

namespace ambrell {
namespace {

using axgeo::AXPlanePoint;

std::uint32_t millimetresBetween(const AXNode& u, const AXNode& v) {
    const double millimetres = std::round(axgeo::haversineMeters(u.position, v.position) * 1000.0);
    constexpr double kLargest = std::numeric_limits<std::uint32_t>::max();
    return millimetres >= kLargest ? std::numeric_limits<std::uint32_t>::max()
                                   : static_cast<std::uint32_t>(millimetres);
}

std::int32_t saturatingSum(std::int64_t sum) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(sum, std::numeric_limits<std::int32_t>::min(),
                                                              std::numeric_limits<std::int32_t>::max()));
}

bool joinsUp(const std::vector<AXEdge>& edges) {
    for (std::size_t i = 0; i + 1 < edges.size(); ++i) {
        if (edges[i].v.nodeId != edges[i + 1].u.nodeId) {
            return false;
        }
    }
    return std::all_of(edges.begin(), edges.end(), [](const AXEdge& edge) {
        return axgeo::isFinite(edge.u.position) && axgeo::isFinite(edge.v.position);
    });
}

// Whether an edge may be part of the same shortcut as the first one: same
// kind of way, same context, and no change of floor anywhere along it.
bool sameRun(const AXEdge& edge, const AXEdge& first) {
    return edge.highwayType == first.highwayType && edge.context == first.context &&
           edge.u.altitude == first.u.altitude && edge.v.altitude == first.u.altitude;
}

class SegmentStraightener {
public:
    SegmentStraightener(const std::vector<AXEdge>& edges, const axgeo::AXRoomFreeSpace& space,
                        const axgeo::AXLocalProjection& projection, double wallDistance)
        : edges_(edges), space_(space), wallDistance_(wallDistance) {
        points_.push_back(projection.project(edges.front().u.position));
        for (const auto& edge : edges) {
            points_.push_back(projection.project(edge.v.position));
        }
    }

    std::vector<AXEdge> run() const {
        std::vector<AXEdge> out;
        std::size_t i = 0;
        while (i < edges_.size()) {
            if (const auto j = furthestVisible(i)) {
                out.push_back(shortcut(i, *j));
                i = *j;
            } else {
                out.push_back(edges_[i]);
                ++i;
            }
        }
        return out;
    }

private:
    // Node k is edges_[k - 1].v and edges_[k].u; a shortcut from node i to
    // node j replaces edges i .. j-1.
    std::optional<std::size_t> furthestVisible(std::size_t i) const {
        const AXEdge& first = edges_[i];
        if (!sameRun(first, first)) {
            return std::nullopt;
        }
        std::optional<std::size_t> best;
        for (std::size_t j = i + 2; j <= edges_.size(); ++j) {
            const AXEdge& before = edges_[j - 2];
            const AXEdge& last = edges_[j - 1];
            // These conditions only get harder further on, unlike visibility,
            // which may come back after a corner.
            if (!before.v.allowPathOptimization || !last.u.allowPathOptimization || !sameRun(last, first)) {
                break;
            }
            if (visible(points_[i], points_[j])) {
                best = j;
            }
        }
        return best;
    }

    // The ends are trimmed by the wall distance: doors and room corners put
    // nodes closer to a wall than a walker keeps in between.
    bool visible(AXPlanePoint from, AXPlanePoint to) const {
        const double dx = to.x - from.x;
        const double dy = to.y - from.y;
        const double length = std::hypot(dx, dy);
        if (length <= 2 * wallDistance_) {
            return false;
        }
        const double ux = dx / length * wallDistance_;
        const double uy = dy / length * wallDistance_;
        return space_.containsSegment({from.x + ux, from.y + uy}, {to.x - ux, to.y - uy});
    }

    AXEdge shortcut(std::size_t i, std::size_t j) const {
        std::int64_t waittime = 0;
        for (std::size_t k = i; k < j; ++k) {
            waittime += edges_[k].waittime;
        }
        const AXNode& u = edges_[i].u;
        const AXNode& v = edges_[j - 1].v;
        return AXEdge::EdgeWithU(u, v, edges_[i].highwayType, millimetresBetween(u, v), edges_[i].context,
                                 saturatingSum(waittime));
    }

    const std::vector<AXEdge>& edges_;
    const axgeo::AXRoomFreeSpace& space_;
    double wallDistance_;
    std::vector<AXPlanePoint> points_;
};

std::vector<AXEdge> optimizeSegment(const AXRoomPathSegment& segment, std::uint32_t strategy, double wallDistance) {
    const auto& edges = segment.path;
    constexpr std::uint32_t kStraighten =
        AXPathOptimization::kStrategyStraighten | AXPathOptimization::kStrategyStraightenAlternate;
    if (edges.size() < 2 || (strategy & kStraighten) == 0 || !joinsUp(edges)) {
        return edges;
    }
    const axgeo::AXLocalProjection projection(edges.front().u.position);
    const auto space = axgeo::AXRoomFreeSpace::build(segment.room, projection, wallDistance);
    if (!space) {
        return edges;
    }
    return SegmentStraightener(edges, *space, projection, wallDistance).run();
}

}  // namespace

std::vector<AXEdge> AXPathOptimization::optimizePathEx(const std::vector<AXRoomPathSegment>& segments,
                                                       std::uint32_t optimizationStrategy,
                                                       float minWallDistanceMeter) const {
    if (std::isnan(minWallDistanceMeter) || minWallDistanceMeter == std::numeric_limits<float>::infinity()) {
        throw std::invalid_argument("AXPathOptimization: minWallDistanceMeter must be a finite number");
    }
    const double wallDistance = minWallDistanceMeter < 0 ? kDefaultWallDistanceMeter : minWallDistanceMeter;
    std::vector<AXEdge> out;
    for (const auto& segment : segments) {
        auto optimized = optimizeSegment(segment, optimizationStrategy, wallDistance);
        out.insert(out.end(), std::make_move_iterator(optimized.begin()), std::make_move_iterator(optimized.end()));
    }
    return out;
}

}  // namespace ambrell
