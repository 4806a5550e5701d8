#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <any>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <boost/json/parse.hpp>

#include "foundation/CVLogger.h"
#include "platform/NotificationCenter.h"
#include "platform/Screen.h"
#include "platform/runtime/BlockingWait.h"
#include "platform/runtime/ThreadPool.h"
#include "tests/mapcontrol/DrawingFakes.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/JsonEq.h"
#include "tests/support/WaitFor.h"

namespace ambrell::directions_renderer_test {
namespace {

using test::RouteDocument;

constexpr std::uint32_t kPathBlue = 0x3071D9FF;
constexpr std::uint32_t kPathBlueUnder = 0x3071D94C;

// Three legs: leg 0 on floor 0 ends at a stop, legs 1 and 2 run on floor 1.
std::shared_ptr<CVRouteInternal> threeLegRoute(boost::json::object routeExtra = {{"orderedStopIndexes", {0}}}) {
    return RouteDocument::route(
        {RouteDocument::leg(0, {{55.0, 12.0}, {55.0, 12.1}, {55.1, 12.1}}, {{"legEndReason", 4}}),
         RouteDocument::leg(1, {{55.1, 12.1}, {55.2, 12.1}}, {{"legStartReason", 4}}),
         RouteDocument::leg(1, {{55.2, 12.1}, {55.2, 12.3}}, {{"routeLegType", 1}})},
        std::move(routeExtra));
}

// The marker features as the adapter reads them, kept in golden/route-markers.json.
boost::json::value goldenMarker(const std::string& id) {
    std::ifstream file(std::string(AMBRELL_MAPCONTROL_TEST_DATA) + "/golden/route-markers.json");
    std::stringstream text;
    text << file.rdbuf();
    return boost::json::parse(text.str()).at(id);
}

std::vector<std::string> usageEvents(std::size_t count) {
    std::vector<std::string> events;
    const bool arrived = test::waitFor([&] {
        const auto entries = platform::blockingWait(platform::ThreadPool::shared().makeStrand(),
                                                    CVLogger::sharedInstance()->loggerActor()->logEntries());
        events.clear();
        for (const auto& entry : entries) {
            std::string text = std::string(description(entry.name));
            if (entry.parameters) {
                for (const auto& [key, value] : *entry.parameters) text += " " + key + "=" + value;
            }
            events.push_back(text);
        }
        return events.size() >= count;
    });
    EXPECT_TRUE(arrived);
    return events;
}

class DirectionsRendererTest : public testing::Test {
protected:
    void SetUp() override {
        // Usage events are read from the process's logger: only this test's count.
        CVLogger::resetSharedForTesting();
        platform::Screen::setScale(2);
        renderer = CVDirectionsRendererInternal::create(map);
    }
    void TearDown() override { CVLogger::resetSharedForTesting(); }

    [[nodiscard]] test::RecordingRouteRenderer& routes() const { return *provider->routes; }
    [[nodiscard]] test::RecordingRouteRenderer::Applied lastApplied() const {
        const auto applied = routes().applied();
        EXPECT_FALSE(applied.empty());
        return applied.empty() ? test::RecordingRouteRenderer::Applied{} : applied.back();
    }
    [[nodiscard]] std::vector<std::string> stopIds() const {
        std::vector<std::string> ids;
        const auto model = lastApplied().model;
        if (model && model->stops) {
            for (const auto& stop : *model->stops) ids.push_back(stop.id);
        }
        return ids;
    }

    std::shared_ptr<test::DrawingMapProvider> provider = std::make_shared<test::DrawingMapProvider>();
    std::shared_ptr<test::DrawingMapControl> map = std::make_shared<test::DrawingMapControl>(provider);
    std::shared_ptr<CVDirectionsRendererInternal> renderer;
};

TEST_F(DirectionsRendererTest, StartsWithItsDefaultsAndRegistersWithTheMap) {
    EXPECT_EQ(map->currentRenderer(), renderer);
    EXPECT_EQ(renderer->renderer(), provider->routes);
    EXPECT_EQ(renderer->animationDuration(), 0);
    EXPECT_FALSE(renderer->isRouteShown());
    EXPECT_EQ(renderer->fitMode(), CVCameraViewFitMode::firstStepAligned);
    EXPECT_EQ(renderer->padding(), UIEdgeInsets{});
    EXPECT_TRUE(renderer->fitBounds());
    EXPECT_TRUE(renderer->showRouteLegButtons());
    EXPECT_FALSE(renderer->pathColor().has_value());
    EXPECT_FALSE(renderer->backgroundColor().has_value());
    EXPECT_EQ(renderer->routeLegIndex(), 0);
    EXPECT_EQ(renderer->route(), nullptr);
    EXPECT_FALSE(renderer->currentStopIcons().has_value());
    const auto config = std::dynamic_pointer_cast<CVDefaultRouteStopIconConfig>(renderer->defaultRouteStopIcon());
    ASSERT_NE(config, nullptr);
    EXPECT_TRUE(config->numbered());
    EXPECT_FALSE(config->label().has_value());
    EXPECT_EQ(config->color(), CVDefaultRouteStopIconConfig::pinColor());

    // Setting a route neither draws nor moves the index.
    renderer->setRouteLegIndex(0);
    renderer->setRoute(threeLegRoute());
    EXPECT_TRUE(routes().calls().empty());
    EXPECT_EQ(renderer->routeLegIndex(), 0);
}

TEST_F(DirectionsRendererTest, LegIndexesOutsideTheRouteAreCorrectedWithAMessage) {
    const test::ScopedLogCapture log;
    renderer->setRouteLegIndex(2);
    EXPECT_EQ(renderer->routeLegIndex(), 0);
    EXPECT_TRUE(log.sink().contains("Tried to set routeLegIndex without a route!"));

    renderer->setRoute(threeLegRoute());
    renderer->setRouteLegIndex(-4);
    EXPECT_EQ(renderer->routeLegIndex(), 0);
    EXPECT_TRUE(log.sink().contains("Tried to set a negative routeLegIndex (-4)"));
    renderer->setRouteLegIndex(7);
    EXPECT_EQ(renderer->routeLegIndex(), 2);
    EXPECT_TRUE(log.sink().contains("Tried to set a routeLegIndex (7) larger than the last index (2)"));
    renderer->setRouteLegIndex(1);
    EXPECT_EQ(renderer->routeLegIndex(), 1);

    // No legs: any index at or above 0 stores -1, and nothing draws.
    renderer->setRoute(RouteDocument::route({}));
    renderer->setRouteLegIndex(0);
    EXPECT_EQ(renderer->routeLegIndex(), -1);
    EXPECT_TRUE(log.sink().contains("Tried to set a routeLegIndex (0) larger than the last index (-1)"));
    renderer->render();
    EXPECT_TRUE(log.sink().contains("Invalid routeLegIndex during animation"));
    EXPECT_EQ(routes().calls(), std::vector<std::string>{"clear"});
    EXPECT_FALSE(renderer->isRouteShown());
    for (const auto& message : log.sink().messages()) {
        if (message.message.starts_with("Tried") || message.message.starts_with("Invalid")) {
            EXPECT_EQ(message.level, platform::LogLevel::error);
        }
    }
}

TEST_F(DirectionsRendererTest, DrawingClearsAppliesSetsTheDelegateAndFitsTheCamera) {
    renderer->setRoute(threeLegRoute());
    renderer->setPadding(UIEdgeInsets{1, 2, 3, 4});
    renderer->render();

    EXPECT_EQ(routes().calls(),
              (std::vector<std::string>{"clear", "clear", "apply", "setRouteMarkerDelegate", "moveCamera"}));
    EXPECT_EQ(map->selections, std::vector<int>{0});
    const auto applied = lastApplied();
    EXPECT_FALSE(applied.animate);
    EXPECT_EQ(applied.duration, 0);
    EXPECT_TRUE(applied.repeating);
    EXPECT_EQ(applied.primaryColor, kPathBlueUnder);
    EXPECT_EQ(applied.secondaryColor, kPathBlue);
    EXPECT_EQ(applied.primaryWidth, 8.0f);
    EXPECT_EQ(applied.secondaryWidth, 5.0f);
    EXPECT_TRUE(applied.pathSmoothing);
    const std::vector<CLLocationCoordinate2D> path{{55.0, 12.0}, {55.0, 12.1}, {55.1, 12.1}};
    EXPECT_EQ(applied.model->polyline, path);
    EXPECT_EQ(routes().routeMarkerDelegate(), renderer);

    const auto camera = routes().cameraMoves().at(0);
    EXPECT_EQ(camera.points, path);
    EXPECT_TRUE(camera.animate);
    EXPECT_EQ(camera.durationMs, 1000);
    EXPECT_EQ(camera.tilt, 45.0f);
    EXPECT_EQ(camera.fitMode, CVCameraViewFitMode::firstStepAligned);
    EXPECT_EQ(camera.padding, (UIEdgeInsets{1, 2, 3, 4}));
    EXPECT_TRUE(renderer->isRouteShown());
    EXPECT_EQ(renderer->animationDuration(), 0);

    // Animated, in the host's colours, on an outdoor leg, without a camera fit.
    routes().forgetCalls();
    renderer->setPathColor(platform::Color{1, 0, 0, 1});
    renderer->setBackgroundColor(platform::Color{0, 1, 0, 0.5});
    renderer->setFitBounds(false);
    renderer->setFitMode(CVCameraViewFitMode::northAligned);
    renderer->setRouteLegIndex(2);
    renderer->animateWithDuration(2.0);
    // Leg 2 lies on floor 1: selecting it runs the floor hook, which draws
    // the leg inside the selection; the drawing then goes on and draws it again.
    EXPECT_EQ(routes().calls(),
              (std::vector<std::string>{"clear", "clear", "clear", "clear", "apply", "setRouteMarkerDelegate", "clear",
                                        "apply", "setRouteMarkerDelegate"}));
    EXPECT_EQ(map->selections, (std::vector<int>{0, 1, 1}));
    const auto animated = lastApplied();
    EXPECT_TRUE(animated.animate);
    EXPECT_EQ(animated.duration, 2.0);
    EXPECT_EQ(animated.primaryColor, 0x00FF007Fu);
    EXPECT_EQ(animated.secondaryColor, 0xFF0000FFu);
    EXPECT_FALSE(animated.pathSmoothing);
    EXPECT_EQ(renderer->animationDuration(), 2.0);

    // update() draws again with the last duration while a leg is shown; clear() removes it.
    routes().forgetCalls();
    renderer->update();
    EXPECT_EQ(lastApplied().duration, 2.0);
    renderer->clear();
    EXPECT_EQ(routes().calls().back(), "clear");
    EXPECT_FALSE(renderer->isRouteShown());
    routes().forgetCalls();
    renderer->update();
    EXPECT_TRUE(routes().calls().empty());
}

TEST_F(DirectionsRendererTest, TheCameraFitPadsByTheMapViewsSafeAreaPlusThePadding) {
    provider->mapView->setSafeAreaInsets(UIEdgeInsets{47, 10, 34, 20});
    renderer->setRoute(threeLegRoute());
    renderer->setPadding(UIEdgeInsets{1, 2, 3, 4});
    renderer->render();
    ASSERT_EQ(routes().cameraMoves().size(), 1U);
    EXPECT_EQ(routes().cameraMoves()[0].padding, (UIEdgeInsets{48, 12, 37, 24}));
}

TEST_F(DirectionsRendererTest, ConsecutiveDuplicatePointsAreDroppedAndCounted) {
    const test::ScopedLogCapture log;
    renderer->setRoute(RouteDocument::route({RouteDocument::leg(0, {{1, 1}, {1, 1}, {2, 2}, {1, 1}})}));
    renderer->render();
    EXPECT_EQ(lastApplied().model->polyline, (std::vector<CLLocationCoordinate2D>{{1, 1}, {2, 2}, {1, 1}}));
    EXPECT_TRUE(log.sink().contains("Removed 1 duplicates out of 4 elements"));

    // Points that all coincide leave no line: nothing is drawn, the count still logged.
    routes().forgetCalls();
    renderer->setRoute(RouteDocument::route({RouteDocument::leg(0, {{3, 3}, {3, 3}, {3, 3}})}));
    renderer->render();
    EXPECT_TRUE(log.sink().contains("Removed 2 duplicates out of 3 elements"));
    EXPECT_EQ(routes().calls(), std::vector<std::string>{"clear"});
    EXPECT_FALSE(renderer->isRouteShown());

    // Without duplicates the line is still logged, with 0.
    renderer->setRoute(RouteDocument::route({RouteDocument::leg(0, {{3, 3}, {4, 4}})}));
    renderer->render();
    EXPECT_TRUE(log.sink().contains("Removed 0 duplicates out of 2 elements"));
}

TEST_F(DirectionsRendererTest, EveryDrawingPostsStoppedThenStartedAndRecordsNoThenYes) {
    std::vector<std::string> posted;
    std::vector<const CVDirectionsRenderer*> senders;
    auto& center = platform::NotificationCenter::defaultCenter();
    const auto record = [&](const platform::Notification& notification) {
        posted.push_back(notification.name.value);
        senders.push_back(std::any_cast<const CVDirectionsRenderer*>(notification.object));
    };
    auto started =
        center.addObserver(platform::NotificationName{std::string(CVNotificationDirectionsRenderingStarted)}, record);
    auto stopped =
        center.addObserver(platform::NotificationName{std::string(CVNotificationDirectionsRenderingStopped)}, record);

    renderer->setRoute(threeLegRoute());
    renderer->render();
    renderer->clear();
    // Assigning the value it has still posts and records.
    renderer->setIsRouteShown(false);

    EXPECT_EQ(posted, (std::vector<std::string>{
                          "CVNotificationDirectionsRenderingStopped", "CVNotificationDirectionsRenderingStarted",
                          "CVNotificationDirectionsRenderingStopped", "CVNotificationDirectionsRenderingStopped"}));
    for (const auto* sender : senders) EXPECT_EQ(sender, renderer.get());
    EXPECT_EQ(usageEvents(4), (std::vector<std::string>{
                                  "directions_rendered is_route_rendered_=no",
                                  "directions_rendered is_route_rendered_=yes",
                                  "directions_rendered is_route_rendered_=no",
                                  "directions_rendered is_route_rendered_=no",
                              }));
    const auto entries = platform::blockingWait(platform::ThreadPool::shared().makeStrand(),
                                                CVLogger::sharedInstance()->loggerActor()->logEntries());
    for (const auto& entry : entries) {
        EXPECT_EQ(entry.domain, CVLogDomain::directions);
        EXPECT_EQ(entry.logType, "event");
    }
}

TEST_F(DirectionsRendererTest, MarkersMatchTheirGoldenText) {
    renderer->setRoute(threeLegRoute());
    renderer->setRouteLegIndex(1);
    map->showFloor(1);
    routes().forgetCalls();
    renderer->render();

    const auto model = lastApplied().model;
    ASSERT_NE(model, nullptr);
    // Leg 1 starts at a stop: no start marker; it ends before leg 2: an end marker.
    EXPECT_FALSE(model->start.has_value());
    ASSERT_TRUE(model->end.has_value());
    ASSERT_TRUE(model->stops.has_value());
    // The stop ending leg 0 lies on floor 0, the map shows floor 1.
    EXPECT_TRUE(model->stops->empty());
    ASSERT_TRUE(model->end->marker.has_value());
    EXPECT_THAT(boost::json::parse(model->end->marker->toGeoJson()), test::JsonEq(goldenMarker("end_marker")));
    EXPECT_EQ(model->end->id, "end_marker");
    EXPECT_TRUE(model->end->isClickable);
    EXPECT_FALSE(model->end->showInfoWindow);
    EXPECT_TRUE(model->end->data.contains(CVModelData::icon));
    for (const auto* slot :
         {&model->end->polygon, &model->end->polyline, &model->end->model2D, &model->end->model3D,
          &model->end->wallExtrusion, &model->end->floorPlanExtrusion, &model->end->featureExtrusion}) {
        EXPECT_FALSE(slot->has_value());
    }

    // Leg 0: a start marker without an icon, the stop marker with its number
    // and the config's label, and no end marker (it ends at the stop).
    auto labelled = std::make_shared<CVDefaultRouteStopIconConfig>(true, "Pick up", platform::Color{0, 0, 1, 1});
    renderer->setDefaultRouteStopIcon(labelled);
    renderer->setRouteLegIndex(0);
    renderer->render();
    const auto first = lastApplied().model;
    ASSERT_TRUE(first->start.has_value());
    EXPECT_FALSE(first->start->data.contains(CVModelData::icon));
    EXPECT_FALSE(first->end.has_value());
    EXPECT_THAT(boost::json::parse(first->start->marker->toGeoJson()), test::JsonEq(goldenMarker("start_marker")));
    ASSERT_EQ(first->stops->size(), 1u);
    const auto& stop = first->stops->front();
    EXPECT_THAT(boost::json::parse(stop.marker->toGeoJson()), test::JsonEq(goldenMarker("stop_0")));
    const auto icon = std::any_cast<platform::Image>(stop.data.at(CVModelData::icon));
    EXPECT_EQ(icon, *labelled->numberedImage(1));
}

}  // namespace
}  // namespace ambrell::directions_renderer_test
