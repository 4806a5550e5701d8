#include "routing/Graph/CVGraphNode.h"

#include "routing/Graph/CVGraphDiagnostics.h"
#include "routing/Graph/CVPropertyClassification.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <utility>

namespace ambrell {

std::shared_ptr<CVGraphNode> CVGraphNode::newWithId(std::uint64_t nodeId, CVLocationCoordinate3D coordinate,
                                                    std::shared_ptr<const CVGraphNodePropertyProtocol> properties,
                                                    std::optional<std::string> label, bool allowPathOptimization) {
    if (!properties) return nullptr;
    return std::shared_ptr<CVGraphNode>(
        new CVGraphNode(nodeId, coordinate, std::move(properties), std::move(label), allowPathOptimization));
}

CVGraphNode::CVGraphNode(std::uint64_t nodeId, CVLocationCoordinate3D coordinate,
                         std::shared_ptr<const CVGraphNodePropertyProtocol> properties,
                         std::optional<std::string> label, bool allowPathOptimization)
    : allowPathOptimization_(allowPathOptimization),
      nodeId_(nodeId),
      label_(std::move(label)),
      properties_(std::move(properties)),
      coordinate_(coordinate) {
    barrierType_ = as_CVBarrierType(properties_->barrier().value_or(std::string()));
}

const AXNode& CVGraphNode::axNode() const {
    if (!axNode_) {
        axNode_ = AXNode::NodeWithPosition(AXCoordinate::CoordinateWithLat(coordinate_.latitude, coordinate_.longitude),
                                           static_cast<float>(coordinate_.floor), static_cast<std::int32_t>(nodeId_),
                                           allowPathOptimization_);
    }
    return *axNode_;
}

void CVGraphNode::setProperties(std::shared_ptr<const CVGraphNodePropertyProtocol> properties) {
    properties_ = std::move(properties);
}

void CVGraphNode::setCoordinate(CVLocationCoordinate3D coordinate) {
    coordinate_ = coordinate;
    // The engine's form was made from the old position.
    axNode_.reset();
}

std::uint64_t CVGraphNode::boundary() const { return properties_ ? properties_->boundary() : 0; }

std::optional<std::string> CVGraphNode::barrier() const { return properties_ ? properties_->barrier() : std::nullopt; }

std::optional<std::string> CVGraphNode::floorname() const {
    return properties_ ? properties_->floorname() : std::nullopt;
}

double CVGraphNode::waittime() const { return properties_ ? properties_->waittime() : 0; }

bool CVGraphNode::addConnectionToNode(const CVGraphNode& destinationNode, std::shared_ptr<CVGraphEdge> edge) {
    if (!edge || nodeId_ != edge->u() || destinationNode.nodeId_ != edge->v()) {
        graphdetail::reportInvalidParameter("(self.nodeId == edge.u) && (destinationNode.nodeId == edge.v)",
                                            "-[CVGraphNode addConnectionToNode:viaEdge:]", "routing/Graph/CVGraphNode",
                                            72);
        return false;
    }
    mutableEdges_.push_back(std::move(edge));
    return true;
}

void CVGraphNode::removeConnectionToNode(const CVGraphNode& node) {
    const auto found = std::find_if(mutableEdges_.begin(), mutableEdges_.end(),
                                    [&](const auto& edge) { return edge->v() == node.nodeId_; });
    if (found != mutableEdges_.end()) mutableEdges_.erase(found);
}

void CVGraphNode::removeEdge(const CVGraphEdge* edge) {
    const auto found = std::find_if(mutableEdges_.begin(), mutableEdges_.end(),
                                    [&](const auto& candidate) { return candidate.get() == edge; });
    if (found != mutableEdges_.end()) mutableEdges_.erase(found);
}

std::shared_ptr<CVGraphEdge> CVGraphNode::edgeToNode(const CVGraphNode& node) const {
    for (const auto& edge : mutableEdges_) {
        if (edge->v() == node.nodeId_) return edge;
    }
    return nullptr;
}

bool CVGraphNode::isEqualToNode(const CVGraphNode* node) const {
    const CVLocationCoordinate3D otherCoordinate = node ? node->coordinate_ : CVLocationCoordinate3D{};
    if (nodeId_ != (node ? node->nodeId_ : 0)) return false;
    if (!node || !properties_ || !node->properties_) return false;
    if (!properties_->haveSameGraphNodeProperties(*node->properties_)) return false;
    return coordinate_ == otherCoordinate && restrictions_ == node->restrictions_;
}

std::shared_ptr<CVGraphNode> CVGraphNode::copy() const {
    std::shared_ptr<CVGraphNode> twin(new CVGraphNode(*this));
    return twin;
}

std::string CVGraphNode::debugDescription() const {
    const std::string labelText = label_ && !label_->empty() ? fmt::format("'{}', ", *label_) : std::string();
    auto text = fmt::format("<CVGraphNode {}: {}nodeId={}, lat={}, long={}, floorId={}, allowPathOpt={}>",
                            static_cast<const void*>(this), labelText, nodeId_, coordinate_.latitude,
                            coordinate_.longitude, coordinate_.floor, allowPathOptimization_ ? 1 : 0);
    if (restrictions_) text += fmt::format(", restrictions=[{}]", fmt::join(*restrictions_, ","));
    text += fmt::format(", properties={}", static_cast<const void*>(properties_.get()));
    for (const auto& edge : mutableEdges_) text += fmt::format("\n    {}", edge->debugDescription());
    if (isEntryPoint()) {
        // The order the network's tools print the travel modes in.
        static constexpr std::array<std::pair<std::uint64_t, std::string_view>, 5> kNames = {
            {{1, "CatchAll"}, {4, "Driving"}, {16, "Transit"}, {2, "Walking"}, {8, "Bicycling"}}};
        std::vector<std::string_view> names;
        for (const auto& [bit, name] : kNames) {
            if ((boundary() & bit) != 0) names.push_back(name);
        }
        text += fmt::format(", entry=[{}]", fmt::join(names, ","));
    }
    return text;
}

}  // namespace ambrell
