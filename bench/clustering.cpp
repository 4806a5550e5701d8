// Screen-space clustering of one render's markers: 1,000, 10,000 and 50,000
// markers with 24 x 24 point icons of five types at random points of a
// 1,200 x 2,000 point screen, six in ten clusterable (so that at 10,000 about
// four in ten markers overlap one of their type), behind a projection that
// answers at once.
//
//   clustering [benchmark flags]
//
// Measured: ClusterEngine.cluster (the merging pass and the confirming one,
// each with an R-tree of every marker's corners and a projection await per
// marker, and the cluster view models with a host image) against two
// references applying the same rule (same type, both clusterable, a corner of
// one icon inside the other) with union-find in the same run: a grid of
// icon-sized cells, and every pair. The goal: the engine within 30 times the
// grid. "drawn" runs the engine with each cluster's count disc drawn.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "bench/BenchSupport.h"
#include "platform/Logger.h"
#include "platform/runtime/BlockingWait.h"
#include "platform/runtime/Runtime.h"
#include "platform/runtime/ThreadPool.h"
#include "viewmodels/CVClusterIconGenerator.h"
#include "viewmodels/ClusterEngine.h"

namespace ambrell {
namespace {

constexpr double kSide = 24;
constexpr double kWidth = 1200;
constexpr double kHeight = 2000;
constexpr int kTypes = 5;

// Screen x is the longitude, y the latitude.
class ImmediateProjection final : public CVProjection {
public:
    platform::Awaitable<CVGeoRegion> visibleRegion() override { co_return CVGeoRegion{}; }
    platform::Awaitable<CLLocationCoordinate2D> coordinateFor(CGPoint /*point*/) override {
        co_return CLLocationCoordinate2D{};
    }
    platform::Awaitable<CGPoint> pointFor(CLLocationCoordinate2D coordinate) override {
        co_return CGPoint{coordinate.longitude, coordinate.latitude};
    }
};

class SharedClusterImage final : public CVCustomClusterIcon {
public:
    std::shared_ptr<const platform::Image> clusterIconForType(const std::string& /*type*/, int /*size*/) override {
        return image_;
    }

private:
    std::shared_ptr<const platform::Image> image_ =
        std::make_shared<const platform::Image>(platform::Image::create(37, 37).value());
};

// What the map would draw without a host image: the count disc over the
// type's icon, drawn for every cluster.
class DrawnClusterImage final : public CVCustomClusterIcon {
public:
    std::shared_ptr<const platform::Image> clusterIconForType(const std::string& /*type*/, int size) override {
        return CVClusterIconGenerator(CGSize{kSide * 1.3, kSide * 1.3}, size, platform::Color::fromRGBA(1, 0, 0), icon_)
            .generate(2);
    }

private:
    std::shared_ptr<const platform::Image> icon_ =
        std::make_shared<const platform::Image>(platform::Image::create(48, 48, 2).value());
};

struct Marker {
    double x;
    double y;
    int type;
    bool clusterable;
};

std::vector<Marker> randomMarkers(int count) {
    std::mt19937 random(20250101U + static_cast<unsigned>(count));
    std::uniform_real_distribution<double> x(1, kWidth);
    std::uniform_real_distribution<double> y(1, kHeight);
    std::uniform_int_distribution<int> type(0, kTypes - 1);
    std::bernoulli_distribution clusterable(0.6);
    std::vector<Marker> markers;
    markers.reserve(count);
    for (int i = 0; i < count; ++i) markers.push_back({x(random), y(random), type(random), clusterable(random)});
    return markers;
}

std::vector<ViewModel> viewModelsOf(const std::vector<Marker>& markers) {
    const auto icon = std::make_shared<const platform::Image>(platform::Image::create(48, 48, 2).value());
    std::vector<ViewModel> models;
    models.reserve(markers.size());
    for (std::size_t i = 0; i < markers.size(); ++i) {
        ViewModel model;
        model.id = "location-" + std::to_string(i);
        CVFeatureProperties properties{{CVModelPropertyKey::axType, "type-" + std::to_string(markers[i].type)},
                                       {CVModelPropertyKey::isClusterable, markers[i].clusterable},
                                       {CVModelPropertyKey::markerLabel, "Room " + std::to_string(i)}};
        model.marker = CVViewModelFeature(
            "Feature", model.id, std::move(properties),
            CVViewModelFeatureGeometry(GeoJsonGeometryType::Point, CVPoint(markers[i].y, markers[i].x)));
        model.data[CVModelData::icon] = icon;
        model.isClickable = true;
        models.push_back(std::move(model));
    }
    return models;
}

class UnionFind {
public:
    explicit UnionFind(std::size_t size) : parent_(size) { std::iota(parent_.begin(), parent_.end(), 0); }
    std::size_t root(std::size_t node) {
        while (parent_[node] != node) node = parent_[node] = parent_[parent_[node]];
        return node;
    }
    void join(std::size_t a, std::size_t b) { parent_[root(a)] = root(b); }

private:
    std::vector<std::size_t> parent_;
};

bool overlap(const Marker& a, const Marker& b) {
    return a.type == b.type && a.clusterable && b.clusterable && std::abs(a.x - b.x) <= kSide &&
           std::abs(a.y - b.y) <= kSide;
}

// The number of markers that joined a cluster.
std::size_t gridClusters(const std::vector<Marker>& markers) {
    UnionFind sets(markers.size());
    std::vector<bool> joined(markers.size(), false);
    std::unordered_map<long long, std::vector<std::size_t>> cells;
    const auto key = [](long long column, long long row) { return column * 1000003LL + row; };
    for (std::size_t i = 0; i < markers.size(); ++i) {
        const auto column = static_cast<long long>(std::floor(markers[i].x / kSide));
        const auto row = static_cast<long long>(std::floor(markers[i].y / kSide));
        for (long long dc = -1; dc <= 1; ++dc) {
            for (long long dr = -1; dr <= 1; ++dr) {
                const auto found = cells.find(key(column + dc, row + dr));
                if (found == cells.end()) continue;
                for (const auto other : found->second) {
                    if (overlap(markers[i], markers[other])) {
                        sets.join(i, other);
                        joined[i] = joined[other] = true;
                    }
                }
            }
        }
        cells[key(column, row)].push_back(i);
    }
    return static_cast<std::size_t>(std::count(joined.begin(), joined.end(), true));
}

std::size_t bruteForceClusters(const std::vector<Marker>& markers) {
    UnionFind sets(markers.size());
    std::vector<bool> joined(markers.size(), false);
    for (std::size_t i = 0; i < markers.size(); ++i) {
        for (std::size_t j = i + 1; j < markers.size(); ++j) {
            if (overlap(markers[i], markers[j])) {
                sets.join(i, j);
                joined[i] = joined[j] = true;
            }
        }
    }
    return static_cast<std::size_t>(std::count(joined.begin(), joined.end(), true));
}

double secondsPerGridRun(const std::vector<Marker>& markers) {
    constexpr int runs = 20;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < runs; ++i) benchmark::DoNotOptimize(gridClusters(markers));
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / runs;
}

void runEngine(benchmark::State& state, const std::shared_ptr<CVCustomClusterIcon>& icons) {
    platform::Logger::setSink(std::make_shared<bench::QuietLogSink>());
    const auto markers = randomMarkers(static_cast<int>(state.range(0)));
    const auto models = viewModelsOf(markers);
    const auto projection = std::make_shared<ImmediateProjection>();
    const double gridSeconds = secondsPerGridRun(markers);
    const std::size_t members = gridClusters(markers);

    ClusterRunStatistics statistics;
    double engineSeconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto input = models;
        state.ResumeTiming();
        const auto start = std::chrono::steady_clock::now();
        ClusterEngine engine(3, 10, projection, {}, icons);
        auto output = platform::blockingWait(platform::ThreadPool::shared().makeStrand(),
                                             [&]() -> platform::Awaitable<std::vector<ViewModel>> {
                                                 co_return co_await engine.cluster(std::move(input));
                                             });
        engineSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        statistics = engine.statistics();
        benchmark::DoNotOptimize(output);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.counters["passes"] = statistics.passes;
    state.counters["overlapping"] = static_cast<double>(members) / static_cast<double>(markers.size());
    state.counters["x_grid"] = engineSeconds / static_cast<double>(state.iterations()) / gridSeconds;
}

void BM_ClusterEngine(benchmark::State& state) { runEngine(state, std::make_shared<SharedClusterImage>()); }

void BM_ClusterEngineDrawnIcons(benchmark::State& state) { runEngine(state, std::make_shared<DrawnClusterImage>()); }

void BM_GridReference(benchmark::State& state) {
    const auto markers = randomMarkers(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(gridClusters(markers));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_BruteForceReference(benchmark::State& state) {
    const auto markers = randomMarkers(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(bruteForceClusters(markers));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// The work runs on the pool while the benchmark's thread waits: wall time.
BENCHMARK(BM_ClusterEngine)
    ->Arg(100)
    ->Arg(300)
    ->Arg(1000)
    ->Arg(3000)
    ->Arg(10000)
    ->Arg(50000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_ClusterEngineDrawnIcons)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GridReference)->Arg(1000)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond);
// Where all pairs overtake the engine: small screens of markers.
BENCHMARK(BM_BruteForceReference)->Arg(100)->Arg(300)->Arg(1000)->Arg(3000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ambrell

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    ambrell::platform::Runtime::shared().shutdown();
    return 0;
}
