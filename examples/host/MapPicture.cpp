#include "MapPicture.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>

#include "Ambrell/AmbrellShared.h"
#include "Ambrell/CVLocationBaseType.h"
#include "Ambrell/CVMapConfig.h"
#include "Ambrell/CVVenue.h"
#include "CairoMapAdapter.h"
#include "HostReport.h"
#include "OneLegRoute.h"
#include "RouteReport.h"
#include "core/CVAmbrell.h"
#include "mapcontrol/CVMapConfigMapProvider.h"
#include "mapcontrol/CVMapControlInternal.h"
#include "platform/Geodesy.h"
#include "platform/runtime/MainQueue.h"
#include "routing/CVRouteNetwork.h"
#include "routing/CVRouteNetworkData.h"
#include "routing/Graph/CVGraph.h"
#include "routing/Graph/CVGraphNode.h"

namespace ambrell::host {
namespace map_picture {
namespace {

using Locations = std::vector<std::shared_ptr<CVLocation>>;

constexpr int kWidth = 1280;
constexpr int kHeight = 960;

Locations search(AmbrellShared& sdk, std::optional<std::string> parent) {
    CVFilter filter;
    filter.ignoreSearchableStatus = true;
    filter.ignoreActiveStatus = true;
    if (parent) filter.parents = std::vector<std::string>{*parent};
    return answerOf<Locations>("A search",
                               [&](auto done) { sdk.locationsWithQuery(std::nullopt, std::move(filter), done); });
}

struct Scene {
    std::shared_ptr<CVVenue> venue;
    std::shared_ptr<CVBuilding> building;
    std::int64_t floorIndex = 0;
    std::string floorName;
    Locations onFloor;
};

// The building with the largest outline, and its floor with the most locations.
Scene busiestFloor(AmbrellShared& sdk) {
    Scene scene;
    double largest = -1;
    for (const auto& location : search(sdk, std::nullopt)) {
        if (location->baseType() != CVLocationBaseType::building) continue;
        auto building = answerOf<std::shared_ptr<CVBuilding>>(
            "A building look-up", [&](auto done) { sdk.buildingWithId(location->getLocationId(), done); });
        const double area = building && building->geometry() ? building->geometry()->area() : 0;
        if (building && area > largest) {
            largest = area;
            scene.building = std::move(building);
        }
    }
    if (!scene.building) throw std::runtime_error("the solution has no building to show");

    for (const auto& [key, floor] : scene.building->getFloors()) {
        auto onFloor = search(sdk, floor->getFloorId());
        if (floor->getFloorIndex() && onFloor.size() > scene.onFloor.size()) {
            scene.floorIndex = static_cast<std::int64_t>(*floor->getFloorIndex());
            scene.floorName = floor->getName();
            scene.onFloor = std::move(onFloor);
        }
    }
    const auto venues = answerOf<std::vector<std::shared_ptr<CVVenue>>>(
        "The venue list", [&](auto done) { sdk.venuesWithCompletionHandler(done); });
    for (const auto& venue : venues) {
        if (venue->getVenueId() == scene.building->getVenueId()) scene.venue = venue;
    }
    if (!scene.venue) throw std::runtime_error("the largest building has no venue");
    return scene;
}

struct Path {
    std::string from;
    std::string to;
    std::vector<CVLocationCoordinate3D> points;
};

// The offline route network's path between the two rooms of the floor that
// lie farthest apart and are joined without leaving the floor.
std::optional<Path> roomToRoom(const Scene& scene) {
    const auto [data, error] = routeNetworks();
    // The networks go by their graph ids in lower case.
    auto graphId = scene.venue->getGraphId().value_or("");
    std::transform(graphId.begin(), graphId.end(), graphId.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const auto network = data ? data->networkForGraphId(graphId) : nullptr;
    if (!network || !network->graph()) return std::nullopt;

    std::set<std::string> rooms;
    for (const auto& location : scene.onFloor) {
        if (location->baseType() == CVLocationBaseType::room) rooms.insert(location->getName());
    }
    // Room names repeat from building to building.
    const auto outline = scene.building->geometry();
    std::vector<std::shared_ptr<CVGraphNode>> doors;
    for (const auto& node : network->graph()->nodes()) {
        if (node->label() && rooms.contains(*node->label()) && node->coordinate().floor == scene.floorIndex &&
            outline && outline->containsPoint(node->coordinate().latLng())) {
            doors.push_back(node);
        }
    }
    struct Pair {
        double metres;
        std::shared_ptr<CVGraphNode> from;
        std::shared_ptr<CVGraphNode> to;
    };
    std::vector<Pair> pairs;
    for (std::size_t i = 0; i < doors.size(); ++i) {
        for (std::size_t j = i + 1; j < doors.size(); ++j) {
            pairs.push_back(
                {platform::geodesicDistanceMeters(doors[i]->coordinate().latLng(), doors[j]->coordinate().latLng()),
                 doors[i], doors[j]});
        }
    }
    std::sort(pairs.begin(), pairs.end(), [](const Pair& a, const Pair& b) { return a.metres > b.metres; });
    for (std::size_t tried = 0; tried < std::min<std::size_t>(pairs.size(), 10); ++tried) {
        const auto& pair = pairs[tried];
        const auto nodes = network->findPathFromNode(pair.from, pair.to, {}, {});
        if (!nodes) continue;
        Path path{*pair.from->label(), *pair.to->label(), {}};
        for (const auto& node : *nodes) path.points.push_back(node->coordinate());
        if (std::all_of(path.points.begin(), path.points.end(),
                        [&](const auto& point) { return point.floor == scene.floorIndex; })) {
            return path;
        }
    }
    return std::nullopt;
}

// Runs the work on the main queue, as view code runs, and waits for it.
template <typename Work>
void onMain(Work work) {
    std::promise<void> done;
    platform::MainQueue::shared().async([&] {
        work();
        done.set_value();
    });
    done.get_future().wait();
}

// Waits until the map control has nothing left to do and the adapter has
// had no new view models for a moment: the picture is then final.
void settle(const CVMapControlInternal& control, const cairo_map::CairoMapAdapter& adapter) {
    const auto giveUp = std::chrono::steady_clock::now() + kAnswerBound;
    do {
        platform::MainQueue::shared().drain();
        adapter.waitUntilQuiet(std::chrono::milliseconds(300), std::chrono::duration_cast<std::chrono::milliseconds>(
                                                                   giveUp - std::chrono::steady_clock::now()));
        platform::MainQueue::shared().drain();
    } while (control.tasksInFlight() != 0 && std::chrono::steady_clock::now() < giveUp);
}

// The box's corners as the camera draws them, as a rectangle in pixels.
platform::CGRect pixelsOf(const cairo_map::WebMercatorCamera& camera, const CVGeoBounds& bounds) {
    double left = INFINITY, top = INFINITY, right = -INFINITY, bottom = -INFINITY;
    const auto southWest = bounds.southWest();
    const auto northEast = bounds.northEast();
    for (const auto& corner :
         {southWest, northEast, platform::CLLocationCoordinate2D{northEast.latitude, southWest.longitude},
          platform::CLLocationCoordinate2D{southWest.latitude, northEast.longitude}}) {
        const auto point = camera.pointFor(corner);
        left = std::min(left, point.x);
        right = std::max(right, point.x);
        top = std::min(top, point.y);
        bottom = std::max(bottom, point.y);
    }
    return {{left, top}, {right - left, bottom - top}};
}

// The building's labels stand out past its outline (a room's label starts at
// the room's middle and runs on to the right), so a camera that fits only the
// outline cuts those of the rooms at its edges. The camera is fitted again,
// its insets widened by how far they stand out, until every label that
// touches the building lies inside the picture; another zoom may bring other
// labels, hence a few rounds.
void leaveRoomForLabels(const CVMapControlInternal& control, cairo_map::CairoMapAdapter& adapter,
                        const CVGeoBounds& bounds, const platform::EdgeInsets& insets) {
    constexpr int kRounds = 4;
    for (int round = 0; round < kRounds; ++round) {
        const auto camera = adapter.webMercatorCamera();
        const auto building = pixelsOf(camera, bounds);
        platform::EdgeInsets past;
        bool cut = false;
        for (const auto& label : adapter.labelBoxes()) {
            if (label.maxX() < building.minX() || label.minX() > building.maxX() || label.maxY() < building.minY() ||
                label.minY() > building.maxY()) {
                continue;
            }
            past.left = std::max(past.left, building.minX() - label.minX());
            past.right = std::max(past.right, label.maxX() - building.maxX());
            past.top = std::max(past.top, building.minY() - label.minY());
            past.bottom = std::max(past.bottom, label.maxY() - building.maxY());
            cut = cut || label.minX() < 0 || label.minY() < 0 || label.maxX() > camera.width ||
                  label.maxY() > camera.height;
        }
        if (!cut) return;
        adapter.setWebMercatorCamera(camera.fitting(bounds, {insets.top + past.top, insets.left + past.left,
                                                             insets.bottom + past.bottom, insets.right + past.right}));
        settle(control, adapter);
    }
}

}  // namespace
}  // namespace map_picture

void writeMapPicture(AmbrellShared& sdk, const std::filesystem::path& path, std::ostream& out) {
    using namespace map_picture;
    const auto scene = busiestFloor(sdk);

    // The camera shows the whole building; the map control then finds the
    // venue and building under it, as it would for a camera the user moved.
    cairo_map::WebMercatorCamera camera;
    camera.width = kWidth;
    camera.height = kHeight;
    constexpr platform::EdgeInsets kMargins{32, 32, 32, 32};
    const auto bounds = scene.building->boundingBox();
    if (bounds) camera = camera.fitting(*bounds, kMargins);
    const auto adapter = std::make_shared<cairo_map::CairoMapAdapter>(camera);

    // The adapter goes into the slot every map configuration shares.
    const auto config = std::make_shared<CVMapConfig>();
    setMapProvider(*config, adapter);
    const auto control = std::dynamic_pointer_cast<CVMapControlInternal>(CVAmbrell::createMapControl(config));
    setMapProvider(*config, nullptr);
    if (!control) throw std::runtime_error("no map control was made (is a solution loaded?)");
    settle(*control, *adapter);
    control->setCurrentFloorIndex(scene.floorIndex);
    settle(*control, *adapter);

    std::shared_ptr<CVDirectionsRenderer> directions;
    const auto walk = roomToRoom(scene);
    if (walk) {
        const auto route = oneLegRoute(walk->points, walk->from, walk->to);
        onMain([&] {
            directions = control->newDirectionsRenderer();
            directions->setRoute(route);
            directions->render();
        });
        settle(*control, *adapter);
    }
    if (bounds) leaveRoomForLabels(*control, *adapter, *bounds, kMargins);

    if (!adapter->writePng(path)) throw std::runtime_error("the picture could not be written to " + path.string());
    out << fmt::format("Map picture of {}: {}, {} ({} locations){}, in {}\n", scene.venue->getName(),
                       scene.building->getName(), scene.floorName, scene.onFloor.size(),
                       walk ? fmt::format(", with the route from {} to {}", walk->from, walk->to) : std::string(),
                       path.string());
    if (directions) onMain([&] { directions->clear(); });
}

}  // namespace ambrell::host
