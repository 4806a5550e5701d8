#include "routing/Graph/CVGraphEdge.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace ambrell {

CVGraphEdge::CVGraphEdge(std::uint64_t u, std::uint64_t v,
                         std::shared_ptr<const CVGraphEdgePropertyProtocol> properties)
    : weighted_(true),
      u_(u),
      v_(v),
      highway_(properties ? properties->highway() : CVHighway()),
      properties_(std::move(properties)) {}

std::shared_ptr<CVGraphEdge> CVGraphEdge::newGraphEdgeBetween(
    std::uint64_t u, std::uint64_t v, std::shared_ptr<const CVGraphEdgePropertyProtocol> properties) {
    return std::make_shared<CVGraphEdge>(u, v, std::move(properties));
}

double CVGraphEdge::waittime() const { return properties_ ? properties_->waittime() : 0; }

std::optional<std::string> CVGraphEdge::context() const { return properties_ ? properties_->context() : std::nullopt; }

std::uint64_t CVGraphEdge::distance() const { return properties_ ? properties_->distance() : 0; }

bool CVGraphEdge::directed() const { return properties_ && properties_->directed(); }

double CVGraphEdge::speedFactor() const { return properties_ ? properties_->speedFactor() : 1.0; }

std::shared_ptr<CVGraphEdge> CVGraphEdge::reversed() const {
    auto twin = copy();
    std::swap(twin->u_, twin->v_);
    return twin;
}

std::shared_ptr<CVGraphEdge> CVGraphEdge::copy() const {
    auto twin = std::make_shared<CVGraphEdge>();
    twin->weighted_ = weighted_;
    twin->u_ = u_;
    twin->v_ = v_;
    twin->weight_ = weight_;
    twin->highway_ = highway_;
    twin->restrictions_ = restrictions_;
    twin->properties_ = properties_;
    return twin;
}

AXEdge CVGraphEdge::axEdgeWithNodeU(const AXNode& u, const AXNode& v) const {
    // The record holds 32-bit millimetres and whole seconds: larger values are
    // held at the largest, and a wait that is not a number counts as none.
    const auto millimetres =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(distance(), std::numeric_limits<std::uint32_t>::max()));
    const double wait = waittime();
    std::int32_t seconds = 0;
    if (wait >= static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
        seconds = std::numeric_limits<std::int32_t>::max();
    } else if (wait <= static_cast<double>(std::numeric_limits<std::int32_t>::min())) {
        seconds = std::numeric_limits<std::int32_t>::min();
    } else if (!std::isnan(wait)) {
        seconds = static_cast<std::int32_t>(wait);
    }
    return AXEdge::EdgeWithU(u, v, highway().rawType(), millimetres, context().value_or(std::string()), seconds);
}

bool CVGraphEdge::isEqualToEdge(const CVGraphEdge* edge) const {
    if (edge == nullptr) return false;
    if (edge == this) return true;
    if (u_ != edge->u_ || v_ != edge->v_ || weighted_ != edge->weighted_ || weight_ != edge->weight_ ||
        highway() != edge->highway()) {
        return false;
    }
    if (properties_ && edge->properties_) {
        if (!properties_->haveSameGraphEdgeProperties(*edge->properties_)) return false;
    } else if (properties_ || edge->properties_) {
        return false;
    }
    return restrictions_ == edge->restrictions_;
}

std::string CVGraphEdge::debugDescription() const {
    auto text = fmt::format("<CVGraphEdge {}: {} -> {}", static_cast<const void*>(this), u_, v_);
    if (weighted_) text += fmt::format(", weight={}", weight_);
    if (directed()) text += ", directed";
    text += fmt::format(", properties={}", static_cast<const void*>(properties_.get()));
    if (restrictions_) text += fmt::format(", restrictions=[{}]", fmt::join(*restrictions_, ","));
    text += ">";
    return text;
}

}  // namespace ambrell
