// One render pass of the map control, from the request to the adapter's
// setViewModels, against producing the view models of the same locations
// alone in the same run.
//
//   render_pipeline [benchmark flags]
//
// The map shows the busiest floor (the building floor with the most
// locations) of the committed sample solution (argument 0) and of the
// generator's 50,000-location variant (argument 1), which the build writes
// beside the benchmarks. The adapter draws nothing and answers at once: its
// camera's visible region is the box around that floor's locations. The
// entry object's look-up is a stand-in that answers from the floor's own
// list (the locations on the floor index inside the region), so the pass is
// the map control's pipeline and the producer, not the search engine.
// Clustering is off, as in the view-model benchmark. A pass includes its
// queue, the main-queue hops for the visible region and the producer's
// creation, the adapter settings and the hand-over; the goal is a pass
// within 1.5 times the production alone. Both arms run in turn, one each per
// iteration, so that a busy machine slows both alike, the first of the two
// in turns; the models of earlier rounds are let go of outside the timing.
// After every round, outside the timing, the models the adapter was handed
// are checked to be the very ones the producer made alone. The closing line
// per solution is the median of the rounds' ratios over every repetition.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "Ambrell/CVMapConfig.h"
#include "bench/BenchSupport.h"
#include "bench/ViewModelText.h"
#include "data/CVEntrySeams.h"
#include "data/CVLocationInternal.h"
#include "data/CVSolutionInternal.h"
#include "foundation/CVLogger.h"
#include "mapcontrol/CVMapConfigMapProvider.h"
#include "mapcontrol/CVMapControlEntry.h"
#include "mapcontrol/CVMapControlInternal.h"
#include "platform/Logger.h"
#include "platform/runtime/BlockingWait.h"
#include "platform/runtime/MainQueue.h"
#include "platform/runtime/Runtime.h"
#include "platform/runtime/ThreadPool.h"
#include "tests/support/FakeImageProvider.h"
#include "viewmodels/CVViewModelProducer.h"
#include "viewmodels/DisplayRuleManagerSwift.h"

namespace ambrell::render_pipeline_bench {
namespace {

constexpr float kZoom = 20;
constexpr auto kBound = std::chrono::seconds(30);

// The entry object as the producer reads it: the variant's display rules and
// bundled icons.
class RulesEntry final : public CVEntryObjectSeam {
public:
    RulesEntry(std::shared_ptr<DisplayRuleManagerSwift> rules, std::shared_ptr<const CVImageProviderProtocol> images)
        : rules_(std::move(rules)), images_(std::move(images)) {}

    [[nodiscard]] std::shared_ptr<CVDisplayRule> displayRuleForLocation(const CVLocation& location) const override {
        return rules_->locationRule(location.getLocationId());
    }
    [[nodiscard]] std::shared_ptr<CVDisplayRule> displayRuleForDisplayRuleType(int rawType) const override {
        if (rawType < 0 || rawType > 6) return nullptr;
        return rules_->fixedRule(static_cast<CVDisplayRuleType>(rawType));
    }
    [[nodiscard]] std::shared_ptr<CVSolutionInternal> solution() const override { return rules_->solution(); }
    [[nodiscard]] std::shared_ptr<const CVImageProviderProtocol> imageProvider() const override { return images_; }

private:
    std::shared_ptr<DisplayRuleManagerSwift> rules_;
    std::shared_ptr<const CVImageProviderProtocol> images_;
};

// The entry object as the map control reads it: no venues, and a look-up
// that answers at once with the locations on the filter's floor inside its
// bounds.
class FloorEntry final : public CVMapControlEntry {
public:
    FloorEntry(std::map<double, Locations> byFloor, std::optional<CVSolutionConfig> config)
        : byFloor_(std::move(byFloor)), config_(std::move(config)) {}

    void venues(std::function<void(std::vector<std::shared_ptr<CVVenue>>)> completion) const override {
        completion({});
    }
    void buildingWithId(std::string /*buildingId*/,
                        std::function<void(std::shared_ptr<CVBuilding>)> completion) const override {
        completion(nullptr);
    }
    void lookUpLocations(CVFilter filter, std::function<void(Locations)> completion) const override {
        completion(matching(filter));
    }
    [[nodiscard]] std::optional<CVSolutionConfig> solutionConfig() const override { return config_; }
    void setActiveMapControl(const std::shared_ptr<CVMapControlling>& /*mapControl*/) const override {}

    [[nodiscard]] Locations matching(const CVFilter& filter) const {
        Locations found;
        if (!filter.floorIndex) return found;
        const auto floor = byFloor_.find(*filter.floorIndex);
        if (floor == byFloor_.end()) return found;
        for (const auto& location : floor->second) {
            const CVPoint point = location->getPosition();
            if (filter.bounds && !filter.bounds->containsCoordinate({point.latitude(), point.longitude()})) continue;
            found.push_back(location);
        }
        return found;
    }

private:
    std::map<double, Locations> byFloor_;
    std::optional<CVSolutionConfig> config_;
};

// An adapter that draws nothing: a camera over the floor whose projection is
// itself and whose visible region is fixed, and a count of the view models
// handed over, which the benchmark waits on.
class NullAdapter final : public CVMapProvider,
                          public CVCameraOperator,
                          public CVProjection,
                          public std::enable_shared_from_this<NullAdapter> {
public:
    explicit NullAdapter(CVGeoBounds region) : region_(region) {
        const auto southWest = region.southWest();
        const auto northEast = region.northEast();
        position_.target = {(southWest.latitude + northEast.latitude) / 2,
                            (southWest.longitude + northEast.longitude) / 2};
        position_.zoom = kZoom;
    }

    // Waits until `count` hand-overs have arrived in all; false after the bound.
    bool waitForHandOvers(std::size_t count) {
        std::unique_lock lock(mutex_);
        return handedOver_.wait_for(lock, kBound, [&] { return handOvers_ >= count; });
    }
    [[nodiscard]] std::size_t handOvers() const {
        std::lock_guard lock(mutex_);
        return handOvers_;
    }
    // The last hand-over's models, written out.
    [[nodiscard]] std::string lastModelsText() const {
        std::lock_guard lock(mutex_);
        return bench::textOf(models_);
    }

    // CVMapProvider
    [[nodiscard]] std::shared_ptr<platform::View> view() const override { return nullptr; }
    [[nodiscard]] platform::EdgeInsets padding() const override { return {}; }
    void setPadding(platform::EdgeInsets /*padding*/) override {}
    [[nodiscard]] bool CVaccessibilityElementsHidden() const override { return false; }
    void setCVaccessibilityElementsHidden(bool /*hidden*/) override {}
    [[nodiscard]] std::shared_ptr<CVMapProviderDelegate> delegate() const override {
        std::lock_guard lock(mutex_);
        return delegate_.lock();
    }
    void setDelegate(std::weak_ptr<CVMapProviderDelegate> delegate) override {
        std::lock_guard lock(mutex_);
        delegate_ = std::move(delegate);
    }
    [[nodiscard]] std::shared_ptr<CVCustomInfoWindow> customInfoWindow() const override {
        std::lock_guard lock(mutex_);
        return infoWindow_;
    }
    void setCustomInfoWindow(std::shared_ptr<CVCustomInfoWindow> infoWindow) override {
        std::lock_guard lock(mutex_);
        infoWindow_ = std::move(infoWindow);
    }
    [[nodiscard]] CVCollisionHandling collisionHandling() const override { return {}; }
    void setCollisionHandling(CVCollisionHandling /*handling*/) override {}
    [[nodiscard]] double wallExtrusionOpacity() const override { return 0; }
    void setWallExtrusionOpacity(double /*opacity*/) override {}
    [[nodiscard]] double featureExtrusionOpacity() const override { return 0; }
    void setFeatureExtrusionOpacity(double /*opacity*/) override {}
    [[nodiscard]] std::shared_ptr<CVCameraOperator> cameraOperator() const override {
        return std::const_pointer_cast<NullAdapter>(shared_from_this());
    }
    [[nodiscard]] std::int64_t model2DResolutionLimit() const override { return 2048; }
    [[nodiscard]] std::shared_ptr<CVRouteRenderer> routeRenderer() const override { return nullptr; }
    [[nodiscard]] std::shared_ptr<CVPositionPresenter> positionPresenter() const override { return nullptr; }
    [[nodiscard]] bool enableNativeMapBuildings() const override { return true; }
    void setEnableNativeMapBuildings(bool /*enable*/) override {}
    [[nodiscard]] std::shared_ptr<CVExternalDirectionsService> routingService() const override { return nullptr; }
    [[nodiscard]] std::shared_ptr<CVExternalDistanceMatrixService> distanceMatrixService() const override {
        return nullptr;
    }
    void setViewModels(std::vector<ViewModel> models, bool /*forceClear*/) override {
        std::lock_guard lock(mutex_);
        // The previous render's models are let go of later, out of the pass.
        spent_.push_back(std::move(models_));
        models_ = std::move(models);
        ++handOvers_;
        handedOver_.notify_all();
    }
    void releaseSpentModels() {
        std::vector<std::vector<ViewModel>> spent;
        std::lock_guard lock(mutex_);
        spent.swap(spent_);
    }
    void setTileProvider(std::shared_ptr<CVTileProviding> /*tileProvider*/) override {}
    void reloadTilesForFloorChange() override {}

    // CVCameraOperator
    void move(platform::CLLocationCoordinate2D /*target*/, float /*zoom*/) override {}
    void animate(const CVCameraPosition& /*position*/) override {}
    void animate(const CVGeoBounds& /*bounds*/) override {}
    void animate(platform::CLLocationCoordinate2D /*target*/, std::optional<float> /*zoom*/) override {}
    [[nodiscard]] CVCameraPosition position() const override { return position_; }
    [[nodiscard]] platform::Awaitable<std::shared_ptr<CVProjection>> projection() override {
        co_return shared_from_this();
    }
    [[nodiscard]] CVCameraPosition camera(const CVGeoBounds& /*bounds*/,
                                          const platform::EdgeInsets& /*insets*/) const override {
        return position_;
    }

    // CVProjection
    [[nodiscard]] platform::Awaitable<CVGeoRegion> visibleRegion() override { co_return CVGeoRegion{region_}; }
    [[nodiscard]] platform::Awaitable<platform::CLLocationCoordinate2D> coordinateFor(
        platform::CGPoint /*point*/) override {
        co_return position_.target;
    }
    [[nodiscard]] platform::Awaitable<platform::CGPoint> pointFor(
        platform::CLLocationCoordinate2D coordinate) override {
        co_return platform::CGPoint{coordinate.longitude, coordinate.latitude};
    }

private:
    const CVGeoBounds region_;
    CVCameraPosition position_;
    mutable std::mutex mutex_;
    std::condition_variable handedOver_;
    std::weak_ptr<CVMapProviderDelegate> delegate_;
    std::shared_ptr<CVCustomInfoWindow> infoWindow_;
    std::vector<ViewModel> models_;
    std::vector<std::vector<ViewModel>> spent_;
    std::size_t handOvers_ = 0;
};

std::filesystem::path variantFolder(std::int64_t variant) {
    return variant == 0 ? std::filesystem::path(AMBRELL_RENDER_SAMPLE_SOLUTION)
                        : std::filesystem::path(AMBRELL_RENDER_LARGE_SOLUTION);
}

// A map control on the null adapter, settled on the busiest floor.
class Scene {
public:
    explicit Scene(const std::filesystem::path& folder) {
        const auto sync = folder / "service" / "sync";
        auto solution = CVSolutionInternal::fromString(bench::readText(sync / "solutions_en.json"));
        auto dataset = CVLocationDataset::fromString(bench::readText(sync / "locations_en.json"));
        if (!solution || !dataset || !dataset->list) {
            throw std::runtime_error("the solution in " + folder.string() + " does not read");
        }
        if (solution->config) solution->config->enableClustering = false;

        // The busiest floor: the building floor with the most locations.
        std::map<std::pair<std::string, double>, CVMapControlEntry::Locations> byBuildingFloor;
        std::map<double, CVMapControlEntry::Locations> byFloor;
        CVMapControlEntry::Locations all;
        for (const auto& location : *dataset->list) {
            all.push_back(location);
            const auto floorIndex = location->getFloorIndex();
            if (!floorIndex) continue;
            byFloor[*floorIndex].push_back(location);
            const auto& internal = static_cast<const CVLocationInternal&>(*location);
            if (!internal.building.empty()) byBuildingFloor[{internal.building, *floorIndex}].push_back(location);
        }
        const auto busiest =
            std::max_element(byBuildingFloor.begin(), byBuildingFloor.end(),
                             [](const auto& lhs, const auto& rhs) { return lhs.second.size() < rhs.second.size(); });
        if (busiest == byBuildingFloor.end()) throw std::runtime_error("no location lies on a building's floor");
        floorIndex_ = busiest->first.second;
        std::vector<platform::CLLocationCoordinate2D> corners;
        for (const auto& location : busiest->second) {
            const auto bounds = location->coordinateBounds();
            corners.push_back(bounds.southWest());
            corners.push_back(bounds.northEast());
        }
        const CVGeoBounds region(corners);

        auto rules = std::make_shared<DisplayRuleManagerSwift>(solution);
        auto strand = platform::ThreadPool::shared().makeStrand();
        platform::blockingWait(strand, rules->updateTypeRules());
        platform::blockingWait(strand, rules->updateLocationRules(all));
        auto images = std::make_shared<test::FakeImageProvider>(folder / "bundle");
        images->setBundledImagesAreLocal(true);
        CVEntryObjectSeam::install(std::make_shared<RulesEntry>(rules, images));

        entry_ = std::make_shared<FloorEntry>(std::move(byFloor), solution->getConfig());
        adapter_ = std::make_shared<NullAdapter>(region);
        setMapProvider(config_, adapter_);
        control_ = CVMapControlInternal::create(config_, {entry_, {}});
        if (!control_) throw std::runtime_error("no map control");
        settle();
        control_->setCurrentFloorIndex(static_cast<std::int64_t>(floorIndex_));
        settle();

        CVFilter filter;
        filter.floorIndex = floorIndex_;
        filter.bounds = region;
        locations_ = entry_->matching(filter);
    }
    ~Scene() {
        setMapProvider(config_, nullptr);
        settle();
        std::weak_ptr<CVMapControlInternal> gone = control_;
        control_.reset();
        const auto until = std::chrono::steady_clock::now() + kBound;
        while (!gone.expired() && std::chrono::steady_clock::now() < until) {
            platform::MainQueue::shared().drain();
            std::this_thread::yield();
        }
        platform::MainQueue::shared().drain();
    }
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    // One pass: asked for, and waited for until the adapter has the models.
    void pass() {
        const std::size_t next = adapter_->handOvers() + 1;
        control_->requestRender(false);
        if (!adapter_->waitForHandOvers(next)) throw std::runtime_error("a render never reached the adapter");
    }
    // Lets the pass's task and anything it queued run out.
    void settle() {
        const auto until = std::chrono::steady_clock::now() + kBound;
        while (std::chrono::steady_clock::now() < until) {
            platform::MainQueue::shared().drain();
            if (control_->tasksInFlight() == 0) {
                platform::MainQueue::shared().drain();
                if (control_->tasksInFlight() == 0) return;
            }
            std::this_thread::yield();
        }
        throw std::runtime_error("the map control never settled");
    }
    // The producer alone, as a render makes it, over the same locations.
    [[nodiscard]] std::vector<ViewModel> produce() const {
        CVViewModelProducer producer(locations_, control_, std::nullopt, {});
        return platform::blockingWait(platform::ThreadPool::shared().makeStrand(), producer.produceViewModels());
    }

    [[nodiscard]] NullAdapter& adapter() const { return *adapter_; }
    [[nodiscard]] std::size_t locationCount() const { return locations_.size(); }
    [[nodiscard]] double floorIndex() const { return floorIndex_; }
    [[nodiscard]] std::int64_t currentFloor() const { return control_->currentFloorIndex(); }

private:
    CVMapConfig config_;
    std::shared_ptr<FloorEntry> entry_;
    std::shared_ptr<NullAdapter> adapter_;
    std::shared_ptr<CVMapControlInternal> control_;
    CVMapControlEntry::Locations locations_;
    double floorIndex_ = 0;
};

// Per solution, over every repetition: the pass (first) and the production
// alone (second), and what the floor held.
struct Figures {
    bench::ArmsInTurns passAndProduction;
    std::size_t locations = 0;
    std::size_t viewModels = 0;
};

Figures& figures(std::int64_t variant) {
    static Figures perVariant[2];
    return perVariant[variant == 0 ? 0 : 1];
}

void BM_PassAgainstProductionInTurn(benchmark::State& state) {
    auto& figures = render_pipeline_bench::figures(state.range(0));
    Scene scene(variantFolder(state.range(0)));
    if (scene.currentFloor() != static_cast<std::int64_t>(scene.floorIndex())) {
        figures.passAndProduction.fail("the map control left the busiest floor");
        state.SkipWithError(figures.passAndProduction.fault.c_str());
        return;
    }
    // Icons and display rules warm, as on every render after the first.
    scene.pass();
    scene.settle();
    std::vector<ViewModel> kept = scene.produce();

    // Whichever arm runs second in a round is slowed by the first one's
    // aftermath on the pool: the order alternates from round to round.
    bench::ArmsInTurns repetition;
    for (auto _ : state) {
        std::vector<ViewModel> produced;
        repetition.runBoth([&] { scene.pass(); }, [&] { produced = scene.produce(); });
        state.PauseTiming();
        scene.settle();
        const bool same = bench::textOf(produced) == scene.adapter().lastModelsText();
        // As the adapter's, the earlier models are let go of out of the timing.
        std::swap(kept, produced);
        produced.clear();
        scene.adapter().releaseSpentModels();
        state.ResumeTiming();
        if (!figures.passAndProduction.keepRound(
                repetition, same ? std::string() : "the pass and the producer made different view models")) {
            state.SkipWithError(figures.passAndProduction.fault.c_str());
            return;
        }
    }
    figures.locations = scene.locationCount();
    figures.viewModels = kept.size();
    state.counters["pass_ms"] = bench::medianOf(repetition.firstSeconds) * 1e3;
    state.counters["production_ms"] = bench::medianOf(repetition.secondSeconds) * 1e3;
    state.counters["ratio"] = repetition.medianRatio();
    state.counters["locations"] = static_cast<double>(figures.locations);
    state.counters["viewModels"] = static_cast<double>(figures.viewModels);
}
// Enough rounds for steady medians: the sample's floor is a few
// milliseconds a round, the large variant's some hundreds.
BENCHMARK(BM_PassAgainstProductionInTurn)
    ->ArgName("large")
    ->Arg(0)
    ->Iterations(200)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_PassAgainstProductionInTurn)
    ->ArgName("large")
    ->Arg(1)
    ->Iterations(15)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace ambrell::render_pipeline_bench

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    ambrell::platform::Logger::setSink(std::make_shared<ambrell::bench::QuietLogSink>());
    ambrell::CVLogger::sharedInstance()->setConfiguration(ambrell::CVLoggingConfig::noLogging());
    {
        ambrell::platform::MainQueueThread mainThread;
        benchmark::RunSpecifiedBenchmarks();
    }
    const char* names[] = {"sample solution", "large variant"};
    for (std::int64_t variant = 0; variant < 2; ++variant) {
        const auto& figures = ambrell::render_pipeline_bench::figures(variant);
        if (figures.passAndProduction.rounds() == 0 && !figures.passAndProduction.failed()) continue;
        const std::string subject = std::string(names[variant]) + ", busiest floor (" +
                                    std::to_string(figures.locations) + " locations, " +
                                    std::to_string(figures.viewModels) + " view models)";
        ambrell::bench::printVerdict(subject, figures.passAndProduction, "pass", "production alone", "<= 1.5");
    }
    benchmark::Shutdown();
    ambrell::platform::Runtime::shared().shutdown();
    return 0;
}
