#include "routing/Graph/CVRouteGraphResult.h"

#include "Ambrell/CVLog.h"

#include <fmt/format.h>

namespace ambrell {

CVRouteGraphResult::CVRouteGraphResult(std::vector<std::shared_ptr<CVGraphEdge>> edges,
                                       std::vector<std::shared_ptr<CVGraphNode>> nodes)
    : routedEdges_(std::move(edges)), routedNodes_(std::move(nodes)) {
    for (const auto& node : routedNodes_) {
        if (node) originalNodeDict_.insert_or_assign(node->nodeId(), node);
    }
}

void CVRouteGraphResult::addAXEdge(const AXEdge& axEdge) {
    auto edge = CVRouteEdge::newGraphEdgeWithAXEdge(axEdge);
    const auto routed = [&](std::uint64_t nodeId) -> std::shared_ptr<const CVRouteNodeProtocol> {
        const auto found = originalNodeDict_.find(nodeId);
        return found != originalNodeDict_.end() ? found->second : nullptr;
    };
    const auto u = edge->u();
    const auto v = edge->v();
    addEdge(std::move(edge));
    // An edge's start is the previous edge's end: a node equal to the one
    // stored would replace it with itself.
    const auto stored = nodeDict_.find(u);
    if (stored == nodeDict_.end() || !(stored->second->axNode() == axEdge.u)) {
        addNode(std::make_shared<CVRouteNode>(axEdge.u, routed(u)));
    }
    addNode(std::make_shared<CVRouteNode>(axEdge.v, routed(v)));
}

void CVRouteGraphResult::addEdge(std::shared_ptr<CVRouteEdge> edge) {
    if (edge) mutableEdges_.push_back(std::move(edge));
}

void CVRouteGraphResult::addNode(std::shared_ptr<CVRouteNode> node) {
    if (!node) return;
    const auto nodeId = node->nodeId();
    nodeDict_.insert_or_assign(nodeId, std::move(node));
}

CVRouteGraphResult::NodeView CVRouteGraphResult::getNodeByIndex(std::uint64_t nodeId) const {
    if (const auto found = nodeDict_.find(nodeId); found != nodeDict_.end()) return found->second;
    if (const auto found = originalNodeDict_.find(nodeId); found != originalNodeDict_.end()) return found->second;
    return nullptr;
}

std::vector<CVRouteGraphResult::EdgeView> CVRouteGraphResult::edges() const {
    if (!mutableEdges_.empty()) return {mutableEdges_.begin(), mutableEdges_.end()};
    std::vector<EdgeView> routed;
    routed.reserve(routedEdges_.size());
    for (const auto& edge : routedEdges_) {
        if (edge) routed.push_back(edge);
    }
    return routed;
}

std::vector<CVRouteGraphResult::NodeView> CVRouteGraphResult::nodes() const {
    const auto path = edges();
    if (path.empty()) {
        std::vector<NodeView> routed;
        for (const auto& node : routedNodes_) {
            if (node) routed.push_back(node);
        }
        return routed;
    }
    static constexpr std::string_view kOperation = "-[CVRouteGraphResult nodes]";
    std::vector<NodeView> nodes;
    nodes.reserve(path.size() + 1);
    if (auto first = getNodeByIndex(path.front()->u())) {
        nodes.push_back(std::move(first));
    } else {
        CVLog::core().error("{} {}", kOperation, "[E] Couldn't find node index for the first edge");
    }
    for (const auto& edge : path) {
        if (auto node = getNodeByIndex(edge->v())) {
            nodes.push_back(std::move(node));
        } else {
            CVLog::core().error("{} {}", kOperation, fmt::format("[E] Couldn't find node index ({})", edge->v()));
        }
    }
    return nodes;
}

}  // namespace ambrell
