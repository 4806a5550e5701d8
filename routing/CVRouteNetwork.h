#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <boost/json/fwd.hpp>
#include <boost/json/kind.hpp>

#include "Ambrell/CVHighway.h"
#include "platform/Coordinate.h"
#include "routing/CVIndexSet.h"
#include "routing/Graph/CVAccessTokens.h"
#include "routing/Graph/CVLocationCoordinate3D.h"

namespace ambrell {

class CVGraph;
class CVGraphEdge;
class CVGraphNode;
class CVPolygonGeometry;
class CVRouteNetworkValueMapper;

// One route network of a route-network document: a venue's walkable network
// as compact node and edge arrays, decoded into a routing graph.
//
// The network object's keys: "graphId" (text), "graphArea" (a polygon),
// "nodeMapping" and "edgeMapping" (property names and their value lists),
// "nodeData" and "edgeData" (the entries), all required; "flagMapping" (flag
// names), "nodeLabels" (per-node texts by language), "nodeAccess" and
// "edgeAccess" (restrictions by node id or edge position) and
// "immutableNodes" (a range list such as "0-3,7" of nodes that path
// optimisation must not move; its presence allows path optimisation), all
// optional. A key whose value has another JSON type counts as missing.
//
// Built completely on the thread that parses it and only read afterwards,
// except by path searches, which change the graph's search state: one search
// at a time per network.
class CVRouteNetwork {
public:
    using Nodes = std::vector<std::shared_ptr<CVGraphNode>>;
    using Edges = std::vector<std::shared_ptr<CVGraphEdge>>;

    // Null when a required key is missing or a property mapping does not
    // read. A network whose entries do not all read is kept, without graph.
    [[nodiscard]] static std::shared_ptr<CVRouteNetwork> newWithDict(boost::json::object dict);
    // A network of just these three: no raw data, mappers or entries.
    [[nodiscard]] static std::shared_ptr<CVRouteNetwork> initWithGraph(
        std::shared_ptr<CVGraph> graph, std::shared_ptr<const CVPolygonGeometry> graphArea, std::string graphId);
    ~CVRouteNetwork();
    CVRouteNetwork(const CVRouteNetwork&) = delete;
    CVRouteNetwork& operator=(const CVRouteNetwork&) = delete;

    // The raw value of the key when it is of the kind asked for
    // (boost::json::kind::int64 stands for any number); null otherwise.
    [[nodiscard]] const boost::json::value* propertyNamed(std::string_view key, boost::json::kind kind) const;

    // As given; compare graph ids without regard to case.
    [[nodiscard]] const std::optional<std::string>& graphId() const { return graphId_; }
    [[nodiscard]] const boost::json::object* nodeMapping() const { return nodeMapping_; }
    [[nodiscard]] const boost::json::object* edgeMapping() const { return edgeMapping_; }
    [[nodiscard]] const boost::json::array* nodeData() const { return nodeData_; }
    [[nodiscard]] const boost::json::array* edgeData() const { return edgeData_; }
    [[nodiscard]] const boost::json::array* flagMapping() const { return flagMapping_; }
    [[nodiscard]] const boost::json::array* nodeAccess() const { return nodeAccess_; }
    [[nodiscard]] const boost::json::array* edgeAccess() const { return edgeAccess_; }
    [[nodiscard]] const std::optional<std::string>& immutableNodes() const { return immutableNodes_; }
    [[nodiscard]] const boost::json::object* rawData() const;
    [[nodiscard]] const std::shared_ptr<CVGraph>& graph() const { return graph_; }
    [[nodiscard]] const std::shared_ptr<const CVPolygonGeometry>& graphArea() const { return graphArea_; }
    [[nodiscard]] const std::shared_ptr<const CVRouteNetworkValueMapper>& nodeValueMapper() const {
        return nodeValueMapper_;
    }
    [[nodiscard]] const std::shared_ptr<const CVRouteNetworkValueMapper>& edgeValueMapper() const {
        return edgeValueMapper_;
    }

    [[nodiscard]] bool allowPathOptimization() const { return immutableNodes_.has_value(); }
    // None when there is no list or it does not read.
    [[nodiscard]] const std::optional<CVIndexSet>& immutableNodeIndexes() const { return immutableNodeIndexes_; }

    // The graph's node of that id; null without graph.
    [[nodiscard]] std::shared_ptr<CVGraphNode> getGraphNodeByIndex(std::uint64_t index) const;
    [[nodiscard]] std::shared_ptr<CVGraphNode> getGraphNodeLabelByIndex(std::uint64_t index) const;

    // The nodes nearest to the point on the floor that the tokens open,
    // nearest first, at most `max` of them (the graph is asked for twice as
    // many before the closed ones are dropped).
    [[nodiscard]] Nodes closestNodesInNetworkFromCoordinate(CLLocationCoordinate2D coordinate, std::int64_t floor,
                                                            std::int32_t max, const CVAccessTokens& accessTokens) const;
    // The open edge, leaving one of the ten nearest open nodes, that passes
    // nearest to the point; the first found on a tie. `closestCoordinate`
    // gets the edge's nearest point on the query's floor, `closestNode` the
    // edge's nearer open end (the `v` end on a tie).
    [[nodiscard]] std::shared_ptr<CVGraphEdge> closestEdgeInGraphFromCoordinate(
        CLLocationCoordinate2D coordinate, std::int64_t floor, std::shared_ptr<CVGraphNode>* closestNode,
        CVLocationCoordinate3D* closestCoordinate, const CVAccessTokens& accessTokens) const;

    // The offline route: the graph's least-time path, or none (no graph, or no path).
    [[nodiscard]] std::optional<Nodes> findPathFromNode(const std::shared_ptr<CVGraphNode>& start,
                                                        const std::shared_ptr<CVGraphNode>& end,
                                                        const std::vector<CVHighway>& restrictions,
                                                        const CVAccessTokens& accessTokens) const;
    [[nodiscard]] Edges edgePathFromNodePath(const Nodes& path) const;

    // "<CVRouteNetwork 0x...: ID (n nodes, m edges)>" and the graph's own description.
    [[nodiscard]] std::string debugDescription() const;

private:
    struct Raw;

    CVRouteNetwork();
    bool readFields();
    // Builds the graph; true when the network has a graph id.
    bool processRouteNetwork();

    std::unique_ptr<Raw> raw_;
    std::optional<std::string> graphId_;
    const boost::json::object* nodeMapping_ = nullptr;
    const boost::json::object* edgeMapping_ = nullptr;
    const boost::json::array* nodeData_ = nullptr;
    const boost::json::array* edgeData_ = nullptr;
    const boost::json::array* flagMapping_ = nullptr;
    const boost::json::array* nodeAccess_ = nullptr;
    const boost::json::array* edgeAccess_ = nullptr;
    std::optional<std::string> immutableNodes_;
    std::optional<CVIndexSet> immutableNodeIndexes_;
    std::shared_ptr<CVGraph> graph_;
    std::shared_ptr<const CVPolygonGeometry> graphArea_;
    std::shared_ptr<const CVRouteNetworkValueMapper> nodeValueMapper_;
    std::shared_ptr<const CVRouteNetworkValueMapper> edgeValueMapper_;
};

}  // namespace ambrell
