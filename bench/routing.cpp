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
// built once from the same weighted arcs, stopped as ours is once the goal is
// taken from the queue, and its path walked back. The "settled" counter is
// the number of vertices a search took from its queue.
//
// Ours (Dijkstra, nothing avoided) and Boost's run in turns too, one search
// each a round; every round's two paths are checked to join the same ends at
// the same cost, the shortest one. The closing lines, one per network and
// query, give the median of the rounds' ratios over every repetition.

#include "bench/BenchSupport.h"
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

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
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
using Vertex = SearchGraph::vertex_descriptor;

// Weights as the graph holds them with nothing avoided.
SearchGraph searchGraphOf(Grid& grid, std::uint64_t from, std::uint64_t to) {
    benchmark::DoNotOptimize(
        grid.graph->findPathFromNode(grid.graph->nodeAtIndex(from), grid.graph->nodeAtIndex(to), std::nullopt, {}));
    SearchGraph search(grid.graph->nodes().size());
    for (const auto& edge : grid.graph->edges()) {
        boost::add_edge(edge->u(), edge->v(), static_cast<double>(edge->weight()), search);
    }
    return search;
}

struct FoundGoal {};

// Stops the search once the goal is taken from the queue: its distance and
// predecessor are final then.
class StopAtGoal : public boost::default_dijkstra_visitor {
public:
    StopAtGoal(Vertex goal, std::uint64_t& examined) : goal_(goal), examined_(&examined) {}
    void examine_vertex(Vertex vertex, const SearchGraph& /*graph*/) const {  // NOLINT(readability-identifier-naming)
        ++*examined_;
        if (vertex == goal_) throw FoundGoal();
    }

private:
    Vertex goal_;
    std::uint64_t* examined_;
};

// Boost's search from `from` to `to`, stopped at the goal, with the arrays a
// search of its own allocates; the path from start to goal (empty when the
// goal was not reached) and its cost.
struct BoostPath {
    std::vector<Vertex> vertices;
    double cost = 0;
    std::uint64_t examined = 0;
};

BoostPath boostSearch(const SearchGraph& search, Vertex from, Vertex to) {
    BoostPath found;
    std::vector<Vertex> predecessors(boost::num_vertices(search));
    std::vector<double> distances(boost::num_vertices(search));
    try {
        boost::dijkstra_shortest_paths(search, from,
                                       boost::predecessor_map(predecessors.data())
                                           .distance_map(distances.data())
                                           .visitor(StopAtGoal(to, found.examined)));
    } catch (const FoundGoal&) {
        for (Vertex vertex = to; vertex != from; vertex = predecessors[vertex]) found.vertices.push_back(vertex);
        found.vertices.push_back(from);
        std::reverse(found.vertices.begin(), found.vertices.end());
        found.cost = distances[to];
    }
    return found;
}

// The cost of a path of node ids over the same arcs, the cheapest arc between
// each two; infinite when two of them are not joined.
double costOf(const SearchGraph& search, const std::vector<Vertex>& path) {
    double cost = 0;
    const auto weights = boost::get(boost::edge_weight, search);
    for (std::size_t i = 1; i < path.size(); ++i) {
        double cheapest = std::numeric_limits<double>::infinity();
        for (auto [arc, last] = boost::out_edges(path[i - 1], search); arc != last; ++arc) {
            if (boost::target(*arc, search) == path[i]) cheapest = std::min(cheapest, boost::get(weights, *arc));
        }
        cost += cheapest;
    }
    return cost;
}

// Empty when both paths join `from` to `to` at the shortest cost.
std::string checkPaths(const SearchGraph& search, const std::optional<CVGraph::Nodes>& ours, const BoostPath& theirs,
                       Vertex from, Vertex to) {
    if (!ours || ours->empty()) return "ours found no path";
    if (theirs.vertices.empty()) return "Boost's found no path";
    std::vector<Vertex> path;
    for (const auto& node : *ours) path.push_back(static_cast<Vertex>(node->nodeId()));
    if (path.front() != from || path.back() != to) return "our path does not join the ends";
    const double cost = costOf(search, path);
    if (std::abs(cost - theirs.cost) > 1e-9 * std::max(1.0, theirs.cost)) {
        return "our path costs " + std::to_string(cost) + ", Boost's " + std::to_string(theirs.cost);
    }
    if (std::abs(costOf(search, theirs.vertices) - theirs.cost) > 1e-9 * std::max(1.0, theirs.cost)) {
        return "Boost's path does not cost its distance";
    }
    return {};
}

// Args: side, query.
void BM_BoostBaseline(benchmark::State& state) {
    auto& grid = ambrell::grid(static_cast<int>(state.range(0)));
    const auto [from, to] = ends(grid, state.range(1));
    const SearchGraph search = searchGraphOf(grid, from, to);
    std::uint64_t settled = 0;
    for (auto _ : state) {
        const auto found = boostSearch(search, from, to);
        if (found.vertices.empty()) state.SkipWithError("no path");
        settled = found.examined;
        benchmark::DoNotOptimize(found);
    }
    state.counters["settled"] = static_cast<double>(settled);
}

// Ours (first) and Boost's (second) in turns, per network and query, over
// every repetition, with what each settled.
struct InTurns {
    bench::ArmsInTurns arms;
    std::uint64_t oursSettled = 0;
    std::uint64_t boostSettled = 0;
};

std::map<std::pair<std::int64_t, std::int64_t>, InTurns>& inTurns() {
    static std::map<std::pair<std::int64_t, std::int64_t>, InTurns> all;
    return all;
}

// Args: side, query.
void BM_FindPathAgainstBoostInTurn(benchmark::State& state) {
    auto& grid = ambrell::grid(static_cast<int>(state.range(0)));
    // Named apart: the arms' lambdas take them, which structured bindings do not allow everywhere.
    const auto query = ends(grid, state.range(1));
    const auto from = query.first;
    const auto to = query.second;
    const SearchGraph search = searchGraphOf(grid, from, to);
    const auto start = grid.graph->nodeAtIndex(from);
    const auto end = grid.graph->nodeAtIndex(to);
    CVGraphPathFinder::setPreferredPathfindingAlgorithm(CVGraphPathFinder::kDijkstra);
    InTurns& all = inTurns()[{state.range(0), state.range(1)}];
    bench::ArmsInTurns repetition;
    for (auto _ : state) {
        // Each arm's path is copied out of its time; letting go of it is in it.
        std::optional<CVGraph::Nodes> ours;
        BoostPath theirs;
        repetition.runBothTimed(
            [&] {
                return bench::secondsToMake([&] { return grid.graph->findPathFromNode(start, end, std::nullopt, {}); },
                                            [&](const std::optional<CVGraph::Nodes>& path) { ours = path; });
            },
            [&] {
                return bench::secondsToMake([&] { return boostSearch(search, from, to); },
                                            [&](const BoostPath& path) { theirs = path; });
            });
        all.oursSettled = CVGraphPathFinder::lastSearchSettledCount();
        all.boostSettled = theirs.examined;
        if (!all.arms.keepRound(repetition, checkPaths(search, ours, theirs, from, to))) {
            state.SkipWithError(all.arms.fault.c_str());
            break;
        }
    }
    state.counters["ours_ms"] = bench::medianOf(repetition.firstSeconds) * 1e3;
    state.counters["boost_ms"] = bench::medianOf(repetition.secondSeconds) * 1e3;
    state.counters["ratio"] = repetition.medianRatio();
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
BENCHMARK(BM_FindPathAgainstBoostInTurn)
    ->ArgNames({"side", "long"})
    ->Args({kSmall, kShort})
    ->Args({kSmall, kLong})
    ->Args({kLarge, kShort})
    ->Args({kLarge, kLong})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

void printClosingLines() {
    for (const auto& [key, figures] : inTurns()) {
        const auto& grid = ambrell::grid(static_cast<int>(key.first));
        const std::string subject = std::to_string(grid.graph->nodes().size()) + " nodes, " +
                                    (key.second == kShort ? "short" : "long") + " query (settled: ours " +
                                    std::to_string(figures.oursSettled) + ", Boost's " +
                                    std::to_string(figures.boostSettled) + ")";
        bench::printVerdict(subject, figures.arms, "ours (Dijkstra)", "Boost's Dijkstra stopped at the goal", "");
    }
}

}  // namespace
}  // namespace ambrell

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    ambrell::printClosingLines();
    benchmark::Shutdown();
    return 0;
}
