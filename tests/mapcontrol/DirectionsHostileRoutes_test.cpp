#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Screen.h"
#include "tests/mapcontrol/DrawingFakes.h"
#include "tests/support/CapturingLogSink.h"

namespace ambrell::directions_hostile_routes_test {
namespace {

using test::RouteDocument;

std::shared_ptr<CVRouteInternal> decoded(const std::string& json) { return CVRouteInternal::decode(json); }

class DirectionsHostileRoutesTest : public testing::Test {
protected:
    void SetUp() override {
        platform::Screen::setScale(1);
        renderer = CVDirectionsRendererInternal::create(map);
    }

    // Draws leg `index` of the route; true when something reached the adapter.
    bool draws(const std::shared_ptr<CVRouteInternal>& route, int index = 0) {
        renderer->setRoute(route);
        renderer->setRouteLegIndex(index);
        provider->routes->forgetCalls();
        renderer->render();
        const bool applied = !provider->routes->applied().empty();
        EXPECT_EQ(applied, renderer->isRouteShown());
        return applied;
    }
    [[nodiscard]] std::shared_ptr<const RouteViewModelProducer> lastModel() const {
        const auto applied = provider->routes->applied();
        return applied.empty() ? nullptr : applied.back().model;
    }

    test::ScopedLogCapture log;
    std::shared_ptr<test::DrawingMapProvider> provider = std::make_shared<test::DrawingMapProvider>();
    std::shared_ptr<test::DrawingMapControl> map = std::make_shared<test::DrawingMapControl>(provider);
    std::shared_ptr<CVDirectionsRendererInternal> renderer;
};

TEST_F(DirectionsHostileRoutesTest, RoutesWithoutLegsDrawNothing) {
    for (const auto* json : {R"({})", R"({"legs": []})", R"({"legs": [], "orderedStopIndexes": [0, 1]})"}) {
        SCOPED_TRACE(json);
        EXPECT_FALSE(draws(decoded(json)));
        EXPECT_EQ(renderer->routeLegIndex(), -1);
        EXPECT_FALSE(renderer->nextLeg());
        EXPECT_FALSE(renderer->previousLeg());
        renderer->onRouteMarkerClicked("end_marker");
        renderer->onRouteMarkerClicked("stop_0");
        renderer->renderWithStopIcons({renderer->defaultRouteStopIcon()}, std::vector<bool>{false});
        map->showFloor(3);
        map->showFloor(0);
        EXPECT_TRUE(provider->routes->applied().empty());
    }
    EXPECT_TRUE(log.sink().contains("Invalid routeLegIndex during animation"));
    EXPECT_TRUE(map->selections.empty());
}

TEST_F(DirectionsHostileRoutesTest, LegsWithoutALineDrawNothing) {
    const char* documents[] = {
        // Steps without geometry.
        R"({"legs": [{"steps": [{"travel_mode": "walking"}, {}], "end_location": {"lat": 1, "lng": 1, "zLevel": 0}}]})",
        // No steps.
        R"({"legs": [{"end_location": {"lat": 1, "lng": 1, "zLevel": 0}}]})",
        // Empty geometry, and one point.
        R"({"legs": [{"steps": [{"geometry": []}, {"geometry": [{"lat": 1, "lng": 2}]}],
                      "end_location": {"lat": 1, "lng": 1, "zLevel": 0}}]})",
        // Coordinates without lat or lng leave one point.
        R"({"legs": [{"steps": [{"geometry": [{"lat": 1, "lng": 2}, {"lat": 3}, {"lng": 4}, {"zLevel": 0}, {}]}],
                      "end_location": {"lat": 1, "lng": 1, "zLevel": 0}}]})",
    };
    for (const auto* json : documents) {
        SCOPED_TRACE(json);
        EXPECT_FALSE(draws(decoded(json)));
        EXPECT_EQ(provider->routes->calls(), std::vector<std::string>{"clear"});
    }
    EXPECT_TRUE(log.sink().contains("Removed 0 duplicates out of 0 elements"));
    EXPECT_TRUE(log.sink().contains("Removed 0 duplicates out of 1 elements"));
}

TEST_F(DirectionsHostileRoutesTest, CoordinatesWithoutLatitudeOrLongitudeAreLeftOut) {
    ASSERT_TRUE(draws(decoded(R"({"legs": [{"steps": [
        {"geometry": [{"lat": 1, "lng": 2}, {"lat": 9}, {"lng": 9}, {"lat": 3, "lng": 4}]},
        {"geometry": [{"lat": 3, "lng": 4, "zLevel": 1e300}, {"lat": 5, "lng": 6}]}],
        "end_location": {"lat": 5, "lng": 6, "zLevel": 0}}]})")));
    EXPECT_EQ(lastModel()->polyline, (std::vector<CLLocationCoordinate2D>{{1, 2}, {3, 4}, {5, 6}}));
    EXPECT_TRUE(log.sink().contains("Removed 1 duplicates out of 4 elements"));
}

TEST_F(DirectionsHostileRoutesTest, ALegIsDrawnOnlyOnAFloorAnIntHolds) {
    struct Case {
        const char* endLocation;
        bool drawn;
        int floor;
    };
    const Case cases[] = {
        {R"({"lat": 2, "lng": 2, "zLevel": 1.7})", true, 1},
        {R"({"lat": 2, "lng": 2, "zLevel": -2.5})", true, -2},
        {R"({"lat": 2, "lng": 2, "zLevel": 2147483647.9})", true, 2147483647},
        {R"({"lat": 2, "lng": 2, "zLevel": -2147483648})", true, -2147483647 - 1},
        {R"({"lat": 2, "lng": 2, "zLevel": 2147483648})", false, 0},
        {R"({"lat": 2, "lng": 2, "zLevel": -2147483649})", false, 0},
        {R"({"lat": 2, "lng": 2, "zLevel": 1e300})", false, 0},
        {R"({"lat": 2, "lng": 2, "zLevel": -1e300})", false, 0},
        {R"({"lat": 2, "lng": 2})", false, 0},
        {R"({})", false, 0},
        {R"(null)", false, 0},
    };
    for (const auto& [endLocation, drawn, floor] : cases) {
        SCOPED_TRACE(endLocation);
        map->showFloor(0);
        map->selections.clear();
        const std::string json = std::string(R"({"legs": [{"steps": [{"geometry": [{"lat": 1, "lng": 1},
                                  {"lat": 2, "lng": 2}]}], "end_location": )") +
                                 endLocation + "}]}";
        EXPECT_EQ(draws(decoded(json)), drawn);
        if (drawn) {
            // The change of floor draws the leg from the floor hook, which selects it again.
            EXPECT_EQ(map->selections, (std::vector<int>{floor, floor}));
            EXPECT_EQ(map->floor, floor);
        } else {
            EXPECT_TRUE(map->selections.empty());
        }
    }
    EXPECT_TRUE(log.sink().contains("The route leg 0 has no floor to show"));
}

TEST_F(DirectionsHostileRoutesTest, StopsWithoutAPlaceOrAFloorGetNoMarkerButKeepTheirNumber) {
    ASSERT_TRUE(draws(decoded(R"({"orderedStopIndexes": [0, 1, 2, 3], "legs": [
        {"legEndReason": 4, "end_location": {"lat": 1, "zLevel": 0}},
        {"legEndReason": 4, "end_location": {"lat": 1, "lng": 1, "zLevel": 1e300}},
        {"legEndReason": 4},
        {"legEndReason": 4, "legStartReason": 9, "routeLegType": 7,
         "steps": [{"geometry": [{"lat": 1, "lng": 1}, {"lat": 2, "lng": 2}]}],
         "end_location": {"lat": 2, "lng": 2, "zLevel": 0}}]})"),
                      3));
    const auto model = lastModel();
    ASSERT_TRUE(model->stops.has_value());
    ASSERT_EQ(model->stops->size(), 1u);
    EXPECT_EQ(model->stops->front().id, "stop_3");
    const auto config = std::dynamic_pointer_cast<CVDefaultRouteStopIconConfig>(renderer->defaultRouteStopIcon());
    EXPECT_EQ(std::any_cast<platform::Image>(model->stops->front().data.at(CVModelData::icon)),
              *config->numberedImage(4));
    // An unknown start reason is no stop; an unknown leg type is not smoothed.
    EXPECT_TRUE(model->start.has_value());
    EXPECT_FALSE(provider->routes->applied().back().pathSmoothing);
}

TEST_F(DirectionsHostileRoutesTest, EndMarkersOfLegsWithoutStepsOrAddresses) {
    ASSERT_TRUE(draws(decoded(R"({"legs": [
        {"steps": [{"geometry": [{"lat": 1, "lng": 1}, {"lat": 2, "lng": 2}]}],
         "end_location": {"lat": 2, "lng": 2, "zLevel": 0}},
        {"steps": [{"highway": "elevator"}]},
        {}]})")));
    // Rule 4 with no addresses: " → ".
    EXPECT_TRUE(lastModel()->end->data.contains(CVModelData::icon));
    renderer->setRouteLegIndex(1);
    renderer->render();
    EXPECT_FALSE(renderer->isRouteShown());
}

TEST_F(DirectionsHostileRoutesTest, ARendererWithoutAMapControlDrawsNothing) {
    const auto alone = CVDirectionsRendererInternal::create(nullptr);
    EXPECT_EQ(alone->renderer(), nullptr);
    alone->setRoute(RouteDocument::route({RouteDocument::leg(0, {{1, 1}, {2, 2}})}));
    alone->render();
    alone->floorChanged();
    alone->onRouteMarkerClicked("stop_0");
    EXPECT_FALSE(alone->isRouteShown());
}

}  // namespace
}  // namespace ambrell::directions_hostile_routes_test
