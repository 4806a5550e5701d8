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
// of the pool the locations are worked on by. BM_WarmRenderAgainstGeoJsonInTurn
// runs a warm render and the baseline in turns, one each a round; both arms
// are checked every round to make the features of a render made beforehand.
// The closing line gives the warm render's time as a multiple of the
// baseline's: the median of the rounds' ratios over every repetition.

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

// The features an adapter reading GeoJSON writes for a render's view models,
// markers then polygons of each, in the list's order.
void writeGeoJson(const std::vector<ViewModel>& viewModels, std::vector<std::string>& texts) {
    for (const auto& viewModel : viewModels) {
        if (viewModel.marker) texts.push_back(viewModel.marker->toGeoJson());
        if (viewModel.polygon) texts.push_back(viewModel.polygon->toGeoJson());
    }
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

// The warm render (first) and the baseline (second), over every repetition.
ArmsInTurns& warmAndBaseline() {
    static ArmsInTurns rounds;
    return rounds;
}

// A warm render and the baseline's writing of the same render in turns: the
// ratio is judged from here. Both arms' work is checked against the features
// of a render made beforehand: the render's once it is made, its check left
// out of its time but not the letting go of its models; each of the
// baseline's texts as it is written.
void BM_WarmRenderAgainstGeoJsonInTurn(benchmark::State& state) {
    const Scene& warm = scene();
    const auto reference = render(warm);
    std::vector<std::string> expected;
    writeGeoJson(reference, expected);
    ArmsInTurns& all = warmAndBaseline();
    ArmsInTurns repetition;
    for (auto _ : state) {
        std::string fault;
        repetition.runBothTimed(
            [&] {
                return secondsToMake([&] { return render(warm); },
                                     [&](const std::vector<ViewModel>& rendered) {
                                         std::vector<std::string> features;
                                         writeGeoJson(rendered, features);
                                         if (features != expected) {
                                             fault = "the render's features are not those the baseline writes";
                                         }
                                     });
            },
            [&] {
                // Each text is compared as it is written, and let go of as the baseline did.
                std::size_t next = 0;
                bool same = true;
                const auto write = [&](const CVViewModelFeature& feature) {
                    const std::string text = feature.toGeoJson();
                    same = same && next < expected.size() && text == expected[next];
                    ++next;
                };
                const double seconds = secondsOf([&] {
                    for (const auto& viewModel : reference) {
                        if (viewModel.marker) write(*viewModel.marker);
                        if (viewModel.polygon) write(*viewModel.polygon);
                    }
                });
                if ((!same || next != expected.size()) && fault.empty()) fault = "the baseline wrote other features";
                return seconds;
            });
        if (!all.keepRound(repetition, fault)) {
            state.SkipWithError(all.fault.c_str());
            break;
        }
    }
    state.counters["viewModels"] = static_cast<double>(reference.size());
    state.counters["render_ms"] = medianOf(repetition.firstSeconds) * 1e3;
    state.counters["baseline_ms"] = medianOf(repetition.secondSeconds) * 1e3;
    state.counters["ratio"] = repetition.medianRatio();
}

// The live badges last: they stay on the scene's locations.
BENCHMARK(BM_GeoJsonBaseline)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RenderWarm)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WarmRenderAgainstGeoJsonInTurn)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_RenderCold)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RenderWarmLiveBadges)->Unit(benchmark::kMillisecond)->UseRealTime();

// The console's table, then the warm render's time over the baseline's from
// the rounds in turns.
class RatioReporter final : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) != 0 ? OO_ColorTabular : OO_Tabular) {}

    void Finalize() override {
        ConsoleReporter::Finalize();
        printVerdict(std::to_string(kRenderedLocations) + " locations", warmAndBaseline(), "warm render",
                     "GeoJSON baseline", "");
    }
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
