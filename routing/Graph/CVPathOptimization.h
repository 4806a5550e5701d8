#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "Ambrell/CVGeometry.h"
#include "Source/AXCommon/AXPolygon.h"
#include "Source/AXCommon/AXRoomPathSegment.h"
#include "routing/Graph/CVGraphEdge.h"
#include "routing/Graph/CVGraphNode.h"
#include "routing/Graph/CVRouteGraphResult.h"

namespace ambrell {

class CVLocationInternal;
class CVRouteObstacleSource;

// Straightens a routed path room by room: finds the room each node lies in
// (through the entry object's location search), cuts the path into one
// segment per room, makes each room a polygon whose holes are the route
// layer's obstacles in it, and hands the segments to the search engine's
// path optimisation.
//
// optimizePath() runs on the caller's thread and blocks it until the
// location search has answered; the answer comes from the entry object's
// tasks, so it must not be called where they run (on the location service's
// actor it declines and answers the routed path). Stateless apart from the
// process-wide strategy.
class CVPathOptimization {
public:
    using Edges = std::vector<std::shared_ptr<CVGraphEdge>>;
    using Nodes = std::vector<std::shared_ptr<CVGraphNode>>;
    // One per node; nodes outside every room share one empty location per call.
    using Locations = std::vector<std::shared_ptr<const CVLocationInternal>>;
    using Obstacles = std::vector<std::shared_ptr<const CVPolygonGeometry>>;
    // The search engine's optimisation: segments, strategy bits, wall distance.
    using Engine = std::function<std::vector<AXEdge>(const std::vector<AXRoomPathSegment>&, std::uint32_t, float)>;

    CVPathOptimization() = delete;

    // A bit set: 1 and 2 switch optimisation on (either will do), 4
    // optimises even where the route network does not allow it. Initially 3.
    [[nodiscard]] static std::uint64_t pathOptimizationStrategy();
    static void setPathOptimizationStrategy(std::uint64_t strategy);
    // The engine's bits: ((strategy × 2) AND 12) OR (3 with bit 1, else 1).
    [[nodiscard]] static std::uint32_t axPathOptimizationStrategyFromCV(std::uint64_t strategy);

    // The routed path (node path one longer than the edge path, as the graph
    // answers them) straightened where the strategy and the network allow.
    // The result reports the routed path unchanged when optimisation is off,
    // when the paths do not fit together or a node id does not fit the
    // engine's 31 bits, when called on the location service's actor, or
    // when the engine fails (each but the first logged as an error).
    // `obstacles` may be null (no obstacles).
    [[nodiscard]] static std::shared_ptr<CVRouteGraphResult> optimizePath(const Edges& edges, const Nodes& nodes,
                                                                          const CVRouteObstacleSource* obstacles,
                                                                          bool routeNetworkAllowsOptimization);
    // The same with another engine.
    [[nodiscard]] static std::shared_ptr<CVRouteGraphResult> optimizePath(const Edges& edges, const Nodes& nodes,
                                                                          const CVRouteObstacleSource* obstacles,
                                                                          bool routeNetworkAllowsOptimization,
                                                                          const Engine& engine);

    // The room that holds each node: of the rooms on the node's floor whose
    // outline contains it, the one of least area; else the one empty
    // location of this call (null nodes too). The rooms come from one
    // location search per floor, over the extent of the floor's nodes.
    [[nodiscard]] static Locations getLocationsFromNodePath(const Nodes& nodes);

    // The segments handed to the engine, one per room the path runs
    // through, in path order. An edge that leaves a room for a node at least
    // 0.1 m outside it starts the next room's segment; one that ends nearer,
    // or leaves a location without outline, closes the room it leaves.
    // Empty when the three lists do not fit together.
    [[nodiscard]] static std::vector<AXRoomPathSegment> roomPathSegments(const Edges& edges, const Nodes& nodes,
                                                                         const Locations& locations,
                                                                         const CVRouteObstacleSource* obstacles);

    // The room's polygon (the empty polygon without one) with each
    // obstacle's outer ring, reversed, added after the room's own holes.
    [[nodiscard]] static AXPolygon axPolygonForRoomPolygon(const CVPolygonGeometry* roomPolygon,
                                                           const Obstacles& obstaclePolygons);
    [[nodiscard]] static AXPolygon emptyPolygon();
};

}  // namespace ambrell
