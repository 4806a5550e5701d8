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
// grid. "drawn" runs the engine with each cluster's count disc drawn. The
// engine and the grid also run in turns, one clustering each a round; every
// round's clusters are checked to be the same sets of markers in both, and
// the closing line per marker count is the median of the rounds' ratios over
// every repetition. All pairs are checked against the grid once.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
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
#include "viewmodels/CVCluster.h"
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

// What a reference made: the sets joined, and which markers joined any.
struct References {
    UnionFind sets;
    std::vector<bool> joined;
};

// The clusters as sets of marker indices, each sorted, in ascending order:
// one form for every arm's result.
using Partition = std::vector<std::vector<std::size_t>>;

// A copy: finding the roots shortens the sets' paths.
Partition partitionOf(References made) {
    std::map<std::size_t, std::vector<std::size_t>> byRoot;
    for (std::size_t i = 0; i < made.joined.size(); ++i) {
        if (made.joined[i]) byRoot[made.sets.root(i)].push_back(i);
    }
    Partition partition;
    for (auto& [root, members] : byRoot) partition.push_back(std::move(members));
    std::sort(partition.begin(), partition.end());
    return partition;
}

// The engine's clusters, its markers known by their index in the view-model ids.
Partition partitionOf(const ClusterEngine& engine) {
    Partition partition;
    for (const auto& cluster : engine.locationClusterRelation().distinctClusters()) {
        std::vector<std::size_t> members;
        for (const auto& child : cluster->children()) {
            members.push_back(std::stoul(child->id.substr(std::string("location-").size())));
        }
        std::sort(members.begin(), members.end());
        partition.push_back(std::move(members));
    }
    std::sort(partition.begin(), partition.end());
    return partition;
}

References gridClusters(const std::vector<Marker>& markers) {
    References made{UnionFind(markers.size()), std::vector<bool>(markers.size(), false)};
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
                        made.sets.join(i, other);
                        made.joined[i] = made.joined[other] = true;
                    }
                }
            }
        }
        cells[key(column, row)].push_back(i);
    }
    return made;
}

References bruteForceClusters(const std::vector<Marker>& markers) {
    References made{UnionFind(markers.size()), std::vector<bool>(markers.size(), false)};
    for (std::size_t i = 0; i < markers.size(); ++i) {
        for (std::size_t j = i + 1; j < markers.size(); ++j) {
            if (overlap(markers[i], markers[j])) {
                made.sets.join(i, j);
                made.joined[i] = made.joined[j] = true;
            }
        }
    }
    return made;
}

// The number of markers that joined a cluster.
std::size_t membersOf(const Partition& partition) {
    std::size_t members = 0;
    for (const auto& cluster : partition) members += cluster.size();
    return members;
}

// One run of the engine, waited for on this thread.
std::vector<ViewModel> clustered(ClusterEngine& engine, std::vector<ViewModel> input) {
    return platform::blockingWait(
        platform::ThreadPool::shared().makeStrand(),
        [&]() -> platform::Awaitable<std::vector<ViewModel>> { co_return co_await engine.cluster(std::move(input)); });
}

void runEngine(benchmark::State& state, const std::shared_ptr<CVCustomClusterIcon>& icons) {
    platform::Logger::setSink(std::make_shared<bench::QuietLogSink>());
    const auto markers = randomMarkers(static_cast<int>(state.range(0)));
    const auto models = viewModelsOf(markers);
    const auto projection = std::make_shared<ImmediateProjection>();
    auto reference = gridClusters(markers);
    const std::size_t members = membersOf(partitionOf(reference));

    ClusterRunStatistics statistics;
    for (auto _ : state) {
        state.PauseTiming();
        auto input = models;
        state.ResumeTiming();
        ClusterEngine engine(3, 10, projection, {}, icons);
        auto output = clustered(engine, std::move(input));
        statistics = engine.statistics();
        benchmark::DoNotOptimize(output);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.counters["passes"] = statistics.passes;
    state.counters["overlapping"] = static_cast<double>(members) / static_cast<double>(markers.size());
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
    if (partitionOf(bruteForceClusters(markers)) != partitionOf(gridClusters(markers))) {
        state.SkipWithError("all pairs and the grid cluster apart");
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// What the engine's arm makes: the engine, whose relation holds the
// clusters, and its view models.
struct Clustered {
    std::unique_ptr<ClusterEngine> engine;
    std::vector<ViewModel> output;
};

// The engine (first) and the grid (second), per marker count, over every
// repetition, with the share of the markers that joined a cluster.
struct InTurns {
    bench::ArmsInTurns arms;
    double overlapping = 0;
};

std::map<std::int64_t, InTurns>& inTurns() {
    static std::map<std::int64_t, InTurns> all;
    return all;
}

void BM_EngineAgainstGridInTurn(benchmark::State& state) {
    platform::Logger::setSink(std::make_shared<bench::QuietLogSink>());
    const auto markers = randomMarkers(static_cast<int>(state.range(0)));
    const auto models = viewModelsOf(markers);
    const auto projection = std::make_shared<ImmediateProjection>();
    const auto icons = std::make_shared<SharedClusterImage>();
    InTurns& all = inTurns()[state.range(0)];
    bench::ArmsInTurns repetition;
    for (auto _ : state) {
        auto input = models;
        Partition engineClusters;
        Partition gridClusters;
        // Each arm's clusters are read outside its time; letting go of what it made is in it.
        repetition.runBothTimed(
            [&] {
                return bench::secondsToMake(
                    [&] {
                        Clustered made{std::make_unique<ClusterEngine>(3, 10, projection, CVClusterRelation{}, icons),
                                       {}};
                        made.output = clustered(*made.engine, std::move(input));
                        return made;
                    },
                    [&](const Clustered& made) { engineClusters = partitionOf(*made.engine); });
            },
            [&] {
                return bench::secondsToMake([&] { return ambrell::gridClusters(markers); },
                                            [&](const References& made) { gridClusters = partitionOf(made); });
            });
        all.overlapping = static_cast<double>(membersOf(gridClusters)) / static_cast<double>(markers.size());
        std::string fault;
        if (engineClusters != gridClusters)
            fault = "the engine and the grid made different clusters of " + std::to_string(markers.size()) + " markers";
        if (!all.arms.keepRound(repetition, fault)) {
            state.SkipWithError(all.arms.fault.c_str());
            break;
        }
    }
    state.counters["engine_ms"] = bench::medianOf(repetition.firstSeconds) * 1e3;
    state.counters["grid_ms"] = bench::medianOf(repetition.secondSeconds) * 1e3;
    state.counters["x_grid"] = repetition.medianRatio();
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
// Enough rounds each for a steady median.
BENCHMARK(BM_EngineAgainstGridInTurn)->Arg(1000)->Iterations(101)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EngineAgainstGridInTurn)->Arg(10000)->Iterations(21)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EngineAgainstGridInTurn)->Arg(50000)->Iterations(9)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace ambrell

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    for (const auto& [count, figures] : ambrell::inTurns()) {
        char subject[96];
        std::snprintf(subject, sizeof subject, "%lld markers (%.0f%% in clusters)", static_cast<long long>(count),
                      figures.overlapping * 100);
        ambrell::bench::printVerdict(subject, figures.arms, "engine", "grid of icon-sized cells", "<= 30");
    }
    benchmark::Shutdown();
    ambrell::platform::Runtime::shared().shutdown();
    return 0;
}
