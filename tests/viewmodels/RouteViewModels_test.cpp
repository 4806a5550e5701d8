#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/RecordingRouteRenderer.h"
#include "viewmodels/CVRouteRenderer.h"
#include "viewmodels/RouteViewModelProducer.h"

namespace ambrell::route_view_models_test {
namespace {

ViewModel marker(const std::string& id) {
    ViewModel model;
    model.id = id;
    model.marker = CVViewModelFeature("Feature", id, {},
                                      CVViewModelFeatureGeometry(GeoJsonGeometryType::Point, CVPoint(55.1, 12.2)));
    model.isClickable = true;
    return model;
}

void applyPlain(CVRouteRenderer& renderer, std::shared_ptr<const RouteViewModelProducer> model) {
    renderer.apply(std::move(model), false, 0, true, platform::Color{0, 0, 1, 0.3}, platform::Color{0, 0, 1, 1}, 8, 5,
                   true);
}

class TagLog : public CVRouteMarkerDelegate {
public:
    void onRouteMarkerClicked(const std::string& tag) override { tags.push_back(tag); }
    std::vector<std::string> tags;
};

TEST(RouteViewModelProducer, StartsWithAnEmptyLineAndNoMarkers) {
    const RouteViewModelProducer producer;
    EXPECT_TRUE(producer.polyline.empty());
    EXPECT_FALSE(producer.start.has_value());
    EXPECT_FALSE(producer.end.has_value());
    EXPECT_FALSE(producer.stops.has_value());
}

TEST(RouteViewModelProducer, TheAdapterTellsNoStopsFromAnEmptyStopList) {
    test::RecordingRouteRenderer renderer;

    auto withoutStops = std::make_shared<RouteViewModelProducer>();
    withoutStops->polyline = {{55.0, 12.0}, {55.1, 12.1}};
    withoutStops->start = marker("start_marker");
    auto withNoneShown = std::make_shared<RouteViewModelProducer>(*withoutStops);
    withNoneShown->stops.emplace();
    auto withOne = std::make_shared<RouteViewModelProducer>(*withoutStops);
    withOne->stops = std::vector<ViewModel>{marker("stop_1")};

    applyPlain(renderer, withoutStops);
    applyPlain(renderer, withNoneShown);
    applyPlain(renderer, withOne);

    const auto applied = renderer.applied();
    ASSERT_EQ(applied.size(), 3u);
    EXPECT_FALSE(applied[0].model->stops.has_value());
    ASSERT_TRUE(applied[1].model->stops.has_value());
    EXPECT_TRUE(applied[1].model->stops->empty());
    ASSERT_TRUE(applied[2].model->stops.has_value());
    ASSERT_EQ(applied[2].model->stops->size(), 1u);
    EXPECT_EQ(applied[2].model->stops->front().id, "stop_1");
    // The copies share nothing: each kept its own line and start marker.
    for (const auto& call : applied) {
        EXPECT_EQ(call.model->polyline.size(), 2u);
        ASSERT_TRUE(call.model->start.has_value());
        EXPECT_EQ(call.model->start->id, "start_marker");
        EXPECT_FALSE(call.model->end.has_value());
    }
}

TEST(RouteViewModelProducer, MarkerTapsReachTheDelegateWhileItLives) {
    test::RecordingRouteRenderer renderer;
    EXPECT_FALSE(renderer.tapMarker("end_marker"));

    auto delegate = std::make_shared<TagLog>();
    renderer.setRouteMarkerDelegate(delegate);
    EXPECT_EQ(renderer.routeMarkerDelegate(), delegate);
    EXPECT_TRUE(renderer.tapMarker("stop_3"));
    EXPECT_TRUE(renderer.tapMarker("start_marker"));
    EXPECT_EQ(delegate->tags, (std::vector<std::string>{"stop_3", "start_marker"}));

    // The adapter holds its delegate weakly.
    delegate.reset();
    EXPECT_EQ(renderer.routeMarkerDelegate(), nullptr);
    EXPECT_FALSE(renderer.tapMarker("end_marker"));
}

}  // namespace
}  // namespace ambrell::route_view_models_test
