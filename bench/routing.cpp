// Offline route search on generated grid networks of 10,000 and 100,000 nodes
// (four floors of square grids joined by stairs and lifts), loaded through the
// route-network document reader as an app would load them.
//
//   routing [benchmark flags]
//
// Measured: the load of the document against a bare JSON parse of it; the
// graph's whole findPathFromNode call with Dijkstra and A*, on a short query
// (a few cells on one floor) and a long one (corner to corner across every
// floor), with a steady and an alternating avoid list; and, as the floor any
// search must beat, Boost's dijkstra_shortest_paths alone on an adjacency list
// built once from the same weighted arcs. The "settled" counter is the number
// of vertices a search took from its queue.

#include "platform/Logger.h"
#include "routing/CVRouteNetwork.h"
#include "routing/CVRouteNetworkData.h"
#include "routing/Graph/CVGraph.h"
#include "routing/Graph/CVGraphPathFinder.h"

#include <benchmark/benchmark.h>
#include <boost/graph/adjacency_list.hpp>
#include <boost/graph/dijkstra_shortest_paths.hpp>
#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <boost/json/value.hpp>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace ambrell {
namespace {

constexpr int kFloors = 4;

struct Grid {
    int side = 0;
    std::string document;
    std::shared_ptr<CVRouteNetworkData> data;
    std::shared_ptr<CVGraph> graph;

    [[nodiscard]] std::uint64_t id(int floor, int row, int column) const {
        return static_cast<std::uint64_t>((floor * side + row) * side + column);
    }
};

// Corridors of 1.5 m between neighbouring cells; stairs between floors every
// tenth cell each way; a lift at two corners.
std::string gridDocument(int side) {
    namespace json = boost::json;
    json::array nodes;
    json::array edges;
    const auto id = [&](int floor, int row, int column) { return (floor * side + row) * side + column; };
    const auto isLift = [&](int row, int column) {
        return (row == 1 && column == 1) || (row == side - 2 && column == side - 2);
    };
    for (int floor = 0; floor < kFloors; ++floor) {
        for (int row = 0; row < side; ++row) {
            for (int column = 0; column < side; ++column) {
                // latitude and longitude in 1e-7 degrees, floor, then
                // boundary, barrier, floor name, wait.
                nodes.push_back(json::array{550000000 + row * 135, 120000000 + column * 235, floor, 0,
                                            isLift(row, column) ? 2 : 0, floor, 0});
            }
        }
    }
    const auto edge = [&](int u, int v, int highway, int millimetres) {
        edges.push_back(json::array{json::array{u, v}, json::array{highway, millimetres, 0}});
    };
    for (int floor = 0; floor < kFloors; ++floor) {
        for (int row = 0; row < side; ++row) {
            for (int column = 0; column < side; ++column) {
                if (column + 1 < side) edge(id(floor, row, column), id(floor, row, column + 1), 0, 1500);
                if (row + 1 < side) edge(id(floor, row, column), id(floor, row + 1, column), 0, 1500);
                if (floor + 1 < kFloors && row % 10 == 5 && column % 10 == 5) {
                    edge(id(floor, row, column), id(floor + 1, row, column), 1, 6000);
                }
                if (floor + 1 < kFloors && isLift(row, column)) {
                    edge(id(floor, row, column), id(floor + 1, row, column), 2, 0);
                }
            }
        }
    }
    json::array floorNames;
    for (int floor = 0; floor < kFloors; ++floor) floorNames.push_back(json::string("Floor " + std::to_string(floor)));
    json::object network{
        {"graphId", "grid"},
        {"graphArea",
         json::object{{"type", "Polygon"},
                      {"coordinates", json::array{json::array{json::array{11.9, 54.9}, json::array{12.5, 54.9},
                                                              json::array{12.5, 55.5}, json::array{11.9, 55.5},
                                                              json::array{11.9, 54.9}}}}}},
        {"nodeMapping", json::object{{"properties", json::array{"boundary", "barrier", "floorname", "waittime"}},
                                     {"values", json::array{json::array{}, json::array{"", "gate", "gateelevator"},
                                                            floorNames, json::array{}}}}},
        {"edgeMapping", json::object{{"properties", json::array{"highway", "distance", "flags"}},
                                     {"values", json::array{json::array{"footway", "stairs", "elevator"}, json::array{},
                                                            json::array{}}}}},
        {"flagMapping", json::array{"oneway"}},
        {"nodeData", std::move(nodes)},
        {"edgeData", std::move(edges)},
    };
    return json::serialize(json::array{std::move(network)});
}

std::span<const std::uint8_t> bytes(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Every search logs its time at debug level; the benchmark would measure the
// terminal.
class DiscardingSink : public platform::LogSink {
public:
    void write(platform::LogLevel /*level*/, std::string_view /*channel*/, std::string_view /*message*/) override {}
};

Grid& grid(int side) {
    static const bool quiet = [] {
        platform::Logger::setSink(std::make_shared<DiscardingSink>());
        return true;
    }();
    (void)quiet;
    static std::map<int, Grid> grids;
    auto& grid = grids[side];
    if (grid.side == 0) {
        grid.side = side;
        grid.document = gridDocument(side);
        grid.data = CVRouteNetworkData::initWithData(bytes(grid.document));
        if (!grid.data || grid.data->networks().empty() || !grid.data->networks().front()->graph()) {
            std::fprintf(stderr, "the grid document did not load\n");
            std::abort();
        }
        grid.graph = grid.data->networks().front()->graph();
    }
    return grid;
}

// 50 x 50 x 4 = 10,000 nodes; 158 x 158 x 4 = 99,856 nodes.
constexpr int kSmall = 50;
constexpr int kLarge = 158;

void BM_Load(benchmark::State& state) {
    const auto& document = grid(static_cast<int>(state.range(0))).document;
    for (auto _ : state) benchmark::DoNotOptimize(CVRouteNetworkData::initWithData(bytes(document)));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * document.size()));
}

void BM_RawParse(benchmark::State& state) {
    const auto& document = grid(static_cast<int>(state.range(0))).document;
    for (auto _ : state) benchmark::DoNotOptimize(boost::json::parse(document));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * document.size()));
}

// Queries and avoid modes, as benchmark arguments.
constexpr std::int64_t kShort = 0;
constexpr std::int64_t kLong = 1;
constexpr std::int64_t kSteady = 0;
constexpr std::int64_t kAlternating = 1;

std::pair<std::uint64_t, std::uint64_t> ends(const Grid& grid, std::int64_t query) {
    const int middle = grid.side / 2;
    if (query == kShort) return {grid.id(0, middle, middle), grid.id(0, middle + 4, middle + 3)};
    return {grid.id(0, 0, 0), grid.id(kFloors - 1, grid.side - 1, grid.side - 1)};
}

// Args: side, algorithm, query, avoid mode.
void BM_FindPath(benchmark::State& state) {
    auto& grid = ambrell::grid(static_cast<int>(state.range(0)));
    const auto [from, to] = ends(grid, state.range(2));
    const auto start = grid.graph->nodeAtIndex(from);
    const auto end = grid.graph->nodeAtIndex(to);
    CVGraphPathFinder::setPreferredPathfindingAlgorithm(state.range(1));
    const std::vector<CVHighway> stairs = {CVHighway::stairs()};
    std::uint64_t round = 0;
    std::uint64_t settled = 0;
    for (auto _ : state) {
        std::optional<std::vector<CVHighway>> avoid;
        if (state.range(3) == kAlternating && (round++ % 2) == 0) avoid = stairs;
        auto path = grid.graph->findPathFromNode(start, end, avoid, {});
        if (!path) state.SkipWithError("no path");
        settled = CVGraphPathFinder::lastSearchSettledCount();
        benchmark::DoNotOptimize(path);
    }
    CVGraphPathFinder::setPreferredPathfindingAlgorithm(CVGraphPathFinder::kDijkstra);
    state.counters["settled"] = static_cast<double>(settled);
}

using SearchGraph = boost::adjacency_list<boost::vecS, boost::vecS, boost::directedS, boost::no_property,
                                          boost::property<boost::edge_weight_t, double>>;

// Args: side, query.
void BM_BoostBaseline(benchmark::State& state) {
    auto& grid = ambrell::grid(static_cast<int>(state.range(0)));
    const auto [from, to] = ends(grid, state.range(1));
    // Weights as the graph holds them with nothing avoided.
    benchmark::DoNotOptimize(
        grid.graph->findPathFromNode(grid.graph->nodeAtIndex(from), grid.graph->nodeAtIndex(to), std::nullopt, {}));
    SearchGraph search(grid.graph->nodes().size());
    for (const auto& edge : grid.graph->edges()) {
        boost::add_edge(edge->u(), edge->v(), static_cast<double>(edge->weight()), search);
    }
    std::vector<SearchGraph::vertex_descriptor> predecessors(boost::num_vertices(search));
    std::vector<double> distances(boost::num_vertices(search));
    for (auto _ : state) {
        boost::dijkstra_shortest_paths(search, from,
                                       boost::predecessor_map(predecessors.data()).distance_map(distances.data()));
        benchmark::DoNotOptimize(distances[to]);
    }
    state.counters["settled"] = static_cast<double>(boost::num_vertices(search));
}

void searches(benchmark::internal::Benchmark* benchmark) {
    benchmark->ArgNames({"side", "astar", "long", "alternating"});
    for (const int side : {kSmall, kLarge}) {
        for (const int algorithm : {0, 1}) {
            for (const std::int64_t query : {kShort, kLong}) {
                for (const std::int64_t avoid : {kSteady, kAlternating}) {
                    benchmark->Args({side, algorithm, query, avoid});
                }
            }
        }
    }
}

BENCHMARK(BM_Load)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawParse)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindPath)->Apply(searches)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BoostBaseline)
    ->ArgNames({"side", "long"})
    ->Args({kSmall, kShort})
    ->Args({kSmall, kLong})
    ->Args({kLarge, kShort})
    ->Args({kLarge, kLong})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ambrell

BENCHMARK_MAIN();
