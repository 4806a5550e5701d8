// One render of the map's view models: the view-model producer turning 5,000
// locations of the sample solution's large variant into markers and polygons
// (clustering off), with their display rules, icons, badges and label styles,
// against the baseline of writing that render's features as compact GeoJSON
// on one thread, which an adapter reading GeoJSON pays on every render.
//
//     view_models [benchmark flags] [variant folder]
//
// The variant folder defaults to the 50,000-location variant the build writes
// beside the benchmarks:
//
//     python3 examples/sample-solution/generate.py --large --out <folder>
//
// BM_RenderWarm is a render after the first (icons cached), BM_RenderCold
// empties the image caches first, BM_RenderWarmLiveBadges gives one location
// in ten a live occupancy, whose badge is drawn on every render. Each reports
// locations per second, its share of a 60 Hz frame (16.7 ms) and the threads
// of the pool the locations are worked on by. The last line gives the warm
// render's time as a multiple of the baseline's.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

#include "Ambrell/CVLiveUpdate.h"
#include "bench/BenchSupport.h"
#include "data/CVEntrySeams.h"
#include "data/CVLocationInternal.h"
#include "data/CVMemoryCache.h"
#include "data/CVSolutionInternal.h"
#include "platform/runtime/BlockingWait.h"
#include "platform/runtime/ThreadPool.h"
#include "tests/support/FakeImageProvider.h"
#include "tests/support/ManagedRulesEntry.h"
#include "tests/support/RecordingMapAdapter.h"
#include "viewmodels/CVViewModelProducer.h"
#include "viewmodels/DisplayRuleManagerSwift.h"

namespace ambrell::bench {

constexpr std::size_t kRenderedLocations = 5'000;
constexpr double kFrameSeconds = 1.0 / 60.0;
constexpr double kZoom = 20;

struct Scene {
    std::vector<std::shared_ptr<CVLocation>> locations;
    std::shared_ptr<test::RecordingMapAdapter> adapter;
};

std::filesystem::path& variantFolder() {
    static std::filesystem::path folder = AMBRELL_VIEW_MODELS_SOLUTION;
    return folder;
}

Scene& scene() {
    static Scene loaded = [] {
        const auto sync = variantFolder() / "service" / "sync";
        auto solution = CVSolutionInternal::fromString(bench::readText(sync / "solutions_en.json"));
        auto dataset = CVLocationDataset::fromString(bench::readText(sync / "locations_en.json"));
        if (!solution || !dataset || !dataset->list || dataset->list->size() < kRenderedLocations) {
            throw std::runtime_error("the variant in " + variantFolder().string() + " does not read");
        }
        // The solution is the configured one: clustering off.
        if (solution->config) solution->config->enableClustering = false;
        Scene scene;
        for (std::size_t i = 0; i < kRenderedLocations; ++i) scene.locations.push_back((*dataset->list)[i]);

        auto rules = std::make_shared<DisplayRuleManagerSwift>(solution);
        auto strand = platform::ThreadPool::shared().makeStrand();
        platform::blockingWait(strand, rules->updateTypeRules());
        platform::blockingWait(strand, rules->updateLocationRules(scene.locations));
        auto images = std::make_shared<test::FakeImageProvider>(variantFolder() / "bundle");
        images->setBundledImagesAreLocal(true);
        CVEntryObjectSeam::install(std::make_shared<test::ManagedRulesEntry>(rules, images));

        scene.adapter = std::make_shared<test::RecordingMapAdapter>();
        scene.adapter->setCamera(kZoom, 0);
        return scene;
    }();
    return loaded;
}

std::vector<ViewModel> render(const Scene& scene) {
    CVViewModelProducer producer(scene.locations, scene.adapter, std::nullopt, {});
    return platform::blockingWait(platform::ThreadPool::shared().makeStrand(), producer.produceViewModels());
}

void report(benchmark::State& state, std::size_t viewModels) {
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kRenderedLocations));
    state.counters["locations/s"] =
        benchmark::Counter(static_cast<double>(kRenderedLocations), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["frames"] =
        benchmark::Counter(kFrameSeconds, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["threads"] = platform::ThreadPool::shared().threadCount();
    state.counters["viewModels"] = static_cast<double>(viewModels);
}

void BM_RenderWarm(benchmark::State& state) {
    const Scene& warm = scene();
    std::size_t produced = render(warm).size();
    for (auto _ : state) {
        auto viewModels = render(warm);
        produced = viewModels.size();
        benchmark::DoNotOptimize(viewModels.data());
    }
    report(state, produced);
}

void BM_RenderCold(benchmark::State& state) {
    const Scene& cold = scene();
    std::size_t produced = 0;
    for (auto _ : state) {
        state.PauseTiming();
        CVMemoryCache::clearAllCaches();
        state.ResumeTiming();
        auto viewModels = render(cold);
        produced = viewModels.size();
        benchmark::DoNotOptimize(viewModels.data());
    }
    report(state, produced);
}

void BM_RenderWarmLiveBadges(benchmark::State& state) {
    Scene& live = scene();
    const auto moment = std::chrono::system_clock::now();
    for (std::size_t i = 0; i < live.locations.size(); i += 10) {
        auto& location = static_cast<CVLocationInternal&>(*live.locations[i]);
        location.assignLiveUpdate(std::make_shared<CVOccupancyLiveUpdate>(moment, location.locationId, 3));
    }
    std::size_t produced = render(live).size();
    for (auto _ : state) {
        auto viewModels = render(live);
        produced = viewModels.size();
        benchmark::DoNotOptimize(viewModels.data());
    }
    report(state, produced);
}

// What an adapter reading GeoJSON does with a warm render's result.
void BM_GeoJsonBaseline(benchmark::State& state) {
    const auto viewModels = render(scene());
    std::size_t bytes = 0;
    for (auto _ : state) {
        bytes = 0;
        for (const auto& viewModel : viewModels) {
            if (viewModel.marker) bytes += viewModel.marker->toGeoJson().size();
            if (viewModel.polygon) bytes += viewModel.polygon->toGeoJson().size();
        }
        benchmark::DoNotOptimize(bytes);
    }
    report(state, viewModels.size());
    state.counters["bytes"] = static_cast<double>(bytes);
}

BENCHMARK(BM_GeoJsonBaseline)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RenderWarm)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RenderCold)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RenderWarmLiveBadges)->Unit(benchmark::kMillisecond)->UseRealTime();

// The console's table, then the warm render's time over the baseline's (the
// medians when the runs are repeated).
class RatioReporter final : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) != 0 ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.run_type == Run::RT_Aggregate && !median) continue;
            const std::string name = run.run_name.function_name;
            if (name == "BM_GeoJsonBaseline") baseline_ = run.GetAdjustedRealTime();
            if (name == "BM_RenderWarm") warm_ = run.GetAdjustedRealTime();
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        if (baseline_ > 0 && warm_ > 0) std::printf("warm render / GeoJSON baseline: %.2fx\n", warm_ / baseline_);
    }

private:
    double baseline_ = 0;
    double warm_ = 0;
};

}  // namespace ambrell::bench

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (argc > 1) ambrell::bench::variantFolder() = argv[1];
    ambrell::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
