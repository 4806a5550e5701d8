#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Source/AXCommon/AXNode.h"
#include "routing/Graph/CVRouteProtocols.h"

namespace ambrell {

// A node of a straightened path: the search engine's record, with floor, wait
// time and label from the routed path's node of the same id when there is one.
class CVRouteNode final : public CVRouteNodeProtocol {
public:
    CVRouteNode(AXNode axNode, std::shared_ptr<const CVRouteNodeProtocol> graphNode)
        : axNode_(axNode), graphNode_(std::move(graphNode)) {}

    [[nodiscard]] const AXNode& axNode() const { return axNode_; }
    [[nodiscard]] const std::shared_ptr<const CVRouteNodeProtocol>& graphNode() const { return graphNode_; }

    // The record's 32-bit id, widened.
    [[nodiscard]] std::uint64_t nodeId() const override { return static_cast<std::uint32_t>(axNode_.nodeId); }
    // The record's position on the graph node's floor (0 without one; the
    // record's altitude is not read).
    [[nodiscard]] CVLocationCoordinate3D coordinate() const override;
    // 0 without a graph node.
    [[nodiscard]] double waittime() const override { return graphNode_ ? graphNode_->waittime() : 0; }
    // None without a graph node.
    [[nodiscard]] const std::optional<std::string>& label() const override;

    // "<CVRouteNode 0x…: 'Office 1.01', nodeId=4, lat=…, long=…, floorId=1>"
    [[nodiscard]] std::string debugDescription() const;

private:
    AXNode axNode_;
    std::shared_ptr<const CVRouteNodeProtocol> graphNode_;
};

}  // namespace ambrell
