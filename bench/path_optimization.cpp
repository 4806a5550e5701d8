// Path optimisation through rooms on the sample solution's meridian campus:
// walks of 50 and 200 nodes routed room after room (through the passage of
// its first meeting room, along corridors and into offices and meeting rooms
// on two floors), straightened around the route layer's tables and pillars.
//
//   path_optimization [benchmark flags]
//
// Measured: the whole optimizePath call (a location search per node, answered
// on pool threads from the search engine's location store as the entry object
// answers them, the room look-up, the cut into room segments, the engine and
// the wrapping of its answer) against the engine's optimizePathEx alone on
// the same segments, made once beforehand. The goal: the whole call at most
// twice the engine alone. The two also run in turns, one call each a round;
// every round's two answers are checked to be the same straightened edges
// (the same ends and lengths, in the same order),
// and the closing line per walk is the median of the rounds' ratios over
// every repetition.

#include "Source/AXCommon/AXEdge.h"
#include "Source/AXCommon/AXPathOptimization.h"
#include "bench/BenchSupport.h"
#include "data/AmbrellLegacy.h"
#include "platform/FileSystem.h"
#include "platform/Logger.h"
#include "routing/CVRouteLayerService.h"
#include "routing/CVRouteNetwork.h"
#include "routing/CVRouteNetworkData.h"
#include "routing/Graph/CVGraph.h"
#include "routing/Graph/CVPathOptimization.h"
#include "routing/Graph/CVRouteGraphResult.h"
#include "tests/routing/StoreLocationSearch.h"
#include "tests/support/SampleSolutionService.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

namespace ambrell {
namespace {

struct Walk {
    CVPathOptimization::Nodes nodes;
    CVPathOptimization::Edges edges;
    std::vector<AXRoomPathSegment> segments;
};

class Campus {
public:
    Campus() {
        platform::Logger::setSink(std::make_shared<bench::QuietLogSink>());
        AmbrellLegacy::setLanguage("en");
        const auto sync = test::SampleSolutionService::committedSample() / "service" / "sync";
        data_ = CVRouteNetworkData::initWithData(platform::readFile(sync / "graph_en.json").value());
        meridian_ = data_ ? data_->networkForGraphId("meridian") : nullptr;
        if (!meridian_ || !meridian_->graph()) throw std::runtime_error("the sample has no meridian network");
        layer_.setAllObstacles(std::make_shared<const CVRouteObstacleSource::Obstacles>(
            CVRouteLayerService::routeLayerFromData(platform::readFile(sync / "routelayer_en.json").value())));
        search_ = std::make_unique<test::ScopedLocationSearch>(test::StoreLocationSearch::sampleLocations());
    }

    [[nodiscard]] const CVRouteLayerService& layer() const { return layer_; }
    [[nodiscard]] bool allowsOptimization() const { return meridian_->allowPathOptimization(); }

    // Routed legs from room to room until the walk has `size` nodes.
    const Walk& walk(std::size_t size) {
        auto& walk = walks_[size];
        if (!walk.nodes.empty()) return walk;
        const auto& all = meridian_->graph()->nodes();
        // The passage's last turn first, then every third labelled room node
        // of the two lowest floors.
        std::vector<std::shared_ptr<CVGraphNode>> targets{all[all.size() - 2]};
        std::size_t seen = 0;
        for (const auto& node : all) {
            if (node->label() && !node->isEntryPoint() && node->coordinate().floor <= 1 && seen++ % 3 == 0) {
                targets.push_back(node);
            }
        }
        auto at = all.front();
        walk.nodes.push_back(at);
        for (std::size_t next = 0; walk.nodes.size() < size; ++next) {
            const auto target = targets[next % targets.size()];
            const auto leg = meridian_->findPathFromNode(at, target, {}, {});
            if (!leg || leg->size() < 2) continue;
            walk.nodes.insert(walk.nodes.end(), leg->begin() + 1, leg->end());
            at = target;
        }
        walk.nodes.resize(size);
        walk.edges = meridian_->edgePathFromNodePath(walk.nodes);
        if (walk.edges.size() + 1 != walk.nodes.size()) throw std::runtime_error("the walk does not join up");
        walk.segments = CVPathOptimization::roomPathSegments(
            walk.edges, walk.nodes, CVPathOptimization::getLocationsFromNodePath(walk.nodes), &layer_);
        return walk;
    }

private:
    std::shared_ptr<CVRouteNetworkData> data_;
    std::shared_ptr<CVRouteNetwork> meridian_;
    CVRouteLayerService layer_;
    std::unique_ptr<test::ScopedLocationSearch> search_;
    std::map<std::size_t, Walk> walks_;
};

Campus& campus() {
    static Campus campus;
    return campus;
}

void BM_OptimizePath(benchmark::State& state) {
    auto& place = campus();
    const auto& walk = place.walk(static_cast<std::size_t>(state.range(0)));
    std::size_t straightened = 0;
    for (auto _ : state) {
        const auto result =
            CVPathOptimization::optimizePath(walk.edges, walk.nodes, &place.layer(), place.allowsOptimization());
        straightened = result->edges().size();
        benchmark::DoNotOptimize(result);
    }
    state.counters["edges"] = static_cast<double>(walk.edges.size());
    state.counters["straightened"] = static_cast<double>(straightened);
    state.counters["segments"] = static_cast<double>(walk.segments.size());
}

void BM_EngineAlone(benchmark::State& state) {
    const auto& walk = campus().walk(static_cast<std::size_t>(state.range(0)));
    const auto strategy =
        CVPathOptimization::axPathOptimizationStrategyFromCV(CVPathOptimization::pathOptimizationStrategy());
    std::size_t straightened = 0;
    for (auto _ : state) {
        const auto edges = AXPathOptimization::create().optimizePathEx(walk.segments, strategy, -1.0F);
        straightened = edges.size();
        benchmark::DoNotOptimize(edges);
    }
    state.counters["edges"] = static_cast<double>(walk.edges.size());
    state.counters["straightened"] = static_cast<double>(straightened);
    state.counters["segments"] = static_cast<double>(walk.segments.size());
}

// The whole call (first) and the engine alone (second), per walk, over every repetition.
std::map<std::int64_t, bench::ArmsInTurns>& inTurns() {
    static std::map<std::int64_t, bench::ArmsInTurns> all;
    return all;
}

void BM_WholeCallAgainstEngineInTurn(benchmark::State& state) {
    auto& place = campus();
    const auto& walk = place.walk(static_cast<std::size_t>(state.range(0)));
    const auto strategy =
        CVPathOptimization::axPathOptimizationStrategyFromCV(CVPathOptimization::pathOptimizationStrategy());
    bench::ArmsInTurns& all = inTurns()[state.range(0)];
    bench::ArmsInTurns repetition;
    for (auto _ : state) {
        // Each arm's answer is looked at out of its time; letting go of it is in it.
        std::string fault;
        std::vector<std::tuple<std::uint64_t, std::uint64_t, std::uint64_t>> wholeEdges;
        std::vector<std::tuple<std::uint64_t, std::uint64_t, std::uint64_t>> engineEdges;
        repetition.runBothTimed(
            [&] {
                return bench::secondsToMake(
                    [&] {
                        return CVPathOptimization::optimizePath(walk.edges, walk.nodes, &place.layer(),
                                                                place.allowsOptimization());
                    },
                    [&](const std::shared_ptr<CVRouteGraphResult>& whole) {
                        if (!whole) {
                            fault = "the whole call gave no result";
                            return;
                        }
                        for (const auto& edge : whole->edges()) {
                            if (!edge) {
                                fault = "the whole call gave an empty edge";
                                return;
                            }
                            wholeEdges.emplace_back(edge->u(), edge->v(), edge->distance());
                        }
                    });
            },
            [&] {
                return bench::secondsToMake(
                    [&] { return AXPathOptimization::create().optimizePathEx(walk.segments, strategy, -1.0F); },
                    [&](const std::vector<AXEdge>& engine) {
                        for (const auto& edge : engine) {
                            engineEdges.emplace_back(edge.u.nodeId, edge.v.nodeId, edge.distance);
                        }
                    });
            });
        if (fault.empty() && wholeEdges != engineEdges) {
            fault = "the whole call gave " + std::to_string(wholeEdges.size()) + " edges, the engine " +
                    std::to_string(engineEdges.size()) + ", not the same";
        }
        if (!all.keepRound(repetition, fault)) {
            state.SkipWithError(all.fault.c_str());
            break;
        }
    }
    state.counters["whole_us"] = bench::medianOf(repetition.firstSeconds) * 1e6;
    state.counters["engine_us"] = bench::medianOf(repetition.secondSeconds) * 1e6;
    state.counters["ratio"] = repetition.medianRatio();
}

BENCHMARK(BM_OptimizePath)->Arg(50)->Arg(200)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EngineAlone)->Arg(50)->Arg(200)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WholeCallAgainstEngineInTurn)->Arg(50)->Arg(200)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace ambrell

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    for (const auto& [size, arms] : ambrell::inTurns()) {
        const auto& walk = ambrell::campus().walk(static_cast<std::size_t>(size));
        ambrell::bench::printVerdict("a walk of " + std::to_string(size) + " nodes (" +
                                         std::to_string(walk.segments.size()) + " room segments)",
                                     arms, "whole optimizePath call", "engine alone", "<= 2");
    }
    benchmark::Shutdown();
    return 0;
}
