// The sample solution of examples/sample-solution, read through the content
// models: every document parses without a logged error, and what the models
// hold matches the counts its generator wrote beside it. Served by its
// loopback web service, it answers every URL a synchronisation asks for.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <set>

#include <boost/json/value_to.hpp>

#include "Ambrell/CVLocationBaseType.h"
#include "data/CVAppData.h"
#include "data/CVBuildingCollection.h"
#include "data/CVCategories.h"
#include "data/CVDerivedGeometry.h"
#include "data/CVLocationSourceIndex.h"
#include "data/CVOfflineBundleHelper.h"
#include "data/CVSolutionInternal.h"
#include "data/CVUrlResourceCollection.h"
#include "data/CVUserRoleJSON.h"
#include "data/CVVenueInternal.h"
#include "foundation/CVAXAPI.h"
#include "foundation/CVLogger.h"
#include "foundation/CVURITemplate.h"
#include "platform/Paths.h"
#include "platform/http/HttpSession.h"
#include "platform/runtime/BlockingWait.h"
#include "platform/runtime/ThreadPool.h"
#include "tests/data/LocationDocuments.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/SampleSolutionService.h"
#include "tests/support/TempDirectory.h"

namespace ambrell {
namespace {

namespace fs = std::filesystem;
namespace json = boost::json;

using test::fileText;
using Tally = std::map<std::string, std::size_t>;
using Texts = std::vector<std::string>;

const fs::path kSample{AMBRELL_SAMPLE_SOLUTION_DIR};

// What the generator says it wrote.
const json::value& counts() {
    static const json::value written = json::parse(fileText(kSample / "expected-counts.json"));
    return written;
}

template <typename T = std::size_t>
T expectedAt(std::string_view key, const json::value& in = counts()) {
    return json::value_to<T>(in.at(key));
}

// The file an icon URL is looked up as among the app's resources: its path
// with "/" turned into "_", after "ax", in res/.
fs::path bundledIconFile(std::string_view url) {
    const auto scheme = url.find("://");
    const auto path = url.find('/', scheme == std::string_view::npos ? 0 : scheme + 3);
    std::string name = "ax" + std::string(url.substr(path == std::string_view::npos ? url.size() : path));
    std::ranges::replace(name, '/', '_');
    return kSample / "bundle" / "res" / name;
}

std::string describe(const std::optional<JSONModelError>& error) {
    return error ? error->localizedDescription() : std::string("no error");
}

// The models a parse gave; none, with the parse's error, fails the test.
template <typename Models>
Models orFail(std::optional<Models> models, const std::optional<JSONModelError>& error) {
    EXPECT_TRUE(models) << describe(error);
    return models.value_or(Models{});
}

std::vector<std::shared_ptr<CVBuildingInternal>> buildingsOf(const std::string& text) {
    CVBuildingCollection collection;
    std::optional<JSONModelError> error;
    EXPECT_TRUE(collection.initWithData(test::bytes(text), &error)) << describe(error);
    return collection.buildings;
}

std::vector<std::shared_ptr<CVLocationInternal>> locationsOf(const std::string& text) {
    CVLocationDataset dataset;
    std::optional<JSONModelError> error;
    EXPECT_TRUE(dataset.initWithData(test::bytes(text), &error)) << describe(error);
    return orFail(dataset.list, error);
}

std::vector<std::shared_ptr<CVDerivedGeometry>> derivedOf(const std::string& text) {
    std::optional<JSONModelError> error;
    return orFail(CVDerivedGeometry::arrayOfModelsFromString(text, &error), error);
}

// The names the generator counts geometries by, in the order of CVLocationGeometry's alternatives.
constexpr const char* kGeometryKinds[] = {"none", "Point", "Polygon", "MultiPolygon"};
static_assert(std::variant_size_v<CVLocationGeometry> == std::size(kGeometryKinds));

// Reads every document of one language through its model; a document that
// does not read, or any error logged meanwhile, fails the test.
class SampleSolution : public test::ContainerFixture, public ::testing::WithParamInterface<std::string> {
protected:
    void SetUp() override {
        std::optional<JSONModelError> error;
        solution_ = CVSolutionInternal::fromString(document("solutions"), &error);
        ASSERT_NE(solution_, nullptr) << describe(error);
        appData_ = CVAppData::fromString(document("appconfig"), &error);
        ASSERT_NE(appData_, nullptr) << describe(error);
        CVCategories categories;
        EXPECT_TRUE(categories.initWithData(test::bytes(document("categories")), &error)) << describe(error);
        categories_ = categories.list;
        const json::value roles = json::parse(document("appuserroles"));
        for (const auto& element : roles.as_array()) {
            const auto role = CVUserRoleFromDictionary(element);
            ASSERT_TRUE(role) << element;
            roles_.push_back(*role);
        }
        venues_ = orFail(CVVenueInternal::arrayOfModelsFromString(document("venues"), &error), error);
        buildings_ = buildingsOf(document("buildings"));
        locations_ = locationsOf(document("locations"));
        derived_ = derivedOf(document("derivedGeometry"));
    }
    void TearDown() override {
        for (const auto& entry : log_.sink().messages()) {
            EXPECT_NE(entry.level, platform::LogLevel::error) << entry.message;
        }
    }
    ~SampleSolution() override {
        CVLocationSourceIndex::clear();
        CVVenueInternal::resetForTesting();
        CVOfflineBundleHelper::resetForTesting();
        CVAXAPI::resetSharedForTesting();
    }

    [[nodiscard]] fs::path serviceFile(std::string_view endpoint, std::string_view venueId = {}) const {
        return kSample / "service" / "sync" / venueId / (std::string(endpoint) + "_" + GetParam() + ".json");
    }
    [[nodiscard]] std::string document(std::string_view endpoint) const { return fileText(serviceFile(endpoint)); }

    test::ScopedLogCapture log_;
    std::shared_ptr<CVSolutionInternal> solution_;
    std::shared_ptr<CVAppData> appData_;
    std::vector<std::shared_ptr<CVDataFieldInternal>> categories_;
    std::vector<CVUserRole> roles_;
    std::vector<std::shared_ptr<CVVenueInternal>> venues_;
    std::vector<std::shared_ptr<CVBuildingInternal>> buildings_;
    std::vector<std::shared_ptr<CVLocationInternal>> locations_;
    std::vector<std::shared_ptr<CVDerivedGeometry>> derived_;
};

TEST_P(SampleSolution, SolutionAppDataCategoriesAndUserRolesMatchTheCounts) {
    EXPECT_EQ(solution_->solutionId, expectedAt<std::string>("solutionId"));
    EXPECT_EQ(solution_->defaultLanguage, "en");
    EXPECT_EQ(solution_->availableLanguages, expectedAt<Texts>("languages"));
    ASSERT_TRUE(solution_->config);
    EXPECT_EQ(solution_->config->collisionHandling, CVCollisionHandling::removeLabelFirst);
    EXPECT_TRUE(solution_->config->stateDisplayRules && solution_->config->stateDisplayRules->selection);
    ASSERT_EQ(solution_->types.size(), expectedAt("types"));
    for (const auto& type : solution_->types) {
        ASSERT_NE(type->displayRule, nullptr) << type->name;
        EXPECT_TRUE(type->displayRule->iconUrl()) << type->name;
        EXPECT_FALSE(type->translatedName.empty()) << type->name;
    }

    EXPECT_EQ(categories_.size(), expectedAt("categories"));
    EXPECT_EQ(roles_.size(), expectedAt("userRoles"));
    Tally menus;
    for (const auto& [name, items] : appData_->menuInfo) menus[name] = items.size();
    EXPECT_EQ(menus, expectedAt<Tally>("menus"));
    ASSERT_NE(appData_->loggingConfig, nullptr);
    EXPECT_TRUE(appData_->loggingConfig->eventLoggingEnabled());
}

// The venue and building models also fill the readable-id index that each location looks its parent up in.
TEST_P(SampleSolution, VenuesBuildingsAndFloorsMatchTheCountsAndEveryLocationFindsItsFloorOrVenue) {
    ASSERT_EQ(venues_.size(), expectedAt("venues"));
    std::set<std::string> venueIds, floorIds;
    for (const auto& venue : venues_) {
        venueIds.insert(venue->venueId);
        EXPECT_NE(venue->getLocationObject(), nullptr);
        EXPECT_NE(venue->geometry(), nullptr) << venue->venueId;
        EXPECT_TRUE(venue->boundingBox()) << venue->venueId;
        EXPECT_EQ(venue->styles.size(), 2u) << venue->venueId;
    }
    // One campus lies across the Greenwich meridian; the other names its dark style as the one to show.
    const auto meridian = venues_.at(0)->boundingBox();
    ASSERT_TRUE(meridian);
    EXPECT_LT(meridian->southWest().longitude, 0.0);
    EXPECT_GT(meridian->northEast().longitude, 0.0);
    ASSERT_NE(venues_.at(1)->defaultStyle(), nullptr);
    EXPECT_EQ(venues_.at(1)->defaultStyle()->getFolder(), "dark");

    ASSERT_EQ(buildings_.size(), expectedAt("buildings"));
    const auto floorsPerBuilding = expectedAt<Tally>("floorsPerBuilding");
    std::size_t floors = 0;
    std::size_t multiPolygonFloors = 0;
    for (const auto& building : buildings_) {
        EXPECT_EQ(venueIds.count(building->venueId.value_or("")), 1u) << building->buildingId;
        EXPECT_TRUE(building->boundingBox()) << building->buildingId;
        EXPECT_EQ(building->floors.size(), floorsPerBuilding.at(building->buildingId));
        for (const auto& [key, floor] : building->floors) {
            EXPECT_NE(floor->cv_effectiveGeometry(), nullptr) << floor->floorId;
            floorIds.insert(floor->floorId);
            EXPECT_EQ(floor->buildingId, building->buildingId);
            if (floor->cv_multiPolygon() != nullptr) ++multiPolygonFloors;
        }
        floors += building->floors.size();
        EXPECT_EQ(building->getLocationsForBuildingAndFloors().size(), building->floors.size() + 1);
    }
    EXPECT_EQ(floors, expectedAt("floors"));
    EXPECT_EQ(multiPolygonFloors, expectedAt("multiPolygonFloors"));

    for (const auto& location : locations_) {
        const auto parent = location->parentId();
        ASSERT_TRUE(parent) << location->locationId;
        EXPECT_EQ((location->isIndoors() ? floorIds : venueIds).count(*parent), 1u)
            << location->externalId << " -> " << *parent;
    }
}

TEST_P(SampleSolution, LocationsParseWithTheKindsTheGeneratorWrote) {
    const auto& expected = counts().at("locations");
    ASSERT_EQ(locations_.size(), expectedAt("total", expected));
    std::set<std::string> typeNames, categoryKeys, roleIds, ids;
    for (const auto& type : solution_->types) typeNames.insert(type->name);
    for (const auto& category : categories_) categoryKeys.insert(category->key);
    for (const auto& role : roles_) roleIds.insert(role.userRoleId);

    Tally byType, byBaseType, byGeometry, byStatus;
    std::size_t outdoor = 0;
    std::size_t withCategories = 0;
    for (const auto& location : locations_) {
        ++byType[location->type];
        ++byBaseType[std::string(CVLocationBaseTypeName(location->baseType()))];
        ++byGeometry[kGeometryKinds[location->geometry().index()]];
        ++byStatus[std::to_string(location->cv_geoDataStatus())];
        if (!location->isIndoors()) ++outdoor;
        if (!location->categories.empty()) ++withCategories;
        ids.insert(location->locationId);

        // The documents refer to each other only by what the others define.
        EXPECT_EQ(typeNames.count(location->type), 1u) << location->locationId;
        for (const auto& key : location->categories) EXPECT_EQ(categoryKeys.count(key), 1u) << key;
        for (const auto& role : location->restrictions.value_or(Texts{})) EXPECT_EQ(roleIds.count(role), 1u) << role;
        EXPECT_FALSE(location->name.empty()) << location->locationId;
    }
    EXPECT_EQ(ids.size(), locations_.size()) << "location ids repeat";
    EXPECT_EQ(byType, expectedAt<Tally>("byType", expected));
    EXPECT_EQ(byBaseType, expectedAt<Tally>("byBaseType", expected));
    EXPECT_EQ(byGeometry, expectedAt<Tally>("byGeometry", expected));
    EXPECT_EQ(byStatus, expectedAt<Tally>("byStatus", expected));
    EXPECT_EQ(outdoor, expectedAt("outdoor", expected));
    EXPECT_EQ(withCategories, expectedAt("withCategories", expected));
}

TEST_P(SampleSolution, DerivedGeometryIsFiledByKind) {
    const auto& expected = counts().at("derivedGeometry");
    ASSERT_EQ(derived_.size(), expectedAt("total", expected));
    for (const auto& record : derived_) EXPECT_NE(record->cvGeometry, nullptr) << record->geodataId.value_or("?");

    const CVDerivedGeometryCollection collection(derived_);
    const auto byType = expectedAt<Tally>("byType", expected);
    EXPECT_EQ(collection.floor().size(), byType.at("floorplan"));
    EXPECT_EQ(collection.walls().size(), byType.at("wall"));
    EXPECT_EQ(collection.extrusions().size(), byType.at("extrusion"));

    // Every floor has its floor plan, and walls stand around rooms of the locations document.
    for (const auto& building : buildings_) {
        for (const auto& [key, floor] : building->floors) EXPECT_EQ(collection.floor().count(floor->floorId), 1u);
    }
    std::set<std::string> rooms;
    for (const auto& location : locations_) {
        if (location->baseType() == CVLocationBaseType::room) rooms.insert(location->locationId);
    }
    for (const auto& [id, wall] : collection.walls()) EXPECT_EQ(rooms.count(id), 1u) << id;
}

TEST_P(SampleSolution, VenueDocumentsHoldOnlyTheirVenue) {
    for (const auto& [venueId, value] : counts().at("perVenue").as_object()) {
        const std::string administrativeId = expectedAt<std::string>("administrativeId", value);
        const auto buildings = buildingsOf(fileText(serviceFile("buildings", venueId)));
        EXPECT_EQ(buildings.size(), expectedAt("buildings", value));
        for (const auto& building : buildings) EXPECT_EQ(building->venueId, std::string(venueId));

        const auto locations = locationsOf(fileText(serviceFile("locations", venueId)));
        EXPECT_EQ(locations.size(), expectedAt("total", value.at("locations")));
        for (const auto& location : locations) EXPECT_EQ(location->venue, administrativeId);

        const auto derived = derivedOf(fileText(serviceFile("derivedGeometry", venueId)));
        EXPECT_EQ(derived.size(), expectedAt("total", value.at("derivedGeometry")));
    }
}

// The host app's snapshot holds the web service's documents byte for byte, and the library finds them from the
// sync URLs it builds.
TEST_P(SampleSolution, BundleAnswersTheLibrarysSyncUrls) {
    platform::Paths::setResourcesFolder(kSample / "bundle");
    CVOfflineBundleHelper::resetForTesting();
    const auto id = expectedAt<std::string>("solutionId");
    const auto timestamp = CVOfflineBundleHelper::offlineDataTimestamp();
    ASSERT_TRUE(timestamp);
    EXPECT_EQ(timestamp->time_since_epoch(), std::chrono::seconds(expectedAt<std::int64_t>("timestamp")));

    const auto venueEndpoints = expectedAt<Texts>("venueEndpoints");
    for (const auto& endpoint : expectedAt<Texts>("endpoints")) {
        const std::string url = CVAXAPI::sharedInstance()->urlStringForSyncEndpoint(endpoint, id, GetParam());
        const auto bundled = CVOfflineBundleHelper::offlinePathForEndpointUrl(url, id);
        ASSERT_TRUE(bundled) << url;
        const auto name = "ax_sync_" + endpoint + "_" + GetParam() + ".json";
        EXPECT_TRUE(fs::equivalent(*bundled, kSample / "bundle" / "res" / name)) << *bundled;
        EXPECT_EQ(fileText(*bundled), document(endpoint)) << endpoint;

        // A venue's URL finds the whole snapshot document.
        if (std::ranges::find(venueEndpoints, endpoint) == venueEndpoints.end()) continue;
        for (const auto& [venueId, value] : counts().at("perVenue").as_object()) {
            EXPECT_EQ(CVOfflineBundleHelper::offlinePathForEndpointUrl(url + "&venueId=" + std::string(venueId), id),
                      bundled);
        }
    }
}

TEST_P(SampleSolution, EveryIconUrlHasABundledImage) {
    std::set<std::string> urls;
    for (const auto& type : solution_->types) urls.insert(type->displayRule->iconUrl().value_or(""));
    for (const auto& location : locations_) {
        if (location->displayRule && location->displayRule->iconUrl()) urls.insert(*location->displayRule->iconUrl());
    }
    for (const auto& [name, items] : appData_->menuInfo) {
        for (const auto& item : items) urls.insert(item->iconUrl.value_or(""));
    }

    std::set<std::string> names;
    for (const auto& url : urls) {
        const fs::path file = bundledIconFile(url);
        const std::string png = fileText(file);
        // An 8x8 PNG: the signature, then the header chunk's width and height.
        ASSERT_GE(png.size(), 24u) << url;
        EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8)) << url;
        EXPECT_EQ(png.substr(16, 8), std::string("\0\0\0\x08\0\0\0\x08", 8)) << url;
        names.insert(file.stem().string().substr(std::string_view("ax_icons_").size()));
    }
    const auto icons = expectedAt<Texts>("icons");
    EXPECT_EQ(names, std::set<std::string>(icons.begin(), icons.end()));
}

// Every network covers its venue: each node is reachable from the entry points over the edges, the floors joined
// by stairs and lifts; the nodes' floors are the venue's; the route layer's obstacles stand in meeting rooms.
TEST_P(SampleSolution, RouteNetworksJoinEveryFloorAndObstaclesStandInRooms) {
    const json::value graphs = json::parse(document("graph"));
    ASSERT_EQ(graphs.as_array().size(), expectedAt("venues"));
    for (const auto& [venueId, expected] : counts().at("graph").as_object()) {
        const auto venue = std::ranges::find(venues_, std::string(venueId), &CVVenueInternal::venueId);
        ASSERT_NE(venue, venues_.end()) << venueId;
        const auto network = std::ranges::find_if(graphs.as_array(), [&](const json::value& each) {
            return each.at("graphId") == json::value((*venue)->graphId.value_or(""));
        });
        ASSERT_NE(network, graphs.as_array().end()) << venueId;
        const auto& nodes = network->at("nodeData").as_array();
        const auto& edges = network->at("edgeData").as_array();
        EXPECT_EQ(nodes.size(), expectedAt("nodes", expected));
        EXPECT_EQ(edges.size(), expectedAt("edges", expected));
        const auto& nodeMapping = network->at("nodeMapping").as_object();
        ASSERT_EQ(nodeMapping.at("properties").as_array().size(), nodeMapping.at("values").as_array().size());

        std::vector<std::vector<std::size_t>> neighbours(nodes.size());
        std::set<std::int64_t> floors;
        std::vector<std::size_t> reached;
        for (std::size_t id = 0; id < nodes.size(); ++id) {
            const auto& node = nodes[id].as_array();
            ASSERT_EQ(node.size(), 3 + nodeMapping.at("properties").as_array().size()) << id;
            floors.insert(node[2].to_number<std::int64_t>());
            if (node[3].to_number<std::int64_t>() != 0) reached.push_back(id);  // a boundary: an entry point
        }
        EXPECT_EQ(reached.size(), expectedAt("entryPoints", expected));
        for (const auto& edge : edges) {
            const auto u = edge.at(0).at(0).to_number<std::size_t>(), v = edge.at(0).at(1).to_number<std::size_t>();
            ASSERT_LT(std::max(u, v), nodes.size());
            neighbours[u].push_back(v);
            neighbours[v].push_back(u);
        }
        std::vector<bool> seen(nodes.size());
        for (const auto id : reached) seen[id] = true;
        while (!reached.empty()) {
            const auto id = reached.back();
            reached.pop_back();
            for (const auto next : neighbours[id]) {
                if (seen[next]) continue;
                seen[next] = true;
                reached.push_back(next);
            }
        }
        EXPECT_EQ(std::ranges::count(seen, true), static_cast<std::ptrdiff_t>(nodes.size())) << venueId;
        std::set<std::int64_t> venueFloors;
        for (const auto& building : buildings_) {
            if (building->venueId != std::string(venueId)) continue;
            for (const auto& [key, floor] : building->floors) {
                venueFloors.insert(static_cast<std::int64_t>(floor->floorIndex.value_or(0)));
            }
        }
        EXPECT_EQ(floors, venueFloors) << venueId;
    }

    std::set<std::string> meetingRooms;
    for (const auto& location : locations_) {
        if (location->type == "Meeting Room") meetingRooms.insert(location->locationId);
    }
    const json::value obstacles = json::parse(document("routelayer"));
    EXPECT_EQ(obstacles.as_array().size(), expectedAt("routeLayerObstacles"));
    for (const auto& obstacle : obstacles.as_array()) {
        for (const auto& room : obstacle.at("roomIdList").as_array()) {
            EXPECT_EQ(meetingRooms.count(std::string(room.as_string())), 1u) << room;
        }
        EXPECT_EQ(obstacle.at("geometry").at("type"), "Polygon");
    }
}

INSTANTIATE_TEST_SUITE_P(Languages, SampleSolution, ::testing::Values("en", "da"));

// --- The sample on its loopback web service --------------------------------------------------------------------

class SampleSolutionServed : public test::ContainerFixture {
protected:
    ~SampleSolutionServed() override {
        CVVenueInternal::resetForTesting();
        CVOfflineBundleHelper::resetForTesting();
    }

    platform::HttpDataResult get(std::string url, platform::HttpHeaders headers = {}) {
        platform::HttpRequest request;
        request.url = std::move(url);
        request.headers = std::move(headers);
        return platform::blockingWait<platform::HttpDataResult>(platform::ThreadPool::shared().makeStrand(),
                                                                session_.data(std::move(request)));
    }
    // Expects 200 from every URL; answers the bytes they sent in all.
    std::size_t expectAllServed(const std::vector<std::string>& urls) {
        std::size_t bytes = 0;
        for (const auto& url : urls) {
            const auto result = get(url);
            EXPECT_EQ(result.response.statusCode, 200) << url;
            bytes += result.body.size();
        }
        return bytes;
    }

    test::SampleSolutionService service_;
    CVAXAPI api_{CVAXAPI::Environment::fromValues({{"AMBRELL_API", service_.baseUrl()}})};
    platform::HttpSession session_;
};

class SampleSolutionServedInLanguage : public SampleSolutionServed,
                                       public ::testing::WithParamInterface<std::string> {};

TEST_P(SampleSolutionServedInLanguage, EverySyncUrlAndEveryUrlOfTheSizeResponseAnswers) {
    const std::string id = service_.solutionId();
    const auto size = get(api_.dataSetSyncUrlForSolutionId(id, GetParam()));
    ASSERT_EQ(size.response.statusCode, 200);
    EXPECT_EQ(size.response.headers.value("Content-Language"), GetParam());
    const auto collection =
        CVUrlResourceCollection::initWithJsonValue(json::parse(std::string(size.body.begin(), size.body.end())));
    ASSERT_TRUE(collection);
    EXPECT_EQ(collection->datasetId(), id);
    std::set<std::string> groups;
    std::int64_t total = 0;
    for (const auto& [type, group] : collection->resources()) {
        groups.insert(type);
        total += group.estimatedSize();
        const auto bytes = expectAllServed(group.urls().value_or(Texts{}));
        // Binary files are served as they are, so their sizes are exact.
        if (type != CVUrlResourceGroup::kTypeJson) {
            EXPECT_EQ(static_cast<std::int64_t>(bytes), group.estimatedSize()) << type;
        }
    }
    EXPECT_EQ(groups, (std::set<std::string>{"externalimages", "images", "json", "tiles"}));
    EXPECT_EQ(total, collection->totalEstimatedSize());
    EXPECT_EQ(collection->resources().at("images").urls()->size(),
              expectedAt<Texts>("icons").size() + expectedAt<Texts>("images").size());

    const auto syncUrls = api_.allEndpointUrlsForSyncingSolutionId(id, GetParam());
    ASSERT_EQ(syncUrls.size(), 9u);
    expectAllServed(syncUrls);
    for (const auto& [venueId, value] : counts().at("perVenue").as_object()) {
        const std::string venue(venueId);
        expectAllServed({api_.graphSyncUrlForSolutionId(id, GetParam(), venue),
                         api_.buildingSyncUrlForSolutionId(id, GetParam(), venue),
                         api_.derivedGeometrySyncUrlForSolutionId(id, GetParam(), venue),
                         api_.locationSyncUrlForSolutionId(id, GetParam(), {}, venue)});
    }

    // A conditional request, another solution, a language the sample lacks.
    EXPECT_EQ(
        get(syncUrls.front(), {{"If-Modified-Since", test::httpDate(service_.lastModified())}}).response.statusCode,
        304);
    EXPECT_EQ(get(api_.venueSyncUrlForSolutionId("another", GetParam())).response.statusCode, 404);
    EXPECT_EQ(get(api_.venueSyncUrlForSolutionId(id, "fr")).response.statusCode, 404);
}

INSTANTIATE_TEST_SUITE_P(Languages, SampleSolutionServedInLanguage, ::testing::Values("en", "da"));

// Every tile answers where the tile provider asks for it (the venue's template, the retina form of its default
// style) with the tile the app bundles under the tile cache's file name; the bundle carries tiles and graphs.
TEST_F(SampleSolutionServed, EveryTileAnswersWhereItsVenueTemplatePointsAndIsBundled) {
    std::optional<JSONModelError> error;
    const auto venues = CVVenueInternal::arrayOfModelsFromString(service_.syncDocument("venues", "en"), &error);
    ASSERT_TRUE(venues) << describe(error);
    std::size_t tiles = 0;
    for (const auto& venue : *venues) {
        ASSERT_TRUE(venue->tilesUrl && venue->defaultStyle());
        const std::string path = venue->tilesUrl->substr(service_.url("").size());
        const auto style = path.find("/{style}");
        ASSERT_NE(style, std::string::npos) << path;
        const fs::path stored = kSample / "service" / path.substr(1, style - 1);
        for (const auto& entry : fs::recursive_directory_iterator(stored)) {
            if (!entry.is_regular_file()) continue;
            const fs::path relative = entry.path().lexically_relative(stored);  // <floor>/<z>/<x>/<y>.png
            Texts parts;
            for (const auto& part : relative.parent_path()) parts.push_back(part.string());
            parts.push_back(relative.stem().string());
            ASSERT_EQ(parts.size(), 4u) << relative;

            CVURITemplate tile(
                std::string(*venue->tilesUrl).replace(style + service_.url("").size(), 8, "/{style}_X2"));
            tile.addParam("style", venue->defaultStyle()->getFolder());
            for (std::size_t i = 0; const auto* name : {"floor", "z", "x", "y"}) tile.addParam(name, parts[i++]);
            const auto result = get(tile.resultURI());
            EXPECT_EQ(result.response.statusCode, 200) << tile.resultURI();
            const auto bundled =
                kSample / "bundle" / "res" / (parts[0] + "_" + parts[1] + "_" + parts[2] + "_" + parts[3] + ".png");
            EXPECT_EQ(std::string(result.body.begin(), result.body.end()), fileText(bundled)) << bundled;
            ++tiles;
        }
    }
    EXPECT_EQ(tiles, expectedAt("total", counts().at("tiles")));

    platform::Paths::setResourcesFolder(kSample / "bundle");
    CVOfflineBundleHelper::resetForTesting();
    EXPECT_TRUE(CVOfflineBundleHelper::offlineDataHaveMapTilesForSolution(service_.solutionId()));
    EXPECT_TRUE(CVOfflineBundleHelper::offlineDataHaveDirectionGraphsForSolution(service_.solutionId()));
}

}  // namespace
}  // namespace ambrell
