#include "Source/AXCommon/AXPathOptimization.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <stdexcept>
#include <utility>

namespace ambrell {
namespace {

// Rooms are drawn in metres east (x) and north (y) of a point in Copenhagen.
constexpr double kLat0 = 55.0;
constexpr double kLng0 = 12.0;
constexpr double kMetresPerDegreeLat = 6371008.8 * std::numbers::pi / 180.0;

AXCoordinate at(double x, double y) {
    const double metresPerDegreeLng = kMetresPerDegreeLat * std::cos(kLat0 * std::numbers::pi / 180.0);
    return AXCoordinate::CoordinateWithLat(kLat0 + y / kMetresPerDegreeLat, kLng0 + x / metresPerDegreeLng);
}

AXPath ring(std::initializer_list<std::pair<double, double>> points) {
    AXPath path;
    for (const auto& [x, y] : points) path.coordinates.push_back(at(x, y));
    return path;
}

AXPath rectangle(double west, double south, double east, double north) {
    return ring({{west, south}, {east, south}, {east, north}, {west, north}});
}

AXNode node(std::int32_t id, double x, double y) { return AXNode::NodeWithPosition(at(x, y), 0, id, true); }

// Edges along the nodes, wait time i + 1 on edge i, the same way and context.
std::vector<AXEdge> walk(const std::vector<AXNode>& nodes, std::int64_t highwayType = 1) {
    std::vector<AXEdge> edges;
    for (std::size_t i = 0; i + 1 < nodes.size(); ++i) {
        edges.push_back(AXEdge::EdgeWithU(nodes[i], nodes[i + 1], highwayType, 1000, "room", std::int32_t(i + 1)));
    }
    return edges;
}

using Route = std::vector<std::int32_t>;

// The node ids the optimised path runs through.
Route route(const std::vector<AXEdge>& edges) {
    Route ids;
    for (const auto& edge : edges) {
        if (ids.empty()) ids.push_back(edge.u.nodeId);
        ids.push_back(edge.v.nodeId);
    }
    return ids;
}

std::vector<AXEdge> optimize(AXPolygon room, std::vector<AXEdge> edges, float wallDistance = -1,
                             std::uint32_t strategy = 7) {
    return AXPathOptimization::create().optimizePathEx(
        {AXRoomPathSegment::RoomPathSegmentWithRoom(std::move(room), std::move(edges))}, strategy, wallDistance);
}

AXPolygon room(AXPath outer, std::vector<AXPath> holes = {}) {
    return AXPolygon::PolygonWithOuterRing(std::move(outer), std::move(holes));
}

// A zigzag down a 4 m wide corridor, 0.0001° of latitude from end to end.
std::vector<AXNode> corridorNodes() {
    const double length = 0.0001 * kMetresPerDegreeLat;
    return {node(1, 0, 0), node(2, 0.5, length / 4), node(3, -0.5, length / 2), node(4, 0.5, 3 * length / 4),
            node(5, 0, length)};
}

AXPolygon corridor() { return room(rectangle(-2, -1, 2, 0.0001 * kMetresPerDegreeLat + 1)); }

TEST(AXPathOptimization, AStraightCorridorBecomesOneEdge) {
    const auto edges = walk(corridorNodes());
    // 11,120 mm: 0.0001° of latitude on the 6,371,008.8 m sphere; the wait times add up.
    EXPECT_EQ(optimize(corridor(), edges),
              std::vector{AXEdge::EdgeWithU(edges.front().u, edges.back().v, 1, 11120, "room", 1 + 2 + 3 + 4)});
}

TEST(AXPathOptimization, AnLShapedRoomKeepsTheCorner) {
    // Arms: x 0..20 by y 0..4, and x 16..20 by y 0..20.
    const auto lRoom = room(ring({{0, 0}, {20, 0}, {20, 20}, {16, 20}, {16, 4}, {0, 4}}));
    const auto out =
        optimize(lRoom, walk({node(1, 2, 2), node(2, 10, 2.5), node(3, 18, 2), node(4, 18.5, 10), node(5, 18, 18)}));
    EXPECT_EQ(route(out), (Route{1, 3, 5}));
    EXPECT_EQ(out[0].waittime, 1 + 2);
    EXPECT_EQ(out[1].waittime, 3 + 4);
}

TEST(AXPathOptimization, AnObstacleKeepsTheDetour) {
    const auto nodes = std::vector{node(1, 2, 5), node(2, 10, 8.5), node(3, 18, 5)};
    const auto open = room(rectangle(0, 0, 20, 10));
    EXPECT_EQ(route(optimize(open, walk(nodes))), (Route{1, 3}));

    // A pillar in the middle, drawn clockwise as the caller reverses it.
    const auto pillar = ring({{8, 3}, {8, 7}, {12, 7}, {12, 3}});
    EXPECT_EQ(optimize(room(rectangle(0, 0, 20, 10), {pillar}), walk(nodes)), walk(nodes));
    // A pillar drawn across the south wall blocks the same way.
    const auto acrossWall = rectangle(8, -2, 12, 7);
    EXPECT_EQ(optimize(room(rectangle(0, 0, 20, 10), {acrossWall}), walk(nodes)), walk(nodes));
    // Two overlapping obstacles.
    EXPECT_EQ(optimize(room(rectangle(0, 0, 20, 10), {pillar, rectangle(9, 2, 11, 6)}), walk(nodes)), walk(nodes));
}

TEST(AXPathOptimization, AnImmutableNodeIsNeverSkipped) {
    auto nodes = corridorNodes();
    nodes[2].allowPathOptimization = false;
    EXPECT_EQ(route(optimize(corridor(), walk(nodes))), (Route{1, 3, 5}));
    // The ends of a shortcut may be immutable themselves.
    nodes = corridorNodes();
    nodes.front().allowPathOptimization = false;
    nodes.back().allowPathOptimization = false;
    EXPECT_EQ(route(optimize(corridor(), walk(nodes))), (Route{1, 5}));
}

TEST(AXPathOptimization, RunsOfOneFloorWayAndContextOnly) {
    auto floorChange = corridorNodes();
    floorChange[3].altitude = 1;  // an elevator ride on edges 2 and 3
    floorChange[4].altitude = 1;
    EXPECT_EQ(route(optimize(corridor(), walk(floorChange))), (Route{1, 3, 4, 5}));

    auto ways = walk(corridorNodes());
    ways[2].highwayType = 7;
    EXPECT_EQ(route(optimize(corridor(), ways)), (Route{1, 3, 4, 5}));
    auto contexts = walk(corridorNodes());
    contexts[0].context = "other";
    EXPECT_EQ(route(optimize(corridor(), contexts)), (Route{1, 2, 5}));
}

TEST(AXPathOptimization, TheWallDistanceDecidesWhatIsVisible) {
    // 0.8 m wide: 0.4 m of free width at 0.2 m from the walls, none at 0.5 m.
    const auto narrow = room(rectangle(-0.4, -1, 0.4, 31));
    const auto nodes = walk({node(1, 0, 0), node(2, 0.05, 10), node(3, -0.05, 20), node(4, 0, 30)});
    const auto atDefault = optimize(narrow, nodes, -1);
    EXPECT_EQ(route(atDefault), (Route{1, 4}));
    // A negative distance means the default, 0.2 m.
    for (const float distance : {-0.001f, 0.2f, -std::numeric_limits<float>::infinity()}) {
        EXPECT_EQ(optimize(narrow, nodes, distance), atDefault) << distance;
    }
    EXPECT_EQ(route(optimize(narrow, nodes, 0)), (Route{1, 4}));
    // Too wide for the room, or far wider: nothing is left to walk in.
    EXPECT_EQ(optimize(narrow, nodes, 0.5f), nodes);
    EXPECT_EQ(optimize(narrow, nodes, 1e30f), nodes);
    for (const float distance : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
        EXPECT_THROW((void)optimize(narrow, nodes, distance), std::invalid_argument) << distance;
    }
}

TEST(AXPathOptimization, UnusableSegmentsComeBackUnchanged) {
    const auto edges = walk(corridorNodes());
    auto broken = edges;
    broken[1].v.nodeId = 99;  // no longer joins edge 2
    auto offMap = edges;
    offMap[1].v.position.lat = std::numeric_limits<double>::infinity();  // NaN would never compare equal
    const struct {
        const char* name;
        AXPolygon room;
        std::vector<AXEdge> edges;
    } cases[] = {
        {"empty outer ring", room(AXPath{}), edges},
        {"two distinct points", room(ring({{-2, -1}, {2, 20}, {-2, -1}})), edges},
        {"self-crossing outline", room(ring({{-2, -1}, {2, -1}, {-2, 20}, {2, 20}})), edges},
        {"non-finite outline", room(AXPath{{{kLat0, std::numeric_limits<double>::infinity()}, at(1, 0), at(0, 1)}}),
         edges},
        {"outline far off the globe", room(AXPath{{{1e300, 12}, {1e300, 13}, {-1e300, 12}}}), edges},
        {"degenerate obstacle", room(rectangle(-2, -1, 2, 20), {ring({{0, 1}, {0, 2}})}), edges},
        {"edges that do not join up", corridor(), broken},
        {"a node off the map", corridor(), offMap},
        {"room too narrow for the wall distance", room(rectangle(-0.1, -1, 0.1, 20)), edges},
        {"a single edge", corridor(), {edges[0]}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(optimize(c.room, c.edges), c.edges);
    }
}

TEST(AXPathOptimization, StrategyBitsTwoOrFourSwitchItOn) {
    const auto edges = walk(corridorNodes());
    const std::pair<std::uint32_t, std::size_t> cases[] = {{1, 4}, {9, 4}, {0, 4}, {3, 1}, {5, 1}, {7, 1}, {15, 1}};
    for (const auto& [strategy, count] : cases) {
        EXPECT_EQ(optimize(corridor(), edges, -1, strategy).size(), count) << strategy;
    }
}

TEST(AXPathOptimization, SegmentsComeBackInOrder) {
    const auto optimiser = AXPathOptimization::create();
    EXPECT_TRUE(optimiser.optimizePathEx({}, 7, -1).empty());

    const auto first = walk(corridorNodes());
    auto secondNodes = std::vector{node(5, 2, 5), node(6, 10, 8.5), node(7, 18, 5)};
    const auto second = walk(secondNodes, 2);
    const auto out =
        optimiser.optimizePathEx({AXRoomPathSegment::RoomPathSegmentWithRoom(corridor(), first),
                                  AXRoomPathSegment::RoomPathSegmentWithRoom(room(AXPath{}), {}),
                                  AXRoomPathSegment::RoomPathSegmentWithRoom(room(rectangle(0, 0, 20, 10)), second)},
                                 7, -1);
    EXPECT_EQ(route(out), (Route{1, 5, 7}));
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[1].highwayType, 2);
}

}  // namespace
}  // namespace ambrell
