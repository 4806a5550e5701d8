#include <gtest/gtest.h>

#include <any>
#include <fstream>
#include <string>
#include <vector>

#include "Ambrell/CVBundleImage.h"
#include "mapcontrol/CVMapRouteLegButton.h"
#include "platform/Paths.h"
#include "platform/Screen.h"
#include "tests/mapcontrol/DrawingFakes.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/TempDirectory.h"

namespace ambrell::directions_leg_steps_test {
namespace {

using test::RouteDocument;

// A provider of the host's own, with a fixed image.
class HostStopIcon : public CVRouteStopIconProvider {
public:
    explicit HostStopIcon(std::uint32_t colour) {
        auto pixel = platform::Image::create(4, 4, 2).value();
        for (auto& value : pixel.pixels()) value = colour;
        image_ = std::make_shared<const platform::Image>(std::move(pixel));
    }
    [[nodiscard]] std::shared_ptr<const platform::Image> image() const override { return image_; }

private:
    std::shared_ptr<const platform::Image> image_;
};

std::optional<platform::Image> iconOf(const ViewModel& model) {
    const auto found = model.data.find(CVModelData::icon);
    if (found == model.data.end()) return std::nullopt;
    return std::any_cast<platform::Image>(found->second);
}

// Stop legs 0 (floor 0), 1 (floor 1) and 2 (floor 0), then a last leg on floor 0.
std::shared_ptr<CVRouteInternal> stopsOnTwoFloors() {
    return RouteDocument::route({RouteDocument::leg(0, {{1, 1}, {1, 2}}, {{"legEndReason", 4}}),
                                 RouteDocument::leg(1, {{1, 2}, {2, 2}}, {{"legStartReason", 4}, {"legEndReason", 4}}),
                                 RouteDocument::leg(0, {{2, 2}, {2, 3}}, {{"legStartReason", 4}, {"legEndReason", 4}}),
                                 RouteDocument::leg(0, {{2, 3}, {3, 3}}, {{"legStartReason", 4}})},
                                {{"orderedStopIndexes", {0, 1, 2}}});
}

class DirectionsLegStepsTest : public testing::Test {
protected:
    void SetUp() override {
        platform::Screen::setScale(2);
        renderer = CVDirectionsRendererInternal::create(map);
    }

    [[nodiscard]] test::RecordingRouteRenderer& routes() const { return *provider->routes; }
    [[nodiscard]] std::shared_ptr<const RouteViewModelProducer> lastModel() const {
        const auto applied = routes().applied();
        return applied.empty() ? nullptr : applied.back().model;
    }
    [[nodiscard]] std::vector<std::string> stopIds() const {
        std::vector<std::string> ids;
        const auto model = lastModel();
        if (model && model->stops) {
            for (const auto& stop : *model->stops) ids.push_back(stop.id);
        }
        return ids;
    }
    [[nodiscard]] std::shared_ptr<CVDefaultRouteStopIconConfig> defaultConfig() const {
        return std::dynamic_pointer_cast<CVDefaultRouteStopIconConfig>(renderer->defaultRouteStopIcon());
    }
    // The first point of the leg last drawn.
    [[nodiscard]] CLLocationCoordinate2D drawnStart() const {
        const auto model = lastModel();
        return model && !model->polyline.empty() ? model->polyline.front() : CLLocationCoordinate2D{-1, -1};
    }

    std::shared_ptr<test::DrawingMapProvider> provider = std::make_shared<test::DrawingMapProvider>();
    std::shared_ptr<test::DrawingMapControl> map = std::make_shared<test::DrawingMapControl>(provider);
    std::shared_ptr<CVDirectionsRendererInternal> renderer;
};

TEST_F(DirectionsLegStepsTest, StopsAreNumberedAcrossFloorsAndShownOnTheMapsFloor) {
    renderer->setRoute(stopsOnTwoFloors());
    renderer->render();
    // The stop ending leg 1 lies on floor 1: counted, not shown.
    EXPECT_EQ(stopIds(), (std::vector<std::string>{"stop_0", "stop_2"}));
    const auto model = lastModel();
    EXPECT_EQ(iconOf(model->stops->at(0)), *defaultConfig()->numberedImage(1));
    EXPECT_EQ(iconOf(model->stops->at(1)), *defaultConfig()->numberedImage(3));
    EXPECT_NE(iconOf(model->stops->at(0)), iconOf(model->stops->at(1)));
    // Leg 0 ends at a stop: a start marker and no end marker.
    EXPECT_TRUE(model->start.has_value());
    EXPECT_FALSE(model->end.has_value());

    renderer->setRouteLegIndex(1);
    renderer->render();
    EXPECT_EQ(map->floor, 1);
    EXPECT_EQ(stopIds(), std::vector<std::string>{"stop_1"});
    EXPECT_EQ(iconOf(lastModel()->stops->at(0)), *defaultConfig()->numberedImage(2));
    // A leg that starts and ends at stops has no end markers at all.
    EXPECT_FALSE(lastModel()->start.has_value());
    EXPECT_FALSE(lastModel()->end.has_value());

    // Without ordered stops there is no stop list at all.
    auto plain = stopsOnTwoFloors();
    plain->setOrderedStopIndexes(std::nullopt);
    renderer->setRoute(plain);
    renderer->setRouteLegIndex(0);
    renderer->render();
    EXPECT_FALSE(lastModel()->stops.has_value());
}

TEST_F(DirectionsLegStepsTest, StopIconsComeFromTheListTheMaskAndTheDefault) {
    renderer->setRoute(stopsOnTwoFloors());
    const auto first = std::make_shared<CVDefaultRouteStopIconConfig>(true, "A", platform::Color{0, 0.5, 0, 1});
    const auto host = std::make_shared<HostStopIcon>(0xFF112233);

    // The config's number is where it first appears: 0 at index 0 and at index 2.
    renderer->renderWithStopIcons({first, host, first}, std::nullopt);
    ASSERT_TRUE(renderer->currentStopIcons().has_value());
    const auto& icons = *renderer->currentStopIcons();
    ASSERT_EQ(icons.size(), 3u);
    EXPECT_EQ(*icons[0], *first->numberedImage(0));
    EXPECT_EQ(icons[1], host->image());
    EXPECT_EQ(*icons[2], *first->numberedImage(0));
    // The icons set reach the stop markers, without the config's label (it
    // was not the default icon).
    EXPECT_EQ(stopIds(), (std::vector<std::string>{"stop_0", "stop_2"}));
    EXPECT_EQ(iconOf(lastModel()->stops->at(0)), *first->numberedImage(0));
    EXPECT_FALSE(lastModel()->stops->at(0).marker->properties().contains(CVModelPropertyKey::markerLabel));
    EXPECT_FALSE(lastModel()->polyline.empty());
    EXPECT_EQ(routes().applied().back().duration, 0);

    // A false mask entry gives the default icon for its index; entries the
    // mask does not reach count as true.
    renderer->renderWithStopIcons({host, host, host}, std::vector<bool>{true, false});
    const auto& masked = *renderer->currentStopIcons();
    EXPECT_EQ(masked[0], host->image());
    EXPECT_EQ(*masked[1], *defaultConfig()->numberedImage(1));
    EXPECT_EQ(masked[2], host->image());
    // A mask longer than the list is ignored past it.
    renderer->renderWithStopIcons({host}, std::vector<bool>{true, false, false});
    EXPECT_EQ(renderer->currentStopIcons()->size(), 1u);

    // A list too short for a stop leg gives it the default icon and its label.
    const auto labelled = std::make_shared<CVDefaultRouteStopIconConfig>(true, "Stop", platform::Color{0, 0, 1, 1});
    renderer->setDefaultRouteStopIcon(labelled);
    renderer->renderWithStopIcons({host}, std::nullopt);
    ASSERT_EQ(stopIds(), (std::vector<std::string>{"stop_0", "stop_2"}));
    EXPECT_EQ(iconOf(lastModel()->stops->at(0)), *host->image());
    EXPECT_EQ(iconOf(lastModel()->stops->at(1)), *labelled->numberedImage(3));
    EXPECT_EQ(std::get<std::string>(lastModel()->stops->at(1).marker->properties().at(CVModelPropertyKey::markerLabel)),
              "Stop");

    // With no default icon, a stop without an icon gets no marker; a mask
    // given with an empty list changes nothing.
    renderer->setDefaultRouteStopIcon(nullptr);
    renderer->renderWithStopIcons({}, std::vector<bool>{false});
    EXPECT_TRUE(renderer->currentStopIcons()->empty());
    EXPECT_TRUE(lastModel()->stops->empty());
    // A decoded config has no image: no marker either.
    renderer->setDefaultRouteStopIcon(CVDefaultRouteStopIconConfig::decode({}));
    renderer->render();
    EXPECT_TRUE(lastModel()->stops->empty());
    // Another provider's plain image is used as it is.
    renderer->setDefaultRouteStopIcon(host);
    renderer->render();
    EXPECT_EQ(iconOf(lastModel()->stops->at(0)), *host->image());
}

TEST_F(DirectionsLegStepsTest, LegsStepForwardAndBackWithinTheRoute) {
    EXPECT_FALSE(renderer->nextLeg());
    EXPECT_FALSE(renderer->previousLeg());
    renderer->setRoute(RouteDocument::route({}));
    EXPECT_FALSE(renderer->nextLeg());
    EXPECT_FALSE(renderer->previousLeg());

    renderer->setRoute(stopsOnTwoFloors());
    // Not shown: the index moves, nothing is drawn.
    EXPECT_TRUE(renderer->nextLeg());
    EXPECT_EQ(renderer->routeLegIndex(), 1);
    EXPECT_TRUE(routes().calls().empty());
    EXPECT_TRUE(renderer->previousLeg());
    EXPECT_FALSE(renderer->previousLeg());
    EXPECT_EQ(renderer->routeLegIndex(), 0);

    // Shown: each step draws its leg with the last duration.
    renderer->animateWithDuration(1.5);
    EXPECT_TRUE(renderer->nextLeg());
    EXPECT_EQ(drawnStart(), (CLLocationCoordinate2D{1, 2}));
    EXPECT_EQ(routes().applied().back().duration, 1.5);
    EXPECT_TRUE(renderer->nextLeg());
    EXPECT_TRUE(renderer->nextLeg());
    EXPECT_EQ(renderer->routeLegIndex(), 3);
    EXPECT_FALSE(renderer->nextLeg());
    EXPECT_EQ(renderer->routeLegIndex(), 3);
    EXPECT_TRUE(renderer->isRouteShown());
}

TEST_F(DirectionsLegStepsTest, MarkerTapsStepBetweenLegs) {
    const test::ScopedLogCapture log;
    renderer->setRoute(stopsOnTwoFloors());
    renderer->render();
    ASSERT_EQ(routes().routeMarkerDelegate(), renderer);

    // The start marker on leg 0 draws leg 0 again.
    routes().forgetCalls();
    EXPECT_TRUE(routes().tapMarker("start_marker"));
    EXPECT_EQ(renderer->routeLegIndex(), 0);
    EXPECT_EQ(routes().applied().size(), 1u);

    EXPECT_TRUE(routes().tapMarker("end_marker"));
    EXPECT_EQ(renderer->routeLegIndex(), 1);
    EXPECT_EQ(drawnStart(), (CLLocationCoordinate2D{1, 2}));
    EXPECT_TRUE(routes().tapMarker("start_marker"));
    EXPECT_EQ(renderer->routeLegIndex(), 0);
    EXPECT_EQ(drawnStart(), (CLLocationCoordinate2D{1, 1}));

    EXPECT_TRUE(routes().tapMarker("stop_2"));
    EXPECT_EQ(renderer->routeLegIndex(), 2);
    EXPECT_EQ(drawnStart(), (CLLocationCoordinate2D{2, 2}));
    // Past the last leg: the last one.
    EXPECT_TRUE(routes().tapMarker("stop_7"));
    EXPECT_EQ(renderer->routeLegIndex(), 3);
    EXPECT_TRUE(log.sink().contains("Tried to set a routeLegIndex (7) larger than the last index (3)"));
    EXPECT_TRUE(routes().tapMarker("stop__1__"));
    EXPECT_EQ(renderer->routeLegIndex(), 1);

    // Tags that name no leg do nothing.
    routes().forgetCalls();
    for (const std::string tag : {"stop_x", "stop_", "stop", "stop_3x", "stop_99999999999", "stop_-99999999999",
                                  "stop_ 2", "stop_+-2", "Stop_2", "marker", "", "end"}) {
        EXPECT_TRUE(routes().tapMarker(tag));
    }
    EXPECT_TRUE(routes().calls().empty());
    EXPECT_EQ(renderer->routeLegIndex(), 1);

    // A signed number is read as one: a negative leg is corrected to 0.
    EXPECT_TRUE(routes().tapMarker("stop_-3"));
    EXPECT_EQ(renderer->routeLegIndex(), 0);
    EXPECT_TRUE(routes().tapMarker("stop_+2"));
    EXPECT_EQ(renderer->routeLegIndex(), 2);
}

TEST_F(DirectionsLegStepsTest, LeavingALegsFloorHidesItAndReturningRedrawsIt) {
    renderer->setRoute(stopsOnTwoFloors());
    renderer->animateWithDuration(0.5);
    ASSERT_TRUE(renderer->isRouteShown());

    routes().forgetCalls();
    map->showFloor(1);
    EXPECT_EQ(routes().calls(), std::vector<std::string>{"clear"});
    EXPECT_FALSE(renderer->isRouteShown());

    map->showFloor(0);
    EXPECT_TRUE(renderer->isRouteShown());
    EXPECT_EQ(routes().applied().back().duration, 0.5);
    EXPECT_EQ(drawnStart(), (CLLocationCoordinate2D{1, 1}));

    // A leg on a floor the map cannot show is not drawn.
    map->floors = {0};
    renderer->setRouteLegIndex(1);
    routes().forgetCalls();
    renderer->render();
    EXPECT_EQ(routes().calls(), std::vector<std::string>{"clear"});
    EXPECT_FALSE(renderer->isRouteShown());
    EXPECT_EQ(map->floor, 0);

    // After the route is replaced by a shorter one the index names no leg:
    // a floor change draws nothing.
    renderer->setRoute(RouteDocument::route({RouteDocument::leg(0, {{1, 1}, {1, 2}})}));
    routes().forgetCalls();
    map->floors.clear();
    map->showFloor(5);
    map->showFloor(0);
    EXPECT_EQ(routes().calls(), (std::vector<std::string>{"clear", "clear"}));
}

TEST_F(DirectionsLegStepsTest, EndMarkersShowWhatTheNextLegBeginsWith) {
    struct Transition {
        const char* name;
        boost::json::object currentStep;
        boost::json::object nextStep;
        std::string image;
        std::string title;
    };
    const std::vector<Transition> transitions = {
        {"leaving a building",
         {{"routeContext", "InsideBuilding"}},
         {{"routeContext", "OutsideOnVenue"}},
         "exit",
         "Exit"},
        {"entering a building",
         {{"routeContext", "OutsideOnVenue"}},
         {{"routeContext", "InsideBuilding"}},
         "enter",
         "Enter"},
        {"parking", {{"travel_mode", "driving"}}, {{"travel_mode", "walking"}}, "parking", "Park"},
        {"parking, next leg without a mode", {{"travel_mode", "driving"}}, {}, "parking", "Park"},
        {"stairs", {}, {{"highway", "steps"}}, "steps", "Hall → Level 2"},
        {"escalator", {}, {{"highway", "escalator"}}, "escalator", "Hall → Level 2"},
        {"elevator", {}, {{"highway", "elevator"}}, "elevator", "Hall → Level 2"},
        {"a ramp is just the next leg", {}, {{"highway", "ramp"}}, "next", "Next"},
        {"driving on", {{"travel_mode", "driving"}}, {{"travel_mode", "driving"}}, "next", "Next"},
        {"inside to inside",
         {{"routeContext", "InsideBuilding"}},
         {{"routeContext", "InsideBuilding"}},
         "next",
         "Next"},
    };
    for (const auto& transition : transitions) {
        SCOPED_TRACE(transition.name);
        auto current = RouteDocument::leg(0, {{1, 1}, {1, 2}}, {{"end_address", "Hall"}});
        auto next = RouteDocument::leg(0, {{1, 2}, {2, 2}}, {{"end_address", "Level 2"}});
        for (const auto& [key, value] : transition.currentStep) {
            current["steps"].as_array()[0].as_object()[key] = value;
        }
        for (const auto& [key, value] : transition.nextStep) next["steps"].as_array()[0].as_object()[key] = value;
        if (!transition.nextStep.contains("travel_mode")) next["steps"].as_array()[0].as_object().erase("travel_mode");
        renderer->setRoute(RouteDocument::route({current, next}));
        renderer->setRouteLegIndex(0);
        renderer->render();
        const auto model = lastModel();
        ASSERT_NE(model, nullptr);
        ASSERT_TRUE(model->end.has_value());
        const auto expected = CVMapRouteLegButton::markerImage(bundleImage(transition.image), transition.title);
        ASSERT_NE(expected, nullptr);
        EXPECT_EQ(iconOf(*model->end), *expected);
    }

    // The last leg's end marker has no icon; leg 1's start marker is the "previous" button.
    renderer->setRouteLegIndex(1);
    renderer->render();
    EXPECT_FALSE(iconOf(*lastModel()->end).has_value());
    EXPECT_EQ(iconOf(*lastModel()->start), *CVMapRouteLegButton::markerImage(bundleImage("previous"), std::nullopt));
}

TEST_F(DirectionsLegStepsTest, LegButtonTitlesComeFromTheHostsTranslations) {
    const test::TempDirectory resources;
    std::ofstream(resources / "Localizable.json") << R"({"Next": "Weiter", "Exit": 7})";
    platform::Paths::setResourcesFolder(resources.path());

    auto current = RouteDocument::leg(0, {{1, 1}, {1, 2}});
    auto next = RouteDocument::leg(0, {{1, 2}, {2, 2}});
    renderer->setRoute(RouteDocument::route({current, next}));
    renderer->render();
    EXPECT_EQ(iconOf(*lastModel()->end), *CVMapRouteLegButton::markerImage(bundleImage("next"), "Weiter"));

    // A translation that is no text leaves the title as written.
    current["steps"].as_array()[0].as_object()["routeContext"] = "InsideBuilding";
    next["steps"].as_array()[0].as_object()["routeContext"] = "OutsideOnVenue";
    renderer->setRoute(RouteDocument::route({current, next}));
    renderer->render();
    EXPECT_EQ(iconOf(*lastModel()->end), *CVMapRouteLegButton::markerImage(bundleImage("exit"), "Exit"));
    platform::Paths::resetForTesting();
}

TEST_F(DirectionsLegStepsTest, WithoutAnAdapterNothingIsDrawnButTheFloorAndTheStateFollow) {
    auto bare = std::make_shared<test::DrawingMapControl>(nullptr);
    const auto alone = CVDirectionsRendererInternal::create(bare);
    EXPECT_EQ(alone->renderer(), nullptr);
    alone->setRoute(stopsOnTwoFloors());
    alone->setRouteLegIndex(1);
    alone->render();
    EXPECT_EQ(bare->floor, 1);
    EXPECT_TRUE(alone->isRouteShown());
    alone->clear();
    EXPECT_FALSE(alone->isRouteShown());

    // An adapter without a map view draws without moving the camera.
    provider->mapView = nullptr;
    renderer->setRoute(stopsOnTwoFloors());
    renderer->render();
    EXPECT_EQ(routes().calls().back(), "setRouteMarkerDelegate");
    EXPECT_TRUE(routes().cameraMoves().empty());
}

}  // namespace
}  // namespace ambrell::directions_leg_steps_test
