#include "tests/routing/DrawnGraph.h"

#include "routing/Graph/CVManualGraphProperties.h"
#include "routing/Graph/CVPropertyClassification.h"

#include <cctype>
#include <cmath>
#include <numbers>
#include <sstream>
#include <stdexcept>

namespace ambrell::test {

namespace {

// Degrees per metre along a meridian on the sphere the library measures on.
constexpr double kDegreesPerMeter = 180.0 / (std::numbers::pi * 6371008.8);

std::vector<std::string> splitOn(std::string_view text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream stream{std::string(text)};
    while (std::getline(stream, part, separator)) parts.push_back(part);
    return parts;
}

std::vector<std::string> words(std::string_view line) {
    std::vector<std::string> result;
    std::istringstream stream{std::string(line)};
    std::string word;
    while (stream >> word) result.push_back(word);
    return result;
}

[[noreturn]] void fail(int lineNumber, std::string_view why) {
    throw std::invalid_argument("drawing line " + std::to_string(lineNumber) + ": " + std::string(why));
}

bool isName(std::string_view token) {
    if (token.empty()) return false;
    for (const char c : token) {
        if (std::isalnum(static_cast<unsigned char>(c)) == 0) return false;
    }
    return true;
}

std::uint64_t boundaryOf(std::string_view text) {
    std::uint64_t bits = 0;
    for (const auto& name : splitOn(text, '|')) bits |= as_CVBoundaryType(name);
    return bits;
}

std::vector<std::string> tokensOf(std::string_view text) {
    return text.empty() ? std::vector<std::string>{} : splitOn(text, ',');
}

}  // namespace

DrawnNetwork DrawnNetwork::parse(std::string_view drawing) {
    DrawnNetwork network;
    std::optional<std::int64_t> floor;
    int row = 0;
    int lineNumber = 0;
    std::map<std::string, std::size_t, std::less<>> byName;
    struct Tagged {
        std::vector<std::string> tags;
        int lineNumber;
    };
    std::vector<std::pair<std::string, Tagged>> nodeTags;

    for (const auto& line : splitOn(drawing, '\n')) {
        ++lineNumber;
        const auto tokens = words(line);
        if (tokens.empty() || tokens.front().starts_with('#')) continue;
        if (tokens.front() == "floor") {
            if (tokens.size() != 2) fail(lineNumber, "floor takes one number");
            floor = std::stoll(tokens[1]);
            row = 0;
            continue;
        }
        if (tokens.front() == "node") {
            if (tokens.size() < 2) fail(lineNumber, "node needs a name");
            nodeTags.emplace_back(tokens[1], Tagged{{tokens.begin() + 2, tokens.end()}, lineNumber});
            continue;
        }
        const auto arrow = tokens.front().find_first_of("->");
        if (arrow != std::string::npos) {
            DrawnEdge edge;
            edge.from = tokens.front().substr(0, arrow);
            edge.to = tokens.front().substr(arrow + 1);
            edge.oneway = tokens.front()[arrow] == '>';
            if (!byName.contains(edge.from) || !byName.contains(edge.to))
                fail(lineNumber, "edge names an unknown node");
            const auto& a = network.nodes[byName.find(edge.from)->second];
            const auto& b = network.nodes[byName.find(edge.to)->second];
            edge.distance = static_cast<std::uint64_t>(
                std::llround(kCellMeters * 1000 * std::hypot(a.row - b.row, a.column - b.column)));
            for (std::size_t i = 1; i < tokens.size(); ++i) {
                const auto equals = tokens[i].find('=');
                if (equals == std::string::npos) fail(lineNumber, "edge tags are key=value");
                const auto key = tokens[i].substr(0, equals);
                const auto value = tokens[i].substr(equals + 1);
                if (key == "highway") {
                    edge.highway = CVHighway::initWithTypeString(value);
                } else if (key == "mm") {
                    edge.distance = std::stoull(value);
                } else if (key == "speed") {
                    edge.speedFactor = std::stod(value);
                } else if (key == "wait") {
                    edge.waittime = std::stod(value);
                } else if (key == "context") {
                    edge.context = value;
                } else if (key == "tokens") {
                    edge.restrictions = tokensOf(value);
                } else {
                    fail(lineNumber, "unknown edge tag " + key);
                }
            }
            network.edges.push_back(std::move(edge));
            continue;
        }
        if (!floor) fail(lineNumber, "grid row before any floor");
        const double latitude = kOriginLatitude - row * kCellMeters * kDegreesPerMeter;
        const double degreesPerMeterEast = kDegreesPerMeter / std::cos(kOriginLatitude * std::numbers::pi / 180);
        for (std::size_t column = 0; column < tokens.size(); ++column) {
            if (tokens[column] == ".") continue;
            if (!isName(tokens[column])) fail(lineNumber, "not a node name: " + tokens[column]);
            if (byName.contains(tokens[column])) fail(lineNumber, "node drawn twice: " + tokens[column]);
            DrawnNode node;
            node.name = tokens[column];
            node.floor = *floor;
            node.row = row;
            node.column = static_cast<int>(column);
            node.latitude = latitude;
            node.longitude = kOriginLongitude + static_cast<double>(column) * kCellMeters * degreesPerMeterEast;
            byName.emplace(node.name, network.nodes.size());
            network.nodes.push_back(std::move(node));
        }
        ++row;
    }

    for (const auto& [name, tagged] : nodeTags) {
        const auto found = byName.find(name);
        if (found == byName.end()) fail(tagged.lineNumber, "node line names an unknown node");
        auto& node = network.nodes[found->second];
        for (const auto& tag : tagged.tags) {
            const auto equals = tag.find('=');
            if (equals == std::string::npos) fail(tagged.lineNumber, "node tags are key=value");
            const auto key = tag.substr(0, equals);
            const auto value = tag.substr(equals + 1);
            if (key == "barrier") {
                node.barrier = value;
            } else if (key == "wait") {
                node.waittime = std::stod(value);
            } else if (key == "tokens") {
                node.restrictions = tokensOf(value);
            } else if (key == "boundary") {
                node.boundary = boundaryOf(value);
            } else if (key == "label") {
                node.label = value;
            } else {
                fail(tagged.lineNumber, "unknown node tag " + key);
            }
        }
    }
    return network;
}

std::uint64_t DrawnNetwork::idOf(std::string_view name) const {
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        if (nodes[i].name == name) return i;
    }
    throw std::invalid_argument("no node named " + std::string(name));
}

DrawnGraph::DrawnGraph(std::string_view drawing) : network_(DrawnNetwork::parse(drawing)) {
    CVGraph::Nodes nodes;
    CVGraph::Nodes entryPoints;
    for (std::size_t i = 0; i < network_.nodes.size(); ++i) {
        const auto& drawn = network_.nodes[i];
        auto properties = CVManualGraphNodeProperties::newGraphNodePropertiesWithBoundary(
            drawn.boundary, drawn.barrier, "Floor " + std::to_string(drawn.floor), drawn.waittime);
        auto node = CVGraphNode::newWithId(i, {drawn.latitude, drawn.longitude, drawn.floor}, std::move(properties),
                                           drawn.label.value_or(drawn.name));
        node->setRestrictions(drawn.restrictions);
        if (drawn.boundary != 0) entryPoints.push_back(node);
        nodes.push_back(std::move(node));
    }
    CVGraph::Edges edges;
    for (const auto& drawn : network_.edges) {
        auto properties = CVManualGraphEdgeProperties::newGraphEdgePropertiesWithContext(
            drawn.context, drawn.highway, drawn.distance, drawn.speedFactor, drawn.waittime, drawn.oneway);
        auto edge =
            CVGraphEdge::newGraphEdgeBetween(network_.idOf(drawn.from), network_.idOf(drawn.to), std::move(properties));
        edge->setRestrictions(drawn.restrictions);
        edges.push_back(std::move(edge));
    }
    graph_ = CVGraph::newWithNodes(std::move(nodes), std::move(edges), std::move(entryPoints));
}

CVGraph::NodePtr DrawnGraph::node(std::string_view name) const { return graph_->nodeAtIndex(network_.idOf(name)); }

std::string DrawnGraph::nameOf(std::uint64_t nodeId) const {
    return nodeId < network_.nodes.size() ? network_.nodes[nodeId].name : "#" + std::to_string(nodeId);
}

CVGraph::EdgePtr DrawnGraph::edge(std::string_view from, std::string_view to) const {
    return node(from)->edgeToNode(*node(to));
}

std::string DrawnGraph::route(std::string_view from, std::string_view to, std::optional<std::vector<CVHighway>> avoid,
                              const CVAccessTokens& tokens) const {
    return names(graph_->findPathFromNode(node(from), node(to), std::move(avoid), tokens));
}

std::string DrawnGraph::names(const std::optional<CVGraph::Nodes>& path) const {
    if (!path) return "none";
    std::string text;
    for (const auto& node : *path) {
        if (!text.empty()) text += ' ';
        text += nameOf(node->nodeId());
    }
    return text;
}

std::int64_t DrawnGraph::totalWeight(const CVGraph::Nodes& path) const {
    std::int64_t total = 0;
    for (const auto& edge : graph_->edgePathFromNodePath(path)) total += edge->weight();
    return total;
}

}  // namespace ambrell::test
