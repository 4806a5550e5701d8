#include "routing/Graph/CVRouteEdge.h"

#include <fmt/format.h>

namespace ambrell {

std::shared_ptr<CVRouteEdge> CVRouteEdge::newGraphEdgeWithAXEdge(AXEdge axEdge) {
    return std::make_shared<CVRouteEdge>(std::move(axEdge));
}

AXEdge CVRouteEdge::axEdge() const {
    std::lock_guard lock(mutex_);
    return axEdge_;
}

void CVRouteEdge::setAxEdge(AXEdge axEdge) {
    std::lock_guard lock(mutex_);
    axEdge_ = std::move(axEdge);
}

std::uint64_t CVRouteEdge::u() const {
    std::lock_guard lock(mutex_);
    return static_cast<std::uint32_t>(axEdge_.u.nodeId);
}

std::uint64_t CVRouteEdge::v() const {
    std::lock_guard lock(mutex_);
    return static_cast<std::uint32_t>(axEdge_.v.nodeId);
}

CVHighway CVRouteEdge::highway() const {
    std::lock_guard lock(mutex_);
    return CVHighway::withType(axEdge_.highwayType);
}

std::optional<std::string> CVRouteEdge::context() const {
    std::lock_guard lock(mutex_);
    return axEdge_.context;
}

std::uint64_t CVRouteEdge::distance() const {
    std::lock_guard lock(mutex_);
    return axEdge_.distance;
}

double CVRouteEdge::waittime() const {
    std::lock_guard lock(mutex_);
    return static_cast<double>(axEdge_.waittime);
}

std::string CVRouteEdge::debugDescription() const {
    const auto edge = axEdge();
    auto text = fmt::format("<CVRouteEdge {}: {} -> {}", static_cast<const void*>(this),
                            static_cast<std::uint32_t>(edge.u.nodeId), static_cast<std::uint32_t>(edge.v.nodeId));
    text += fmt::format(", highway={}", CVHighway::withType(edge.highwayType).typeString());
    if (!edge.context.empty()) text += fmt::format(", context={}", edge.context);
    text += fmt::format(", dist={}mm", edge.distance);
    if (edge.waittime != 0) text += fmt::format(", waittime={}s", edge.waittime);
    return text + ">";
}

}  // namespace ambrell
