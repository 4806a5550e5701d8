#include "routing/CVGraphWeightCalculator.h"

#include "routing/CVRoutingConstants.h"
#include "routing/Graph/CVGraphDiagnostics.h"
#include "routing/Graph/CVGraphEdge.h"
#include "routing/Graph/CVGraphNode.h"
#include "routing/Graph/CVPropertyClassification.h"

#include <algorithm>
#include <cmath>

namespace ambrell {

namespace {

constexpr std::string_view kOperation = "-[CVGraphWeightCalculator getWeightFromNode:viaEdge:toNode:byAvoiding:]";
constexpr std::string_view kFile = "routing/CVGraphWeightCalculator";

const CVAccessTokens& noTokens() {
    static const CVAccessTokens none;
    return none;
}

}  // namespace

std::int64_t CVGraphWeightCalculator::weightForSeconds(double seconds) {
    const double tenths = seconds * 10;
    if (std::isnan(tenths)) return 0;
    // 2^63 is the first double beyond the weight's range.
    constexpr double kLimit = 9223372036854775808.0;
    if (tenths >= kLimit) return CVGraphEdge::kImpassableWeight;
    if (tenths <= -kLimit) return -CVGraphEdge::kImpassableWeight - 1;
    return static_cast<std::int64_t>(tenths);
}

std::int64_t CVGraphWeightCalculator::getWeightFromNode(const CVGraphNode* from, const CVGraphEdge* edge,
                                                        const CVGraphNode* to, std::span<const CVHighway> avoid) const {
    if (from == nullptr) {
        graphdetail::reportInvalidParameter("from", kOperation, kFile, 22);
        return CVGraphEdge::kImpassableWeight;
    }
    if (to == nullptr) {
        graphdetail::reportInvalidParameter("to", kOperation, kFile, 23);
        return CVGraphEdge::kImpassableWeight;
    }
    if (edge == nullptr) {
        graphdetail::reportInvalidParameter("edge", kOperation, kFile, 24);
        return CVGraphEdge::kImpassableWeight;
    }

    const auto& tokens = accessTokens_ ? *accessTokens_ : noTokens();
    if (!from->isAccessibleWithAccessTokens(tokens) || !to->isAccessibleWithAccessTokens(tokens) ||
        !edge->isAccessibleWithAccessTokens(tokens)) {
        return CVGraphEdge::kImpassableWeight;
    }

    const CVHighway highway = edge->highway();
    double seconds = (static_cast<double>(edge->distance()) / 1000.0) /
                     (CVRoutingConstants::speedForHighwayType(highway) * edge->speedFactor());

    // Each direction pays for the door it enters.
    if (to->barrierType() == CVBarrierType::kGate) {
        seconds += CVRoutingConstants::doorOpeningTime();
    } else if (to->barrierType() == CVBarrierType::kGateElevator) {
        seconds += CVRoutingConstants::elevatorWaitingTime();
    }

    const bool wheelchairWay =
        highway.type() == CVHighwayType::wheelchairlift || highway.type() == CVHighwayType::wheelchairramp;
    if (avoiding_) {
        if (std::find(avoid.begin(), avoid.end(), highway) != avoid.end()) {
            seconds += CVRoutingConstants::avoidStairsPenaltyTime();
        }
    } else if (wheelchairWay) {
        // Walkers stay off wheelchair lifts and ramps unless they avoid
        // something else.
        seconds += CVRoutingConstants::avoidWheelChairLiftsAndRampsPenaltyTime();
    }

    if (const double wait = to->waittime(); wait > 0) seconds += wait;
    if (const double wait = edge->waittime(); wait > 0) seconds += wait;
    return weightForSeconds(seconds);
}

}  // namespace ambrell
