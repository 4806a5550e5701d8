#include "RouteReport.h"

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "Ambrell/CVHighway.h"
#include "HostReport.h"
#include "routing/CVRouteNetwork.h"
#include "routing/CVRouteNetworkData.h"
#include "routing/CVRouteNetworkService.h"
#include "routing/Graph/CVGraph.h"
#include "routing/Graph/CVGraphEdge.h"
#include "routing/Graph/CVGraphNode.h"

namespace ambrell::host {
namespace {

using Nodes = CVRouteNetwork::Nodes;
using NodePtr = std::shared_ptr<CVGraphNode>;

// Two rooms of the sample's main venue, three floors apart, near the west stairs.
constexpr const char* kGraphId = "meridian";
constexpr const char* kFrom = "Office 0.01";
constexpr const char* kTo = "Office 3.01";

NodePtr labelled(const CVRouteNetwork& network, const std::string& label) {
    for (const auto& node : network.graph()->nodes()) {
        if (node->label() == label) return node;
    }
    return nullptr;
}

// Weights are tenths of a second.
std::string duration(std::int64_t tenths) {
    const auto seconds = static_cast<double>(tenths) / 10;
    if (seconds < 60) return fmt::format("{:.1f} s", seconds);
    return fmt::format("{} min {:04.1f} s", static_cast<int>(seconds / 60),
                       seconds - 60 * static_cast<int>(seconds / 60));
}

std::string wayOf(CVHighwayType type) {
    switch (type) {
        case CVHighwayType::stairs: return "stairs";
        case CVHighwayType::elevator: return "lift";
        case CVHighwayType::escalator: return "escalator";
        case CVHighwayType::travelator: return "travelator";
        case CVHighwayType::ramp:
        case CVHighwayType::wheelchairramp: return "ramp";
        case CVHighwayType::wheelchairlift: return "platform lift";
        case CVHighwayType::ladder: return "ladder";
        default: return "walk";
    }
}

// Node `index` of the path by its label; most nodes of a corridor, stairs or
// lift have none, and are named by the way that leaves or reaches them.
std::string nameOf(const Nodes& path, const CVRouteNetwork::Edges& edges, std::size_t index) {
    if (const auto& label = path[index]->label()) return *label;
    // index - 1 wraps round for the first node and is then out of range too.
    for (const auto edge : {index, index - 1}) {
        if (edge < edges.size() && wayOf(edges[edge]->highway().type()) != "walk") {
            return "the " + wayOf(edges[edge]->highway().type());
        }
    }
    return fmt::format("node {}", path[index]->nodeId());
}

// The path as steps: each run of edges of one way type is one step (a walk
// along one floor, a ride of the lift over several floors).
void printPath(std::ostream& out, const CVRouteNetwork& network, const Nodes& path) {
    const auto edges = network.edgePathFromNodePath(path);
    std::int64_t total = 0;
    std::size_t first = 0;
    while (first < edges.size()) {
        const auto type = edges[first]->highway().type();
        std::size_t last = first;
        std::int64_t time = edges[first]->weight();
        while (last + 1 < edges.size() && wayOf(edges[last + 1]->highway().type()) == wayOf(type)) {
            time += edges[++last]->weight();
        }
        const auto fromFloor = path[first]->coordinate().floor;
        const auto toFloor = path[last + 1]->coordinate().floor;
        const auto way = wayOf(type);
        const auto step = fromFloor == toFloor
                              ? fmt::format("{} on floor {} from {} to {}", way == "walk" ? "walk" : "take the " + way,
                                            fromFloor, nameOf(path, edges, first), nameOf(path, edges, last + 1))
                              : fmt::format("{} {} from floor {} to floor {}", way, toFloor > fromFloor ? "up" : "down",
                                            fromFloor, toFloor);
        out << fmt::format("    {:>12}  {}\n", duration(time), step);
        total += time;
        first = last + 1;
    }
    out << fmt::format("    {:>12}  in all, {} nodes\n", duration(total), path.size());
}

void printRoute(std::ostream& out, const CVRouteNetwork& network, const NodePtr& from, const NodePtr& to,
                const std::vector<CVHighway>& avoid, const char* heading) {
    out << fmt::format("  {}\n", heading);
    if (const auto path = network.findPathFromNode(from, to, avoid, {})) {
        printPath(out, network, *path);
    } else {
        out << "    (no route)\n";
    }
}

}  // namespace

RouteNetworks routeNetworks() {
    // From the memory cache, the data set or the app's bundled copy, whichever
    // has it first; offline, the refresh behind it fails and is only logged.
    return answerOf<RouteNetworks>("The route network", [](auto done) {
        CVRouteNetworkService::getRouteNetworkForCurrentSolutionWithCompletion(
            [done](auto networks, auto failure) { done(RouteNetworks(std::move(networks), std::move(failure))); });
    });
}

void printOfflineRoutes(std::ostream& out) {
    const auto [data, error] = routeNetworks();
    const auto network = data ? data->networkForGraphId(kGraphId) : nullptr;
    const auto from = network && network->graph() ? labelled(*network, kFrom) : nullptr;
    const auto to = network && network->graph() ? labelled(*network, kTo) : nullptr;
    if (!from || !to) {
        out << fmt::format("Offline routes: no route network with {} and {}{}\n", kFrom, kTo,
                           error ? " (" + error->localizedDescription() + ")" : std::string());
        return;
    }
    out << fmt::format(
        "Offline routes in the route network {} (one of the solution's {}), {} (floor {}) to {} (floor {})\n",
        network->graphId().value_or(kGraphId), data->networks().size(), kFrom, from->coordinate().floor, kTo,
        to->coordinate().floor);
    printRoute(out, *network, from, to, {}, "Fastest:");
    printRoute(out, *network, from, to, {CVHighway::stairs()}, "Avoiding stairs:");
}

}  // namespace ambrell::host
