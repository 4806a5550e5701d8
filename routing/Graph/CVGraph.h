#pragma once

#include "Ambrell/CVHighway.h"
#include "Source/AXCommon/AXObjectBoundingboxHittester.h"
#include "platform/Coordinate.h"
#include "routing/CVGraphWeightCalculator.h"
#include "routing/Graph/CVAccessTokens.h"
#include "routing/Graph/CVGraphEdge.h"
#include "routing/Graph/CVGraphNode.h"
#include "routing/Graph/CVLocationCoordinate3D.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace ambrell {

class CVPreparedSearchGraph;

// The routing graph of one route network: nodes (ids 0..n-1 in list order)
// and their weighted out-arcs. Besides the network it holds what changes
// between searches: the avoid list, the access tokens, temporary nodes and
// arcs around the network, and the caches of the spatial queries.
//
// Not synchronised: one thread at a time, searches included (every search
// replaces the avoid list and the tokens).
class CVGraph {
public:
    using NodePtr = std::shared_ptr<CVGraphNode>;
    using EdgePtr = std::shared_ptr<CVGraphEdge>;
    using Nodes = std::vector<NodePtr>;
    using Edges = std::vector<EdgePtr>;

    // Links and weighs every edge (an undirected one also as its reversed
    // twin, weighed in its own direction). Null when a node or edge is null.
    // An edge whose end names no node is logged, stays unlinked and weighs as
    // impassable.
    [[nodiscard]] static std::shared_ptr<CVGraph> newWithNodes(Nodes nodes, Edges edges, Nodes entryPointNodes);

    ~CVGraph();
    CVGraph(const CVGraph&) = delete;
    CVGraph& operator=(const CVGraph&) = delete;

    [[nodiscard]] const Nodes& nodes() const { return nodes_; }
    [[nodiscard]] const Nodes& entryPointNodes() const { return entryPointNodes_; }
    // Every permanent node's out-arcs in node order (both directions of an
    // undirected edge, and temporary arcs leaving permanent nodes).
    [[nodiscard]] const Edges& edges();
    // Edges given at creation.
    [[nodiscard]] std::uint64_t edgeCount() const { return edgeCount_; }
    // Nodes whose restrictions are set (even empty).
    [[nodiscard]] const Nodes& restrictedGraphNodes();
    // Arcs (twins included) whose own, from-node's or to-node's restrictions are set.
    [[nodiscard]] const Edges& restrictedGraphEdges() const { return restrictedGraphEdges_; }
    [[nodiscard]] const Nodes& temporaryGraphNodes() const { return temporaryGraphNodes_; }
    [[nodiscard]] const Edges& temporaryGraphEdges() const { return temporaryGraphEdges_; }
    // The arcs whose way type is in the avoid list they were collected for.
    [[nodiscard]] const Edges& avoidEdges() const { return avoidEdges_; }
    [[nodiscard]] CVGraphWeightCalculator& graphWeightCalculator() { return graphWeightCalculator_; }
    // The avoid list of the last search (none before the first).
    [[nodiscard]] const std::optional<std::vector<CVHighway>>& avoid() const { return avoid_; }
    [[nodiscard]] const std::optional<std::vector<CVHighway>>& userDefinedAvoid() const { return userDefinedAvoid_; }
    [[nodiscard]] const CVAccessTokens& accessTokens() const { return accessTokens_; }
    // Arcs to re-weigh before the next search.
    [[nodiscard]] std::size_t graphEdgesNeedingWeightUpdateCount() const {
        return graphEdgesNeedingWeightUpdate_.size();
    }

    // The permanent node with that id, else the temporary one, else null.
    [[nodiscard]] NodePtr nodeAtIndex(std::uint64_t nodeId) const;
    [[nodiscard]] std::uint64_t nodeIdForFirstTemporaryGraphNode() const { return nodes_.size(); }
    [[nodiscard]] std::optional<Edges> edgesForNodeAtIndex(std::uint64_t nodeId) const;

    // The least-time path from start to end avoiding the given way types and
    // opened by the tokens: the nodes from start to end, or none when start or
    // end is not this graph's node, no path exists, or every path crosses a
    // closed node or arc.
    [[nodiscard]] std::optional<Nodes> findPathFromNode(const NodePtr& startNode, const NodePtr& endNode,
                                                        std::optional<std::vector<CVHighway>> restrictions,
                                                        const CVAccessTokens& accessTokens);
    // For each step the out-arc to the next node the search took: of parallel
    // arcs the lightest passable one under the last search's avoid list and
    // tokens (the first of equals; the first arc when none is passable).
    // Empty below two nodes.
    [[nodiscard]] Edges edgePathFromNodePath(const Nodes& path) const;

    // The weight upkeep each search runs, in this order. A list equal up to
    // order to the current one changes nothing.
    void setRestrictions(std::optional<std::vector<CVHighway>> avoid);
    void setAccessTokens(const CVAccessTokens& accessTokens);
    void updateGraphEdgeWeights();

    // Permanent nodes within radius metres (0: any distance), nearest first,
    // at most maxResults (0: all); equal distances keep id order. A floor of
    // CVLocationCoordinate3D::kEveryFloor takes every floor.
    [[nodiscard]] Nodes closestNodesToCoordinate(CVLocationCoordinate3D coordinate, double radius,
                                                 std::uint64_t maxResults) const;
    // The same over edges(), measured to the nearest point of each arc; an
    // arc is on a floor when either end is.
    [[nodiscard]] Edges closestEdgesToCoordinate(CVLocationCoordinate3D coordinate, double radius,
                                                 std::uint64_t maxResults);
    // Passable permanent arcs with both ends on the floor whose boxes overlap
    // the rectangle; an undirected edge once.
    [[nodiscard]] Edges edgesWithBoundingBoxOverlappingNorthEast(CLLocationCoordinate2D northEast,
                                                                 CLLocationCoordinate2D southWest, std::int64_t floor);

    // Replaces the temporary nodes and arcs (the previous ones are cleared
    // first). Temporary node ids continue the permanent ones in list order;
    // arcs are weighed with the current avoid list and tokens and linked, an
    // undirected one in both directions. Refused (false, nothing added) when
    // a node id is out of sequence, or an arc is null or names no node.
    bool setTemporaryGraphNodes(Nodes nodes, Edges edges);
    // Unlinks every temporary arc; the graph is as before they were set.
    void clearTemporaryGraphNodesAndEdges();

    [[nodiscard]] std::string debugDescription() const;

    // Debug snapshot of the adjacency, process-wide.
    [[nodiscard]] static std::string createAdjacentStateFromNode(const CVGraphNode& node);
    void initDebugGraphAdjacentStateIfNeeded() const;
    [[nodiscard]] std::vector<std::string> debugGraphAdjacentStateChanges() const;
    [[nodiscard]] static std::optional<std::vector<std::string>> debugGraphAdjacentState();
    void debugPath(const Nodes& path) const;

private:
    CVGraph(Nodes nodes, Nodes entryPointNodes, std::size_t edgeCount);

    void linkPermanentEdges(const Edges& edges);
    std::int64_t weigh(const CVGraphEdge& edge) const;
    void updateAvoidingEdges(const std::vector<CVHighway>& avoid);
    void queueTemporaryEdges();
    void buildEdgeHitTester();

    Nodes nodes_;
    Nodes entryPointNodes_;
    std::optional<Edges> edges_;
    std::uint64_t edgeCount_ = 0;
    std::optional<Nodes> restrictedGraphNodes_;
    Edges restrictedGraphEdges_;
    Nodes temporaryGraphNodes_;
    Edges temporaryGraphEdges_;
    // Every arc the temporaries linked (twins included), to unlink exactly those.
    Edges temporaryArcs_;
    Edges avoidEdges_;
    CVGraphWeightCalculator graphWeightCalculator_;
    std::optional<std::vector<CVHighway>> avoid_;
    std::optional<std::vector<CVHighway>> userDefinedAvoid_;
    CVAccessTokens accessTokens_;
    std::unordered_set<EdgePtr> graphEdgesNeedingWeightUpdate_;
    // The permanent arcs, in node order; the edge index's tags point here, so
    // temporaries coming and going never shift them.
    Edges permanentEdges_;
    std::optional<std::map<std::int64_t, AXObjectBoundingboxHittester>> edgeHitTester_;
    // The arcs of the last search, prepared for the path finder; dropped
    // whenever the arcs change (temporaries set or cleared), its weights
    // refreshed whenever the upkeep re-weighed anything since.
    std::shared_ptr<CVPreparedSearchGraph> searchGraph_;
    // Arcs re-weighed since the prepared weights were last refreshed.
    Edges reweighedSinceRefresh_;
    // The permanent wheelchair ramps and lifts, found on first need: their
    // penalty follows whether anything is avoided.
    std::optional<Edges> wheelchairEdges_;
};

}  // namespace ambrell
