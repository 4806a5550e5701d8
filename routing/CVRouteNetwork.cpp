#include "routing/CVRouteNetwork.h"

#include <chrono>
#include <cmath>
#include <limits>
#include <map>

#include <boost/json/value.hpp>
#include <fmt/format.h>

#include "Ambrell/CVGeometry.h"
#include "Ambrell/CVLog.h"
#include "data/AmbrellLegacy.h"
#include "foundation/CVGeometryHelper.h"
#include "routing/Graph/CVGraph.h"
#include "routing/Graph/CVGraphObjectPropertyContainer.h"
#include "routing/Graph/CVRouteNetworkValueMapper.h"

namespace ambrell {

namespace json = boost::json;

namespace {

constexpr std::string_view kProcessOperation = "-[CVRouteNetwork processRouteNetwork]";

// A finite number of any JSON number kind.
std::optional<double> finiteNumber(const json::value& value) {
    double number = 0;
    if (value.is_int64()) {
        number = static_cast<double>(value.get_int64());
    } else if (value.is_uint64()) {
        number = static_cast<double>(value.get_uint64());
    } else if (value.is_double()) {
        number = value.get_double();
    } else {
        return std::nullopt;
    }
    if (!std::isfinite(number)) return std::nullopt;
    return number;
}

// A whole number that fits a signed 64-bit integer (2.0 counts, 2.5 does not).
std::optional<std::int64_t> integral(const json::value& value) {
    if (value.is_int64()) return value.get_int64();
    if (value.is_uint64()) {
        if (value.get_uint64() > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(value.get_uint64());
    }
    if (value.is_double()) {
        const double number = value.get_double();
        // 2^63 is the first double beyond the range.
        if (!std::isfinite(number) || std::trunc(number) != number || number < -9.2233720368547758e18 ||
            number >= 9.2233720368547758e18) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(number);
    }
    return std::nullopt;
}

// A whole number that is a valid position: not negative.
std::optional<std::uint64_t> index(const json::value& value) {
    if (value.is_uint64()) return value.get_uint64();
    const auto number = integral(value);
    if (!number || *number < 0) return std::nullopt;
    return static_cast<std::uint64_t>(*number);
}

// A list of value indexes; none when an element is not a whole number.
std::optional<std::vector<std::int64_t>> indexList(json::array::const_iterator first,
                                                   json::array::const_iterator last) {
    std::vector<std::int64_t> list;
    list.reserve(static_cast<std::size_t>(last - first));
    for (auto it = first; it != last; ++it) {
        const auto number = integral(*it);
        if (!number) return std::nullopt;
        list.push_back(*number);
    }
    return list;
}

// Texts only; none when any element is another kind.
std::optional<std::vector<std::string>> strings(const json::array& array) {
    std::vector<std::string> texts;
    texts.reserve(array.size());
    for (const auto& element : array) {
        if (!element.is_string()) return std::nullopt;
        texts.emplace_back(element.get_string());
    }
    return texts;
}

// An access entry's index and restrictions, or none when the entry is malformed.
struct AccessEntry {
    std::uint64_t index = 0;
    std::vector<std::string> restrictions;
};
std::optional<AccessEntry> accessEntry(const json::value& element) {
    const auto* entry = element.if_object();
    if (entry == nullptr) return std::nullopt;
    const auto* indexValue = entry->if_contains("index");
    const auto* restrictions = entry->if_contains("restrictions");
    if (indexValue == nullptr || restrictions == nullptr || !restrictions->is_array() ||
        restrictions->get_array().empty()) {
        return std::nullopt;
    }
    const auto position = index(*indexValue);
    auto texts = strings(restrictions->get_array());
    if (!position || !texts) return std::nullopt;
    return AccessEntry{*position, std::move(*texts)};
}

// Logs the stages of one graph build with the seconds each took.
class StageClock {
public:
    StageClock() : start_(Clock::now()), mark_(start_) {}

    void stage(std::string_view graphId, std::string_view name) {
        const auto now = Clock::now();
        CVLog::core().debug("{} {} {} dt={:.3f}", kProcessOperation, graphId, name, seconds(mark_, now));
        mark_ = now;
    }
    [[nodiscard]] double total() const { return seconds(start_, Clock::now()); }

private:
    using Clock = std::chrono::steady_clock;
    static double seconds(Clock::time_point from, Clock::time_point to) {
        return std::chrono::duration<double>(to - from).count();
    }

    Clock::time_point start_;
    Clock::time_point mark_;
};

}  // namespace

struct CVRouteNetwork::Raw {
    json::object object;
};

CVRouteNetwork::CVRouteNetwork() = default;
CVRouteNetwork::~CVRouteNetwork() = default;

std::shared_ptr<CVRouteNetwork> CVRouteNetwork::newWithDict(json::object dict) {
    std::shared_ptr<CVRouteNetwork> network(new CVRouteNetwork());
    network->raw_ = std::make_unique<Raw>(Raw{std::move(dict)});
    if (!network->readFields()) return nullptr;
    (void)network->processRouteNetwork();
    return network;
}

std::shared_ptr<CVRouteNetwork> CVRouteNetwork::initWithGraph(std::shared_ptr<CVGraph> graph,
                                                              std::shared_ptr<const CVPolygonGeometry> graphArea,
                                                              std::string graphId) {
    std::shared_ptr<CVRouteNetwork> network(new CVRouteNetwork());
    network->graph_ = std::move(graph);
    network->graphArea_ = std::move(graphArea);
    network->graphId_ = std::move(graphId);
    return network;
}

const json::value* CVRouteNetwork::propertyNamed(std::string_view key, json::kind kind) const {
    if (!raw_) return nullptr;
    const auto* value = raw_->object.if_contains(key);
    if (value == nullptr) return nullptr;
    if (kind == json::kind::int64 || kind == json::kind::uint64 || kind == json::kind::double_) {
        return value->is_number() ? value : nullptr;
    }
    return value->kind() == kind ? value : nullptr;
}

const json::object* CVRouteNetwork::rawData() const { return raw_ ? &raw_->object : nullptr; }

bool CVRouteNetwork::readFields() {
    const auto object = [this](std::string_view key) -> const json::object* {
        const auto* value = propertyNamed(key, json::kind::object);
        return value != nullptr ? &value->get_object() : nullptr;
    };
    const auto array = [this](std::string_view key) -> const json::array* {
        const auto* value = propertyNamed(key, json::kind::array);
        return value != nullptr ? &value->get_array() : nullptr;
    };
    if (const auto* id = propertyNamed("graphId", json::kind::string)) graphId_ = std::string(id->get_string());
    nodeMapping_ = object("nodeMapping");
    edgeMapping_ = object("edgeMapping");
    nodeData_ = array("nodeData");
    edgeData_ = array("edgeData");
    flagMapping_ = array("flagMapping");
    nodeAccess_ = array("nodeAccess");
    edgeAccess_ = array("edgeAccess");
    if (const auto* text = propertyNamed("immutableNodes", json::kind::string)) {
        immutableNodes_ = std::string(text->get_string());
    }
    // Flag names that are not all texts name no flags at all.
    const auto flags = flagMapping_ != nullptr ? strings(*flagMapping_) : std::nullopt;
    if (nodeMapping_ != nullptr) nodeValueMapper_ = CVRouteNetworkValueMapper::newWithDict(*nodeMapping_, flags);
    if (edgeMapping_ != nullptr) edgeValueMapper_ = CVRouteNetworkValueMapper::newWithDict(*edgeMapping_, flags);
    if (const auto* area = raw_->object.if_contains("graphArea"); area != nullptr && area->is_object()) {
        graphArea_ = CVPolygonGeometry::initWithDictionary(*area);
    }
    return graphId_ && nodeMapping_ != nullptr && nodeData_ != nullptr && edgeMapping_ != nullptr &&
           edgeData_ != nullptr && nodeValueMapper_ && edgeValueMapper_ && graphArea_;
}

bool CVRouteNetwork::processRouteNetwork() {
    StageClock clock;
    const std::string id = graphId_.value_or("");
    Nodes nodes;
    Edges edges;
    Nodes entryPoints;
    auto nodeFactory = CVGraphObjectPropertyContainerFactory::newWithValueMapper(nodeValueMapper_, false);
    auto edgeFactory = CVGraphObjectPropertyContainerFactory::newWithValueMapper(edgeValueMapper_, false);
    if (!nodeFactory || !edgeFactory || nodeData_ == nullptr || edgeData_ == nullptr) return graphId_.has_value();

    std::map<std::uint64_t, std::string> labels;
    if (const auto* entries = propertyNamed("nodeLabels", json::kind::array);
        entries && !entries->get_array().empty()) {
        const std::string language = AmbrellLegacy::getLanguage();
        for (const auto& element : entries->get_array()) {
            const auto* entry = element.if_object();
            if (entry == nullptr) continue;
            const auto* texts = entry->if_contains("labels");
            const auto* position = entry->if_contains("index");
            if (texts == nullptr || !texts->is_object() || position == nullptr) continue;
            const auto nodeIndex = index(*position);
            const auto* text = texts->get_object().if_contains(language);
            if (!nodeIndex || text == nullptr || !text->is_string()) continue;
            labels.insert_or_assign(*nodeIndex, std::string(text->get_string()));
        }
        clock.stage(id, "labels");
    }

    if (allowPathOptimization()) {
        immutableNodeIndexes_ = cvNewWithImmutableNodesString(*immutableNodes_);
        clock.stage(id, "immutableNodes");
    }

    nodes.reserve(nodeData_->size());
    for (const auto& element : *nodeData_) {
        const auto* entry = element.if_array();
        if (entry == nullptr || entry->size() < 3) continue;
        const auto latitude = finiteNumber((*entry)[0]);
        const auto longitude = finiteNumber((*entry)[1]);
        const auto floor = integral((*entry)[2]);
        auto properties = indexList(entry->begin() + 3, entry->end());
        if (!latitude || !longitude || !floor || !properties) continue;
        auto container = nodeFactory->propertyContainerForProperties(std::move(properties));
        const std::uint64_t nodeId = nodes.size();
        std::optional<std::string> label;
        if (const auto found = labels.find(nodeId); found != labels.end()) label = found->second;
        const bool optimisable = immutableNodeIndexes_ && !immutableNodeIndexes_->contains(nodeId);
        auto node = CVGraphNode::newWithId(nodeId, CVLocationCoordinate3D{*latitude * 1e-7, *longitude * 1e-7, *floor},
                                           std::move(container), std::move(label), optimisable);
        if (!node) continue;
        if (node->isEntryPoint()) entryPoints.push_back(node);
        nodes.push_back(std::move(node));
    }
    clock.stage(id, "node creation");

    edges.reserve(edgeData_->size());
    for (const auto& element : *edgeData_) {
        const auto* entry = element.if_array();
        if (entry == nullptr || entry->size() < 2) continue;
        const auto* ends = (*entry)[0].if_array();
        const auto* values = (*entry)[1].if_array();
        if (ends == nullptr || values == nullptr || ends->size() < 2) continue;
        const auto from = index((*ends)[0]);
        const auto to = index((*ends)[1]);
        // An end that names no node could not be weighed.
        if (!from || !to || *from >= nodes.size() || *to >= nodes.size()) continue;
        auto properties = indexList(values->begin(), values->end());
        if (!properties) continue;
        auto edge = CVGraphEdge::newGraphEdgeBetween(
            *from, *to, edgeFactory->propertyContainerForProperties(std::move(properties)));
        if (edge) edges.push_back(std::move(edge));
    }
    clock.stage(id, "edge creation");

    if (nodeAccess_ != nullptr) {
        for (const auto& element : *nodeAccess_) {
            auto entry = accessEntry(element);
            if (!entry || entry->index >= nodes.size()) continue;
            nodes[entry->index]->setRestrictions(std::move(entry->restrictions));
        }
    }
    clock.stage(id, "node restrictions");
    if (edgeAccess_ != nullptr) {
        for (const auto& element : *edgeAccess_) {
            auto entry = accessEntry(element);
            if (!entry || entry->index >= edges.size()) continue;
            // Kept as the texts given: the access test compares them with the tokens.
            edges[entry->index]->setRestrictions(std::move(entry->restrictions));
        }
    }
    clock.stage(id, "edge restrictions");

    const std::size_t nodeCount = nodes.size();
    const std::size_t edgeCount = edges.size();
    if (nodeCount == nodeData_->size() && edgeCount == edgeData_->size()) {
        graph_ = CVGraph::newWithNodes(std::move(nodes), std::move(edges), std::move(entryPoints));
        clock.stage(id, "CVGraph creation");
    } else {
        graph_ = nullptr;
        CVLog::core().debug("{} {}", kProcessOperation, "CVGraph: could not construct graph");
    }
    CVLog::core().debug("{} {} dt={:.3f} (nodes={}, edges={}, immutableNodes={})", kProcessOperation, id, clock.total(),
                        nodeCount, edgeCount, immutableNodeIndexes_ ? immutableNodeIndexes_->count() : 0);
    return graphId_.has_value();
}

std::shared_ptr<CVGraphNode> CVRouteNetwork::getGraphNodeByIndex(std::uint64_t index) const {
    return graph_ ? graph_->nodeAtIndex(index) : nullptr;
}

std::shared_ptr<CVGraphNode> CVRouteNetwork::getGraphNodeLabelByIndex(std::uint64_t index) const {
    return getGraphNodeByIndex(index);
}

CVRouteNetwork::Nodes CVRouteNetwork::closestNodesInNetworkFromCoordinate(CLLocationCoordinate2D coordinate,
                                                                          std::int64_t floor, std::int32_t max,
                                                                          const CVAccessTokens& accessTokens) const {
    if (!graph_ || max <= 0) return {};
    const auto limit = static_cast<std::uint64_t>(max);
    Nodes open;
    for (auto& node : graph_->closestNodesToCoordinate(
             CVLocationCoordinate3D{coordinate.latitude, coordinate.longitude, floor}, 0, 2 * limit)) {
        if (node->isAccessibleWithAccessTokens(accessTokens)) open.push_back(std::move(node));
    }
    if (open.size() > limit) open.resize(limit);
    return open;
}

std::shared_ptr<CVGraphEdge> CVRouteNetwork::closestEdgeInGraphFromCoordinate(
    CLLocationCoordinate2D coordinate, std::int64_t floor, std::shared_ptr<CVGraphNode>* closestNode,
    CVLocationCoordinate3D* closestCoordinate, const CVAccessTokens& accessTokens) const {
    std::shared_ptr<CVGraphEdge> best;
    double bestDistance = std::numeric_limits<double>::infinity();
    const auto at = [this](std::uint64_t id) {
        const auto node = graph_->nodeAtIndex(id);
        return node ? node->coordinate().latLng() : CLLocationCoordinate2D{};
    };
    for (const auto& node : closestNodesInNetworkFromCoordinate(coordinate, floor, 10, accessTokens)) {
        for (const auto& edge : node->mutableEdges()) {
            if (!edge->isAccessibleWithAccessTokens(accessTokens)) continue;
            const auto nearest =
                CVGeometryHelper::closestCoordinateOnLineSegment(coordinate, at(edge->u()), at(edge->v()));
            const double distance = CVGeometryHelper::distanceFromCoordinate(coordinate, nearest);
            if (!(distance < bestDistance)) continue;
            bestDistance = distance;
            best = edge;
            if (closestCoordinate != nullptr) {
                *closestCoordinate = CVLocationCoordinate3D{nearest.latitude, nearest.longitude, floor};
            }
        }
    }
    if (closestNode != nullptr && best) {
        const auto distanceTo = [&](const std::shared_ptr<CVGraphNode>& end) {
            if (!end || !end->isAccessibleWithAccessTokens(accessTokens))
                return std::numeric_limits<double>::infinity();
            return CVGeometryHelper::distanceFromCoordinate(coordinate, end->coordinate().latLng());
        };
        auto u = graph_->nodeAtIndex(best->u());
        auto v = graph_->nodeAtIndex(best->v());
        *closestNode = distanceTo(u) < distanceTo(v) ? std::move(u) : std::move(v);
    }
    return best;
}

std::optional<CVRouteNetwork::Nodes> CVRouteNetwork::findPathFromNode(const std::shared_ptr<CVGraphNode>& start,
                                                                      const std::shared_ptr<CVGraphNode>& end,
                                                                      const std::vector<CVHighway>& restrictions,
                                                                      const CVAccessTokens& accessTokens) const {
    if (!graph_) return std::nullopt;
    return graph_->findPathFromNode(start, end, restrictions, accessTokens);
}

CVRouteNetwork::Edges CVRouteNetwork::edgePathFromNodePath(const Nodes& path) const {
    return graph_ ? graph_->edgePathFromNodePath(path) : Edges{};
}

std::string CVRouteNetwork::debugDescription() const {
    auto text =
        fmt::format("<CVRouteNetwork {}: {} ({} nodes, {} edges)>", static_cast<const void*>(this),
                    graphId_.value_or("(null)"), nodeData_ ? nodeData_->size() : 0, edgeData_ ? edgeData_->size() : 0);
    if (graph_) text += graph_->debugDescription();
    return text;
}

}  // namespace ambrell
