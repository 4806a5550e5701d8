// The result of path optimisation and its wrappers: a straightened path is
// read through the same node and edge views as the routed one.

#include <gtest/gtest.h>

#include <regex>

#include "routing/Graph/CVGraphEdge.h"
#include "routing/Graph/CVGraphNode.h"
#include "routing/Graph/CVManualGraphProperties.h"
#include "routing/Graph/CVRouteEdge.h"
#include "routing/Graph/CVRouteGraphResult.h"
#include "routing/Graph/CVRouteNode.h"
#include "tests/support/CapturingLogSink.h"

namespace ambrell::route_graph_result_test {
namespace {

std::shared_ptr<CVGraphNode> graphNode(std::uint64_t id, std::int64_t floor, double waittime = 0,
                                       std::optional<std::string> label = std::nullopt) {
    return CVGraphNode::newWithId(
        id, {55.0 + 1e-5 * static_cast<double>(id), 12.0, floor},
        CVManualGraphNodeProperties::newGraphNodePropertiesWithBoundary(0, "", "L" + std::to_string(floor), waittime),
        std::move(label));
}

std::shared_ptr<CVGraphEdge> graphEdge(std::uint64_t u, std::uint64_t v) {
    return CVGraphEdge::newGraphEdgeBetween(
        u, v,
        CVManualGraphEdgeProperties::newDirectedGraphEdgePropertiesWithContext("room", CVHighway::footway(), 1500));
}

AXNode axNode(std::int32_t id) { return AXNode::NodeWithPosition({56.0 + id, 13.0 + id}, 9.0F, id, true); }

AXEdge axEdge(std::int32_t u, std::int32_t v, std::int64_t highway = 1) {
    return AXEdge::EdgeWithU(axNode(u), axNode(v), highway, 2500, "InsideBuilding", 3);
}

std::vector<std::uint64_t> ids(const std::vector<CVRouteGraphResult::NodeView>& nodes) {
    std::vector<std::uint64_t> found;
    for (const auto& node : nodes) found.push_back(node->nodeId());
    return found;
}

TEST(CVRouteEdge, ReadsTheEngineRecordThroughTheEdgeView) {
    const std::tuple<std::int64_t, CVHighway> table[] = {
        {0, CVHighway::unclassified()}, {1, CVHighway::footway()}, {5, CVHighway::stairs()},
        {8, CVHighway::elevator()},     {11, CVHighway::ladder()}, {12, CVHighway::unclassified()},
        {-3, CVHighway::unclassified()}};
    for (const auto& [type, highway] : table) {
        const std::shared_ptr<const CVRouteEdgeProtocol> edge = CVRouteEdge::newGraphEdgeWithAXEdge(axEdge(4, 9, type));
        EXPECT_EQ(edge->highway(), highway) << type;
        EXPECT_EQ(edge->u(), 4U);
        EXPECT_EQ(edge->v(), 9U);
        EXPECT_EQ(edge->distance(), 2500U);
        EXPECT_EQ(edge->waittime(), 3.0);
        EXPECT_EQ(edge->context(), "InsideBuilding");
    }
    const CVRouteEdge empty;
    EXPECT_EQ(empty.axEdge(), AXEdge{});
    EXPECT_EQ(std::tuple(empty.u(), empty.v(), empty.distance(), empty.waittime()), std::tuple(0U, 0U, 0U, 0.0));
    EXPECT_TRUE(std::regex_match(empty.debugDescription(), std::regex(R"(<CVRouteEdge 0x[0-9a-f]+: 0 -> 0, )"
                                                                      R"(highway=unclassified, dist=0mm>)")))
        << empty.debugDescription();
    const auto stairs = CVRouteEdge::newGraphEdgeWithAXEdge(axEdge(4, 9, 5));
    EXPECT_TRUE(std::regex_match(stairs->debugDescription(),
                                 std::regex(R"(<CVRouteEdge 0x[0-9a-f]+: 4 -> 9, highway=steps, )"
                                            R"(context=InsideBuilding, dist=2500mm, waittime=3s>)")))
        << stairs->debugDescription();
}

TEST(CVRouteNode, TakesFloorWaitAndLabelFromTheRoutedNode) {
    const auto routed = graphNode(7, 3, 4.5, "Office 3.07");
    const std::shared_ptr<const CVRouteNodeProtocol> node = std::make_shared<CVRouteNode>(axNode(7), routed);
    EXPECT_EQ(node->nodeId(), 7U);
    EXPECT_EQ(node->coordinate(), (CVLocationCoordinate3D{63.0, 20.0, 3})) << "the record's position, not its altitude";
    EXPECT_EQ(node->waittime(), 4.5);
    EXPECT_EQ(node->label(), "Office 3.07");

    const CVRouteNode alone(axNode(8), nullptr);
    EXPECT_EQ(alone.coordinate(), (CVLocationCoordinate3D{64.0, 21.0, 0}));
    EXPECT_EQ(alone.waittime(), 0);
    EXPECT_EQ(alone.label(), std::nullopt);
    EXPECT_TRUE(std::regex_match(alone.debugDescription(),
                                 std::regex(R"(<CVRouteNode 0x[0-9a-f]+: nodeId=8, lat=64, long=21, floorId=0>)")))
        << alone.debugDescription();
    EXPECT_NE(CVRouteNode(axNode(7), routed).debugDescription().find(": 'Office 3.07', nodeId=7,"), std::string::npos);
}

TEST(CVRouteGraphResult, ReportsTheRoutedPathUntilEdgesAreAdded) {
    const auto nodes = std::vector{graphNode(4, 1), graphNode(9, 1), graphNode(2, 2)};
    const auto edges = std::vector{graphEdge(4, 9), graphEdge(9, 2)};
    CVRouteGraphResult result(edges, nodes);
    const auto routed = result.edges();
    ASSERT_EQ(routed.size(), 2U);
    EXPECT_EQ(routed[0], edges[0]);
    EXPECT_EQ(routed[1], edges[1]);
    EXPECT_EQ(ids(result.nodes()), (std::vector<std::uint64_t>{4, 9, 2}));
    EXPECT_EQ(result.nodes()[1], nodes[1]) << "the routed node itself";
    EXPECT_EQ(result.getNodeByIndex(2), nodes[2]);
    EXPECT_EQ(result.getNodeByIndex(5), nullptr);

    // A straightened path 4 -> 2 and on to a node the routed path lacks.
    result.addAXEdge(axEdge(4, 2));
    result.addAXEdge(axEdge(2, 30));
    const auto straightened = result.edges();
    ASSERT_EQ(straightened.size(), 2U);
    EXPECT_EQ(std::tuple(straightened[0]->u(), straightened[0]->v()), std::tuple(4U, 2U));
    const auto read = result.nodes();
    EXPECT_EQ(ids(read), (std::vector<std::uint64_t>{4, 2, 30}));
    EXPECT_EQ(read[1]->coordinate(), (CVLocationCoordinate3D{58.0, 15.0, 2}));
    EXPECT_EQ(read[2]->coordinate().floor, 0);
    EXPECT_EQ(read[2]->waittime(), 0);
    EXPECT_EQ(read[2]->label(), std::nullopt);
    EXPECT_EQ(result.nodeDict().size(), 3U);
    EXPECT_EQ(result.originalNodeDict().size(), 3U);
    EXPECT_EQ(result.routedEdges(), edges);
}

TEST(CVRouteGraphResult, AnEdgelessResultAnswersTheRoutedNodesAsGiven) {
    const test::ScopedLogCapture logs;
    const auto lone = graphNode(6, 0);
    const CVRouteGraphResult single({}, {lone});
    EXPECT_TRUE(single.edges().empty());
    const auto nodes = single.nodes();
    ASSERT_EQ(nodes.size(), 1U);
    EXPECT_EQ(nodes[0], lone);
    EXPECT_TRUE(CVRouteGraphResult().nodes().empty());
    EXPECT_TRUE(logs.sink().messages().empty());

    // A later node of an id replaces an earlier one.
    const auto twin = graphNode(6, 4);
    const CVRouteGraphResult twice({}, {lone, twin});
    EXPECT_EQ(twice.getNodeByIndex(6), twin);
    EXPECT_EQ(twice.nodes().size(), 2U);
}

TEST(CVRouteGraphResult, MissingNodesAreLoggedAndLeftOut) {
    const test::ScopedLogCapture logs;
    CVRouteGraphResult result({}, {});
    result.addEdge(CVRouteEdge::newGraphEdgeWithAXEdge(axEdge(1, 2)));
    result.addEdge(CVRouteEdge::newGraphEdgeWithAXEdge(axEdge(2, 3)));
    result.addNode(std::make_shared<CVRouteNode>(axNode(2), nullptr));
    EXPECT_EQ(ids(result.nodes()), (std::vector<std::uint64_t>{2}));
    EXPECT_TRUE(logs.sink().contains("-[CVRouteGraphResult nodes] [E] Couldn't find node index for the first edge"));
    EXPECT_TRUE(logs.sink().contains("-[CVRouteGraphResult nodes] [E] Couldn't find node index (3)"));
}

}  // namespace
}  // namespace ambrell::route_graph_result_test
