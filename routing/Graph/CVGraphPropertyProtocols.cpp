#include "routing/Graph/CVGraphPropertyProtocols.h"

namespace ambrell {

namespace {

bool bothPresentAndEqual(const std::optional<std::string>& a, const std::optional<std::string>& b) {
    return a && b && *a == *b;
}

}  // namespace

bool CVGraphNodePropertyProtocol::haveSameGraphNodeProperties(const CVGraphNodePropertyProtocol& other) const {
    if (this == &other) return true;
    return boundary() == other.boundary() && waittime() == other.waittime() &&
           bothPresentAndEqual(barrier(), other.barrier()) && bothPresentAndEqual(floorname(), other.floorname());
}

bool CVGraphEdgePropertyProtocol::haveSameGraphEdgeProperties(const CVGraphEdgePropertyProtocol& other) const {
    if (this == &other) return true;
    // Way types are values: equal types are the same way type.
    return directed() == other.directed() && speedFactor() == other.speedFactor() && waittime() == other.waittime() &&
           distance() == other.distance() && highway() == other.highway() &&
           bothPresentAndEqual(context(), other.context());
}

}  // namespace ambrell
