#pragma once

#include "Source/AXCommon/AXNode.h"
#include "routing/Graph/CVAccessTokens.h"
#include "routing/Graph/CVGraphEdge.h"
#include "routing/Graph/CVGraphPropertyProtocols.h"
#include "routing/Graph/CVRouteProtocols.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ambrell {

// A vertex of a routing graph: a point of the walkable network on a floor,
// with its out-arcs in the order they were added. Its id is its index in the
// graph's node list.
class CVGraphNode final : public CVRouteNodeProtocol {
public:
    // Null without properties. The barrier kind is read from the properties
    // once, here.
    [[nodiscard]] static std::shared_ptr<CVGraphNode> newWithId(
        std::uint64_t nodeId, CVLocationCoordinate3D coordinate,
        std::shared_ptr<const CVGraphNodePropertyProtocol> properties, std::optional<std::string> label,
        bool allowPathOptimization = true);

    // Whether path optimisation may move this node.
    [[nodiscard]] bool allowPathOptimization() const { return allowPathOptimization_; }
    // CVBarrierType: the weights add the door time for a gate and the lift
    // wait for a lift gate when an arc enters this node.
    [[nodiscard]] std::uint8_t barrierType() const { return barrierType_; }
    void setBarrierType(std::uint8_t barrierType) { barrierType_ = barrierType; }
    // The search engine's form, made on first use (ids wider than 31 bits do
    // not fit and wrap).
    [[nodiscard]] const AXNode& axNode() const;

    [[nodiscard]] std::uint64_t nodeId() const override { return nodeId_; }
    [[nodiscard]] const std::optional<std::string>& label() const override { return label_; }
    // None or empty: open to everybody.
    [[nodiscard]] const std::optional<std::vector<std::string>>& restrictions() const { return restrictions_; }
    void setRestrictions(std::optional<std::vector<std::string>> restrictions) {
        restrictions_ = std::move(restrictions);
    }
    [[nodiscard]] const std::shared_ptr<const CVGraphNodePropertyProtocol>& properties() const { return properties_; }
    void setProperties(std::shared_ptr<const CVGraphNodePropertyProtocol> properties);
    [[nodiscard]] std::vector<std::shared_ptr<CVGraphEdge>>& mutableEdges() { return mutableEdges_; }
    [[nodiscard]] const std::vector<std::shared_ptr<CVGraphEdge>>& mutableEdges() const { return mutableEdges_; }
    void setMutableEdges(std::vector<std::shared_ptr<CVGraphEdge>> edges) { mutableEdges_ = std::move(edges); }
    // A copy of the out-arcs.
    [[nodiscard]] std::vector<std::shared_ptr<CVGraphEdge>> edges() const { return mutableEdges_; }
    [[nodiscard]] CVLocationCoordinate3D coordinate() const override { return coordinate_; }
    void setCoordinate(CVLocationCoordinate3D coordinate);

    [[nodiscard]] std::uint64_t boundary() const;
    // The low 8 bits of the boundary (CVBoundaryType bits).
    [[nodiscard]] std::uint8_t boundaryType() const { return static_cast<std::uint8_t>(boundary()); }
    [[nodiscard]] bool isEntryPoint() const { return boundary() != 0; }
    [[nodiscard]] std::optional<std::string> barrier() const;
    [[nodiscard]] std::optional<std::string> floorname() const;
    [[nodiscard]] double waittime() const override;

    // Appends the arc. Refused (false, logged as an invalid parameter) unless
    // the arc runs from this node to the destination.
    bool addConnectionToNode(const CVGraphNode& destinationNode, std::shared_ptr<CVGraphEdge> edge);
    // Removes the first out-arc to the node, if any.
    void removeConnectionToNode(const CVGraphNode& node);
    // Removes that very arc, if it is an out-arc of this node.
    void removeEdge(const CVGraphEdge* edge);
    // The first out-arc to the node, or null.
    [[nodiscard]] std::shared_ptr<CVGraphEdge> edgeToNode(const CVGraphNode& node) const;

    [[nodiscard]] bool isAccessibleWithAccessTokens(const CVAccessTokens& accessTokens) const {
        return isAccessible(restrictions_, accessTokens);
    }

    // Ids, properties, exact position and restrictions equal; a missing node
    // compares as id 0 at (0, 0, 0).
    [[nodiscard]] bool isEqualToNode(const CVGraphNode* node) const;

    // Coordinate, properties, barrier kind, restrictions, label, id and
    // optimisation flag, with its own copy of the out-arc list.
    [[nodiscard]] std::shared_ptr<CVGraphNode> copy() const;

    [[nodiscard]] std::string debugDescription() const;

private:
    CVGraphNode(std::uint64_t nodeId, CVLocationCoordinate3D coordinate,
                std::shared_ptr<const CVGraphNodePropertyProtocol> properties, std::optional<std::string> label,
                bool allowPathOptimization);

    bool allowPathOptimization_ = true;
    std::uint8_t barrierType_ = 0;
    mutable std::optional<AXNode> axNode_;
    std::uint64_t nodeId_ = 0;
    std::optional<std::string> label_;
    std::optional<std::vector<std::string>> restrictions_;
    std::shared_ptr<const CVGraphNodePropertyProtocol> properties_;
    std::vector<std::shared_ptr<CVGraphEdge>> mutableEdges_;
    CVLocationCoordinate3D coordinate_;
};

}  // namespace ambrell
