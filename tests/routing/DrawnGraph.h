#pragma once

#include "routing/Graph/CVGraph.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ambrell::test {

// A small route network drawn as text, for tests:
//
//   floor 0
//     A . B        nodes are names on a grid, one per cell; "." is an empty
//     C . D        cell; cells are 10 m apart
//   floor 1
//     E . F
//   A-B            an undirected edge (distance: 10 m per cell, or mm=)
//   A>C highway=stairs mm=7000 speed=1.5 wait=3 context=room tokens=staff,admin
//                  a one-way edge with its tags ("tokens=" alone: an empty list)
//   node C barrier=gate wait=5 tokens=staff boundary=walking|driving label=Main
//
// Node ids follow the order of appearance; nodes with a boundary are the
// entry points, in that order. Lines starting with '#' are comments. A
// malformed drawing throws std::invalid_argument naming the line.
struct DrawnNode {
    std::string name;
    double latitude = 0;
    double longitude = 0;
    std::int64_t floor = 0;
    int row = 0;
    int column = 0;
    std::uint64_t boundary = 0;
    std::optional<std::string> barrier;
    double waittime = 0;
    std::optional<std::vector<std::string>> restrictions;
    std::optional<std::string> label;
};

struct DrawnEdge {
    std::string from;
    std::string to;
    bool oneway = false;
    CVHighway highway = CVHighway::footway();
    std::uint64_t distance = 0;  // millimetres
    double speedFactor = 1.0;
    double waittime = 0;
    std::optional<std::string> context;
    std::optional<std::vector<std::string>> restrictions;
};

struct DrawnNetwork {
    static constexpr double kOriginLatitude = 55.0;
    static constexpr double kOriginLongitude = 12.0;
    static constexpr double kCellMeters = 10.0;

    std::vector<DrawnNode> nodes;
    std::vector<DrawnEdge> edges;

    [[nodiscard]] static DrawnNetwork parse(std::string_view drawing);
    [[nodiscard]] std::uint64_t idOf(std::string_view name) const;
};

// The drawing as a routing graph, with look-ups by node name.
class DrawnGraph {
public:
    explicit DrawnGraph(std::string_view drawing);

    [[nodiscard]] CVGraph& graph() const { return *graph_; }
    [[nodiscard]] const std::shared_ptr<CVGraph>& graphPointer() const { return graph_; }
    [[nodiscard]] const DrawnNetwork& network() const { return network_; }
    [[nodiscard]] CVGraph::NodePtr node(std::string_view name) const;
    [[nodiscard]] std::string nameOf(std::uint64_t nodeId) const;
    // The arc from -> to (the first, as the graph reports it).
    [[nodiscard]] CVGraph::EdgePtr edge(std::string_view from, std::string_view to) const;

    // The route's node names joined by spaces ("A B D"), or "none".
    [[nodiscard]] std::string route(std::string_view from, std::string_view to,
                                    std::optional<std::vector<CVHighway>> avoid = std::nullopt,
                                    const CVAccessTokens& tokens = {}) const;
    [[nodiscard]] std::string names(const std::optional<CVGraph::Nodes>& path) const;
    // Sum of the path's arc weights.
    [[nodiscard]] std::int64_t totalWeight(const CVGraph::Nodes& path) const;

private:
    DrawnNetwork network_;
    std::shared_ptr<CVGraph> graph_;
};

}  // namespace ambrell::test
