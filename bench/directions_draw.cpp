// Drawing one leg of a route whose 30 stops all lie on the map's floor,
// through a route renderer that draws nothing, against drawing the 30
// numbered stop pins alone in the same run.
//
//   directions_draw [benchmark flags]
//
// A drawing of that leg builds its line, its start marker (a route-leg
// button drawn into an image) and one marker per stop, each with its
// numbered pin, and posts its notifications; usage events are switched off,
// so that the figure is the drawing's and not the usage log's. The pins are
// most of the work: the goal is a drawing within 1.5 times the pins alone.
// The two run in turns; after every round, outside the timing, the drawing's
// 30 stop markers and the pins alone are checked to be the very pins drawn
// once beforehand. The
// closing line is the median of the rounds' ratios over every repetition.

#include <benchmark/benchmark.h>

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <boost/json/serialize.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bench/BenchSupport.h"
#include "foundation/CVLogger.h"
#include "mapcontrol/CVDefaultRouteStopIconConfig.h"
#include "mapcontrol/CVDirectionsRendererInternal.h"
#include "platform/Logger.h"
#include "platform/Screen.h"
#include "platform/runtime/Runtime.h"
#include "routemodel/CVRouteInternal.h"
#include "viewmodels/ClusterEngine.h"

namespace ambrell::directions_draw_bench {
namespace {

constexpr int kStops = 30;

class NullRouteRenderer : public CVRouteRenderer {
public:
    [[nodiscard]] std::shared_ptr<CVRouteMarkerDelegate> routeMarkerDelegate() const override {
        return delegate_.lock();
    }
    void setRouteMarkerDelegate(std::weak_ptr<CVRouteMarkerDelegate> delegate) override {
        delegate_ = std::move(delegate);
    }
    void apply(std::shared_ptr<const RouteViewModelProducer> model, bool, double, bool, platform::Color,
               platform::Color, float, float, bool) override {
        stops += model->stops ? model->stops->size() : 0;
        last = std::move(model);
    }
    void moveCamera(std::vector<CLLocationCoordinate2D>, bool, std::int64_t, float, CVCameraViewFitMode,
                    UIEdgeInsets) override {}
    void clear() override {}

    std::size_t stops = 0;
    std::shared_ptr<const RouteViewModelProducer> last;

private:
    std::weak_ptr<CVRouteMarkerDelegate> delegate_;
};

class NullMapProvider : public CVMapProvider {
public:
    std::shared_ptr<NullRouteRenderer> routes = std::make_shared<NullRouteRenderer>();
    std::shared_ptr<platform::View> mapView = std::make_shared<platform::View>(CGRect{{0, 0}, {390, 844}});

    [[nodiscard]] std::shared_ptr<platform::View> view() const override { return mapView; }
    [[nodiscard]] std::shared_ptr<CVCameraOperator> cameraOperator() const override { return nullptr; }
    [[nodiscard]] std::int64_t model2DResolutionLimit() const override { return 2048; }
    [[nodiscard]] std::shared_ptr<CVRouteRenderer> routeRenderer() const override { return routes; }
    [[nodiscard]] std::shared_ptr<CVPositionPresenter> positionPresenter() const override { return nullptr; }
    void setViewModels(std::vector<ViewModel>, bool) override {}
    [[nodiscard]] platform::EdgeInsets padding() const override { return {}; }
    void setPadding(platform::EdgeInsets) override {}
    [[nodiscard]] bool CVaccessibilityElementsHidden() const override { return false; }
    void setCVaccessibilityElementsHidden(bool) override {}
    [[nodiscard]] std::shared_ptr<CVMapProviderDelegate> delegate() const override { return nullptr; }
    void setDelegate(std::weak_ptr<CVMapProviderDelegate>) override {}
    [[nodiscard]] std::shared_ptr<CVCustomInfoWindow> customInfoWindow() const override { return nullptr; }
    void setCustomInfoWindow(std::shared_ptr<CVCustomInfoWindow>) override {}
    [[nodiscard]] CVCollisionHandling collisionHandling() const override { return {}; }
    void setCollisionHandling(CVCollisionHandling) override {}
    [[nodiscard]] double wallExtrusionOpacity() const override { return 0; }
    void setWallExtrusionOpacity(double) override {}
    [[nodiscard]] double featureExtrusionOpacity() const override { return 0; }
    void setFeatureExtrusionOpacity(double) override {}
    [[nodiscard]] bool enableNativeMapBuildings() const override { return true; }
    void setEnableNativeMapBuildings(bool) override {}
    [[nodiscard]] std::shared_ptr<CVExternalDirectionsService> routingService() const override { return nullptr; }
    [[nodiscard]] std::shared_ptr<CVExternalDistanceMatrixService> distanceMatrixService() const override {
        return nullptr;
    }
    void setTileProvider(std::shared_ptr<CVTileProviding>) override {}
    void reloadTilesForFloorChange() override {}
};

class OneFloorMap : public CVMapControlDrawingSeam {
public:
    explicit OneFloorMap(std::shared_ptr<CVMapProvider> provider) : provider_(std::move(provider)) {}
    [[nodiscard]] int currentFloorIndex() const override { return 0; }
    void selectWithFloorIndex(int) override {}
    [[nodiscard]] std::shared_ptr<CVMapProvider> mapProvider() const override { return provider_; }
    void setCurrentDirectionsRenderer(std::weak_ptr<CVDirectionsRendererInternal>) override {}

private:
    std::shared_ptr<CVMapProvider> provider_;
};

// Legs 0 to 29 end at the stops, leg 30 runs from the last stop; every leg
// has a line of 20 points on floor 0.
std::shared_ptr<CVRouteInternal> routeWithStops() {
    boost::json::array legs;
    for (int leg = 0; leg <= kStops; ++leg) {
        boost::json::array geometry;
        for (int point = 0; point < 20; ++point) {
            geometry.push_back(
                {{"lat", 55.0 + leg * 1e-4 + point * 5e-6}, {"lng", 12.0 + point * 5e-6}, {"zLevel", 0}});
        }
        boost::json::object object{{"steps", boost::json::array{boost::json::object{{"geometry", geometry}}}},
                                   {"end_location", geometry.back()}};
        if (leg < kStops) object["legEndReason"] = 4;
        legs.push_back(std::move(object));
    }
    boost::json::array order;
    for (int stop = 0; stop < kStops; ++stop) order.push_back(stop);
    return CVRouteInternal::decode(
        boost::json::serialize(boost::json::object{{"legs", legs}, {"orderedStopIndexes", order}}));
}

// The drawing (first) and the pins alone (second), over every repetition.
bench::ArmsInTurns& drawAndPins() {
    static bench::ArmsInTurns rounds;
    return rounds;
}

bool sameImage(const platform::Image* drawn, const platform::Image* pin) {
    if (drawn == nullptr || pin == nullptr) return false;
    const auto drawnPixels = drawn->pixels();
    const auto pinPixels = pin->pixels();
    return drawn->width() == pin->width() && drawn->height() == pin->height() && drawn->scale() == pin->scale() &&
           std::equal(drawnPixels.begin(), drawnPixels.end(), pinPixels.begin(), pinPixels.end());
}

// Empty when the drawing's stops are the 30 pins, in their order.
std::string checkStops(const RouteViewModelProducer* drawing,
                       const std::vector<std::shared_ptr<const platform::Image>>& pins) {
    if (drawing == nullptr || !drawing->stops) return "the drawing reached no route renderer";
    const auto& stops = *drawing->stops;
    if (stops.size() != pins.size()) return "the drawing has " + std::to_string(stops.size()) + " stops";
    for (std::size_t index = 0; index < stops.size(); ++index) {
        if (!sameImage(viewModelImage(stops[index], CVModelData::icon), pins[index].get())) {
            return "stop " + std::to_string(index + 1) + " is not the numbered pin";
        }
    }
    return {};
}

void BM_DrawLegWithThirtyStops(benchmark::State& state) {
    const auto provider = std::make_shared<NullMapProvider>();
    const auto renderer = CVDirectionsRendererInternal::create(std::make_shared<OneFloorMap>(provider));
    renderer->setRoute(routeWithStops());
    renderer->setRouteLegIndex(kStops);
    std::chrono::nanoseconds spent{0};
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        renderer->render();
        spent += std::chrono::steady_clock::now() - start;
    }
    if (provider->routes->stops != static_cast<std::size_t>(kStops) * state.iterations()) {
        state.SkipWithError("the drawing did not carry every stop");
    }
    state.counters["stops"] = kStops;
    state.counters["per_draw_ms"] = static_cast<double>(spent.count()) / static_cast<double>(state.iterations()) / 1e6;
}
BENCHMARK(BM_DrawLegWithThirtyStops)->Unit(benchmark::kMillisecond);

void BM_ThirtyNumberedPins(benchmark::State& state) {
    const CVDefaultRouteStopIconConfig config(true, std::nullopt, CVDefaultRouteStopIconConfig::pinColor());
    std::chrono::nanoseconds spent{0};
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        for (int number = 1; number <= kStops; ++number) benchmark::DoNotOptimize(config.numberedImage(number));
        spent += std::chrono::steady_clock::now() - start;
    }
    state.counters["per_round_ms"] = static_cast<double>(spent.count()) / static_cast<double>(state.iterations()) / 1e6;
}
BENCHMARK(BM_ThirtyNumberedPins)->Unit(benchmark::kMillisecond);

// The two in turn, iteration by iteration, so that a busy machine slows both
// alike: the ratio comes from here. Each arm's images are checked against
// the pins drawn once beforehand, outside its time; letting go of them is in it.
void BM_DrawAgainstPinsInTurn(benchmark::State& state) {
    const auto provider = std::make_shared<NullMapProvider>();
    const auto renderer = CVDirectionsRendererInternal::create(std::make_shared<OneFloorMap>(provider));
    renderer->setRoute(routeWithStops());
    renderer->setRouteLegIndex(kStops);
    const CVDefaultRouteStopIconConfig config(true, std::nullopt, CVDefaultRouteStopIconConfig::pinColor());
    const auto drawPins = [&] {
        std::vector<std::shared_ptr<const platform::Image>> pins;
        pins.reserve(kStops);
        for (int number = 1; number <= kStops; ++number) pins.push_back(config.numberedImage(number));
        return pins;
    };
    const auto reference = drawPins();
    bench::ArmsInTurns& all = drawAndPins();
    bench::ArmsInTurns repetition;
    for (auto _ : state) {
        std::string fault;
        repetition.runBothTimed(
            [&] {
                return bench::secondsToMake(
                    [&] {
                        renderer->render();
                        return std::exchange(provider->routes->last, nullptr);
                    },
                    [&](const std::shared_ptr<const RouteViewModelProducer>& drawing) {
                        if (auto wrong = checkStops(drawing.get(), reference); !wrong.empty()) fault = wrong;
                    });
            },
            [&] {
                return bench::secondsToMake(
                    drawPins, [&](const std::vector<std::shared_ptr<const platform::Image>>& pins) {
                        for (std::size_t index = 0; index < pins.size(); ++index) {
                            if (!sameImage(pins[index].get(), reference[index].get()) && fault.empty()) {
                                fault = "pin " + std::to_string(index + 1) + " came out otherwise";
                            }
                        }
                    });
            });
        if (!all.keepRound(repetition, fault)) {
            state.SkipWithError(all.fault.c_str());
            break;
        }
    }
    state.counters["draw_ms"] = bench::medianOf(repetition.firstSeconds) * 1e3;
    state.counters["pins_ms"] = bench::medianOf(repetition.secondSeconds) * 1e3;
    state.counters["ratio"] = repetition.medianRatio();
}
BENCHMARK(BM_DrawAgainstPinsInTurn)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ambrell::directions_draw_bench

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    ambrell::platform::Logger::setSink(std::make_shared<ambrell::bench::QuietLogSink>());
    ambrell::platform::Screen::setScale(2);
    ambrell::CVLogger::sharedInstance()->setConfiguration(ambrell::CVLoggingConfig::noLogging());
    benchmark::RunSpecifiedBenchmarks();
    ambrell::bench::printVerdict("a leg with 30 stops", ambrell::directions_draw_bench::drawAndPins(),
                                 "drawing the leg", "its 30 numbered pins alone", "<= 1.5");
    benchmark::Shutdown();
    ambrell::platform::Runtime::shared().shutdown();
    return 0;
}
