// Offline routes on the sample solution's route networks: across floors, with
// stairs avoided, up the one-way escalator, and through the staff-only bridge.

#include <gtest/gtest.h>

#include <algorithm>

#include "data/AmbrellLegacy.h"
#include "platform/FileSystem.h"
#include "routemodel/CVRouteNetworkEntryPoint.h"
#include "routing/CVRouteNetwork.h"
#include "routing/CVRouteNetworkData.h"
#include "routing/Graph/CVGraph.h"
#include "tests/support/SampleSolutionService.h"

namespace ambrell {
namespace {

using Nodes = CVRouteNetwork::Nodes;

class RouteNetworkSample : public ::testing::Test {
protected:
    void SetUp() override {
        AmbrellLegacy::setLanguage("en");
        const auto bytes =
            platform::readFile(test::SampleSolutionService::committedSample() / "service" / "sync" / "graph_en.json");
        ASSERT_TRUE(bytes);
        data_ = CVRouteNetworkData::initWithData(*bytes);
        ASSERT_TRUE(data_);
        meridian_ = data_->networkForGraphId("meridian");
        ASSERT_TRUE(meridian_ && meridian_->graph());
    }
    void TearDown() override { AmbrellLegacy::resetForTesting(); }

    // The network's nodes with that label, in id order: the main hall's come
    // before the annex's.
    [[nodiscard]] Nodes labelled(std::string_view label) const {
        Nodes found;
        for (const auto& node : meridian_->graph()->nodes()) {
            if (node->label() == label) found.push_back(node);
        }
        EXPECT_FALSE(found.empty()) << label;
        return found;
    }
    [[nodiscard]] std::vector<CVHighwayType> ways(const Nodes& path) const {
        std::vector<CVHighwayType> types;
        for (const auto& edge : meridian_->edgePathFromNodePath(path)) types.push_back(edge->highway().type());
        return types;
    }
    [[nodiscard]] std::int64_t time(const Nodes& path) const {
        std::int64_t total = 0;
        for (const auto& edge : meridian_->edgePathFromNodePath(path)) total += edge->weight();
        return total;
    }
    [[nodiscard]] std::vector<std::string> staffToken() const {
        return labelled("Staff entrance").front()->restrictions().value_or(std::vector<std::string>{});
    }

    std::shared_ptr<CVRouteNetworkData> data_;
    std::shared_ptr<CVRouteNetwork> meridian_;
};

TEST_F(RouteNetworkSample, FindsAPathAcrossFloors) {
    const auto from = labelled("Office 0.01").front();
    const auto to = labelled("Office 3.01").front();
    const auto path = meridian_->findPathFromNode(from, to, {}, {});
    ASSERT_TRUE(path);
    EXPECT_EQ(path->front(), from);
    EXPECT_EQ(path->back(), to);
    EXPECT_EQ(meridian_->edgePathFromNodePath(*path).size(), path->size() - 1) << "every step is an edge";
    std::set<std::int64_t> floors;
    for (const auto& node : *path) floors.insert(node->coordinate().floor);
    EXPECT_EQ(floors, (std::set<std::int64_t>{0, 1, 2, 3}));
    // Near the west stairs, walking up them is quicker than waiting for the lift.
    EXPECT_EQ(std::ranges::count(ways(*path), CVHighwayType::stairs), 3);
    EXPECT_EQ(std::ranges::count(ways(*path), CVHighwayType::elevator), 0);
}

TEST_F(RouteNetworkSample, AvoidingStairsTakesTheLift) {
    const auto from = labelled("Office 0.01").front();
    const auto to = labelled("Office 3.01").front();
    const auto path = meridian_->findPathFromNode(from, to, {CVHighway::stairs()}, {});
    ASSERT_TRUE(path);
    const auto taken = ways(*path);
    EXPECT_EQ(std::ranges::count(taken, CVHighwayType::stairs), 0);
    EXPECT_GE(std::ranges::count(taken, CVHighwayType::elevator), 2);
}

TEST_F(RouteNetworkSample, TheEscalatorRunsUpOnly) {
    const auto up =
        meridian_->findPathFromNode(labelled("Toilet 0.02").front(), labelled("Toilet 1.02").front(), {}, {});
    ASSERT_TRUE(up);
    EXPECT_EQ(std::ranges::count(ways(*up), CVHighwayType::escalator), 1);
    const auto down =
        meridian_->findPathFromNode(labelled("Toilet 1.02").front(), labelled("Toilet 0.02").front(), {}, {});
    ASSERT_TRUE(down);
    EXPECT_EQ(std::ranges::count(ways(*down), CVHighwayType::escalator), 0);
}

TEST_F(RouteNetworkSample, TheStaffBridgeOpensOnlyToStaff) {
    const auto token = staffToken();
    ASSERT_EQ(token.size(), 1u);
    const CVAccessTokens staff{token.front()};
    const auto hall = labelled("Office 1.01").front();
    const auto annex = labelled("Office 1.08").back();
    const auto restricted = [&](const Nodes& path) {
        const auto edges = meridian_->edgePathFromNodePath(path);
        return std::ranges::count_if(edges, [](const auto& edge) { return edge->restrictions().has_value(); });
    };

    const auto bridged = meridian_->findPathFromNode(hall, annex, {}, staff);
    ASSERT_TRUE(bridged);
    EXPECT_EQ(restricted(*bridged), 1);
    const auto bridgedTime = time(*bridged);
    const auto around = meridian_->findPathFromNode(hall, annex, {}, {"visitor"});
    ASSERT_TRUE(around);
    EXPECT_EQ(restricted(*around), 0);
    EXPECT_GT(time(*around), bridgedTime);

    // The staff entrance is an entry point for staff only.
    const auto labels = [&](const CVAccessTokens& tokens) {
        std::vector<std::string> found;
        for (const auto& entryPoint : data_->networkEntryPointsForRoutingGraphId("meridian", tokens)) {
            found.push_back(entryPoint->label().value_or(""));
        }
        return found;
    };
    EXPECT_EQ(std::ranges::count(labels({}), "Staff entrance"), 0);
    EXPECT_EQ(std::ranges::count(labels(staff), "Staff entrance"), 1);
    EXPECT_EQ(labels(staff).size(), labels({}).size() + 1);
}

}  // namespace
}  // namespace ambrell
