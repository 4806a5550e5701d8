#include "routing/Graph/CVGraph.h"

#include "Ambrell/CVLog.h"
#include "foundation/CVGeometryHelper.h"
#include "routing/Graph/CVGraphPathFinder.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <iterator>
#include <limits>
#include <mutex>
#include <span>
#include <stdexcept>
#include <unordered_set>
#include <utility>

namespace ambrell {

namespace {

std::mutex& debugStateMutex() {
    static std::mutex mutex;
    return mutex;
}

std::optional<std::vector<std::string>>& debugState() {
    static std::optional<std::vector<std::string>> state;
    return state;
}

// The avoid list in a canonical order (way-type names, case-insensitively,
// then type), so that the same members in another order compare equal.
std::vector<CVHighway> canonical(std::vector<CVHighway> avoid) {
    const auto lowered = [](CVHighway highway) {
        std::string name(highway.typeString());
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return name;
    };
    std::stable_sort(avoid.begin(), avoid.end(), [&](CVHighway a, CVHighway b) {
        const auto nameA = lowered(a);
        const auto nameB = lowered(b);
        return nameA != nameB ? nameA < nameB : a.rawType() < b.rawType();
    });
    return avoid;
}

bool isWheelchairWay(const CVGraphEdge& edge) {
    const auto type = edge.highway().type();
    return type == CVHighwayType::wheelchairramp || type == CVHighwayType::wheelchairlift;
}

}  // namespace

std::shared_ptr<CVGraph> CVGraph::newWithNodes(Nodes nodes, Edges edges, Nodes entryPointNodes) {
    const auto isNull = [](const auto& pointer) { return pointer == nullptr; };
    if (std::any_of(nodes.begin(), nodes.end(), isNull) || std::any_of(edges.begin(), edges.end(), isNull) ||
        std::any_of(entryPointNodes.begin(), entryPointNodes.end(), isNull)) {
        return nullptr;
    }
    std::shared_ptr<CVGraph> graph(new CVGraph(std::move(nodes), std::move(entryPointNodes), edges.size()));
    graph->linkPermanentEdges(edges);
    return graph;
}

CVGraph::CVGraph(Nodes nodes, Nodes entryPointNodes, std::size_t edgeCount)
    : nodes_(std::move(nodes)), entryPointNodes_(std::move(entryPointNodes)), edgeCount_(edgeCount) {
    const std::lock_guard lock(debugStateMutex());
    debugState().reset();
}

CVGraph::~CVGraph() = default;

void CVGraph::linkPermanentEdges(const Edges& edges) {
    const auto isRestricted = [](const CVGraphNode* node) { return node != nullptr && node->restrictions(); };
    for (const auto& edge : edges) {
        const auto from = nodeAtIndex(edge->u());
        const auto to = nodeAtIndex(edge->v());
        const bool restricted = edge->restrictions() || isRestricted(from.get()) || isRestricted(to.get());
        edge->setWeight(weigh(*edge));
        if (!from || !to) continue;  // logged by the weighing; nowhere to link it
        if (restricted) restrictedGraphEdges_.push_back(edge);
        from->addConnectionToNode(*to, edge);
        if (!edge->directed()) {
            auto twin = edge->reversed();
            twin->setWeight(weigh(*twin));
            to->addConnectionToNode(*from, twin);
            if (restricted) restrictedGraphEdges_.push_back(twin);
        }
    }
    for (const auto& node : nodes_) {
        permanentEdges_.insert(permanentEdges_.end(), node->mutableEdges().begin(), node->mutableEdges().end());
    }
}

std::int64_t CVGraph::weigh(const CVGraphEdge& edge) const {
    const auto from = nodeAtIndex(edge.u());
    const auto to = nodeAtIndex(edge.v());
    const std::span<const CVHighway> avoid =
        avoid_ ? std::span<const CVHighway>(*avoid_) : std::span<const CVHighway>();
    return graphWeightCalculator_.getWeightFromNode(from.get(), &edge, to.get(), avoid);
}

const CVGraph::Edges& CVGraph::edges() {
    if (!edges_) {
        if (temporaryArcs_.empty()) {
            edges_ = permanentEdges_;
        } else {
            auto& all = edges_.emplace();
            for (const auto& node : nodes_) {
                all.insert(all.end(), node->mutableEdges().begin(), node->mutableEdges().end());
            }
        }
    }
    return *edges_;
}

const CVGraph::Nodes& CVGraph::restrictedGraphNodes() {
    if (!restrictedGraphNodes_) {
        auto& restricted = restrictedGraphNodes_.emplace();
        std::copy_if(nodes_.begin(), nodes_.end(), std::back_inserter(restricted),
                     [](const NodePtr& node) { return node->restrictions().has_value(); });
    }
    return *restrictedGraphNodes_;
}

CVGraph::NodePtr CVGraph::nodeAtIndex(std::uint64_t nodeId) const {
    if (nodeId < nodes_.size()) return nodes_[nodeId];
    const std::uint64_t temporary = nodeId - nodes_.size();
    if (temporary < temporaryGraphNodes_.size()) return temporaryGraphNodes_[temporary];
    return nullptr;
}

std::optional<CVGraph::Edges> CVGraph::edgesForNodeAtIndex(std::uint64_t nodeId) const {
    const auto node = nodeAtIndex(nodeId);
    if (!node) return std::nullopt;
    return node->edges();
}

std::optional<CVGraph::Nodes> CVGraph::findPathFromNode(const NodePtr& startNode, const NodePtr& endNode,
                                                        std::optional<std::vector<CVHighway>> restrictions,
                                                        const CVAccessTokens& accessTokens) {
    if (!startNode || !endNode || nodeAtIndex(startNode->nodeId()) != startNode ||
        nodeAtIndex(endNode->nodeId()) != endNode) {
        return std::nullopt;
    }
    setRestrictions(std::move(restrictions));
    setAccessTokens(accessTokens);
    updateGraphEdgeWeights();

    const auto started = std::chrono::steady_clock::now();
    const auto algorithm = CVGraphPathFinder::preferredPathfindingAlgorithm();
    std::optional<Nodes> path;
    if (searchGraph_ && !reweighedSinceRefresh_.empty()) {
        // Few arcs change between searches; past a tenth, one pass is cheaper.
        if (reweighedSinceRefresh_.size() * 10 > permanentEdges_.size()) {
            CVGraphPathFinder::refreshWeights(*searchGraph_);
        } else {
            CVGraphPathFinder::refreshWeights(*searchGraph_, reweighedSinceRefresh_);
        }
    }
    reweighedSinceRefresh_.clear();
    if (temporaryGraphNodes_.empty()) {
        if (!searchGraph_) searchGraph_ = CVGraphPathFinder::prepareSearchGraph(edges());
        path = CVGraphPathFinder::findPathFromStartNode(startNode->nodeId(), endNode->nodeId(), nodes_, *searchGraph_,
                                                        algorithm);
    } else {
        Nodes allNodes = nodes_;
        allNodes.insert(allNodes.end(), temporaryGraphNodes_.begin(), temporaryGraphNodes_.end());
        if (!searchGraph_) {
            // Every arc once: the permanent nodes' out-arcs already hold the
            // temporary arcs leaving them, and the temporary nodes' out-arcs
            // hold the rest, reversed twins included.
            Edges allEdges = edges();
            for (const auto& node : temporaryGraphNodes_) {
                allEdges.insert(allEdges.end(), node->mutableEdges().begin(), node->mutableEdges().end());
            }
            searchGraph_ = CVGraphPathFinder::prepareSearchGraph(allEdges);
        }
        path = CVGraphPathFinder::findPathFromStartNode(startNode->nodeId(), endNode->nodeId(), allNodes, *searchGraph_,
                                                        algorithm);
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
    CVLog::core().debug("{} {}", "-[CVGraph findPathFromNode:toNode:restrictions:accessTokens:]",
                        fmt::format("[PERF] {} pathFinder: {:.4f}s",
                                    algorithm == CVGraphPathFinder::kAStar ? "A*" : "Dijkstra", elapsed.count()));
    if (!path) return std::nullopt;

    // A step is closed only when no passable arc leads on: of parallel arcs
    // the search may have used a later one than the first.
    for (std::size_t i = 1; i < path->size(); ++i) {
        const auto& from = (*path)[i - 1];
        const auto to = (*path)[i]->nodeId();
        const auto& out = from->mutableEdges();
        const bool open = std::any_of(out.begin(), out.end(), [&](const EdgePtr& edge) {
            return edge->v() == to && edge->weight() != CVGraphEdge::kImpassableWeight;
        });
        if (!open) return std::nullopt;
    }
    return path;
}

CVGraph::Edges CVGraph::edgePathFromNodePath(const Nodes& path) const {
    Edges edges;
    for (std::size_t i = 1; i < path.size(); ++i) {
        if (!path[i - 1] || !path[i]) continue;
        // Of parallel arcs the search took the lightest passable one under
        // the weights of the last search (its avoid list and tokens); the
        // first arc stands for a step no passable arc makes.
        const auto to = path[i]->nodeId();
        EdgePtr first;
        EdgePtr lightest;
        for (const auto& edge : path[i - 1]->mutableEdges()) {
            if (edge->v() != to) continue;
            if (!first) first = edge;
            if (edge->weight() == CVGraphEdge::kImpassableWeight) continue;
            if (!lightest || edge->weight() < lightest->weight()) lightest = edge;
        }
        if (lightest) {
            edges.push_back(std::move(lightest));
        } else if (first) {
            edges.push_back(std::move(first));
        }
    }
    return edges;
}

void CVGraph::setAccessTokens(const CVAccessTokens& accessTokens) {
    if (graphWeightCalculator_.accessTokens() == accessTokens) return;
    accessTokens_ = accessTokens;
    graphWeightCalculator_.setAccessTokens(accessTokens);
    graphEdgesNeedingWeightUpdate_.insert(restrictedGraphEdges_.begin(), restrictedGraphEdges_.end());
    queueTemporaryEdges();
}

void CVGraph::setRestrictions(std::optional<std::vector<CVHighway>> avoid) {
    const bool given = avoid.has_value();
    // No list avoids nothing, like an empty one: were they told apart, every
    // search without a list after one with an empty list would re-weigh.
    auto list = given ? canonical(std::move(*avoid)) : std::vector<CVHighway>();
    if (avoid_ && list == *avoid_) return;

    graphEdgesNeedingWeightUpdate_.insert(avoidEdges_.begin(), avoidEdges_.end());
    avoid_ = std::move(list);
    if (given && avoid_ != userDefinedAvoid_) updateAvoidingEdges(*avoid_);
    graphEdgesNeedingWeightUpdate_.insert(avoidEdges_.begin(), avoidEdges_.end());

    const bool avoiding = !avoid_->empty();
    if (avoiding != graphWeightCalculator_.avoiding()) {
        graphWeightCalculator_.setAvoiding(avoiding);
        if (!wheelchairEdges_) {
            auto& found = wheelchairEdges_.emplace();
            std::copy_if(permanentEdges_.begin(), permanentEdges_.end(), std::back_inserter(found),
                         [](const EdgePtr& edge) { return isWheelchairWay(*edge); });
        }
        graphEdgesNeedingWeightUpdate_.insert(wheelchairEdges_->begin(), wheelchairEdges_->end());
        // Temporary arcs are queued with the rest of them below.
        graphEdgesNeedingWeightUpdate_.insert(restrictedGraphEdges_.begin(), restrictedGraphEdges_.end());
    }
    queueTemporaryEdges();
}

void CVGraph::updateAvoidingEdges(const std::vector<CVHighway>& avoid) {
    Edges found;
    for (const auto& edge : edges()) {
        if (std::find(avoid.begin(), avoid.end(), edge->highway()) != avoid.end()) found.push_back(edge);
    }
    if (found.empty()) return;
    avoidEdges_ = std::move(found);
    userDefinedAvoid_ = avoid;
}

void CVGraph::queueTemporaryEdges() {
    // Temporary arcs leaving temporary nodes are in no other list: re-weigh
    // them all whenever the avoid list or the tokens change.
    graphEdgesNeedingWeightUpdate_.insert(temporaryArcs_.begin(), temporaryArcs_.end());
}

void CVGraph::updateGraphEdgeWeights() {
    for (const auto& edge : graphEdgesNeedingWeightUpdate_) {
        const auto weight = weigh(*edge);
        if (weight == edge->storedWeight()) continue;
        edge->setWeight(weight);
        if (searchGraph_) reweighedSinceRefresh_.push_back(edge);
    }
    // Weights depend only on the avoid list, the tokens and the data, so an
    // arc needs weighing again only when one of those changes.
    graphEdgesNeedingWeightUpdate_.clear();
}

bool CVGraph::setTemporaryGraphNodes(Nodes nodes, Edges edges) {
    clearTemporaryGraphNodesAndEdges();
    if (nodes.empty() || edges.empty()) return true;
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        if (!nodes[i] || nodes[i]->nodeId() != nodeIdForFirstTemporaryGraphNode() + i) return false;
    }
    temporaryGraphNodes_ = std::move(nodes);
    for (const auto& edge : edges) {
        if (!edge || !nodeAtIndex(edge->u()) || !nodeAtIndex(edge->v())) {
            temporaryGraphNodes_.clear();
            return false;
        }
    }
    temporaryGraphEdges_ = std::move(edges);
    for (const auto& edge : temporaryGraphEdges_) {
        const auto from = nodeAtIndex(edge->u());
        const auto to = nodeAtIndex(edge->v());
        edge->setWeight(weigh(*edge));
        from->addConnectionToNode(*to, edge);
        temporaryArcs_.push_back(edge);
        if (!edge->directed()) {
            auto twin = edge->reversed();
            twin->setWeight(weigh(*twin));
            to->addConnectionToNode(*from, twin);
            temporaryArcs_.push_back(twin);
        }
    }
    edges_.reset();
    searchGraph_.reset();
    reweighedSinceRefresh_.clear();
    return true;
}

void CVGraph::clearTemporaryGraphNodesAndEdges() {
    for (const auto& arc : temporaryArcs_) {
        if (const auto from = nodeAtIndex(arc->u())) from->removeEdge(arc.get());
        graphEdgesNeedingWeightUpdate_.erase(arc);
    }
    if (!temporaryArcs_.empty()) {
        const auto isTemporary = [&](const EdgePtr& edge) {
            return std::find(temporaryArcs_.begin(), temporaryArcs_.end(), edge) != temporaryArcs_.end();
        };
        avoidEdges_.erase(std::remove_if(avoidEdges_.begin(), avoidEdges_.end(), isTemporary), avoidEdges_.end());
    }
    temporaryArcs_.clear();
    temporaryGraphNodes_.clear();
    temporaryGraphEdges_.clear();
    edges_.reset();
    searchGraph_.reset();
    reweighedSinceRefresh_.clear();
}

CVGraph::Nodes CVGraph::closestNodesToCoordinate(CVLocationCoordinate3D coordinate, double radius,
                                                 std::uint64_t maxResults) const {
    const bool everyFloor = coordinate.floor == CVLocationCoordinate3D::kEveryFloor;
    const double reach = radius > 0 ? radius : std::numeric_limits<double>::max();
    std::vector<std::pair<double, NodePtr>> kept;
    for (const auto& node : nodes_) {
        if (!everyFloor && node->coordinate().floor != coordinate.floor) continue;
        const double distance =
            CVGeometryHelper::distanceFromCoordinate(coordinate.latLng(), node->coordinate().latLng());
        if (!(distance < reach)) continue;
        const auto position = std::upper_bound(kept.begin(), kept.end(), distance,
                                               [](double value, const auto& entry) { return value < entry.first; });
        if (maxResults != 0 && position == kept.end() && kept.size() >= maxResults) continue;
        kept.emplace(position, distance, node);
        if (maxResults != 0 && kept.size() > maxResults) kept.pop_back();
    }
    Nodes answer;
    answer.reserve(kept.size());
    for (auto& entry : kept) answer.push_back(std::move(entry.second));
    return answer;
}

CVGraph::Edges CVGraph::closestEdgesToCoordinate(CVLocationCoordinate3D coordinate, double radius,
                                                 std::uint64_t maxResults) {
    const bool everyFloor = coordinate.floor == CVLocationCoordinate3D::kEveryFloor;
    const double reach = radius > 0 ? radius : std::numeric_limits<double>::max();
    std::vector<std::pair<double, EdgePtr>> kept;
    for (const auto& edge : edges()) {
        const auto from = nodeAtIndex(edge->u());
        const auto to = nodeAtIndex(edge->v());
        if (!from || !to) continue;
        if (!everyFloor && from->coordinate().floor != coordinate.floor && to->coordinate().floor != coordinate.floor) {
            continue;
        }
        const auto nearest = CVGeometryHelper::closestCoordinateOnLineSegment(
            coordinate.latLng(), from->coordinate().latLng(), to->coordinate().latLng());
        const double distance = CVGeometryHelper::distanceFromCoordinate(coordinate.latLng(), nearest);
        if (!(distance < reach)) continue;
        const auto position = std::upper_bound(kept.begin(), kept.end(), distance,
                                               [](double value, const auto& entry) { return value < entry.first; });
        if (maxResults != 0 && position == kept.end() && kept.size() >= maxResults) continue;
        kept.emplace(position, distance, edge);
        if (maxResults != 0 && kept.size() > maxResults) kept.pop_back();
    }
    Edges answer;
    answer.reserve(kept.size());
    for (auto& entry : kept) answer.push_back(std::move(entry.second));
    return answer;
}

void CVGraph::buildEdgeHitTester() {
    auto& testers = edgeHitTester_.emplace();
    if (edgeCount_ == 0) return;
    const CVGraphEdge* previous = nullptr;
    for (std::size_t i = 0; i < permanentEdges_.size(); ++i) {
        const auto& edge = permanentEdges_[i];
        if (previous != nullptr && edge->u() == previous->v() && edge->v() == previous->u()) continue;
        previous = edge.get();
        const auto from = nodeAtIndex(edge->u());
        const auto to = nodeAtIndex(edge->v());
        if (!from || !to) continue;
        const auto a = from->coordinate();
        const auto b = to->coordinate();
        const double north = std::max(a.latitude, b.latitude);
        const double east = std::max(a.longitude, b.longitude);
        const double south = std::min(a.latitude, b.latitude);
        const double west = std::min(a.longitude, b.longitude);
        // Tags are 32-bit; arcs beyond cannot be indexed.
        if (i > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) break;
        const auto tag = static_cast<std::int32_t>(i);
        try {
            testers.try_emplace(a.floor, AXObjectBoundingboxHittester::create())
                .first->second.addObjectWithBoundingBox(north, east, south, west, tag);
            if (b.floor != a.floor) {
                testers.try_emplace(b.floor, AXObjectBoundingboxHittester::create())
                    .first->second.addObjectWithBoundingBox(north, east, south, west, tag);
            }
        } catch (const std::invalid_argument&) {
            // An arc with a non-finite end has no box; it is simply not found.
        }
    }
}

CVGraph::Edges CVGraph::edgesWithBoundingBoxOverlappingNorthEast(CLLocationCoordinate2D northEast,
                                                                 CLLocationCoordinate2D southWest, std::int64_t floor) {
    if (!edgeHitTester_) buildEdgeHitTester();
    const auto tester = edgeHitTester_->find(floor);
    if (tester == edgeHitTester_->end()) return {};
    const double north = std::max(northEast.latitude, southWest.latitude);
    const double east = std::max(northEast.longitude, southWest.longitude);
    const double south = std::min(northEast.latitude, southWest.latitude);
    const double west = std::min(northEast.longitude, southWest.longitude);
    std::vector<std::int32_t> tags;
    try {
        tags = tester->second.objectsOverlappingRect(north, east, south, west);
    } catch (const std::invalid_argument&) {
        return {};
    }
    Edges answer;
    std::unordered_set<std::string> kept;
    for (const auto tag : tags) {
        if (tag < 0 || static_cast<std::size_t>(tag) >= permanentEdges_.size()) continue;
        const auto& edge = permanentEdges_[static_cast<std::size_t>(tag)];
        const auto from = nodeAtIndex(edge->u());
        const auto to = nodeAtIndex(edge->v());
        if (!from || !to || from->coordinate().floor != floor || to->coordinate().floor != floor) continue;
        if (edge->weight() == CVGraphEdge::kImpassableWeight) continue;
        if (kept.contains(fmt::format("{}_{}", edge->u(), edge->v())) ||
            kept.contains(fmt::format("{}_{}", edge->v(), edge->u()))) {
            continue;
        }
        kept.insert(fmt::format("{}_{}", edge->u(), edge->v()));
        answer.push_back(edge);
    }
    return answer;
}

std::string CVGraph::debugDescription() const {
    auto text = fmt::format("<CVGraph {}: {} nodes\n  Nodes[]", static_cast<const void*>(this), nodes_.size());
    for (std::size_t i = 0; i < nodes_.size(); ++i)
        text += fmt::format("\n  [{}] {}", i, nodes_[i]->debugDescription());
    text += "\n>";
    return text;
}

std::string CVGraph::createAdjacentStateFromNode(const CVGraphNode& node) {
    std::vector<std::string> arcs;
    for (const auto& edge : node.mutableEdges()) arcs.push_back(fmt::format("{} -> {}", edge->u(), edge->v()));
    return fmt::format("{}: {}", node.nodeId(), fmt::join(arcs, ","));
}

void CVGraph::initDebugGraphAdjacentStateIfNeeded() const {
    const std::lock_guard lock(debugStateMutex());
    if (debugState()) return;
    auto& lines = debugState().emplace();
    for (const auto& node : nodes_) {
        const auto at = std::min<std::size_t>(node->nodeId(), lines.size());
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), createAdjacentStateFromNode(*node));
    }
}

std::vector<std::string> CVGraph::debugGraphAdjacentStateChanges() const {
    const std::lock_guard lock(debugStateMutex());
    std::vector<std::string> changes;
    if (!debugState()) return changes;
    const auto& lines = *debugState();
    for (std::size_t i = 0; i < nodes_.size() && i < lines.size(); ++i) {
        auto line = createAdjacentStateFromNode(*nodes_[i]);
        if (line != lines[i]) changes.push_back(fmt::format("{} changed to {}", lines[i], line));
    }
    return changes;
}

std::optional<std::vector<std::string>> CVGraph::debugGraphAdjacentState() {
    const std::lock_guard lock(debugStateMutex());
    return debugState();
}

void CVGraph::debugPath(const Nodes& /*path*/) const {}

}  // namespace ambrell
