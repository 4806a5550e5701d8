#include "routing/Graph/CVGraph.h"
#include "routing/Graph/CVGraphPathFinder.h"
#include "routing/Graph/CVManualGraphProperties.h"

#include "tests/routing/DrawnGraph.h"
#include "tests/support/CapturingLogSink.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace ambrell {
namespace {

using test::DrawnGraph;

constexpr std::int64_t kClosed = CVGraphEdge::kImpassableWeight;

std::string edgeNames(const DrawnGraph& drawn, const CVGraph::Edges& edges) {
    std::string text;
    for (const auto& edge : edges) {
        if (!text.empty()) text += ' ';
        text += drawn.nameOf(edge->u()) + ">" + drawn.nameOf(edge->v());
    }
    return text;
}

std::string nodeNames(const DrawnGraph& drawn, const CVGraph::Nodes& nodes) {
    return drawn.names(std::optional<CVGraph::Nodes>(nodes));
}

TEST(CVGraph, WeighsEachDirectionOfAnUndirectedEdgeApart) {
    const DrawnGraph drawn(R"(
        floor 0
          A B
        node B barrier=gate wait=3
        A-B
    )");
    const auto forth = drawn.edge("A", "B");
    const auto back = drawn.edge("B", "A");
    ASSERT_TRUE(forth && back);
    EXPECT_NE(forth, back);
    EXPECT_EQ(forth->properties(), back->properties());
    // 10 m at 1.3 m/s, then the door and the wait of the node entered.
    EXPECT_EQ(forth->weight(), 126);
    EXPECT_EQ(back->weight(), 76);
    EXPECT_EQ(drawn.graph().edgeCount(), 1U);
    EXPECT_EQ(edgeNames(drawn, drawn.graph().edges()), "A>B B>A");
    EXPECT_EQ(drawn.node("B")->barrierType(), 1);
}

TEST(CVGraph, RestrictedNodesAndEdgesOpenOnlyWithTheirToken) {
    const DrawnGraph throughNode(R"(
        floor 0
          A B C
        node B tokens=staff
        A-B
        B-C
    )");
    EXPECT_EQ(throughNode.route("A", "C"), "none");
    EXPECT_EQ(throughNode.route("A", "C", std::nullopt, {"guest"}), "none");
    EXPECT_EQ(throughNode.route("A", "C", std::nullopt, {"guest", "staff"}), "A B C");
    EXPECT_EQ(throughNode.route("A", "C"), "none");
    EXPECT_EQ(nodeNames(throughNode, throughNode.graph().restrictedGraphNodes()), "B");
    EXPECT_EQ(throughNode.graph().restrictedGraphEdges().size(), 4U);

    const DrawnGraph detour(R"(
        floor 0
          A B C
          D . E
        A-B
        B-C tokens=staff
        A-D
        D-E
        E-C
    )");
    EXPECT_EQ(detour.route("A", "C"), "A D E C");
    EXPECT_EQ(detour.route("A", "C", std::nullopt, {"staff"}), "A B C");
    EXPECT_EQ(detour.route("A", "C", std::nullopt, {"admin"}), "A D E C");
}

TEST(CVGraph, AvoidingStairsTakesTheLift) {
    const DrawnGraph drawn(R"(
        floor 0
          A . B
        floor 1
          C . D
        node D barrier=gateelevator
        A-B
        A-C highway=stairs mm=5000
        B-D highway=elevator mm=0
        C-D
    )");
    EXPECT_EQ(drawn.route("A", "C"), "A C");
    EXPECT_EQ(drawn.route("A", "C", std::vector<CVHighway>{CVHighway::stairs()}), "A B D C");
    EXPECT_EQ(drawn.edge("A", "C")->weight(), 3071);
    EXPECT_EQ(drawn.route("A", "C", std::vector<CVHighway>{}), "A C");
    EXPECT_EQ(drawn.edge("A", "C")->weight(), 71);
}

TEST(CVGraph, ManySearchesFollowEveryChangeOfAvoidListAndTokens) {
    // Long enough corridors that a change re-weighs a small share of the arcs.
    const DrawnGraph drawn(R"(
        floor 0
          A a b c d e f g h i j B
        floor 1
          C k l m n o p q r s t D
        A-a
        a-b
        b-c
        c-d
        d-e
        e-f
        f-g
        g-h
        h-i
        i-j
        j-B
        C-k
        k-l
        l-m
        m-n
        n-o
        o-p
        p-q
        q-r
        r-s
        s-t
        t-D
        A-C highway=stairs mm=5000
        B-D highway=elevator mm=0 wait=20 tokens=staff
    )");
    const std::string viaStairs = "A C k l m n o p q r s t D";
    const std::string viaLift = "A a b c d e f g h i j B D";
    const std::vector<CVHighway> stairs = {CVHighway::stairs()};
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(drawn.route("A", "D"), viaStairs) << round;
        EXPECT_EQ(drawn.route("A", "D", stairs), viaStairs) << round;
        EXPECT_EQ(drawn.route("A", "D", stairs, {"staff"}), viaLift) << round;
        EXPECT_EQ(drawn.route("A", "D", std::nullopt, {"staff"}), viaStairs) << round;
        EXPECT_EQ(drawn.route("A", "D", stairs, {"staff"}), viaLift) << round;
    }
}

TEST(CVGraph, ReorderedAvoidListReweighsNothingAndANewOneDoes) {
    const DrawnGraph drawn(R"(
        floor 0
          A B C
        A-B highway=stairs
        B-C highway=escalator
    )");
    auto& graph = drawn.graph();
    const std::vector<CVHighway> both = {CVHighway::stairs(), CVHighway::escalator()};
    ASSERT_EQ(drawn.route("A", "C", both), "A B C");
    EXPECT_EQ(graph.graphEdgesNeedingWeightUpdateCount(), 0U);
    EXPECT_EQ(graph.avoidEdges().size(), 4U);
    const auto stairs = drawn.edge("A", "B")->weight();
    const auto escalator = drawn.edge("B", "C")->weight();

    graph.setRestrictions(std::vector<CVHighway>{CVHighway::escalator(), CVHighway::stairs()});
    EXPECT_EQ(graph.graphEdgesNeedingWeightUpdateCount(), 0U);
    graph.setRestrictions(both);
    EXPECT_EQ(graph.graphEdgesNeedingWeightUpdateCount(), 0U);

    graph.setRestrictions(std::vector<CVHighway>{CVHighway::stairs()});
    EXPECT_EQ(graph.graphEdgesNeedingWeightUpdateCount(), 4U);
    graph.updateGraphEdgeWeights();
    EXPECT_EQ(drawn.edge("A", "B")->weight(), stairs);
    EXPECT_EQ(drawn.edge("B", "C")->weight(), escalator - 3000);
    EXPECT_EQ(graph.avoidEdges().size(), 2U);
}

TEST(CVGraph, WheelchairPenaltyGoesWhileAnythingIsAvoided) {
    const DrawnGraph drawn(R"(
        floor 0
          A B
        A-B highway=wheelchairramp mm=500
    )");
    EXPECT_EQ(drawn.edge("A", "B")->weight(), 3010);
    ASSERT_EQ(drawn.route("A", "B", std::vector<CVHighway>{CVHighway::ladder()}), "A B");
    EXPECT_EQ(drawn.edge("A", "B")->weight(), 10);
    EXPECT_EQ(drawn.edge("B", "A")->weight(), 10);
    ASSERT_EQ(drawn.route("A", "B"), "A B");
    EXPECT_EQ(drawn.edge("A", "B")->weight(), 3010);
    // No list and an empty list avoid the same nothing.
    auto& graph = drawn.graph();
    graph.setRestrictions(std::vector<CVHighway>{});
    EXPECT_EQ(graph.graphEdgesNeedingWeightUpdateCount(), 0U);
    graph.setRestrictions(std::nullopt);
    EXPECT_EQ(graph.graphEdgesNeedingWeightUpdateCount(), 0U);
}

TEST(CVGraph, NearestNodesAndEdges) {
    const DrawnGraph drawn(R"(
        floor 0
          A B C
        floor 1
          D E
        A-B
        B-C
        D-E
    )");
    const auto& graph = drawn.graph();
    const auto at = [&](const char* name, std::int64_t floor) {
        auto coordinate = drawn.node(name)->coordinate();
        coordinate.floor = floor;
        return coordinate;
    };
    // D and E lie exactly above A and B: equal distances keep id order.
    const std::tuple<const char*, CVLocationCoordinate3D, double, std::uint64_t, const char*> cases[] = {
        {"EveryNodeOfTheFloor", at("A", 0), 0, 0, "A B C"},
        {"Limited", at("A", 0), 0, 2, "A B"},
        {"Radius", at("A", 0), 5, 0, "A"},
        {"EveryFloor", at("A", CVLocationCoordinate3D::kEveryFloor), 0, 0, "A D B E C"},
        {"EveryFloorLimited", at("A", CVLocationCoordinate3D::kEveryFloor), 0, 3, "A D B"},
        {"EmptyFloor", at("A", 7), 0, 0, ""},
    };
    for (const auto& [name, coordinate, radius, limit, expected] : cases) {
        EXPECT_EQ(nodeNames(drawn, graph.closestNodesToCoordinate(coordinate, radius, limit)), expected) << name;
    }

    auto& mutableGraph = drawn.graph();
    EXPECT_EQ(edgeNames(drawn, mutableGraph.closestEdgesToCoordinate(at("B", 0), 0, 0)), "A>B B>A B>C C>B");
    EXPECT_EQ(edgeNames(drawn, mutableGraph.closestEdgesToCoordinate(at("B", 0), 0, 1)), "A>B");
    EXPECT_EQ(edgeNames(drawn, mutableGraph.closestEdgesToCoordinate(at("A", 0), 5, 0)), "A>B B>A");
    EXPECT_EQ(edgeNames(drawn, mutableGraph.closestEdgesToCoordinate(at("E", 1), 0, 0)), "D>E E>D");
}

// The answered edges as sorted undirected pairs ("A-B C-D"); an edge answered
// in both directions shows twice.
std::string undirectedNames(const DrawnGraph& drawn, const CVGraph::Edges& edges) {
    std::vector<std::string> pairs;
    for (const auto& edge : edges) {
        auto u = drawn.nameOf(edge->u());
        auto v = drawn.nameOf(edge->v());
        pairs.push_back(u < v ? u + "-" + v : v + "-" + u);
    }
    std::sort(pairs.begin(), pairs.end());
    std::string text;
    for (const auto& pair : pairs) text += (text.empty() ? "" : " ") + pair;
    return text;
}

TEST(CVGraph, RectangleAnswersEachPassableEdgeOnce) {
    const DrawnGraph drawn(R"(
        floor 0
          A B C
          D . .
        floor 1
          E
        A-B
        B-C tokens=staff
        C>D
        A-E highway=stairs mm=5000
    )");
    auto& graph = drawn.graph();
    const auto a = drawn.node("A")->coordinate().latLng();
    const CLLocationCoordinate2D northEast{a.latitude + 0.01, a.longitude + 0.01};
    const CLLocationCoordinate2D southWest{a.latitude - 0.01, a.longitude - 0.01};
    const auto names = [&](std::int64_t floor, CLLocationCoordinate2D one, CLLocationCoordinate2D two) {
        return undirectedNames(drawn, graph.edgesWithBoundingBoxOverlappingNorthEast(one, two, floor));
    };
    // The stairs have an end on each floor, so neither floor answers them; the
    // closed corridor is left out.
    EXPECT_EQ(names(0, northEast, southWest), "A-B C-D");
    EXPECT_EQ(names(0, southWest, northEast), "A-B C-D");
    EXPECT_EQ(names(1, northEast, southWest), "");
    EXPECT_EQ(names(5, northEast, southWest), "");
    const CLLocationCoordinate2D farAway{a.latitude + 1, a.longitude + 1};
    EXPECT_EQ(names(0, farAway, CLLocationCoordinate2D{farAway.latitude + 1, farAway.longitude + 1}), "");

    ASSERT_EQ(drawn.route("A", "C", std::nullopt, {"staff"}), "A B C");
    EXPECT_EQ(names(0, northEast, southWest), "A-B B-C C-D");
}

TEST(CVGraph, TemporariesSetAndClearedRestoreTheGraph) {
    const DrawnGraph drawn(R"(
        floor 0
          A B C
        A-B
        B-C
    )");
    auto& graph = drawn.graph();
    graph.initDebugGraphAdjacentStateIfNeeded();
    const auto before = edgeNames(drawn, graph.edges());
    const auto c = drawn.node("C")->coordinate();

    const auto start =
        CVGraphNode::newWithId(3, {c.latitude, c.longitude + 1e-4, 0},
                               CVManualGraphNodeProperties::newGraphNodePropertiesWithFloorname("0"), "You are here");
    const auto link = CVGraphEdge::newGraphEdgeBetween(3, 2,
                                                       CVManualGraphEdgeProperties::newGraphEdgePropertiesWithContext(
                                                           std::nullopt, CVHighway::footway(), 6500, 1, 0, false));
    ASSERT_TRUE(graph.setTemporaryGraphNodes({start}, {link}));
    EXPECT_EQ(graph.nodeAtIndex(3), start);
    EXPECT_EQ(graph.nodeIdForFirstTemporaryGraphNode(), 3U);
    EXPECT_EQ(drawn.names(graph.findPathFromNode(start, drawn.node("A"), std::nullopt, {})), "#3 C B A");
    EXPECT_EQ(drawn.names(graph.findPathFromNode(drawn.node("A"), start, std::nullopt, {})), "A B C #3");
    EXPECT_EQ(link->weight(), 50);
    EXPECT_EQ(graph.debugGraphAdjacentStateChanges().size(), 1U);

    graph.clearTemporaryGraphNodesAndEdges();
    EXPECT_EQ(edgeNames(drawn, graph.edges()), before);
    EXPECT_TRUE(graph.debugGraphAdjacentStateChanges().empty());
    EXPECT_EQ(graph.nodeAtIndex(3), nullptr);
    EXPECT_EQ(graph.findPathFromNode(start, drawn.node("A"), std::nullopt, {}), std::nullopt);

    // Out of sequence ids and arcs to nowhere are refused whole.
    const auto stray = CVGraphNode::newWithId(
        9, c, CVManualGraphNodeProperties::newGraphNodePropertiesWithFloorname("0"), std::nullopt);
    EXPECT_FALSE(graph.setTemporaryGraphNodes({stray}, {link}));
    const auto nowhere = CVGraphEdge::newGraphEdgeBetween(3, 8, link->properties());
    EXPECT_FALSE(graph.setTemporaryGraphNodes({start}, {nowhere}));
    EXPECT_EQ(graph.nodeAtIndex(3), nullptr);
    EXPECT_EQ(edgeNames(drawn, graph.edges()), before);
}

TEST(CVGraph, TemporariesStayOutOfTheEdgeIndexAndTheAvoidLists) {
    const DrawnGraph drawn(R"(
        floor 0
          A B
        A-B
    )");
    auto& graph = drawn.graph();
    const auto b = drawn.node("B")->coordinate();
    const auto start =
        CVGraphNode::newWithId(2, {b.latitude, b.longitude + 1e-4, 0},
                               CVManualGraphNodeProperties::newGraphNodePropertiesWithFloorname("0"), std::nullopt);
    start->setRestrictions(std::vector<std::string>{"staff"});
    const auto stairs = CVGraphEdge::newGraphEdgeBetween(0, 2,
                                                         CVManualGraphEdgeProperties::newGraphEdgePropertiesWithContext(
                                                             std::nullopt, CVHighway::stairs(), 7000, 1, 0, false));
    ASSERT_TRUE(graph.setTemporaryGraphNodes({start}, {stairs}));
    const auto back = drawn.graph().nodeAtIndex(2)->edgeToNode(*drawn.node("A"));

    // Temporary arcs follow token and avoid-list changes like any other.
    EXPECT_EQ(drawn.names(graph.findPathFromNode(drawn.node("A"), start, std::nullopt, {})), "none");
    EXPECT_EQ(drawn.names(graph.findPathFromNode(drawn.node("A"), start, std::nullopt, {"staff"})), "A #2");
    EXPECT_EQ(stairs->weight(), 100);
    EXPECT_EQ(drawn.names(graph.findPathFromNode(start, drawn.node("A"), std::vector<CVHighway>{CVHighway::stairs()},
                                                 {"staff"})),
              "#2 A");
    EXPECT_EQ(stairs->weight(), 3100);
    EXPECT_EQ(back->weight(), 3100);

    // The arc index holds the permanent arcs only, whenever it was built.
    const auto a = drawn.node("A")->coordinate().latLng();
    const CLLocationCoordinate2D northEast{a.latitude + 1, a.longitude + 1};
    const CLLocationCoordinate2D southWest{a.latitude - 1, a.longitude - 1};
    EXPECT_EQ(edgeNames(drawn, graph.edgesWithBoundingBoxOverlappingNorthEast(northEast, southWest, 0)), "A>B");

    const auto isTemporary = [&](const CVGraph::EdgePtr& edge) { return edge == stairs || edge == back; };
    EXPECT_TRUE(std::any_of(graph.avoidEdges().begin(), graph.avoidEdges().end(), isTemporary));
    graph.clearTemporaryGraphNodesAndEdges();
    EXPECT_FALSE(std::any_of(graph.avoidEdges().begin(), graph.avoidEdges().end(), isTemporary));
    EXPECT_EQ(edgeNames(drawn, graph.edgesWithBoundingBoxOverlappingNorthEast(northEast, southWest, 0)), "A>B");
    graph.setRestrictions(std::vector<CVHighway>{CVHighway::ladder()});
    EXPECT_EQ(graph.graphEdgesNeedingWeightUpdateCount(), 0U);
}

TEST(CVGraph, ParallelArcsKeepAPathOpenWhenTheFirstIsClosed) {
    const DrawnGraph drawn(R"(
        floor 0
          A B
        A-B tokens=staff
        A-B mm=20000
    )");
    EXPECT_EQ(drawn.route("A", "B"), "A B");
    const auto path = drawn.graph().findPathFromNode(drawn.node("A"), drawn.node("B"), std::nullopt, {});
    ASSERT_TRUE(path);
    const auto steps = drawn.graph().edgePathFromNodePath(*path);
    ASSERT_EQ(steps.size(), 1U);
    EXPECT_NE(steps.front()->weight(), kClosed) << "the open arc the search took";
    EXPECT_EQ(steps.front()->distance(), 20000U);
    EXPECT_TRUE(drawn.graph().edgePathFromNodePath({drawn.node("A")}).empty());
}

// The edge path names the arc each step of the search used: of parallel arcs
// the lightest one the traveller may pass, in the search's direction.
TEST(CVGraph, EdgePathNamesTheParallelArcTheSearchUsed) {
    const DrawnGraph drawn(R"(
        floor 0
          A B C
        A-B mm=9000 highway=elevator tokens=vip
        A-B mm=20000 highway=stairs
        A-B mm=12000
        B-C mm=30000
        B-C mm=10000 context=short
    )");
    const auto steps = [&](const CVAccessTokens& tokens) {
        const auto path = drawn.graph().findPathFromNode(drawn.node("A"), drawn.node("C"), std::nullopt, tokens);
        EXPECT_EQ(drawn.names(path), "A B C");
        std::vector<std::uint64_t> distances;
        if (!path) return distances;
        const auto edges = drawn.graph().edgePathFromNodePath(*path);
        EXPECT_EQ(edges.size(), 2U);
        for (const auto& edge : edges) {
            EXPECT_NE(edge->weight(), kClosed);
            distances.push_back(edge->distance());
        }
        return distances;
    };
    // Without "vip" the lift is closed and the stairs are slower than the
    // footway; the later, shorter of the two B-C arcs is taken.
    EXPECT_EQ(steps({}), (std::vector<std::uint64_t>{12000, 10000}));
    EXPECT_EQ(steps({"vip"}), (std::vector<std::uint64_t>{9000, 10000}));
    // Backwards the reversed twins are read the same way.
    const auto back = drawn.graph().findPathFromNode(drawn.node("C"), drawn.node("A"), std::nullopt, {});
    ASSERT_TRUE(back);
    const auto backSteps = drawn.graph().edgePathFromNodePath(*back);
    ASSERT_EQ(backSteps.size(), 2U);
    EXPECT_EQ(backSteps[0]->distance(), 10000U);
    EXPECT_EQ(backSteps[0]->context(), "short");
    EXPECT_EQ(backSteps[1]->distance(), 12000U);
    EXPECT_EQ(backSteps[1]->u(), drawn.node("B")->nodeId());
}

// One negative arc (a bad speed factor) in a part of the network of its own
// leaves routing elsewhere working; a search that meets it answers none.
TEST(CVGraph, ANegativeArcClosesOnlyTheSearchesThatMeetIt) {
    const DrawnGraph drawn(R"(
        floor 0
          A B C
          D E F
        A-B
        B-C
        D-E
        E-F
    )");
    // As a negative speed factor in the network data weighs it, both ways.
    drawn.edge("D", "E")->setWeight(-50);
    drawn.edge("E", "D")->setWeight(-50);
    EXPECT_EQ(drawn.route("A", "C"), "A B C");
    EXPECT_EQ(drawn.route("C", "A"), "C B A");
    EXPECT_EQ(drawn.route("D", "E"), "none");
    EXPECT_EQ(drawn.route("D", "F"), "none");
    EXPECT_EQ(drawn.route("E", "F"), "none") << "the search from E examines E-D";
    EXPECT_EQ(drawn.route("A", "F"), "none");
    CVGraphPathFinder::setPreferredPathfindingAlgorithm(CVGraphPathFinder::kAStar);
    EXPECT_EQ(drawn.route("A", "C"), "A B C");
    EXPECT_EQ(drawn.route("D", "F"), "none");
    CVGraphPathFinder::setPreferredPathfindingAlgorithm(CVGraphPathFinder::kDijkstra);
}

TEST(CVGraph, RefusesForeignNodesAndMissingParts) {
    const DrawnGraph drawn(R"(
        floor 0
          A B
        A-B
    )");
    const DrawnGraph other(R"(
        floor 0
          A B
        A-B
    )");
    EXPECT_EQ(drawn.graph().findPathFromNode(other.node("A"), drawn.node("B"), std::nullopt, {}), std::nullopt);
    EXPECT_EQ(drawn.graph().findPathFromNode(drawn.node("A"), nullptr, std::nullopt, {}), std::nullopt);
    EXPECT_EQ(drawn.route("A", "A"), "A");

    EXPECT_EQ(CVGraph::newWithNodes({nullptr}, {}, {}), nullptr);
    const test::ScopedLogCapture capture;
    const auto lone = CVGraphNode::newWithId(
        0, {}, CVManualGraphNodeProperties::newGraphNodePropertiesWithFloorname("0"), std::nullopt);
    const auto dangling = CVGraphEdge::newGraphEdgeBetween(
        0, 5, CVManualGraphEdgeProperties::newDirectedGraphEdgePropertiesWithContext(std::nullopt, CVHighway(), 1000));
    const auto graph = CVGraph::newWithNodes({lone}, {dangling}, {});
    ASSERT_NE(graph, nullptr);
    EXPECT_EQ(dangling->weight(), kClosed);
    EXPECT_TRUE(lone->mutableEdges().empty());
    EXPECT_TRUE(capture.sink().contains("Invalid parameter not satisfying: to in"));
    EXPECT_EQ(CVGraphNode::newWithId(0, {}, nullptr, std::nullopt), nullptr);
}

}  // namespace
}  // namespace ambrell
