#include "routing/Graph/CVRouteNode.h"

#include <fmt/format.h>

namespace ambrell {

CVLocationCoordinate3D CVRouteNode::coordinate() const {
    return {axNode_.position.lat, axNode_.position.lng, graphNode_ ? graphNode_->coordinate().floor : 0};
}

const std::optional<std::string>& CVRouteNode::label() const {
    static const std::optional<std::string> kNone;
    return graphNode_ ? graphNode_->label() : kNone;
}

std::string CVRouteNode::debugDescription() const {
    const auto& name = label();
    const std::string labelText = name && !name->empty() ? fmt::format("'{}', ", *name) : std::string();
    const auto at = coordinate();
    return fmt::format("<CVRouteNode {}: {}nodeId={}, lat={}, long={}, floorId={}>", static_cast<const void*>(this),
                       labelText, nodeId(), at.latitude, at.longitude, at.floor);
}

}  // namespace ambrell
