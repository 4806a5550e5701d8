#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "Source/AXCommon/AXEdge.h"
#include "routing/Graph/CVGraphEdge.h"
#include "routing/Graph/CVGraphNode.h"
#include "routing/Graph/CVRouteEdge.h"
#include "routing/Graph/CVRouteNode.h"

namespace ambrell {

// What path optimisation answers: the straightened path beside the routed
// one, both read through the route node and edge views. Until a straightened
// edge is added it reports the routed path. One thread at a time.
class CVRouteGraphResult {
public:
    using EdgeView = std::shared_ptr<const CVRouteEdgeProtocol>;
    using NodeView = std::shared_ptr<const CVRouteNodeProtocol>;

    CVRouteGraphResult() = default;
    // The routed path: its edges, and its nodes by id (a later node of an id
    // replaces an earlier one).
    CVRouteGraphResult(std::vector<std::shared_ptr<CVGraphEdge>> edges,
                       std::vector<std::shared_ptr<CVGraphNode>> nodes);

    // Wraps a straightened edge, and its ends as nodes that take floor, wait
    // time and label from the routed node of the same id.
    void addAXEdge(const AXEdge& axEdge);
    void addEdge(std::shared_ptr<CVRouteEdge> edge);
    // Replaces the node of its id.
    void addNode(std::shared_ptr<CVRouteNode> node);

    // The straightened node of the id, else the routed one, else null.
    [[nodiscard]] NodeView getNodeByIndex(std::uint64_t nodeId) const;
    // The straightened edges, or the routed ones while there are none.
    [[nodiscard]] std::vector<EdgeView> edges() const;
    // The first edge's start and every edge's end, in order (a missing one is
    // logged and left out); with no edges, the routed nodes as given.
    [[nodiscard]] std::vector<NodeView> nodes() const;

    [[nodiscard]] const std::vector<std::shared_ptr<CVGraphEdge>>& routedEdges() const { return routedEdges_; }
    [[nodiscard]] const std::vector<std::shared_ptr<CVRouteEdge>>& mutableEdges() const { return mutableEdges_; }
    [[nodiscard]] const std::map<std::uint64_t, std::shared_ptr<CVRouteNode>>& nodeDict() const { return nodeDict_; }
    [[nodiscard]] const std::map<std::uint64_t, std::shared_ptr<CVGraphNode>>& originalNodeDict() const {
        return originalNodeDict_;
    }

private:
    std::vector<std::shared_ptr<CVGraphEdge>> routedEdges_;
    std::vector<std::shared_ptr<CVGraphNode>> routedNodes_;
    std::map<std::uint64_t, std::shared_ptr<CVRouteNode>> nodeDict_;
    std::map<std::uint64_t, std::shared_ptr<CVGraphNode>> originalNodeDict_;
    std::vector<std::shared_ptr<CVRouteEdge>> mutableEdges_;
};

}  // namespace ambrell
