// Route-network documents read into networks and graphs: a hand-written
// document that uses every key, refused networks, entries that leave a network
// without graph, labels by language, the range list of immutable nodes, the
// graph id of a point, entry points by access token and malformed documents.

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <boost/json/value.hpp>

#include "Ambrell/CVPoint.h"
#include "data/AmbrellLegacy.h"
#include "routemodel/CVRouteNetworkEntryPoint.h"
#include "routing/CVIndexSet.h"
#include "routing/CVRouteNetwork.h"
#include "routing/CVRouteNetworkData.h"
#include "routing/Graph/CVGraph.h"

namespace ambrell {
namespace {

namespace json = boost::json;

// Four nodes around the Greenwich meridian: a walking entrance (0), a corridor
// node (1), a lift stop upstairs (2) and a staff-only driving entrance (3).
// Edges: 0-1 footway, 1-2 lift (staff only), 1->3 one way.
constexpr std::string_view kNetwork = R"({
  "graphId": "Campus-A",
  "graphArea": {"type": "Polygon", "coordinates": [[[-0.001, 51.0], [0.001, 51.0], [0.001, 51.001],
                                                      [-0.001, 51.001], [-0.001, 51.0]]]},
  "nodeMapping": {"properties": ["boundary", "barrier", "floorname", "waittime"],
                  "values": [[], ["", "gate", "gateelevator"], ["G", "1"], []]},
  "edgeMapping": {"properties": ["highway", "context", "distance", "speedFactor", "waittime", "flags"],
                  "values": [["footway", "steps", "elevator"], ["InsideBuilding"], [], [], [], []]},
  "flagMapping": ["oneway"],
  "nodeData": [[510000500, -3000, 0, 2, 1, 0, 0],
               [510000600, 1000, 0, 0, 0, 0, 0],
               [510000600, 1000, 1, 0, 2, 1, 0],
               [510000900, 4000, 0, 4, 0, 0, 0]],
  "edgeData": [[[0, 1], [0, 0, 13000, 0, 0, 0]],
               [[1, 2], [2, 0, 4000, 0, 0, 0]],
               [[1, 3], [0, 0, 5000, 0, 0, 1]]],
  "nodeLabels": [{"index": 0, "labels": {"en": "Main door", "da": "Hoveddør"}},
                 {"index": 3, "labels": {"da": "Personaleindgang"}},
                 "not an object", {"index": "0", "labels": {"en": "ignored"}}],
  "nodeAccess": [{"index": 3, "restrictions": ["staff"]}, {"index": 4, "restrictions": ["staff"]},
                 {"index": 0, "restrictions": []}, 7],
  "edgeAccess": [{"index": 1, "restrictions": ["staff", "facility"]}, {"index": 3, "restrictions": ["x"]}],
  "immutableNodes": "0-1"
})";

json::object network() { return json::parse(kNetwork).as_object(); }

std::shared_ptr<CVRouteNetworkData> parse(const json::value& document, platform::NSError* error = nullptr) {
    const auto text = json::serialize(document);
    return CVRouteNetworkData::initWithData(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()),
                                            error);
}
std::shared_ptr<CVRouteNetworkData> parseText(std::string_view text, platform::NSError* error = nullptr) {
    return CVRouteNetworkData::initWithData(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()),
                                            error);
}

std::vector<std::string> labelsOf(const CVRouteNetworkData::EntryPoints& entryPoints) {
    std::vector<std::string> labels;
    for (const auto& entryPoint : entryPoints) labels.push_back(entryPoint->label().value_or("-"));
    return labels;
}

class RouteNetworkParsing : public ::testing::Test {
protected:
    RouteNetworkParsing() { AmbrellLegacy::setLanguage("en"); }
    ~RouteNetworkParsing() override { AmbrellLegacy::resetForTesting(); }
};

TEST_F(RouteNetworkParsing, ReadsEveryKeyOfTheDocument) {
    const auto data = parse(json::array{network()});
    ASSERT_TRUE(data);
    ASSERT_EQ(data->networks().size(), 1u);
    const auto& net = *data->networks()[0];
    EXPECT_EQ(net.graphId(), "Campus-A");
    ASSERT_TRUE(net.graph());
    const auto& graph = *net.graph();
    ASSERT_EQ(graph.nodes().size(), 4u);

    const auto entrance = net.getGraphNodeByIndex(0);
    EXPECT_NEAR(entrance->coordinate().latitude, 51.00005, 1e-12);
    EXPECT_NEAR(entrance->coordinate().longitude, -0.0003, 1e-12);
    EXPECT_EQ(entrance->label(), "Main door");
    EXPECT_EQ(entrance->barrierType(), 1);
    EXPECT_EQ(net.getGraphNodeByIndex(2)->barrierType(), 2);
    EXPECT_EQ(net.getGraphNodeByIndex(2)->coordinate().floor, 1);
    EXPECT_EQ(net.getGraphNodeByIndex(2)->floorname(), "1");
    EXPECT_FALSE(net.getGraphNodeByIndex(3)->label()) << "no text in the current language";

    // Restrictions: only well-formed entries within range; edges keep the texts as given.
    EXPECT_EQ(net.getGraphNodeByIndex(3)->restrictions(), std::vector<std::string>{"staff"});
    EXPECT_FALSE(entrance->restrictions());
    const auto footway = entrance->edgeToNode(*net.getGraphNodeByIndex(1));
    ASSERT_TRUE(footway);
    const auto liftEdge = net.getGraphNodeByIndex(1)->edgeToNode(*net.getGraphNodeByIndex(2));
    ASSERT_TRUE(liftEdge);
    EXPECT_EQ(liftEdge->restrictions(), (std::vector<std::string>{"staff", "facility"}));
    EXPECT_EQ(liftEdge->highway(), CVHighway::elevator());

    // The one-way edge has no way back; the footway has.
    EXPECT_TRUE(net.getGraphNodeByIndex(1)->edgeToNode(*net.getGraphNodeByIndex(3)));
    EXPECT_FALSE(net.getGraphNodeByIndex(3)->edgeToNode(*net.getGraphNodeByIndex(1)));
    EXPECT_TRUE(net.getGraphNodeByIndex(1)->edgeToNode(*entrance));

    // Path optimisation: switched on, every node but 0 and 1 may move.
    EXPECT_TRUE(net.allowPathOptimization());
    EXPECT_EQ(net.immutableNodeIndexes(), CVIndexSet({{0, 1}}));
    EXPECT_FALSE(entrance->allowPathOptimization());
    EXPECT_TRUE(net.getGraphNodeByIndex(3)->allowPathOptimization());

    // Entry points by token, in the graph's order; looked up by the lower-cased id.
    EXPECT_EQ(labelsOf(data->networkEntryPointsForRoutingGraphId("campus-a", {})),
              std::vector<std::string>{"Main door"});
    const auto staff = data->networkEntryPointsForRoutingGraphId("campus-a", {"staff"});
    ASSERT_EQ(staff.size(), 2u);
    EXPECT_EQ(staff[0]->boundary(), CVBoundaryType::walking);
    EXPECT_EQ(staff[1]->boundary(), CVBoundaryType::driving);
    EXPECT_DOUBLE_EQ(staff[1]->latitude(), 51.00009);
    EXPECT_TRUE(data->networkEntryPointsForRoutingGraphId("Campus-A", {"staff"}).empty());
    EXPECT_TRUE(data->networkEntryPointsForRoutingGraphId("elsewhere", {"staff"}).empty());

    // The staff-only lift is closed without the token.
    const auto path = [&](const CVAccessTokens& tokens) {
        return net.findPathFromNode(entrance, net.getGraphNodeByIndex(2), {}, tokens);
    };
    EXPECT_FALSE(path({}));
    ASSERT_TRUE(path({"facility"}));
    EXPECT_EQ(path({"facility"})->size(), 3u);

    const auto description = data->debugDescription();
    EXPECT_NE(description.find("networks[1]"), std::string::npos);
    EXPECT_NE(description.find("Campus-A (4 nodes, 3 edges)"), std::string::npos);
}

TEST_F(RouteNetworkParsing, LabelsFollowTheLanguage) {
    const auto labels = [] {
        const auto data = parse(json::array{network()});
        const auto& net = *data->networks()[0];
        return std::pair(net.getGraphNodeByIndex(0)->label(), net.getGraphNodeByIndex(3)->label());
    };
    AmbrellLegacy::setLanguage("da");
    EXPECT_EQ(labels(),
              std::pair(std::optional<std::string>("Hoveddør"), std::optional<std::string>("Personaleindgang")));
    AmbrellLegacy::setLanguage("fr");
    EXPECT_EQ(labels(), std::pair(std::optional<std::string>(), std::optional<std::string>()));
}

// A required key missing, or of another JSON type, refuses that network only.
TEST_F(RouteNetworkParsing, RefusesANetworkWithoutARequiredKey) {
    const std::vector<std::pair<std::string, json::value>> changes = {
        {"graphId", nullptr},
        {"graphId", 7},
        {"graphArea", nullptr},
        {"graphArea", json::parse(R"({"type": "Point", "coordinates": [0, 51]})")},
        {"graphArea", json::array{}},
        {"nodeMapping", nullptr},
        {"nodeMapping", json::parse(R"({"properties": ["boundary"]})")},
        {"nodeMapping", json::parse(R"({"properties": ["boundary"], "values": [[], []]})")},
        {"edgeMapping", nullptr},
        {"edgeMapping", "highway"},
        {"nodeData", nullptr},
        {"nodeData", json::object{}},
        {"edgeData", nullptr},
        {"edgeData", "[]"},
    };
    for (const auto& [key, value] : changes) {
        auto broken = network();
        if (value.is_null()) {
            broken.erase(key);
        } else {
            broken[key] = value;
        }
        auto other = network();
        other["graphId"] = "Other";
        const auto data = parse(json::array{broken, other});
        ASSERT_TRUE(data) << key;
        ASSERT_EQ(data->networks().size(), 1u) << key << " = " << json::serialize(value);
        EXPECT_EQ(data->networks()[0]->graphId(), "Other");
        EXPECT_TRUE(data->networks()[0]->graph());
    }
}

// An entry that does not read leaves the network without graph; its area still answers.
TEST_F(RouteNetworkParsing, BadEntriesLeaveTheNetworkWithoutGraph) {
    const std::vector<std::pair<std::string, json::value>> changes = {
        {"nodeData", json::parse("[[510000500, -3000]]")},
        {"nodeData", json::parse(R"([[510000500, -3000, 0, 2, 1, 0, 0], "node"])")},
        {"nodeData", json::parse(R"([["51", -3000, 0, 0, 0, 0, 0]])")},
        {"nodeData", json::parse("[[510000500, -3000, 0.5, 0, 0, 0, 0]]")},
        {"nodeData", json::parse("[[510000500, -3000, 0, 0, 1.5, 0, 0]]")},
        {"nodeData", json::parse("[[510000500, -3000, 0, null, 0, 0, 0]]")},
        {"edgeData", json::parse("[[[0, 4], [0, 0, 100, 0, 0, 0]]]")},
        {"edgeData", json::parse("[[[0, -1], [0, 0, 100, 0, 0, 0]]]")},
        {"edgeData", json::parse("[[[0], [0, 0, 100, 0, 0, 0]]]")},
        {"edgeData", json::parse("[[[0, 1]]]")},
        {"edgeData", json::parse("[[0, [0, 0, 100, 0, 0, 0]]]")},
        {"edgeData", json::parse("[[[0, 1.5], [0, 0, 100, 0, 0, 0]]]")},
        {"edgeData", json::parse(R"([[[0, 1], [0, 0, "100", 0, 0, 0]]])")},
        {"edgeData", json::parse("[[[0, 1], [0, 0, 100, 0, 0, 0]], 5]")},
    };
    for (const auto& [key, value] : changes) {
        auto broken = network();
        broken[key] = value;
        const auto data = parse(json::array{broken});
        ASSERT_TRUE(data);
        ASSERT_EQ(data->networks().size(), 1u) << json::serialize(value);
        const auto& net = *data->networks()[0];
        EXPECT_FALSE(net.graph()) << json::serialize(value);
        EXPECT_FALSE(net.getGraphNodeByIndex(0));
        EXPECT_TRUE(net.closestNodesInNetworkFromCoordinate({51.0005, 0}, 0, 3, {}).empty());
        EXPECT_TRUE(data->networkEntryPointsForRoutingGraphId("campus-a", {"staff"}).empty());
        EXPECT_EQ(data->getGraphIdFromPoint(CVPoint(51.0005, 0.0)), "campus-a");
    }
}

TEST_F(RouteNetworkParsing, ReadsRangeListsOfImmutableNodes) {
    struct Case {
        std::optional<std::string_view> text;
        std::optional<CVIndexSet> set;
    };
    const std::vector<Case> cases = {
        {"0-2,5", CVIndexSet({{0, 2}, {5, 5}})},
        {"1,3-5,", CVIndexSet({{1, 1}, {3, 5}})},
        {" 7 - 9 ,\n 11", CVIndexSet({{7, 9}, {11, 11}})},
        {"", CVIndexSet()},
        {"  ", CVIndexSet()},
        {"5-2", std::nullopt},
        {"1--2", std::nullopt},
        {"-1", std::nullopt},
        {"3,,4", std::nullopt},
        {"1-3-5", std::nullopt},
        {"1 2", std::nullopt},
        {"a", std::nullopt},
        {"2-", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {std::nullopt, std::nullopt},
    };
    for (const auto& [text, set] : cases) {
        EXPECT_EQ(cvNewWithImmutableNodesString(text), set) << text.value_or("(none)");
    }
    const CVIndexSet set({{0, 2}, {5, 5}, {3, 3}});
    EXPECT_EQ(set.count(), 5u);
    EXPECT_TRUE(set.contains(3));
    EXPECT_FALSE(set.contains(4));

    // A list that does not read keeps every node out of path optimisation.
    for (const std::string_view text : {"5-2", "1--2"}) {
        auto doc = network();
        doc["immutableNodes"] = text;
        const auto data = parse(json::array{doc});
        const auto& net = *data->networks()[0];
        EXPECT_TRUE(net.allowPathOptimization());
        EXPECT_FALSE(net.immutableNodeIndexes());
        for (std::uint64_t id = 0; id < 4; ++id) EXPECT_FALSE(net.getGraphNodeByIndex(id)->allowPathOptimization());
    }
}

TEST_F(RouteNetworkParsing, AnswersTheGraphIdOfAPoint) {
    auto wide = network();
    wide["graphId"] = "WIDE";
    wide["graphArea"] =
        json::parse(R"({"type": "Polygon", "coordinates": [[[-1, 50], [1, 50], [1, 52], [-1, 52], [-1, 50]]]})");
    const auto data = parse(json::array{network(), wide});
    ASSERT_EQ(data->networks().size(), 2u);
    // Both areas hold these two, one each side of the meridian: the first network wins.
    EXPECT_EQ(data->getGraphIdFromPoint(CVPoint(51.0005, -0.0005)), "campus-a");
    EXPECT_EQ(data->getGraphIdFromPoint(CVPoint(51.0005, 0.0005)), "campus-a");
    EXPECT_EQ(data->getGraphIdFromPoint(CVPoint(51.5, 0.5)), "wide");
    EXPECT_EQ(data->getGraphIdFromPoint(CVPoint(40.0, 0.0)), std::nullopt);
    EXPECT_EQ(data->networkForGraphId("wide")->graphId(), "WIDE");

    const auto empty = parseText("[]");
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->networks().empty());
    EXPECT_EQ(empty->getGraphIdFromPoint(CVPoint(51.0005, 0.0)), std::nullopt);
    EXPECT_TRUE(empty->networkEntryPointsForRoutingGraphId("campus-a", {}).empty());
}

TEST_F(RouteNetworkParsing, AnswersNearestNodesAndEdges) {
    const auto data = parse(json::array{network()});
    const auto& net = *data->networks()[0];
    // Only three open nodes lie on floor 0 without the staff token.
    EXPECT_EQ(net.closestNodesInNetworkFromCoordinate({51.00005, -0.0003}, 0, 3, {}).size(), 2u);
    EXPECT_EQ(net.closestNodesInNetworkFromCoordinate({51.00005, -0.0003}, 0, 3, {"staff"}).size(), 3u);
    EXPECT_EQ(net.closestNodesInNetworkFromCoordinate({51.00005, -0.0003}, 0, 1, {"staff"})[0]->nodeId(), 0u);

    // Halfway along a one-way edge whose ends lie the same distance away: the `v` end is answered.
    auto tie = network();
    tie["nodeData"] = json::parse("[[510000000, -1000, 0, 0, 0, 0, 0], [510000000, 1000, 0, 0, 0, 0, 0]]");
    tie["edgeData"] = json::parse("[[[0, 1], [0, 0, 14000, 0, 0, 1]]]");
    tie["nodeLabels"] = json::array{};
    tie["nodeAccess"] = json::array{};
    tie["edgeAccess"] = json::array{};
    const auto tied = parse(json::array{tie});
    std::shared_ptr<CVGraphNode> node;
    CVLocationCoordinate3D nearest;
    const auto edge = tied->networks()[0]->closestEdgeInGraphFromCoordinate({51.0, 0.0}, 0, &node, &nearest, {});
    ASSERT_TRUE(edge);
    EXPECT_EQ(edge->u(), 0u);
    ASSERT_TRUE(node);
    EXPECT_EQ(node->nodeId(), 1u);
    EXPECT_EQ(nearest.floor, 0);
    EXPECT_NEAR(nearest.latitude, 51.0, 1e-9);
    EXPECT_NEAR(nearest.longitude, 0.0, 1e-9);
}

// Malformed documents: an error, or a document of no network; never a crash.
TEST_F(RouteNetworkParsing, MalformedDocumentsGiveAnErrorOrNoNetwork) {
    const std::vector<std::string> syntaxErrors = {"", "[", "{\"graphId\":", "[1,]", "nul", std::string(100, '[')};
    for (const auto& text : syntaxErrors) {
        platform::NSError error;
        EXPECT_FALSE(parseText(text, &error)) << text;
        EXPECT_EQ(error.domain, "NSCocoaErrorDomain");
        EXPECT_EQ(error.code, 3840);
    }
    const std::vector<std::string> empty = {"{}",
                                            "null",
                                            "7",
                                            R"("graph")",
                                            R"([1, "x", null, [], {}])",
                                            R"([{"graphId": {"nested": [1, 2, 3]}}])",
                                            R"([{"nodeData": [[1e308, -1e308, 0]], "edgeData": [[[0, 0], []]]}])"};
    for (const auto& text : empty) {
        const auto data = parseText(text);
        ASSERT_TRUE(data) << text;
        EXPECT_TRUE(data->networks().empty()) << text;
    }
}

}  // namespace
}  // namespace ambrell
