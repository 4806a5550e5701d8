#include "routing/Graph/CVGraph.h"
#include "routing/Graph/CVGraphPathFinder.h"
#include "routing/Graph/CVManualGraphProperties.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>

namespace ambrell::graph_path_finder_test {
namespace {

using Nodes = CVGraphPathFinder::Nodes;
using Edges = CVGraphPathFinder::Edges;

constexpr std::int64_t kClosed = CVGraphEdge::kImpassableWeight;

Nodes makeNodes(std::size_t count) {
    Nodes nodes;
    for (std::size_t i = 0; i < count; ++i) {
        nodes.push_back(CVGraphNode::newWithId(i, {55 + 1e-5 * static_cast<double>(i), 12, 0},
                                               CVManualGraphNodeProperties::newGraphNodePropertiesWithFloorname("0"),
                                               std::nullopt));
    }
    return nodes;
}

Edges makeArcs(std::initializer_list<std::tuple<std::uint64_t, std::uint64_t, std::int64_t>> arcs) {
    Edges edges;
    for (const auto& [u, v, weight] : arcs) {
        auto edge = CVGraphEdge::newGraphEdgeBetween(u, v, nullptr);
        edge->setWeight(weight);
        edges.push_back(std::move(edge));
    }
    return edges;
}

std::string ids(const std::optional<Nodes>& path) {
    if (!path) return "none";
    std::string text;
    for (const auto& node : *path) text += (text.empty() ? "" : " ") + std::to_string(node->nodeId());
    return text;
}

class PathFinderAlgorithms : public ::testing::TestWithParam<std::int64_t> {};

TEST_P(PathFinderAlgorithms, AnswersTheLeastWeightPathOrNone) {
    const auto algorithm = GetParam();
    const auto search = [&](std::uint64_t start, std::uint64_t end, const Nodes& nodes, const Edges& edges) {
        return ids(CVGraphPathFinder::findPathFromStartNode(start, end, nodes, edges, algorithm));
    };
    const auto nodes = makeNodes(4);
    const std::tuple<const char*, Edges, std::uint64_t, std::uint64_t, const char*> cases[] = {
        {"TwoShortBeatOneLong", makeArcs({{0, 1, 10}, {1, 2, 10}, {0, 2, 25}}), 0, 2, "0 1 2"},
        {"OneShortBeatsTwoLong", makeArcs({{0, 1, 10}, {1, 2, 10}, {0, 2, 19}}), 0, 2, "0 2"},
        {"ParallelArcs", makeArcs({{0, 1, 5}, {0, 1, 7}}), 0, 1, "0 1"},
        {"NoArcIntoTheEnd", makeArcs({{0, 1, 5}, {2, 1, 5}}), 0, 2, "none"},
        {"OneWay", makeArcs({{1, 0, 5}}), 0, 1, "none"},
        {"StartIsEnd", makeArcs({{0, 1, 5}}), 3, 3, "3"},
        {"NoArcsAtAll", Edges{}, 0, 3, "none"},
        {"EndBeyondEverything", makeArcs({{0, 1, 5}}), 0, 9, "none"},
        {"EndWithinNodesBeyondArcs", makeArcs({{0, 1, 5}}), 0, 3, "none"},
        {"StartWithinNodesBeyondArcs", makeArcs({{0, 1, 5}}), 3, 0, "none"},
        {"StartIsEndBeyondEverything", makeArcs({{0, 1, 5}}), 9, 9, "none"},
        {"ThroughAPositionWithoutNode", makeArcs({{0, 7, 1}, {7, 2, 1}, {0, 2, 50}}), 0, 2, "none"},
        {"ToAPositionWithoutNode", makeArcs({{0, 7, 1}}), 0, 7, "none"},
        // A negative arc matters only to a search that reaches it.
        {"NegativeArcElsewhere", makeArcs({{0, 1, 5}, {2, 3, -1}}), 0, 1, "0 1"},
        {"NegativeArcMet", makeArcs({{0, 1, -1}}), 0, 1, "none"},
        {"NegativeArcOnTheWay", makeArcs({{0, 2, 5}, {2, 1, -1}, {0, 1, 50}}), 0, 1, "none"},
        {"AbsurdEnd", makeArcs({{0, 1, 5}, {2, std::numeric_limits<std::uint64_t>::max(), 1}}), 0, 1, "none"},
        {"AbsurdEndStartIsEnd", makeArcs({{2, std::numeric_limits<std::uint64_t>::max(), 1}}), 1, 1, "1"},
        {"ClosedArcAsLastResort", makeArcs({{0, 1, kClosed}}), 0, 1, "0 1"},
        {"ClosedArcAvoided", makeArcs({{0, 1, kClosed}, {0, 2, 5}, {2, 1, 5}}), 0, 1, "0 2 1"},
    };
    for (const auto& [name, edges, start, end, expected] : cases) {
        EXPECT_EQ(search(start, end, nodes, edges), expected) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(DijkstraAndAStar, PathFinderAlgorithms,
                         ::testing::Values(CVGraphPathFinder::kDijkstra, CVGraphPathFinder::kAStar));

TEST(CVGraphPathFinder, FollowsTheProcessWideAlgorithmSetting) {
    const auto nodes = makeNodes(3);
    const auto edges = makeArcs({{0, 1, 10}, {1, 2, 10}, {0, 2, 25}});
    ASSERT_EQ(CVGraphPathFinder::preferredPathfindingAlgorithm(), CVGraphPathFinder::kDijkstra);
    for (const std::int64_t algorithm : {CVGraphPathFinder::kAStar, std::int64_t{2}, std::int64_t{-1}}) {
        CVGraphPathFinder::setPreferredPathfindingAlgorithm(algorithm);
        EXPECT_EQ(ids(CVGraphPathFinder::findPathFromStartNode(0, 2, nodes, edges)),
                  algorithm == CVGraphPathFinder::kAStar ? "0 1 2" : "none")
            << algorithm;
    }
    CVGraphPathFinder::setPreferredPathfindingAlgorithm(CVGraphPathFinder::kDijkstra);
    EXPECT_EQ(ids(CVGraphPathFinder::findPathFromStartNode(0, 2, nodes, edges, 2)), "none");
}

TEST(CVGraphPathFinder, PreparedArcsSearchWithTheirRefreshedWeights) {
    const auto nodes = makeNodes(3);
    const auto edges = makeArcs({{0, 1, 10}, {1, 2, 10}, {0, 2, 25}});
    const auto prepared = CVGraphPathFinder::prepareSearchGraph(edges);
    const auto search = [&] {
        return ids(CVGraphPathFinder::findPathFromStartNode(0, 2, nodes, *prepared, CVGraphPathFinder::kDijkstra));
    };
    EXPECT_EQ(search(), "0 1 2");
    edges[2]->setWeight(5);
    EXPECT_EQ(search(), "0 1 2");  // not refreshed yet
    CVGraphPathFinder::refreshWeights(*prepared, std::vector{edges[2]});
    EXPECT_EQ(search(), "0 2");
    edges[0]->setWeight(-1);
    CVGraphPathFinder::refreshWeights(*prepared, std::vector{edges[0]});
    EXPECT_EQ(search(), "none");
    edges[0]->setWeight(1);
    CVGraphPathFinder::refreshWeights(*prepared, std::vector{edges[0]});
    EXPECT_EQ(search(), "0 2");
    edges[2]->setWeight(50);
    CVGraphPathFinder::refreshWeights(*prepared);
    EXPECT_EQ(search(), "0 1 2");
    // Arcs that were never prepared are ignored.
    CVGraphPathFinder::refreshWeights(*prepared, makeArcs({{0, 2, 0}}));
    EXPECT_EQ(search(), "0 1 2");
}

TEST(CVGoalDistanceHeuristic, MeasuresDegreesToTheGoal) {
    const auto nodes = makeNodes(3);
    const CVGoalDistanceHeuristic toLast(nodes, 2);
    EXPECT_DOUBLE_EQ(toLast(2), 0);
    EXPECT_NEAR(toLast(0), 2e-5, 1e-12);
    // A position without a node estimates nothing; a goal without one sits at (0, 0).
    EXPECT_DOUBLE_EQ(toLast(9), 0);
    EXPECT_NEAR(CVGoalDistanceHeuristic(nodes, 9)(0), std::hypot(55, 12), 1e-9);
}

// Least weights from the start by Bellman-Ford over the passable arcs.
std::vector<std::int64_t> referenceWeights(const Edges& edges, std::size_t nodeCount, std::uint64_t start) {
    constexpr auto kUnreached = std::numeric_limits<std::int64_t>::max();
    std::vector<std::int64_t> best(nodeCount, kUnreached);
    best[start] = 0;
    for (std::size_t round = 0; round < nodeCount; ++round) {
        for (const auto& edge : edges) {
            if (edge->weight() == kClosed || best[edge->u()] == kUnreached) continue;
            best[edge->v()] = std::min(best[edge->v()], best[edge->u()] + edge->weight());
        }
    }
    return best;
}

TEST(CVGraphPathFinder, AgreesWithBellmanFordOnRandomGraphs) {
    const CVHighway highways[] = {CVHighway::footway(),   CVHighway::stairs(),         CVHighway::elevator(),
                                  CVHighway::escalator(), CVHighway::wheelchairramp(), CVHighway::ladder()};
    const std::vector<std::string> roles = {"staff", "guest"};
    std::mt19937 random(20261207);
    const auto chance = [&](int percent) { return std::uniform_int_distribution<int>(0, 99)(random) < percent; };
    const auto pick = [&](std::size_t count) {
        return std::uniform_int_distribution<std::size_t>(0, count - 1)(random);
    };
    int found = 0;
    for (int round = 0; round < 300; ++round) {
        const std::size_t nodeCount = 2 + pick(7);
        CVGraph::Nodes nodes;
        for (std::size_t i = 0; i < nodeCount; ++i) {
            auto node = CVGraphNode::newWithId(
                i, {55 + 1e-4 * static_cast<double>(pick(10)), 12 + 1e-4 * static_cast<double>(pick(10)), 0},
                CVManualGraphNodeProperties::newGraphNodePropertiesWithBoundary(
                    0, chance(20) ? std::optional<std::string>("gate") : std::nullopt, "0", chance(10) ? 4 : 0),
                std::nullopt);
            if (chance(10)) node->setRestrictions(std::vector<std::string>{roles[pick(2)]});
            nodes.push_back(std::move(node));
        }
        CVGraph::Edges edges;
        const std::size_t edgeCount = pick(nodeCount * 3);
        for (std::size_t i = 0; i < edgeCount; ++i) {
            auto edge = CVGraphEdge::newGraphEdgeBetween(
                pick(nodeCount), pick(nodeCount),
                CVManualGraphEdgeProperties::newGraphEdgePropertiesWithContext(
                    std::nullopt, highways[pick(std::size(highways))], 1000 * pick(30), 1, 0, chance(30)));
            if (chance(15)) edge->setRestrictions(std::vector<std::string>{roles[pick(2)]});
            edges.push_back(std::move(edge));
            // Parallel arcs now and then.
            if (chance(15))
                edges.push_back(
                    CVGraphEdge::newGraphEdgeBetween(edges.back()->u(), edges.back()->v(), edges.back()->properties()));
        }
        const auto graph = CVGraph::newWithNodes(nodes, edges, {});
        ASSERT_NE(graph, nullptr);

        // A few searches per graph: each must see the avoid list and tokens
        // of its own, whatever the previous one left behind.
        for (int query = 0; query < 3; ++query) {
            std::optional<std::vector<CVHighway>> avoid;
            if (chance(50)) avoid = std::vector<CVHighway>{highways[pick(std::size(highways))]};
            CVAccessTokens tokens;
            if (chance(50)) tokens.insert(roles[pick(2)]);
            const auto start = pick(nodeCount);
            const auto end = pick(nodeCount);

            std::optional<std::int64_t> totals[2];
            for (const auto algorithm : {CVGraphPathFinder::kDijkstra, CVGraphPathFinder::kAStar}) {
                CVGraphPathFinder::setPreferredPathfindingAlgorithm(algorithm);
                const auto path = graph->findPathFromNode(nodes[start], nodes[end], avoid, tokens);
                const auto reference = referenceWeights(graph->edges(), nodeCount, start)[end];
                const auto context = ::testing::Message()
                                     << "round " << round << ", query " << query << ", algorithm " << algorithm;
                if (reference == std::numeric_limits<std::int64_t>::max()) {
                    EXPECT_FALSE(path) << context;
                    continue;
                }
                ASSERT_TRUE(path) << context;
                ASSERT_FALSE(path->empty()) << context;
                EXPECT_EQ(path->front(), nodes[start]) << context;
                EXPECT_EQ(path->back(), nodes[end]) << context;
                std::int64_t total = 0;
                for (std::size_t i = 1; i < path->size(); ++i) {
                    std::int64_t step = kClosed;
                    for (const auto& arc : (*path)[i - 1]->mutableEdges()) {
                        if (arc->v() == (*path)[i]->nodeId()) step = std::min(step, arc->weight());
                    }
                    ASSERT_NE(step, kClosed) << context << ", step " << i;
                    total += step;
                }
                EXPECT_EQ(total, reference) << context;
                totals[algorithm] = total;
                ++found;
            }
            EXPECT_EQ(totals[0], totals[1]) << "round " << round << ", query " << query;
        }
    }
    CVGraphPathFinder::setPreferredPathfindingAlgorithm(CVGraphPathFinder::kDijkstra);
    // The rounds must exercise found paths, not only refusals.
    EXPECT_GT(found, 600);
}

}  // namespace
}  // namespace ambrell::graph_path_finder_test
