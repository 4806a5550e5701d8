#pragma once

#include "routing/Graph/CVGraphEdge.h"
#include "routing/Graph/CVGraphNode.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace ambrell {

// The arcs of a search, prepared once: their order and ends are fixed, and it
// holds a copy of their weights, taken when prepared and again on each
// refreshWeights(). It keeps its arcs alive.
class CVPreparedSearchGraph;

// Least-weight paths over arrays of nodes (position = id) and arcs, by
// Dijkstra's algorithm (0, the default) or A* (1). Each search is answered
// as if built afresh from exactly the arcs given, in their order, so equal
// weights break alike. Runs on the caller's thread; the only process-wide
// state is the algorithm setting.
class CVGraphPathFinder {
public:
    using Nodes = std::vector<std::shared_ptr<CVGraphNode>>;
    using Edges = std::vector<std::shared_ptr<CVGraphEdge>>;
    using EdgePtr = std::shared_ptr<CVGraphEdge>;

    CVGraphPathFinder() = delete;

    static constexpr std::int64_t kDijkstra = 0;
    static constexpr std::int64_t kAStar = 1;

    // Any value but kDijkstra and kAStar makes every search answer none.
    [[nodiscard]] static std::int64_t preferredPathfindingAlgorithm();
    static void setPreferredPathfindingAlgorithm(std::int64_t algorithm);

    // The nodes from start to end (one node when they are equal), or none
    // when the end is unreachable, an id is outside both the node array and
    // the arcs' ends, the path runs through a position without a node, or the
    // search meets an arc that weighs less than 0 (arcs it never reaches do
    // not matter). Impassable arcs take part with their huge weight; the
    // graph rejects paths over them.
    [[nodiscard]] static std::optional<Nodes> findPathFromStartNode(std::uint64_t startNode, std::uint64_t endNode,
                                                                    const Nodes& nodes, const Edges& edges);
    [[nodiscard]] static std::optional<Nodes> findPathFromStartNode(std::uint64_t startNode, std::uint64_t endNode,
                                                                    const Nodes& nodes, const Edges& edges,
                                                                    std::int64_t algorithm);
    [[nodiscard]] static std::optional<Nodes> findDijkstraPathFromStartNode(std::uint64_t startNode,
                                                                            std::uint64_t endNode, const Nodes& nodes,
                                                                            const Edges& edges);
    [[nodiscard]] static std::optional<Nodes> findAStarPathFromStartNode(std::uint64_t startNode, std::uint64_t endNode,
                                                                         const Nodes& nodes, const Edges& edges);

    // Prepares the arcs for many searches while they stay the same arcs in
    // the same order; after their weights change, refreshWeights() before
    // the next search.
    [[nodiscard]] static std::shared_ptr<CVPreparedSearchGraph> prepareSearchGraph(const Edges& edges);
    static void refreshWeights(CVPreparedSearchGraph& searchGraph);
    // Only the weights of the given arcs (arcs not prepared are ignored).
    static void refreshWeights(CVPreparedSearchGraph& searchGraph, std::span<const EdgePtr> changed);
    // The same answers as the searches above over the prepared arcs.
    [[nodiscard]] static std::optional<Nodes> findPathFromStartNode(std::uint64_t startNode, std::uint64_t endNode,
                                                                    const Nodes& nodes,
                                                                    const CVPreparedSearchGraph& searchGraph,
                                                                    std::int64_t algorithm);

    // How many vertices the last search on this thread took from its queue
    // (for benchmarks).
    [[nodiscard]] static std::uint64_t lastSearchSettledCount();
};

// The A* estimate: straight-line distance in degrees from a node to the goal
// (a goal without a node reads as 0, 0; any other position without a node
// estimates 0). Tiny against tenths of a second, so it never overestimates
// and A* finds the same least weight as Dijkstra.
class CVGoalDistanceHeuristic {
public:
    CVGoalDistanceHeuristic(const CVGraphPathFinder::Nodes& nodes, std::uint64_t goal);
    [[nodiscard]] double operator()(std::uint64_t vertex) const;

private:
    const CVGraphPathFinder::Nodes* nodes_;
    double goalLatitude_ = 0;
    double goalLongitude_ = 0;
};

}  // namespace ambrell
