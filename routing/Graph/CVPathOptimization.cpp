#include "routing/Graph/CVPathOptimization.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <limits>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include <fmt/format.h>

#include "Ambrell/CVLog.h"
#include "Source/AXCommon/AXPathOptimization.h"
#include "data/CVAXGeometry.h"
#include "data/CVEntrySeams.h"
#include "data/CVLocationInternal.h"
#include "platform/runtime/Actor.h"
#include "routing/CVRouteLayerService.h"

namespace ambrell {

namespace path_optimization {
namespace {

constexpr std::string_view kOptimizeOperation =
    "+[CVPathOptimization optimizePath:nodes:obstacles:routeNetworkAllowsOptimization:]";
// How near a node past a room's outline may lie and still count as reached
// from inside it (metres).
constexpr double kLeavingDistance = 0.1;
// Half the side of the box a node's locations are searched in (degrees).
constexpr double kSearchBoxHalfSide = 0.000001;

std::atomic<std::uint64_t> strategySetting{3};

void logDeclined(std::string_view reason) {
    CVLog::core().error("{} {}", kOptimizeOperation, fmt::format("[E] Path not optimized: {}", reason));
}

// The answers of a few location searches, waited for together.
class LocationAnswers {
public:
    explicit LocationAnswers(std::size_t count) : answers_(count), pending_(count) {}

    std::function<void(std::vector<std::shared_ptr<CVLocation>>)> slot(std::size_t index) {
        return [this, index,
                done = std::make_shared<std::atomic<bool>>(false)](std::vector<std::shared_ptr<CVLocation>> locations) {
            // A second answer to one search must not count twice.
            if (done->exchange(true)) return;
            std::lock_guard lock(mutex_);
            answers_[index] = std::move(locations);
            if (--pending_ == 0) answered_.notify_all();
        };
    }

    std::vector<std::vector<std::shared_ptr<CVLocation>>> wait() {
        std::unique_lock lock(mutex_);
        answered_.wait(lock, [this] { return pending_ == 0; });
        return std::move(answers_);
    }

private:
    std::mutex mutex_;
    std::condition_variable answered_;
    std::vector<std::vector<std::shared_ptr<CVLocation>>> answers_;
    std::size_t pending_;
};

// The search of one floor: the box of the floor's nodes, each grown by the
// box a node is looked up in.
CVFilter filterAround(const CVPathOptimization::Nodes& nodes, std::int64_t floor) {
    double south = std::numeric_limits<double>::infinity();
    double west = south;
    double north = -south;
    double east = -south;
    for (const auto& node : nodes) {
        if (!node || node->coordinate().floor != floor) continue;
        const auto at = node->coordinate();
        south = std::min(south, at.latitude);
        north = std::max(north, at.latitude);
        west = std::min(west, at.longitude);
        east = std::max(east, at.longitude);
    }
    CVFilter filter;
    filter.bounds = CVGeoBounds({south - kSearchBoxHalfSide, west - kSearchBoxHalfSide},
                                {north + kSearchBoxHalfSide, east + kSearchBoxHalfSide});
    filter.floorIndex = static_cast<double>(floor);
    filter.take = std::numeric_limits<std::uint32_t>::max();
    filter.ignoreSearchableStatus = true;
    filter.ignoreActiveStatus = true;
    return filter;
}

// A room of the answer, with the box of its outline for a quick first test.
struct RoomCandidate {
    std::shared_ptr<const CVLocationInternal> location;
    std::shared_ptr<const CVGeometry> outline;
    double west = 0;
    double south = 0;
    double east = 0;
    double north = 0;
    mutable std::optional<double> area;
};

// The answered rooms by floor, in answer order. Only rooms can be a node's
// location: floors, buildings and venues (and everything else) would sort
// after every room and be passed over.
std::map<double, std::vector<RoomCandidate>> roomsByFloor(
    const std::vector<std::vector<std::shared_ptr<CVLocation>>>& answers) {
    std::map<double, std::vector<RoomCandidate>> rooms;
    for (const auto& answered : answers) {
        for (const auto& location : answered) {
            auto own = std::dynamic_pointer_cast<const CVLocationInternal>(location);
            if (!own || own->baseType() != CVLocationBaseType::room) continue;  // only ours carry an outline
            const auto floor = own->getFloorIndex();
            auto outline = own->cv_effectiveGeometry();
            if (!floor || !outline || outline->boundingBox().size() != 4) continue;
            const auto& box = outline->boundingBox();
            rooms[*floor].push_back(
                RoomCandidate{std::move(own), std::move(outline), box[0], box[1], box[2], box[3], {}});
        }
    }
    return rooms;
}

// The room of least area on the node's floor whose outline holds the node
// (the first of equals); null when none does.
std::shared_ptr<const CVLocationInternal> roomAt(const CVGraphNode& node,
                                                 const std::map<double, std::vector<RoomCandidate>>& rooms) {
    const auto at = node.coordinate();
    const auto onFloor = rooms.find(static_cast<double>(at.floor));
    if (onFloor == rooms.end()) return nullptr;
    const RoomCandidate* best = nullptr;
    for (const auto& room : onFloor->second) {
        if (at.latitude < room.south || at.latitude > room.north || at.longitude < room.west ||
            at.longitude > room.east || !room.outline->containsPoint(at.latLng())) {
            continue;
        }
        if (!room.area) room.area = room.location->area();
        if (best == nullptr || *room.area < *best->area) best = &room;
    }
    return best != nullptr ? best->location : nullptr;
}

// Whether the paths can be worked on; the reason they cannot, else empty.
std::string unusablePath(const CVPathOptimization::Edges& edges, const CVPathOptimization::Nodes& nodes) {
    const auto isNull = [](const auto& pointer) { return pointer == nullptr; };
    if (edges.size() + 1 != nodes.size() || std::any_of(edges.begin(), edges.end(), isNull) ||
        std::any_of(nodes.begin(), nodes.end(), isNull)) {
        return fmt::format("{} edges do not join {} nodes", edges.size(), nodes.size());
    }
    constexpr auto kLargestId = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
    for (const auto& node : nodes) {
        if (node->nodeId() > kLargestId) return fmt::format("node id {} does not fit the engine", node->nodeId());
    }
    return {};
}

}  // namespace
}  // namespace path_optimization

std::uint64_t CVPathOptimization::pathOptimizationStrategy() { return path_optimization::strategySetting.load(); }

void CVPathOptimization::setPathOptimizationStrategy(std::uint64_t strategy) {
    path_optimization::strategySetting.store(strategy);
}

std::uint32_t CVPathOptimization::axPathOptimizationStrategyFromCV(std::uint64_t strategy) {
    return static_cast<std::uint32_t>(((strategy * 2) & 12U) | ((strategy & 1U) != 0 ? 3U : 1U));
}

AXPolygon CVPathOptimization::emptyPolygon() { return AXPolygon::PolygonWithOuterRing(AXPath{}, {}); }

AXPolygon CVPathOptimization::axPolygonForRoomPolygon(const CVPolygonGeometry* roomPolygon,
                                                      const Obstacles& obstaclePolygons) {
    auto base = roomPolygon != nullptr ? axPolygon(*roomPolygon) : emptyPolygon();
    if (obstaclePolygons.empty()) return base;
    auto holes = std::move(base.innerRings);
    for (const auto& obstacle : obstaclePolygons) {
        if (!obstacle || obstacle->coordinates().empty()) continue;
        const auto& ring = obstacle->coordinates().front();
        std::vector<AXCoordinate> reversed;
        reversed.reserve(ring.size());
        for (auto at = ring.rbegin(); at != ring.rend(); ++at) {
            reversed.push_back(AXCoordinate::CoordinateWithLat(at->latitude, at->longitude));
        }
        holes.push_back(AXPath::PathWithCoordinates(std::move(reversed)));
    }
    return AXPolygon::PolygonWithOuterRing(std::move(base.outerRing), std::move(holes));
}

CVPathOptimization::Locations CVPathOptimization::getLocationsFromNodePath(const Nodes& nodes) {
    const std::shared_ptr<const CVLocationInternal> empty = std::make_shared<CVLocationInternal>();
    Locations locations(nodes.size(), empty);
    const auto entry = CVEntryObjectSeam::installed();
    const auto isNull = [](const auto& node) { return node == nullptr; };
    if (!entry || std::all_of(nodes.begin(), nodes.end(), isNull)) return locations;
    // One search per floor of the path rather than one per node: each search
    // is a turn of the entry object's tasks, which would cost more than the
    // geometry it serves. Every room a node's own box would find on its floor
    // lies in its floor's box, and the rules below keep exactly the node's own.
    std::set<std::int64_t> floors;
    for (const auto& node : nodes) {
        if (node) floors.insert(node->coordinate().floor);
    }
    path_optimization::LocationAnswers answers(floors.size());
    std::size_t slot = 0;
    // Every search is started before the first answer is waited for.
    for (const auto floor : floors) {
        entry->locationsWithQuery(std::nullopt, path_optimization::filterAround(nodes, floor), answers.slot(slot++));
    }
    const auto rooms = path_optimization::roomsByFloor(answers.wait());
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        if (!nodes[i]) continue;
        if (auto room = path_optimization::roomAt(*nodes[i], rooms)) locations[i] = std::move(room);
    }
    return locations;
}

std::vector<AXRoomPathSegment> CVPathOptimization::roomPathSegments(const Edges& edges, const Nodes& nodes,
                                                                    const Locations& locations,
                                                                    const CVRouteObstacleSource* obstacles) {
    std::vector<AXRoomPathSegment> segments;
    if (nodes.size() < 2 || !path_optimization::unusablePath(edges, nodes).empty() ||
        locations.size() != nodes.size() ||
        std::any_of(locations.begin(), locations.end(), [](const auto& location) { return location == nullptr; })) {
        return segments;
    }

    // The obstacles of every room on the path, by room id.
    std::map<std::string, Obstacles, std::less<>> obstaclesByRoom;
    if (obstacles != nullptr) {
        std::set<std::string> ids;
        for (const auto& location : locations) {
            // The empty location stands for no room and has no id of its own.
            if (location->baseType() == CVLocationBaseType::room) ids.insert(location->locationId);
        }
        for (const auto& obstacle : obstacles->obstaclesForLocationsWithIds({ids.begin(), ids.end()})) {
            if (!obstacle || !obstacle->geometry()) continue;
            for (const auto& roomId : obstacle->roomIdList()) obstaclesByRoom[roomId].push_back(obstacle->geometry());
        }
    }
    const auto close = [&](const CVLocationInternal& location, std::vector<AXEdge>& pending) {
        if (pending.empty()) return;
        const auto polygon = location.cv_polygon();
        const auto found = location.baseType() == CVLocationBaseType::room ? obstaclesByRoom.find(location.locationId)
                                                                           : obstaclesByRoom.end();
        const auto room =
            axPolygonForRoomPolygon(polygon.get(), found != obstaclesByRoom.end() ? found->second : Obstacles{});
        segments.push_back(AXRoomPathSegment::RoomPathSegmentWithRoom(room, std::move(pending)));
        pending.clear();
    };

    std::vector<AXEdge> pending;
    for (std::size_t i = 1; i < locations.size(); ++i) {
        auto edge = edges[i - 1]->axEdgeWithNodeU(nodes[i - 1]->axNode(), nodes[i]->axNode());
        pending.push_back(edge);
        const auto& left = *locations[i - 1];
        if (locations[i - 1] == locations[i]) {
            if (i == locations.size() - 1) close(left, pending);
            continue;
        }
        // The path leaves the room: an edge that ends well outside it belongs
        // to the next room, one that ends at its outline to this one.
        CVGeometryContainmentMetadata metadata;
        bool inside = false;
        if (const auto polygon = left.cv_polygon()) {
            inside = polygon->containsCoordinate(nodes[i]->coordinate().latLng(), false, &metadata);
        }
        if (!inside && metadata.distance >= path_optimization::kLeavingDistance) {
            pending.pop_back();
            close(left, pending);
            pending.push_back(std::move(edge));
        } else {
            close(left, pending);
        }
    }
    if (!pending.empty()) close(*locations.back(), pending);
    return segments;
}

std::shared_ptr<CVRouteGraphResult> CVPathOptimization::optimizePath(const Edges& edges, const Nodes& nodes,
                                                                     const CVRouteObstacleSource* obstacles,
                                                                     bool routeNetworkAllowsOptimization) {
    static const Engine kEngine = [](const std::vector<AXRoomPathSegment>& segments, std::uint32_t strategy,
                                     float wallDistance) {
        return AXPathOptimization::create().optimizePathEx(segments, strategy, wallDistance);
    };
    return optimizePath(edges, nodes, obstacles, routeNetworkAllowsOptimization, kEngine);
}

std::shared_ptr<CVRouteGraphResult> CVPathOptimization::optimizePath(const Edges& edges, const Nodes& nodes,
                                                                     const CVRouteObstacleSource* obstacles,
                                                                     bool routeNetworkAllowsOptimization,
                                                                     const Engine& engine) {
    auto result = std::make_shared<CVRouteGraphResult>(edges, nodes);
    const auto strategy = pathOptimizationStrategy();
    if ((strategy & 3U) == 0 || (!routeNetworkAllowsOptimization && (strategy & 4U) == 0)) return result;
    if (nodes.size() < 2 && edges.empty()) return result;
    if (const auto reason = path_optimization::unusablePath(edges, nodes); !reason.empty()) {
        path_optimization::logDeclined(reason);
        return result;
    }
    if (platform::LocationServiceActor::shared().isCurrent()) {
        // The location searches answer through this very actor.
        path_optimization::logDeclined("called on the location service's actor");
        return result;
    }
    const auto locations = getLocationsFromNodePath(nodes);
    const auto segments = roomPathSegments(edges, nodes, locations, obstacles);
    std::vector<AXEdge> optimized;
    try {
        optimized = engine(segments, axPathOptimizationStrategyFromCV(strategy), -1.0F);
    } catch (const std::exception& error) {
        path_optimization::logDeclined(fmt::format("the search engine failed: {}", error.what()));
        return result;
    } catch (...) {
        path_optimization::logDeclined("the search engine failed");
        return result;
    }
    for (const auto& edge : optimized) result->addAXEdge(edge);
    return result;
}

}  // namespace ambrell
