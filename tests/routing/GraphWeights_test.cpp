#include "routing/CVGraphWeightCalculator.h"
#include "routing/CVRoutingConstants.h"
#include "routing/Graph/CVGraphEdge.h"
#include "routing/Graph/CVGraphNode.h"
#include "routing/Graph/CVManualGraphProperties.h"

#include "tests/support/CapturingLogSink.h"

#include <gtest/gtest.h>

#include <limits>

namespace ambrell::graph_weights_test {
namespace {

constexpr std::int64_t kClosed = CVGraphEdge::kImpassableWeight;

std::shared_ptr<CVGraphNode> node(std::uint64_t id, std::optional<std::string> barrier = std::nullopt,
                                  double waittime = 0) {
    return CVGraphNode::newWithId(
        id, {55, 12, 0},
        CVManualGraphNodeProperties::newGraphNodePropertiesWithBoundary(0, std::move(barrier), "Ground", waittime),
        std::nullopt);
}

std::shared_ptr<CVGraphEdge> edge(CVHighway highway, std::uint64_t millimetres, double speedFactor = 1,
                                  double waittime = 0) {
    auto properties = CVManualGraphEdgeProperties::newGraphEdgePropertiesWithContext(std::nullopt, highway, millimetres,
                                                                                     1, waittime, false);
    properties->setSpeedFactor(speedFactor);
    return CVGraphEdge::newGraphEdgeBetween(0, 1, properties);
}

TEST(CVRoutingConstants, SpeedsPerWayType) {
    const std::pair<std::optional<CVHighway>, double> speeds[] = {
        {CVHighway::unclassified(), 1.3},
        {CVHighway::footway(), 1.3},
        {CVHighway::residential(), 1.3},
        {CVHighway::service(), 1.3},
        {CVHighway::ramp(), 1.0},
        {CVHighway::stairs(), 0.7},
        {CVHighway::escalator(), 1.5},
        {CVHighway::travelator(), 2.0},
        {CVHighway::elevator(), 1.3},
        {CVHighway::wheelchairramp(), 0.5},
        {CVHighway::wheelchairlift(), 0.5},
        {CVHighway::ladder(), 0.25},
        {std::nullopt, 1.3},
    };
    for (const auto& [highway, speed] : speeds) {
        EXPECT_DOUBLE_EQ(CVRoutingConstants::speedForHighwayType(highway), speed)
            << (highway ? highway->typeString() : "none");
    }
}

TEST(CVGraphWeightCalculator, WeighsTimeWithDelaysAndPenalties) {
    const std::vector<CVHighway> avoidStairs = {CVHighway::stairs()};
    const std::vector<CVHighway> avoidLadders = {CVHighway::ladder()};
    struct Case {
        const char* name;
        std::shared_ptr<CVGraphEdge> edge;
        std::shared_ptr<CVGraphNode> to;
        bool avoiding;
        std::vector<CVHighway> avoid;
        std::int64_t weight;
    };
    const Case cases[] = {
        {"Footway", edge(CVHighway::footway(), 13000), node(1), false, {}, 100},
        {"IntoGate", edge(CVHighway::footway(), 13000), node(1, "gate"), false, {}, 120},
        {"IntoLiftGate", edge(CVHighway::footway(), 13000), node(1, "gateelevator"), false, {}, 300},
        {"Stairs", edge(CVHighway::stairs(), 7000), node(1), false, {}, 100},
        {"StairsAvoided", edge(CVHighway::stairs(), 7000), node(1), true, avoidStairs, 3100},
        {"StairsWhileAvoidingOther", edge(CVHighway::stairs(), 7000), node(1), true, avoidLadders, 100},
        {"WheelchairRamp", edge(CVHighway::wheelchairramp(), 500), node(1), false, {}, 3010},
        {"WheelchairRampWhileAvoiding", edge(CVHighway::wheelchairramp(), 500), node(1), true, avoidLadders, 10},
        {"WheelchairLift", edge(CVHighway::wheelchairlift(), 500), node(1), false, {}, 3010},
        {"Truncated", edge(CVHighway::travelator(), 24680), node(1), false, {}, 123},
        {"Waits", edge(CVHighway::footway(), 0, 1, 4.5), node(1, std::nullopt, 2), false, {}, 65},
        {"NegativeWaitsIgnored", edge(CVHighway::footway(), 0, 1, -4), node(1, std::nullopt, -2), false, {}, 0},
        {"HalfSpeed", edge(CVHighway::footway(), 13000, 0.5), node(1), false, {}, 200},
        {"ZeroSpeedFactor", edge(CVHighway::footway(), 13000, 0), node(1), false, {}, kClosed},
        {"NotANumber", edge(CVHighway::footway(), 0, 0), node(1), false, {}, 0},
        {"Huge",
         edge(CVHighway::ladder(), std::numeric_limits<std::uint64_t>::max(), 1e-300),
         node(1),
         false,
         {},
         kClosed},
    };
    for (const auto& c : cases) {
        CVGraphWeightCalculator calculator;
        calculator.setAvoiding(c.avoiding);
        EXPECT_EQ(calculator.getWeightFromNode(node(0).get(), c.edge.get(), c.to.get(), c.avoid), c.weight) << c.name;
    }
}

TEST(CVGraphWeightCalculator, ClosesWhatTheTokensDoNotOpen) {
    const auto from = node(0);
    const auto to = node(1);
    const auto restricted = edge(CVHighway::footway(), 13000);
    restricted->setRestrictions(std::vector<std::string>{"staff"});
    CVGraphWeightCalculator calculator;
    EXPECT_EQ(calculator.getWeightFromNode(from.get(), restricted.get(), to.get(), {}), kClosed);
    calculator.setAccessTokens(CVAccessTokens{"guest"});
    EXPECT_EQ(calculator.getWeightFromNode(from.get(), restricted.get(), to.get(), {}), kClosed);
    calculator.setAccessTokens(CVAccessTokens{"guest", "staff"});
    EXPECT_EQ(calculator.getWeightFromNode(from.get(), restricted.get(), to.get(), {}), 100);

    const auto open = edge(CVHighway::footway(), 13000);
    CVGraphWeightCalculator noTokens;
    EXPECT_EQ(noTokens.getWeightFromNode(from.get(), open.get(), to.get(), {}), 100);
    to->setRestrictions(std::vector<std::string>{"staff"});
    EXPECT_EQ(noTokens.getWeightFromNode(from.get(), open.get(), to.get(), {}), kClosed);
    to->setRestrictions(std::vector<std::string>{});
    EXPECT_EQ(noTokens.getWeightFromNode(from.get(), open.get(), to.get(), {}), 100);
}

TEST(CVGraphWeightCalculator, MissingArgumentIsReportedAndImpassable) {
    const test::ScopedLogCapture capture;
    const auto from = node(0);
    const auto to = node(1);
    const auto arc = edge(CVHighway::footway(), 13000);
    CVGraphWeightCalculator calculator;
    EXPECT_EQ(calculator.getWeightFromNode(nullptr, arc.get(), to.get(), {}), kClosed);
    EXPECT_EQ(calculator.getWeightFromNode(from.get(), arc.get(), nullptr, {}), kClosed);
    EXPECT_EQ(calculator.getWeightFromNode(from.get(), nullptr, to.get(), {}), kClosed);
    std::vector<std::string> lines;
    for (const auto& entry : capture.sink().messages()) lines.push_back(entry.message);
    ASSERT_EQ(lines.size(), 3U);
    EXPECT_NE(lines[0].find("Invalid parameter not satisfying: from in -[CVGraphWeightCalculator "
                            "getWeightFromNode:viaEdge:toNode:byAvoiding:] (routing/CVGraphWeightCalculator:22)."),
              std::string::npos);
    EXPECT_NE(lines[1].find("not satisfying: to in"), std::string::npos);
    EXPECT_NE(lines[2].find("not satisfying: edge in"), std::string::npos);
}

TEST(CVGraphWeightCalculator, SaturatesTheConversion) {
    const std::pair<double, std::int64_t> cases[] = {
        {12.34, 123},
        {std::numeric_limits<double>::quiet_NaN(), 0},
        {std::numeric_limits<double>::infinity(), kClosed},
        {9.3e17, kClosed},
        {-std::numeric_limits<double>::infinity(), std::numeric_limits<std::int64_t>::min()},
        {-0.05, 0},
    };
    for (const auto& [seconds, weight] : cases) {
        EXPECT_EQ(CVGraphWeightCalculator::weightForSeconds(seconds), weight) << seconds;
    }
}

}  // namespace
}  // namespace ambrell::graph_weights_test
