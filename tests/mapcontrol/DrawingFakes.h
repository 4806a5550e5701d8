#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <boost/json/serialize.hpp>

#include "mapcontrol/CVDefaultRouteStopIconConfig.h"
#include "mapcontrol/CVDirectionsRendererInternal.h"
#include "mapcontrol/CVMapControlDrawingSeam.h"
#include "routemodel/CVRouteInternal.h"
#include "tests/support/RecordingMapAdapter.h"
#include "tests/support/RecordingPositionPresenter.h"
#include "tests/support/RecordingRouteRenderer.h"

namespace ambrell::test {

// An adapter that draws nothing: its route renderer and position presenter
// record what they are asked (either may be left out).
// The rest of the adapter is the recording one's. Make it with std::make_shared.
class DrawingMapProvider : public RecordingMapAdapter {
public:
    std::shared_ptr<RecordingRouteRenderer> routes = std::make_shared<RecordingRouteRenderer>();
    std::shared_ptr<RecordingPositionPresenter> positions = std::make_shared<RecordingPositionPresenter>();

    // The map view; the camera is fitted only while there is one.
    std::shared_ptr<platform::View> mapView = std::make_shared<platform::View>(CGRect{{0, 0}, {390, 844}});

    [[nodiscard]] std::shared_ptr<platform::View> view() const override { return mapView; }
    [[nodiscard]] std::shared_ptr<CVCameraOperator> cameraOperator() const override { return nullptr; }
    [[nodiscard]] std::int64_t model2DResolutionLimit() const override { return 2048; }
    [[nodiscard]] std::shared_ptr<CVRouteRenderer> routeRenderer() const override { return routes; }
    [[nodiscard]] std::shared_ptr<CVPositionPresenter> positionPresenter() const override { return positions; }
    void setViewModels(std::vector<ViewModel>, bool) override {}
};

// A map control whose floor selection runs the directions renderer's floor
// hook at once, as the real one does. Floors not in `floors` (when it is not
// empty) cannot be shown: selecting one leaves the map where it was.
class DrawingMapControl : public CVMapControlDrawingSeam {
public:
    explicit DrawingMapControl(std::shared_ptr<CVMapProvider> provider) : provider_(std::move(provider)) {}

    // Read by drawing tasks while a test moves it.
    std::atomic<int> floor{0};
    std::vector<int> floors;
    std::vector<int> selections;

    [[nodiscard]] int currentFloorIndex() const override { return floor; }
    void selectWithFloorIndex(int floorIndex) override {
        selections.push_back(floorIndex);
        if (floorIndex == floor) return;
        if (!floors.empty() && std::find(floors.begin(), floors.end(), floorIndex) == floors.end()) return;
        floor = floorIndex;
        if (const auto renderer = current_.lock()) renderer->floorChanged();
    }
    // The host or the camera moving the map to another floor.
    void showFloor(int floorIndex) {
        if (floorIndex == floor) return;
        floor = floorIndex;
        if (const auto renderer = current_.lock()) renderer->floorChanged();
    }
    [[nodiscard]] std::shared_ptr<CVMapProvider> mapProvider() const override { return provider_; }
    void setCurrentDirectionsRenderer(std::weak_ptr<CVDirectionsRendererInternal> renderer) override {
        current_ = std::move(renderer);
    }
    [[nodiscard]] std::shared_ptr<CVDirectionsRendererInternal> currentRenderer() const { return current_.lock(); }

private:
    std::shared_ptr<CVMapProvider> provider_;
    std::weak_ptr<CVDirectionsRendererInternal> current_;
};

// Small directions documents, decoded by the route model as the web service's would be.
struct RouteDocument {
    static boost::json::object coordinate(double lat, double lng, double zLevel) {
        return {{"lat", lat}, {"lng", lng}, {"zLevel", zLevel}};
    }
    // A leg on one floor whose single step runs through the points; `extra`
    // members are added to the leg.
    static boost::json::object leg(double floor, const std::vector<std::pair<double, double>>& points,
                                   boost::json::object extra = {}) {
        boost::json::array geometry;
        for (const auto& [lat, lng] : points) geometry.push_back(coordinate(lat, lng, floor));
        boost::json::object step{{"travel_mode", "walking"}, {"geometry", std::move(geometry)}};
        boost::json::object leg{{"steps", boost::json::array{std::move(step)}}};
        const auto& last = points.empty() ? std::pair<double, double>{0, 0} : points.back();
        leg["end_location"] = coordinate(last.first, last.second, floor);
        for (auto& [key, value] : extra) leg[key] = value;
        return leg;
    }
    static std::shared_ptr<CVRouteInternal> route(boost::json::array legs, boost::json::object extra = {}) {
        boost::json::object route{{"legs", std::move(legs)}};
        for (auto& [key, value] : extra) route[key] = value;
        return CVRouteInternal::decode(boost::json::serialize(route));
    }
};

}  // namespace ambrell::test
