#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/runtime/BlockingWait.h"
#include "platform/runtime/ThreadPool.h"
#include "routemodel/CVExternalDirectionsService.h"
#include "routemodel/CVExternalDistanceMatrixService.h"
#include "routemodel/CVRouteNetworkEntryPoint.h"

namespace ambrell {
namespace {

// An adapter as a map provider would write one: it answers with route-model
// objects built from what it was asked.
class OutdoorAdapter final : public CVExternalDirectionsService, public CVExternalDistanceMatrixService {
public:
    platform::Awaitable<std::shared_ptr<CVRouteInternal>> query(CLLocationCoordinate2D origin,
                                                               CLLocationCoordinate2D destination,
                                                               CVDirectionsConfig config) override {
        if (config.travelMode != "walking") throw std::runtime_error("unsupported travel mode");
        if (origin == destination) co_return nullptr;
        auto leg = std::make_shared<CVRouteLegInternal>();
        leg->setRouteLegType(CVRouteLegType::outdoor);
        leg->setEnd_address(config.language);
        auto route = std::make_shared<CVRouteInternal>();
        route->setLegs({leg});
        co_return route;
    }

    platform::Awaitable<std::optional<CVDistanceMatrixResult>> query(Coordinates origins, Coordinates destinations,
                                                                     CVDirectionsConfig) override {
        CVDistanceMatrixResult result;
        result.origin_addresses.emplace();
        for (const auto& origin : origins) {
            result.origin_addresses->push_back(CVPoint(origin.latitude, origin.longitude).latLongString());
        }
        result.destination_addresses = std::vector<std::string>(destinations.size(), "outside");
        co_return result;
    }

    // Keeps the first two origins, as a service with a small matrix limit would.
    std::pair<Points, Points> pruneMatrixDimensions(Points origins, Points destinations) override {
        if (origins.size() > 2) origins.resize(2);
        return {std::move(origins), std::move(destinations)};
    }
};

template <typename T>
T wait(platform::Awaitable<T> work) {
    return platform::blockingWait(platform::ThreadPool::shared().makeStrand(), std::move(work));
}

TEST(OutdoorServices, DirectionsAnswerARouteNoneOrAnError) {
    OutdoorAdapter adapter;
    CVExternalDirectionsService& service = adapter;
    CVDirectionsConfig config;
    config.travelMode = "walking";
    config.language = "da";
    const auto route = wait(service.query({57.0434, 9.9191}, {57.049, 9.929}, config));
    ASSERT_NE(route, nullptr);
    EXPECT_EQ(route->legsInternal().at(0)->routeLegType(), CVRouteLegType::outdoor);
    EXPECT_EQ(route->legsInternal().at(0)->end_address(), "da");

    EXPECT_EQ(wait(service.query({1, 2}, {1, 2}, config)), nullptr);
    EXPECT_THROW((void)wait(service.query({1, 2}, {3, 4}, CVDirectionsConfig())), std::runtime_error);
}

TEST(OutdoorServices, MatrixCandidatesArePrunedThenQueried) {
    OutdoorAdapter adapter;
    CVExternalDistanceMatrixService& service = adapter;
    const CVExternalDistanceMatrixService::Points origins = {
        std::make_shared<CVRouteNetworkEntryPoint>("A", CVBoundaryType::walking, 57.1, 9.1, 0),
        std::make_shared<CVRouteNetworkEntryPoint>("B", CVBoundaryType::walking, 57.2, 9.2, 0),
        std::make_shared<CVPoint>(57.3, 9.3, 1),
    };
    const auto [pruned, destinations] = service.pruneMatrixDimensions(origins, {std::make_shared<CVPoint>(57, 9)});
    ASSERT_EQ(pruned.size(), 2U);

    const auto matrix = wait(service.query({pruned[0]->coordinate(), pruned[1]->coordinate()},
                                           {destinations[0]->coordinate()}, CVDirectionsConfig()));
    ASSERT_TRUE(matrix);
    EXPECT_EQ(matrix->origin_addresses, (std::vector<std::string>{"57.1,9.1", "57.2,9.2"}));
    EXPECT_EQ(matrix->destination_addresses->size(), 1U);
}

}  // namespace
}  // namespace ambrell
