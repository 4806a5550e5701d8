#include "routing/Graph/CVGraphPathFinder.h"

#include <boost/graph/adjacency_list.hpp>
#include <boost/graph/astar_search.hpp>
#include <boost/graph/dijkstra_shortest_paths.hpp>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <span>
#include <utility>

namespace ambrell {

namespace {

struct Arc {
    std::uint32_t index = 0;  // into the prepared weights
};

// Out-arcs kept in insertion order per vertex, so that equal weights break
// the same way on every build.
using SearchGraph = boost::adjacency_list<boost::vecS, boost::vecS, boost::directedS, boost::no_property, Arc>;
using Vertex = boost::graph_traits<SearchGraph>::vertex_descriptor;
using ArcDescriptor = boost::graph_traits<SearchGraph>::edge_descriptor;

// An arc's weight from the prepared copy of the weights.
// NOLINTBEGIN(readability-identifier-naming): the property-map protocol's names.
struct PreparedWeightMap {
    using key_type = ArcDescriptor;
    using value_type = double;
    using reference = double;
    using category = boost::readable_property_map_tag;
    const SearchGraph* graph;
    const double* weights;
};
inline double get(const PreparedWeightMap& map, const ArcDescriptor& arc) {
    return map.weights[(*map.graph)[arc].index];
}
// NOLINTEND(readability-identifier-naming)

constexpr double kInfinity = std::numeric_limits<double>::max();

std::atomic<std::int64_t> preferredAlgorithm{CVGraphPathFinder::kDijkstra};
thread_local std::uint64_t settledCount = 0;

struct FoundGoal {};

class StopAtGoal : public boost::default_dijkstra_visitor {
public:
    explicit StopAtGoal(Vertex goal) : goal_(goal) {}
    void examine_vertex(Vertex vertex, const SearchGraph& /*graph*/) const {  // NOLINT(readability-identifier-naming)
        ++settledCount;
        // Once taken from the queue the goal's distance and predecessor are
        // final, so stopping here answers what the full search would.
        if (vertex == goal_) throw FoundGoal();
    }

private:
    Vertex goal_;
};

class AStarGoalVisitor : public boost::default_astar_visitor {
public:
    explicit AStarGoalVisitor(Vertex goal) : goal_(goal) {}
    void examine_vertex(Vertex vertex, const SearchGraph& /*graph*/) const {  // NOLINT(readability-identifier-naming)
        ++settledCount;
        if (vertex == goal_) throw FoundGoal();
    }

private:
    Vertex goal_;
};

class Heuristic : public boost::astar_heuristic<SearchGraph, double> {
public:
    explicit Heuristic(const CVGoalDistanceHeuristic& estimate) : estimate_(&estimate) {}
    double operator()(Vertex vertex) const { return (*estimate_)(vertex); }

private:
    const CVGoalDistanceHeuristic* estimate_;
};

}  // namespace

class CVPreparedSearchGraph {
public:
    explicit CVPreparedSearchGraph(const CVGraphPathFinder::Edges& edges) : graph(usableSpan(edges)) {
        if (boost::num_vertices(graph) == 0) return;
        arcs.reserve(edges.size());
        for (const auto& edge : edges) {
            if (!edge) continue;
            const auto index = static_cast<std::uint32_t>(arcs.size());
            boost::add_edge(static_cast<Vertex>(edge->u()), static_cast<Vertex>(edge->v()), Arc{index}, graph);
            arcs.push_back(edge);
        }
        refreshWeights();
    }

    void refreshWeights() {
        weights.resize(arcs.size());
        for (std::size_t i = 0; i < arcs.size(); ++i) weights[i] = static_cast<double>(arcs[i]->weight());
    }

    void refreshWeights(std::span<const std::shared_ptr<CVGraphEdge>> changed) {
        if (positions.empty() && !arcs.empty()) {
            positions.reserve(arcs.size());
            for (std::size_t i = 0; i < arcs.size(); ++i) {
                positions.emplace_back(arcs[i].get(), static_cast<std::uint32_t>(i));
            }
            std::sort(positions.begin(), positions.end());
        }
        for (const auto& edge : changed) {
            const auto key = std::make_pair(static_cast<const CVGraphEdge*>(edge.get()), std::uint32_t{0});
            for (auto at = std::lower_bound(positions.begin(), positions.end(), key);
                 at != positions.end() && at->first == edge.get(); ++at) {
                weights[at->second] = static_cast<double>(edge->weight());
            }
        }
    }

    [[nodiscard]] PreparedWeightMap weightMap() const { return {&graph, weights.data()}; }

    // 1 + the largest end of any arc. Ends far beyond what the arcs could
    // join (two new ids per arc, plus a million isolated nodes) are taken for
    // garbage rather than allocated for: such arcs prepare an empty graph, in
    // which no two nodes are joined.
    static std::size_t usableSpan(const CVGraphPathFinder::Edges& edges) {
        const std::uint64_t limit = 2 * static_cast<std::uint64_t>(edges.size()) + (std::uint64_t{1} << 20U);
        std::uint64_t vertexCount = 0;
        for (const auto& edge : edges) {
            if (!edge) continue;
            if (edge->u() >= limit || edge->v() >= limit) return 0;
            vertexCount = std::max({vertexCount, edge->u() + 1, edge->v() + 1});
        }
        return static_cast<std::size_t>(vertexCount);
    }

    [[nodiscard]] std::size_t vertexCount() const { return boost::num_vertices(graph); }

    SearchGraph graph;
    // The arcs in the order given, and their weights as last refreshed.
    CVGraphPathFinder::Edges arcs;
    std::vector<double> weights;
    // Arc positions by arc, sorted; made on the first partial refresh.
    std::vector<std::pair<const CVGraphEdge*, std::uint32_t>> positions;
};

namespace {

// Walks the predecessors back from the end; none when a position on the way
// holds no node.
std::optional<CVGraphPathFinder::Nodes> pathTo(Vertex end, const std::vector<Vertex>& predecessors,
                                               const CVGraphPathFinder::Nodes& nodes) {
    CVGraphPathFinder::Nodes path;
    Vertex vertex = end;
    while (true) {
        if (vertex >= nodes.size() || !nodes[vertex]) return std::nullopt;
        path.push_back(nodes[vertex]);
        const Vertex previous = predecessors[vertex];
        if (previous == vertex) break;
        // A predecessor chain is at most as long as the vertex count; longer
        // means a cycle, which only a negative arc could make, and
        // the searches stop at the first negative arc they examine.
        if (path.size() > predecessors.size()) return std::nullopt;
        vertex = previous;
    }
    std::reverse(path.begin(), path.end());
    return path;
}

std::optional<CVGraphPathFinder::Nodes> dijkstra(Vertex start, Vertex end, const CVGraphPathFinder::Nodes& nodes,
                                                 const CVPreparedSearchGraph& search) {
    const auto& graph = search.graph;
    const auto index = boost::get(boost::vertex_index, graph);
    std::vector<Vertex> predecessors(search.vertexCount());
    std::vector<double> distances(search.vertexCount(), kInfinity);
    try {
        boost::dijkstra_shortest_paths(
            graph, start,
            boost::predecessor_map(boost::make_iterator_property_map(predecessors.begin(), index))
                .distance_map(boost::make_iterator_property_map(distances.begin(), index))
                .weight_map(search.weightMap())
                .distance_inf(kInfinity)
                .distance_zero(0.0)
                .visitor(StopAtGoal(end)));
    } catch (const FoundGoal&) {
        return pathTo(end, predecessors, nodes);
    } catch (const boost::negative_edge&) {
        // Raised only for an arc the search examined: a bad speed factor in
        // one corner of a network leaves the searches that never reach it
        // answering as usual.
        return std::nullopt;
    }
    // The goal was never taken from the queue: unreachable.
    return std::nullopt;
}

std::optional<CVGraphPathFinder::Nodes> aStar(Vertex start, Vertex end, const CVGraphPathFinder::Nodes& nodes,
                                              const CVPreparedSearchGraph& search) {
    const auto& graph = search.graph;
    const auto index = boost::get(boost::vertex_index, graph);
    std::vector<Vertex> predecessors(search.vertexCount());
    std::vector<double> distances(search.vertexCount(), kInfinity);
    std::vector<double> costs(search.vertexCount(), kInfinity);
    const CVGoalDistanceHeuristic estimate(nodes, end);
    try {
        boost::astar_search_tree(graph, start, Heuristic(estimate), AStarGoalVisitor(end),
                                 boost::make_iterator_property_map(predecessors.begin(), index),
                                 boost::make_iterator_property_map(costs.begin(), index),
                                 boost::make_iterator_property_map(distances.begin(), index), search.weightMap(),
                                 std::less<double>(), boost::closed_plus<double>(kInfinity), kInfinity, 0.0);
    } catch (const FoundGoal&) {
        return pathTo(end, predecessors, nodes);
    } catch (const boost::negative_edge&) {
        return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace

std::int64_t CVGraphPathFinder::preferredPathfindingAlgorithm() { return preferredAlgorithm.load(); }

void CVGraphPathFinder::setPreferredPathfindingAlgorithm(std::int64_t algorithm) {
    preferredAlgorithm.store(algorithm);
}

std::uint64_t CVGraphPathFinder::lastSearchSettledCount() { return settledCount; }

std::shared_ptr<CVPreparedSearchGraph> CVGraphPathFinder::prepareSearchGraph(const Edges& edges) {
    return std::make_shared<CVPreparedSearchGraph>(edges);
}

void CVGraphPathFinder::refreshWeights(CVPreparedSearchGraph& searchGraph) { searchGraph.refreshWeights(); }

void CVGraphPathFinder::refreshWeights(CVPreparedSearchGraph& searchGraph, std::span<const EdgePtr> changed) {
    searchGraph.refreshWeights(changed);
}

std::optional<CVGraphPathFinder::Nodes> CVGraphPathFinder::findPathFromStartNode(
    std::uint64_t startNode, std::uint64_t endNode, const Nodes& nodes, const CVPreparedSearchGraph& searchGraph,
    std::int64_t algorithm) {
    settledCount = 0;
    if (algorithm != kDijkstra && algorithm != kAStar) return std::nullopt;
    // The search spans the node array and every arc's ends; the arcs reach
    // no further than the prepared vertices.
    const std::uint64_t span = std::max<std::uint64_t>(nodes.size(), searchGraph.vertexCount());
    if (startNode >= span || endNode >= span) return std::nullopt;
    if (startNode == endNode) {
        if (startNode >= nodes.size() || !nodes[startNode]) return std::nullopt;
        return Nodes{nodes[startNode]};
    }
    // An end without arcs, or a start without any, cannot be joined.
    if (startNode >= searchGraph.vertexCount() || endNode >= searchGraph.vertexCount()) return std::nullopt;
    const auto start = static_cast<Vertex>(startNode);
    const auto end = static_cast<Vertex>(endNode);
    return algorithm == kDijkstra ? dijkstra(start, end, nodes, searchGraph) : aStar(start, end, nodes, searchGraph);
}

std::optional<CVGraphPathFinder::Nodes> CVGraphPathFinder::findPathFromStartNode(std::uint64_t startNode,
                                                                                 std::uint64_t endNode,
                                                                                 const Nodes& nodes,
                                                                                 const Edges& edges) {
    return findPathFromStartNode(startNode, endNode, nodes, edges, preferredPathfindingAlgorithm());
}

std::optional<CVGraphPathFinder::Nodes> CVGraphPathFinder::findPathFromStartNode(std::uint64_t startNode,
                                                                                 std::uint64_t endNode,
                                                                                 const Nodes& nodes, const Edges& edges,
                                                                                 std::int64_t algorithm) {
    if (algorithm != kDijkstra && algorithm != kAStar) return std::nullopt;
    return findPathFromStartNode(startNode, endNode, nodes, CVPreparedSearchGraph(edges), algorithm);
}

std::optional<CVGraphPathFinder::Nodes> CVGraphPathFinder::findDijkstraPathFromStartNode(std::uint64_t startNode,
                                                                                         std::uint64_t endNode,
                                                                                         const Nodes& nodes,
                                                                                         const Edges& edges) {
    return findPathFromStartNode(startNode, endNode, nodes, CVPreparedSearchGraph(edges), kDijkstra);
}

std::optional<CVGraphPathFinder::Nodes> CVGraphPathFinder::findAStarPathFromStartNode(std::uint64_t startNode,
                                                                                      std::uint64_t endNode,
                                                                                      const Nodes& nodes,
                                                                                      const Edges& edges) {
    return findPathFromStartNode(startNode, endNode, nodes, CVPreparedSearchGraph(edges), kAStar);
}

CVGoalDistanceHeuristic::CVGoalDistanceHeuristic(const CVGraphPathFinder::Nodes& nodes, std::uint64_t goal)
    : nodes_(&nodes) {
    if (goal < nodes.size() && nodes[goal]) {
        const auto coordinate = nodes[goal]->coordinate();
        goalLatitude_ = coordinate.latitude;
        goalLongitude_ = coordinate.longitude;
    }
}

double CVGoalDistanceHeuristic::operator()(std::uint64_t vertex) const {
    // A position without a node estimates nothing: read as (0, 0) it would
    // overestimate by tens of degrees and steer A* off the path Dijkstra takes.
    if (vertex >= nodes_->size() || !(*nodes_)[vertex]) return 0;
    const auto coordinate = (*nodes_)[vertex]->coordinate();
    const double dLng = goalLongitude_ - coordinate.longitude;
    const double dLat = goalLatitude_ - coordinate.latitude;
    return std::sqrt(dLng * dLng + dLat * dLat);
}

}  // namespace ambrell
