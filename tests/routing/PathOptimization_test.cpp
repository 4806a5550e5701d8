// Path optimisation through rooms: the strategy, when it runs, how a routed
// path is cut into room segments for the search engine, how it fails safe,
// and a straightened path on the sample solution.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <future>
#include <numbers>

#include <boost/asio/post.hpp>
#include <fmt/format.h>

#include "data/AmbrellLegacy.h"
#include "data/CVAXGeometry.h"
#include "platform/FileSystem.h"
#include "platform/runtime/Actor.h"
#include "routing/CVRouteLayerService.h"
#include "routing/CVRouteNetwork.h"
#include "routing/CVRouteNetworkData.h"
#include "routing/Graph/CVGraph.h"
#include "routing/Graph/CVManualGraphProperties.h"
#include "routing/Graph/CVPathOptimization.h"
#include "tests/routing/StoreLocationSearch.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/SampleSolutionService.h"

namespace ambrell::path_optimization_test {
namespace {

using Edges = CVPathOptimization::Edges;
using Nodes = CVPathOptimization::Nodes;
using Segments = std::vector<AXRoomPathSegment>;

// A plane in metres around (55, 12), measured as the containment test measures.
constexpr double kLatitude = 55.0;
constexpr double kLongitude = 12.0;
const double kMetresPerDegree = 6378137.0 * std::numbers::pi / 180.0;

CLLocationCoordinate2D plane(double x, double y) {
    return {kLatitude + y / kMetresPerDegree,
            kLongitude + x / (kMetresPerDegree * std::cos(kLatitude * std::numbers::pi / 180.0))};
}

CVPolygonGeometry::Ring ring(double x0, double y0, double x1, double y1) {
    return {plane(x0, y0), plane(x1, y0), plane(x1, y1), plane(x0, y1), plane(x0, y0)};
}

std::shared_ptr<CVLocationInternal> place(std::string id, std::string_view baseType, double floor,
                                          std::vector<CVPolygonGeometry::Ring> rings) {
    auto location = std::make_shared<CVLocationInternal>();
    location->locationId = std::move(id);
    location->name = location->locationId;
    location->locationBaseTypeString = std::string(baseType);
    location->setFloorIndex(floor);
    if (!rings.empty()) {
        location->setPosition(CVPoint(rings.front().front().latitude, rings.front().front().longitude, floor));
        location->cv_setPolygon(std::make_shared<CVPolygonGeometry>(std::move(rings)));
    }
    return location;
}

std::shared_ptr<CVLocationInternal> room(std::string id, double x0, double y0, double x1, double y1, double floor = 0) {
    return place(std::move(id), "ROOM", floor, {ring(x0, y0, x1, y1)});
}

std::shared_ptr<CVGraphNode> node(std::uint64_t id, double x, double y, bool allowOptimization = true,
                                  std::int64_t floor = 0) {
    const auto at = plane(x, y);
    return CVGraphNode::newWithId(id, {at.latitude, at.longitude, floor},
                                  CVManualGraphNodeProperties::newGraphNodePropertiesWithFloorname("L0"), std::nullopt,
                                  allowOptimization);
}

Edges edgesAlong(const Nodes& nodes) {
    Edges edges;
    for (std::size_t i = 1; i < nodes.size(); ++i) {
        edges.push_back(
            CVGraphEdge::newGraphEdgeBetween(nodes[i - 1]->nodeId(), nodes[i]->nodeId(),
                                             CVManualGraphEdgeProperties::newDirectedGraphEdgePropertiesWithContext(
                                                 "InsideBuilding", CVHighway::footway(), 1000)));
    }
    return edges;
}

Nodes nodesAt(std::initializer_list<std::pair<double, double>> points) {
    Nodes nodes;
    for (const auto& [x, y] : points) nodes.push_back(node(nodes.size(), x, y));
    return nodes;
}

// "A:0>1,1>2 | B:2>3": each segment's room (by id, "-" for the empty polygon)
// and its edges.
std::string describe(const Segments& segments, const std::vector<std::shared_ptr<CVLocationInternal>>& rooms) {
    std::string text;
    for (const auto& segment : segments) {
        if (!text.empty()) text += " | ";
        std::string name = segment.room.outerRing.coordinates.empty() ? "-" : "?";
        for (const auto& candidate : rooms) {
            if (candidate->cv_polygon() && axPolygon(*candidate->cv_polygon()).outerRing == segment.room.outerRing) {
                name = candidate->locationId;
            }
        }
        text += name + ":";
        for (std::size_t i = 0; i < segment.path.size(); ++i) {
            text += (i == 0 ? "" : ",") + std::to_string(segment.path[i].u.nodeId) + ">" +
                    std::to_string(segment.path[i].v.nodeId);
        }
    }
    return text;
}

CVPathOptimization::Locations locationsOf(std::initializer_list<std::shared_ptr<CVLocationInternal>> locations) {
    return {locations.begin(), locations.end()};
}

// The strategy setting goes back to its start value after each test.
class PathOptimization : public ::testing::Test {
protected:
    void TearDown() override { CVPathOptimization::setPathOptimizationStrategy(3); }

    // An engine that records what it is handed and answers one edge from the
    // first node to the last.
    CVPathOptimization::Engine recordingEngine() {
        return [this](const Segments& segments, std::uint32_t strategy, float wallDistance) {
            handed_.push_back(segments);
            strategies_.push_back(strategy);
            EXPECT_EQ(wallDistance, -1.0F);
            std::vector<AXEdge> answer;
            if (!segments.empty()) {
                auto edge = segments.front().path.front();
                edge.v = segments.back().path.back().v;
                answer.push_back(edge);
            }
            return answer;
        };
    }

    std::vector<Segments> handed_;
    std::vector<std::uint32_t> strategies_;
};

TEST_F(PathOptimization, StrategyBitsForTheEngine) {
    EXPECT_EQ(CVPathOptimization::pathOptimizationStrategy(), 3U);
    const std::uint32_t expected[] = {1, 3, 5, 7, 9, 11, 13, 15};
    for (std::uint64_t strategy = 0; strategy < 8; ++strategy) {
        EXPECT_EQ(CVPathOptimization::axPathOptimizationStrategyFromCV(strategy), expected[strategy]) << strategy;
    }
    EXPECT_EQ(CVPathOptimization::axPathOptimizationStrategyFromCV(16), 1U);
}

// Strategy 0 leaves the path alone without a single location search; a
// network that does not allow optimisation is optimised only with bit 4.
TEST_F(PathOptimization, RunsOnlyWhereStrategyAndNetworkAllow) {
    const auto kitchen = room("kitchen", 0, 0, 10, 10);
    const test::ScopedLocationSearch search({kitchen});
    const auto nodes = nodesAt({{1, 1}, {5, 2}, {9, 1}});
    const auto edges = edgesAlong(nodes);
    const auto optimized = [&](std::uint64_t strategy, bool allowed) {
        CVPathOptimization::setPathOptimizationStrategy(strategy);
        const auto result = CVPathOptimization::optimizePath(edges, nodes, nullptr, allowed, recordingEngine());
        return result->edges().size() == 1;
    };
    EXPECT_FALSE(optimized(0, true));
    EXPECT_EQ(search->searchCount(), 0U);
    EXPECT_TRUE(handed_.empty());
    EXPECT_FALSE(optimized(4, true)) << "bit 4 alone switches nothing on";
    EXPECT_FALSE(optimized(3, false));
    EXPECT_EQ(search->searchCount(), 0U);
    EXPECT_TRUE(optimized(7, false));
    EXPECT_TRUE(optimized(1, true));
    EXPECT_TRUE(optimized(2, true));
    EXPECT_EQ(strategies_, (std::vector<std::uint32_t>{15, 3, 5}));
    EXPECT_EQ(search->searchCount(), 3U) << "one search per call and floor, over the floor's nodes";
    // The path's extent, grown by a millionth of a degree each way.
    const auto southWest = plane(1, 1);
    const auto northEast = plane(9, 2);
    for (const auto& filter : search->filters()) {
        ASSERT_TRUE(filter.bounds);
        EXPECT_NEAR(filter.bounds->southWest().latitude, southWest.latitude - 0.000001, 1e-12);
        EXPECT_NEAR(filter.bounds->southWest().longitude, southWest.longitude - 0.000001, 1e-12);
        EXPECT_NEAR(filter.bounds->northEast().latitude, northEast.latitude + 0.000001, 1e-12);
        EXPECT_NEAR(filter.bounds->northEast().longitude, northEast.longitude + 0.000001, 1e-12);
        EXPECT_EQ(filter.take, 4294967295U);
        EXPECT_TRUE(filter.ignoreSearchableStatus);
        EXPECT_TRUE(filter.ignoreActiveStatus);
        EXPECT_FALSE(filter.locations);
        EXPECT_EQ(filter.floorIndex, 0.0);
    }
}

// Of the locations at a node the room of least area on the node's floor
// whose outline holds it; nodes in no room share one empty location.
TEST_F(PathOptimization, FindsTheSmallestRoomHoldingEachNode) {
    const auto hall = room("hall", 0, 0, 30, 20);
    const auto booth = room("booth", 2, 2, 6, 6);
    const auto upstairs = room("upstairs", 2, 2, 4, 4, 1);
    const auto floor = place("floor", "FLOOR", 0, {ring(-5, -5, 40, 40)});
    const auto building = place("building", "BUILDING", 0, {ring(-6, -6, 41, 41)});
    const auto area = place("area", "AREA", 0, {ring(2.5, 2.5, 3.5, 3.5)});
    const auto lShaped = place(
        "corner", "ROOM", 0,
        {{plane(20, 10), plane(28, 10), plane(28, 18), plane(26, 18), plane(26, 12), plane(20, 12), plane(20, 10)}});
    const auto twin = room("twin", 2, 2, 6, 6);
    const test::ScopedLocationSearch search({building, floor, hall, booth, twin, upstairs, area, lShaped});
    const auto nodes = nodesAt({{3, 3}, {10, 10}, {50, 50}, {60, 60}, {27, 11}, {22, 16}});
    const auto locations = CVPathOptimization::getLocationsFromNodePath(nodes);
    ASSERT_EQ(locations.size(), nodes.size());
    EXPECT_EQ(locations[0], booth) << "the first of two rooms alike";
    EXPECT_EQ(locations[1], hall);
    EXPECT_EQ(locations[2], locations[3]) << "one empty location per call";
    EXPECT_NE(locations[2], nullptr);
    EXPECT_NE(locations[2]->baseType(), CVLocationBaseType::room);
    EXPECT_EQ(locations[4], lShaped);
    EXPECT_EQ(locations[5], hall) << "inside the corner room's box, outside its outline";
    EXPECT_NE(CVPathOptimization::getLocationsFromNodePath(nodes)[2], locations[2]);
    EXPECT_EQ(CVPathOptimization::getLocationsFromNodePath({nullptr, nodes[0]})[1], booth);

    // On the first floor only the room of that floor counts.
    const auto searches = search->searchCount();
    const auto both = CVPathOptimization::getLocationsFromNodePath({node(0, 3, 3, true, 1), nodes[0]});
    EXPECT_EQ(both[0], upstairs);
    EXPECT_EQ(both[1], booth);
    EXPECT_EQ(search->searchCount(), searches + 2) << "a search per floor";
}

TEST_F(PathOptimization, OneRoomMakesOneSegment) {
    const auto office = room("office", 0, 0, 10, 10);
    const auto nodes = nodesAt({{1, 1}, {4, 8}, {6, 2}, {9, 9}});
    const auto segments = CVPathOptimization::roomPathSegments(edgesAlong(nodes), nodes,
                                                               locationsOf({office, office, office, office}), nullptr);
    EXPECT_EQ(describe(segments, {office}), "office:0>1,1>2,2>3");
    EXPECT_TRUE(segments[0].room.innerRings.empty());
    EXPECT_EQ(segments[0].path[1].u, nodes[1]->axNode());
}

// An edge that leaves a room for a node well outside it starts the next
// room's segment; one that ends at the room's outline stays with the room.
TEST_F(PathOptimization, TheEdgeLeavingARoomGoesWhereItEnds) {
    const auto a = room("A", 0, 0, 10, 10);
    const auto b = room("B", 9.95, 0, 20, 10);
    const auto far = nodesAt({{2, 5}, {8, 5}, {15, 5}, {18, 5}});
    EXPECT_EQ(describe(CVPathOptimization::roomPathSegments(edgesAlong(far), far, locationsOf({a, a, b, b}), nullptr),
                       {a, b}),
              "A:0>1 | B:1>2,2>3");
    const auto near = nodesAt({{2, 5}, {8, 5}, {10.05, 5}, {18, 5}});
    EXPECT_EQ(describe(CVPathOptimization::roomPathSegments(edgesAlong(near), near, locationsOf({a, a, b, b}), nullptr),
                       {a, b}),
              "A:0>1,1>2 | B:2>3");
    // The last edge leaving its room is a segment of its own, in the last node's room.
    const auto last = nodesAt({{2, 5}, {8, 5}, {15, 5}});
    EXPECT_EQ(
        describe(CVPathOptimization::roomPathSegments(edgesAlong(last), last, locationsOf({a, a, b}), nullptr), {a, b}),
        "A:0>1 | B:1>2");
    // Leaving a place without outline (the empty location) keeps the edge.
    const auto outside = std::make_shared<CVLocationInternal>();
    const auto in = nodesAt({{-5, 5}, {-1, 5}, {5, 5}, {8, 5}});
    EXPECT_EQ(describe(CVPathOptimization::roomPathSegments(edgesAlong(in), in, locationsOf({outside, outside, a, a}),
                                                            nullptr),
                       {a}),
              "-:0>1,1>2 | A:2>3");
    // Paths that do not fit together make no segments.
    EXPECT_TRUE(CVPathOptimization::roomPathSegments(edgesAlong(in), in, locationsOf({a, a}), nullptr).empty());
    EXPECT_TRUE(CVPathOptimization::roomPathSegments({}, {in[0]}, locationsOf({a}), nullptr).empty());
}

std::vector<std::uint8_t> layerDocument(std::string_view text) { return {text.begin(), text.end()}; }

// Obstacles become holes after the room's own, outer ring reversed; a room
// without outline gets the empty polygon with its obstacles.
TEST_F(PathOptimization, ObstaclesBecomeReversedHoles) {
    auto courtyard = room("courtyard", 0, 0, 20, 20);
    courtyard->cv_setPolygon(std::make_shared<CVPolygonGeometry>(
        std::vector<CVPolygonGeometry::Ring>{ring(0, 0, 20, 20), ring(14, 14, 16, 16)}));
    const auto bare = place("bare", "ROOM", 0, {});
    const auto geometry = [](double x0, double y0, double x1, double y1) {
        std::string text = R"({"type": "Polygon", "coordinates": [[)";
        const auto points = ring(x0, y0, x1, y1);
        for (std::size_t i = 0; i < points.size(); ++i) {
            text += (i == 0 ? "" : ",") + fmt::format("[{},{}]", points[i].longitude, points[i].latitude);
        }
        return text + "]]}";
    };
    CVRouteLayerService layer;
    layer.setAllObstacles(
        std::make_shared<const CVRouteObstacleSource::Obstacles>(CVRouteLayerService::routeLayerFromData(
            layerDocument(R"([{"id": "table", "roomIdList": ["courtyard"], "geometry": )" + geometry(4, 4, 6, 8) + R"(},
                {"id": "pillar", "roomIdList": ["bare", "courtyard"], "geometry": )" +
                          geometry(8, 8, 9, 9) + R"(},
                {"id": "lost", "roomIdList": ["courtyard"], "geometry": {"type": "Point"}},
                {"id": "elsewhere", "roomIdList": ["other"], "geometry": )" +
                          geometry(1, 1, 2, 2) + "}]"))));
    ASSERT_EQ(layer.allObstacles()->size(), 4U);
    const auto nodes = nodesAt({{2, 2}, {10, 2}, {30, 2}, {32, 2}});
    const auto segments = CVPathOptimization::roomPathSegments(edgesAlong(nodes), nodes,
                                                               locationsOf({courtyard, courtyard, bare, bare}), &layer);
    ASSERT_EQ(segments.size(), 2U);

    // The outer ring of the obstacle of that id, reversed.
    const auto reversed = [&](std::string_view id) {
        std::vector<AXCoordinate> path;
        for (const auto& obstacle : *layer.allObstacles()) {
            if (obstacle->elementId() != id) continue;
            const auto& points = obstacle->geometry()->coordinates().front();
            for (auto at = points.rbegin(); at != points.rend(); ++at) path.push_back({at->latitude, at->longitude});
        }
        return AXPath{path};
    };
    const auto& inRoom = segments[0].room;
    EXPECT_EQ(inRoom.outerRing, axPolygon(*courtyard->cv_polygon()).outerRing);
    ASSERT_EQ(inRoom.innerRings.size(), 3U);
    EXPECT_EQ(inRoom.innerRings[0], axPolygon(*courtyard->cv_polygon()).innerRings[0]) << "the room's own hole first";
    EXPECT_EQ(inRoom.innerRings[1], reversed("table"));
    EXPECT_EQ(inRoom.innerRings[2], reversed("pillar"));
    EXPECT_EQ(inRoom.innerRings[1].coordinates.front().lat, inRoom.innerRings[1].coordinates.back().lat);
    EXPECT_NEAR(inRoom.innerRings[1].coordinates[1].lat, plane(4, 8).latitude, 1e-12) << "(4, 8) comes second";

    const auto& bareRoom = segments[1].room;
    EXPECT_TRUE(bareRoom.outerRing.coordinates.empty());
    ASSERT_EQ(bareRoom.innerRings.size(), 1U);
    EXPECT_EQ(bareRoom.innerRings[0], reversed("pillar"));

    EXPECT_EQ(CVPathOptimization::emptyPolygon(), AXPolygon{});
    EXPECT_EQ(CVPathOptimization::axPolygonForRoomPolygon(nullptr, {}), AXPolygon{});
}

// Faults: each answers the routed path, and every one but the engine's never
// reaches the engine.
TEST_F(PathOptimization, FailsSafeAndAnswersTheRoutedPath) {
    const auto office = room("office", 0, 0, 10, 10);
    const test::ScopedLocationSearch search({office});
    const test::ScopedLogCapture logs;
    const auto nodes = nodesAt({{1, 1}, {5, 2}, {9, 1}});
    const auto edges = edgesAlong(nodes);
    const auto routed = [&](const std::shared_ptr<CVRouteGraphResult>& result) {
        return result->edges().size() == edges.size() && result->mutableEdges().empty();
    };

    // (a) The engine fails.
    const auto failing = [](const Segments&, std::uint32_t, float) -> std::vector<AXEdge> {
        throw std::runtime_error("geometry engine failure");
    };
    EXPECT_TRUE(routed(CVPathOptimization::optimizePath(edges, nodes, nullptr, true, failing)));
    EXPECT_TRUE(logs.sink().contains("the search engine failed: geometry engine failure"));

    // (b) An edge path that is not one shorter than its node path.
    EXPECT_TRUE(
        routed(CVPathOptimization::optimizePath(edges, {nodes[0], nodes[1]}, nullptr, true, recordingEngine())));
    EXPECT_TRUE(logs.sink().contains("2 edges do not join 2 nodes"));
    auto broken = edges;
    broken[1] = nullptr;
    EXPECT_TRUE(
        CVPathOptimization::optimizePath(broken, nodes, nullptr, true, recordingEngine())->mutableEdges().empty());
    EXPECT_TRUE(handed_.empty());

    // (c) A node id the engine cannot carry.
    auto wide = nodes;
    wide[1] = node(2147483648ULL, 5, 2);
    EXPECT_TRUE(routed(CVPathOptimization::optimizePath(edgesAlong(wide), wide, nullptr, true, recordingEngine())));
    EXPECT_TRUE(logs.sink().contains("node id 2147483648 does not fit the engine"));
    wide[1] = node(2147483647ULL, 5, 2);
    EXPECT_EQ(
        CVPathOptimization::optimizePath(edgesAlong(wide), wide, nullptr, true, recordingEngine())->edges().size(), 1U);
    ASSERT_EQ(handed_.size(), 1U) << "only the last call reached the engine";
    const auto searches = search->searchCount();

    // (d) On the location service's actor, whose work the searches need.
    std::promise<std::shared_ptr<CVRouteGraphResult>> onActor;
    boost::asio::post(platform::LocationServiceActor::shared().executor(), [&] {
        onActor.set_value(CVPathOptimization::optimizePath(edges, nodes, nullptr, true, recordingEngine()));
    });
    auto answer = onActor.get_future();
    ASSERT_EQ(answer.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_TRUE(routed(answer.get()));
    EXPECT_TRUE(logs.sink().contains("called on the location service's actor"));
    EXPECT_EQ(handed_.size(), 1U);
    EXPECT_EQ(search->searchCount(), searches);

    // Fewer than two nodes: nothing to do, nothing logged.
    const auto lone = CVPathOptimization::optimizePath({}, {nodes[0]}, nullptr, true, recordingEngine());
    EXPECT_EQ(lone->nodes().size(), 1U);
    EXPECT_EQ(handed_.size(), 1U);
}

// The sample's passage through a meeting room on the meridian campus: routed
// from the hall's west stairs along the corridor and through the room's
// zigzag, then straightened around the table and the pillar.
TEST_F(PathOptimization, StraightensAPassageThroughAMeetingRoomOfTheSample) {
    AmbrellLegacy::setLanguage("en");
    const auto sync = test::SampleSolutionService::committedSample() / "service" / "sync";
    const auto data = CVRouteNetworkData::initWithData(platform::readFile(sync / "graph_en.json").value());
    ASSERT_TRUE(data);
    const auto meridian = data->networkForGraphId("meridian");
    ASSERT_TRUE(meridian && meridian->graph());
    ASSERT_TRUE(meridian->allowPathOptimization());
    const auto& all = meridian->graph()->nodes();
    // The passage's nodes close the node list: five turns and the back door.
    const auto start = all.front();
    const auto lastTurn = all[all.size() - 2];
    const auto path = meridian->findPathFromNode(start, lastTurn, {}, {});
    ASSERT_TRUE(path);
    const auto edges = meridian->edgePathFromNodePath(*path);
    ASSERT_EQ(edges.size() + 1, path->size());

    CVRouteLayerService layer;
    layer.setAllObstacles(std::make_shared<const CVRouteObstacleSource::Obstacles>(
        CVRouteLayerService::routeLayerFromData(platform::readFile(sync / "routelayer_en.json").value())));
    const test::ScopedLocationSearch search(test::StoreLocationSearch::sampleLocations());

    const auto passage = CVPathOptimization::getLocationsFromNodePath({all[all.size() - 3]});
    ASSERT_EQ(passage[0]->type, "Meeting Room");
    const auto obstacles = layer.obstaclesForLocationsWithIds({passage[0]->locationId});
    ASSERT_EQ(obstacles.size(), 2U) << "the table and the pillar";

    const auto result = CVPathOptimization::optimizePath(edges, *path, &layer, meridian->allowPathOptimization());
    const auto straightened = result->edges();
    const auto nodes = result->nodes();
    const auto millimetres = [](const auto& list) {
        std::uint64_t total = 0;
        for (const auto& edge : list) total += edge->distance();
        return total;
    };
    EXPECT_LT(straightened.size(), edges.size());
    EXPECT_LT(millimetres(straightened), millimetres(edges));
    ASSERT_EQ(nodes.size(), straightened.size() + 1);
    EXPECT_EQ(nodes.front()->nodeId(), start->nodeId());
    EXPECT_EQ(nodes.back()->nodeId(), lastTurn->nodeId());
    for (std::size_t i = 0; i < straightened.size(); ++i) {
        EXPECT_EQ(straightened[i]->u(), nodes[i]->nodeId());
        EXPECT_EQ(straightened[i]->v(), nodes[i + 1]->nodeId());
        EXPECT_EQ(straightened[i]->highway(), CVHighway::footway());
        EXPECT_EQ(nodes[i]->coordinate().floor, 0);
    }
    // Every node straightening may not move is still on the path.
    std::size_t pinned = 0;
    for (const auto& routedNode : *path) {
        if (routedNode->allowPathOptimization()) continue;
        ++pinned;
        EXPECT_TRUE(std::ranges::any_of(nodes, [&](const auto& kept) {
            return kept->nodeId() == routedNode->nodeId();
        })) << routedNode->nodeId();
    }
    EXPECT_GE(pinned, 2U) << "the west stairs and the passage's pinned turn";
    // No straightened edge runs through an obstacle.
    for (std::size_t i = 0; i < straightened.size(); ++i) {
        const auto from = nodes[i]->coordinate();
        const auto to = nodes[i + 1]->coordinate();
        for (int step = 0; step <= 200; ++step) {
            const double t = step / 200.0;
            const CLLocationCoordinate2D at{from.latitude + t * (to.latitude - from.latitude),
                                            from.longitude + t * (to.longitude - from.longitude)};
            for (const auto& obstacle : obstacles) EXPECT_FALSE(obstacle->geometry()->containsPoint(at)) << i;
        }
    }
    AmbrellLegacy::resetForTesting();
}

}  // namespace
}  // namespace ambrell::path_optimization_test
