// The sample solution of examples/sample-solution, read through the content
// models: every document parses without a logged error, and what the models
// hold matches the counts its generator wrote beside it.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include <boost/json/parse.hpp>

#include "Ambrell/CVLocationBaseType.h"
#include "data/CVAppData.h"
#include "data/CVBuildingCollection.h"
#include "data/CVCategories.h"
#include "data/CVDerivedGeometry.h"
#include "data/CVLocationInternal.h"
#include "data/CVLocationSourceIndex.h"
#include "data/CVOfflineBundleHelper.h"
#include "data/CVSolutionInternal.h"
#include "data/CVUserRoleJSON.h"
#include "data/CVVenueInternal.h"
#include "foundation/CVAXAPI.h"
#include "foundation/CVLogger.h"
#include "platform/Paths.h"
#include "tests/data/LocationDocuments.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/TempDirectory.h"

namespace ambrell {
namespace {

namespace fs = std::filesystem;
namespace json = boost::json;

using Tally = std::map<std::string, std::size_t>;

const fs::path kSample{AMBRELL_SAMPLE_SOLUTION_DIR};

std::string readFile(const fs::path& path) {
    std::ifstream stream(path, std::ios::binary);
    if (!stream) {
        ADD_FAILURE() << "cannot read " << path;
        return {};
    }
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

// What the generator says it wrote.
const json::object& expected() {
    static const json::object counts = json::parse(readFile(kSample / "expected-counts.json")).as_object();
    return counts;
}

std::size_t expectedCount(const json::object& object, std::string_view key) {
    return object.at(key).to_number<std::size_t>();
}

Tally expectedTally(const json::object& object, std::string_view key) {
    Tally tally;
    for (const auto& [name, count] : object.at(key).as_object()) tally[name] = count.to_number<std::size_t>();
    return tally;
}

std::vector<std::string> expectedTexts(std::string_view key) {
    std::vector<std::string> texts;
    for (const auto& text : expected().at(key).as_array()) texts.emplace_back(text.as_string());
    return texts;
}

std::string solutionId() { return std::string(expected().at("solutionId").as_string()); }

fs::path serviceFile(std::string_view endpoint, std::string_view language) {
    return kSample / "service" / "sync" / (std::string(endpoint) + "_" + std::string(language) + ".json");
}

fs::path bundleFile(std::string_view endpoint, std::string_view language) {
    return kSample / "bundle" / "res" / ("ax_sync_" + std::string(endpoint) + "_" + std::string(language) + ".json");
}

// The service file that answers a sync URL, by the layout the sample's README
// gives: sync/<endpoint>_<lr>.json, or sync/<venueId>/<endpoint>_<lr>.json
// for a venue-filtered URL.
fs::path serviceFileForUrl(std::string_view url) {
    const auto pathStart = url.find("/sync/");
    const auto queryStart = url.find('?');
    if (pathStart == std::string_view::npos || queryStart == std::string_view::npos) return {};
    const std::string endpoint(url.substr(pathStart + 6, queryStart - pathStart - 6));
    std::map<std::string, std::string> query;
    std::string_view rest = url.substr(queryStart + 1);
    while (!rest.empty()) {
        const auto item = rest.substr(0, rest.find('&'));
        const auto equals = item.find('=');
        query[std::string(item.substr(0, equals))] = equals == std::string_view::npos ? "" : item.substr(equals + 1);
        rest.remove_prefix(std::min(rest.size(), item.size() + 1));
    }
    fs::path folder = kSample / "service" / "sync";
    if (query.count("venueId") != 0) folder /= query["venueId"];
    return folder / (endpoint + "_" + query["lr"] + ".json");
}

// The file an icon URL is looked up as among the app's resources: its path
// with "/" turned into "_", after "ax", in res/.
fs::path bundledIconFile(std::string_view url) {
    const auto scheme = url.find("://");
    const auto path = url.find('/', scheme == std::string_view::npos ? 0 : scheme + 3);
    std::string name = "ax" + std::string(url.substr(path == std::string_view::npos ? url.size() : path));
    std::replace(name.begin(), name.end(), '/', '_');
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

std::string_view geometryKind(const CVLocationGeometry& geometry) {
    if (std::holds_alternative<CVPoint>(geometry)) return "Point";
    if (std::holds_alternative<std::shared_ptr<const CVPolygonGeometry>>(geometry)) return "Polygon";
    if (std::holds_alternative<std::shared_ptr<const CVMultiPolygonGeometry>>(geometry)) return "MultiPolygon";
    return "none";
}

// Parses one language's documents; each test asks for what it checks.
class SampleSolution : public test::ContainerFixture, public ::testing::WithParamInterface<std::string> {
protected:
    ~SampleSolution() override {
        CVLocationSourceIndex::clear();
        CVVenueInternal::resetForTesting();
        CVOfflineBundleHelper::resetForTesting();
        CVAXAPI::resetSharedForTesting();
    }

    void TearDown() override {
        for (const auto& entry : log_.sink().messages()) {
            EXPECT_NE(entry.level, platform::LogLevel::error) << entry.message;
        }
    }

    [[nodiscard]] std::string document(std::string_view endpoint) const {
        return readFile(serviceFile(endpoint, GetParam()));
    }

    std::shared_ptr<CVSolutionInternal> solution() const {
        std::optional<JSONModelError> error;
        auto model = CVSolutionInternal::fromString(document("solutions"), &error);
        EXPECT_NE(model, nullptr) << describe(error);
        return model;
    }

    std::vector<std::shared_ptr<CVVenueInternal>> venues() const {
        std::optional<JSONModelError> error;
        return orFail(CVVenueInternal::arrayOfModelsFromString(document("venues"), &error), error);
    }

    static std::vector<std::shared_ptr<CVBuildingInternal>> buildingsOf(const std::string& text) {
        CVBuildingCollection collection;
        std::optional<JSONModelError> error;
        EXPECT_TRUE(collection.initWithData(test::bytes(text), &error)) << describe(error);
        return collection.buildings;
    }

    static std::vector<std::shared_ptr<CVLocationInternal>> locationsOf(const std::string& text) {
        CVLocationDataset dataset;
        std::optional<JSONModelError> error;
        EXPECT_TRUE(dataset.initWithData(test::bytes(text), &error)) << describe(error);
        return orFail(dataset.list, error);
    }

    static std::vector<std::shared_ptr<CVDerivedGeometry>> derivedOf(const std::string& text) {
        std::optional<JSONModelError> error;
        return orFail(CVDerivedGeometry::arrayOfModelsFromString(text, &error), error);
    }

    std::vector<CVUserRole> userRoles() const {
        std::vector<CVUserRole> roles;
        const json::value roleDocument = json::parse(document("appuserroles"));
        for (const auto& element : roleDocument.as_array()) {
            auto role = CVUserRoleFromDictionary(element);
            EXPECT_TRUE(role) << element;
            if (role) roles.push_back(*role);
        }
        return roles;
    }

    std::vector<std::shared_ptr<CVDataFieldInternal>> categories() const {
        CVCategories model;
        std::optional<JSONModelError> error;
        EXPECT_TRUE(model.initWithData(test::bytes(document("categories")), &error)) << describe(error);
        return model.list;
    }

    test::ScopedLogCapture log_;
};

TEST_P(SampleSolution, SolutionCarriesEveryTypeWithItsDisplayRule) {
    const auto model = solution();
    ASSERT_NE(model, nullptr);
    EXPECT_EQ(model->solutionId, solutionId());
    EXPECT_EQ(model->defaultLanguage, "en");
    EXPECT_EQ(model->availableLanguages, expectedTexts("languages"));
    ASSERT_TRUE(model->config);
    EXPECT_EQ(model->config->collisionHandling, CVCollisionHandling::removeLabelFirst);
    EXPECT_TRUE(model->config->stateDisplayRules && model->config->stateDisplayRules->selection);
    ASSERT_EQ(model->types.size(), expectedCount(expected(), "types"));
    for (const auto& type : model->types) {
        ASSERT_NE(type->displayRule, nullptr) << type->name;
        EXPECT_TRUE(type->displayRule->iconUrl()) << type->name;
        EXPECT_FALSE(type->translatedName.empty()) << type->name;
    }
}

TEST_P(SampleSolution, CategoriesAppDataAndUserRolesMatchTheCounts) {
    EXPECT_EQ(categories().size(), expectedCount(expected(), "categories"));
    EXPECT_EQ(userRoles().size(), expectedCount(expected(), "userRoles"));

    std::optional<JSONModelError> error;
    const auto appData = CVAppData::fromString(document("appconfig"), &error);
    ASSERT_NE(appData, nullptr) << describe(error);
    Tally menus;
    for (const auto& [name, items] : appData->menuInfo) menus[name] = items.size();
    EXPECT_EQ(menus, expectedTally(expected(), "menus"));
    ASSERT_NE(appData->loggingConfig, nullptr);
    EXPECT_TRUE(appData->loggingConfig->eventLoggingEnabled());
}

TEST_P(SampleSolution, VenuesBuildingsAndFloorsMatchTheCounts) {
    const auto venueModels = venues();
    ASSERT_EQ(venueModels.size(), expectedCount(expected(), "venues"));
    std::set<std::string> venueIds;
    for (const auto& venue : venueModels) {
        venueIds.insert(venue->venueId);
        EXPECT_NE(venue->geometry(), nullptr) << venue->venueId;
        EXPECT_TRUE(venue->boundingBox()) << venue->venueId;
        EXPECT_EQ(venue->styles.size(), 2u) << venue->venueId;
    }
    // One campus lies across the Greenwich meridian; the other names its dark style as the one to show.
    const auto meridian = venueModels.at(0)->boundingBox();
    ASSERT_TRUE(meridian);
    EXPECT_LT(meridian->southWest().longitude, 0.0);
    EXPECT_GT(meridian->northEast().longitude, 0.0);
    ASSERT_NE(venueModels.at(1)->defaultStyle(), nullptr);
    EXPECT_EQ(venueModels.at(1)->defaultStyle()->getFolder(), "dark");

    const auto buildings = buildingsOf(document("buildings"));
    ASSERT_EQ(buildings.size(), expectedCount(expected(), "buildings"));
    const auto floorsPerBuilding = expectedTally(expected(), "floorsPerBuilding");
    std::size_t floors = 0;
    std::size_t multiPolygonFloors = 0;
    for (const auto& building : buildings) {
        EXPECT_EQ(venueIds.count(building->venueId.value_or("")), 1u) << building->buildingId;
        EXPECT_TRUE(building->boundingBox()) << building->buildingId;
        EXPECT_EQ(building->floors.size(), floorsPerBuilding.at(building->buildingId));
        for (const auto& [key, floor] : building->floors) {
            EXPECT_NE(floor->cv_effectiveGeometry(), nullptr) << floor->floorId;
            EXPECT_EQ(floor->buildingId, building->buildingId);
            if (floor->cv_multiPolygon() != nullptr) ++multiPolygonFloors;
        }
        floors += building->floors.size();
        EXPECT_EQ(building->getLocationsForBuildingAndFloors().size(), building->floors.size() + 1);
    }
    EXPECT_EQ(floors, expectedCount(expected(), "floors"));
    EXPECT_EQ(multiPolygonFloors, expectedCount(expected(), "multiPolygonFloors"));
}

TEST_P(SampleSolution, LocationsParseWithTheKindsTheGeneratorWrote) {
    const auto locations = locationsOf(document("locations"));
    const auto& counts = expected().at("locations").as_object();
    ASSERT_EQ(locations.size(), expectedCount(counts, "total"));

    std::set<std::string> typeNames;
    const auto solutionModel = solution();
    ASSERT_NE(solutionModel, nullptr);
    for (const auto& type : solutionModel->types) typeNames.insert(type->name);
    std::set<std::string> categoryKeys;
    for (const auto& category : categories()) categoryKeys.insert(category->key);
    std::set<std::string> roleIds;
    for (const auto& role : userRoles()) roleIds.insert(role.userRoleId);

    Tally byType, byBaseType, byGeometry, byStatus;
    std::size_t outdoor = 0;
    std::size_t withCategories = 0;
    std::set<std::string> ids;
    for (const auto& location : locations) {
        ++byType[location->type];
        ++byBaseType[std::string(CVLocationBaseTypeName(location->baseType()))];
        ++byGeometry[std::string(geometryKind(location->geometry()))];
        ++byStatus[std::to_string(location->cv_geoDataStatus())];
        if (!location->isIndoors()) ++outdoor;
        if (!location->categories.empty()) ++withCategories;
        ids.insert(location->locationId);

        // The documents refer to each other only by what the others define.
        EXPECT_EQ(typeNames.count(location->type), 1u) << location->locationId;
        for (const auto& key : location->categories) EXPECT_EQ(categoryKeys.count(key), 1u) << key;
        for (const auto& role : location->restrictions.value_or(std::vector<std::string>{})) {
            EXPECT_EQ(roleIds.count(role), 1u) << role;
        }
        EXPECT_FALSE(location->name.empty()) << location->locationId;
    }
    EXPECT_EQ(ids.size(), locations.size()) << "location ids repeat";
    EXPECT_EQ(byType, expectedTally(counts, "byType"));
    EXPECT_EQ(byBaseType, expectedTally(counts, "byBaseType"));
    EXPECT_EQ(byGeometry, expectedTally(counts, "byGeometry"));
    EXPECT_EQ(byStatus, expectedTally(counts, "byStatus"));
    EXPECT_EQ(outdoor, expectedCount(counts, "outdoor"));
    EXPECT_EQ(withCategories, expectedCount(counts, "withCategories"));
}

TEST_P(SampleSolution, EveryLocationFindsItsFloorOrVenue) {
    // The venue and building models fill the readable-id index that a location looks its parent up in.
    std::set<std::string> venueIds;
    for (const auto& venue : venues()) {
        ASSERT_NE(venue->getLocationObject(), nullptr);
        venueIds.insert(venue->venueId);
    }
    std::set<std::string> floorIds;
    for (const auto& building : buildingsOf(document("buildings"))) {
        (void)building->getLocationsForBuildingAndFloors();
        for (const auto& [key, floor] : building->floors) floorIds.insert(floor->floorId);
    }
    for (const auto& location : locationsOf(document("locations"))) {
        const auto parent = location->parentId();
        ASSERT_TRUE(parent) << location->locationId;
        if (location->isIndoors()) {
            EXPECT_EQ(floorIds.count(*parent), 1u) << location->externalId << " -> " << *parent;
        } else {
            EXPECT_EQ(venueIds.count(*parent), 1u) << location->externalId << " -> " << *parent;
        }
    }
}

TEST_P(SampleSolution, DerivedGeometryIsFiledByKind) {
    const auto records = derivedOf(document("derivedGeometry"));
    const auto& counts = expected().at("derivedGeometry").as_object();
    ASSERT_EQ(records.size(), expectedCount(counts, "total"));
    for (const auto& record : records) EXPECT_NE(record->cvGeometry, nullptr) << record->geodataId.value_or("?");

    const CVDerivedGeometryCollection collection(records);
    const auto byType = expectedTally(counts, "byType");
    EXPECT_EQ(collection.floor().size(), byType.at("floorplan"));
    EXPECT_EQ(collection.walls().size(), byType.at("wall"));
    EXPECT_EQ(collection.extrusions().size(), byType.at("extrusion"));

    // Every floor has its floor plan, and walls stand around rooms of the locations document.
    for (const auto& building : buildingsOf(document("buildings"))) {
        for (const auto& [key, floor] : building->floors) EXPECT_EQ(collection.floor().count(floor->floorId), 1u);
    }
    std::set<std::string> rooms;
    for (const auto& location : locationsOf(document("locations"))) {
        if (location->baseType() == CVLocationBaseType::room) rooms.insert(location->locationId);
    }
    for (const auto& [id, wall] : collection.walls()) EXPECT_EQ(rooms.count(id), 1u) << id;
}

TEST_P(SampleSolution, VenueDocumentsHoldOnlyTheirVenue) {
    for (const auto& [venueId, value] : expected().at("perVenue").as_object()) {
        const auto& counts = value.as_object();
        const std::string administrativeId(counts.at("administrativeId").as_string());
        const fs::path folder = kSample / "service" / "sync" / std::string(venueId);
        const std::string suffix = "_" + GetParam() + ".json";

        const auto buildings = buildingsOf(readFile(folder / ("buildings" + suffix)));
        EXPECT_EQ(buildings.size(), expectedCount(counts, "buildings"));
        for (const auto& building : buildings) EXPECT_EQ(building->venueId, std::string(venueId));

        const auto locations = locationsOf(readFile(folder / ("locations" + suffix)));
        EXPECT_EQ(locations.size(), expectedCount(counts.at("locations").as_object(), "total"));
        for (const auto& location : locations) EXPECT_EQ(location->venue, administrativeId);

        const auto derived = derivedOf(readFile(folder / ("derivedGeometry" + suffix)));
        EXPECT_EQ(derived.size(), expectedCount(counts.at("derivedGeometry").as_object(), "total"));
    }
}

// The web service's layout and the host app's snapshot hold the same documents, and the library finds both
// from the sync URLs it builds.
TEST_P(SampleSolution, ServiceAndBundleAnswerTheLibrarysSyncUrls) {
    platform::Paths::setResourcesFolder(kSample / "bundle");
    CVOfflineBundleHelper::resetForTesting();
    const std::string id = solutionId();
    EXPECT_EQ(CVOfflineBundleHelper::offlineDataSolutionId(), id);
    const auto timestamp = CVOfflineBundleHelper::offlineDataTimestamp();
    ASSERT_TRUE(timestamp);
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::seconds>(timestamp->time_since_epoch()).count(),
              expected().at("timestamp").to_number<std::int64_t>());
    EXPECT_FALSE(CVOfflineBundleHelper::offlineDataHaveMapTilesForSolution(id));

    const auto api = CVAXAPI::sharedInstance();
    const auto venueEndpoints = expectedTexts("venueEndpoints");
    for (const auto& endpoint : expectedTexts("endpoints")) {
        const std::string url = api->urlStringForSyncEndpoint(endpoint, id, GetParam());
        const auto bundled = CVOfflineBundleHelper::offlinePathForEndpointUrl(url, id);
        ASSERT_TRUE(bundled) << url;
        EXPECT_TRUE(fs::equivalent(*bundled, bundleFile(endpoint, GetParam()))) << *bundled;
        EXPECT_EQ(serviceFileForUrl(url), serviceFile(endpoint, GetParam()));
        EXPECT_EQ(readFile(*bundled), readFile(serviceFileForUrl(url))) << endpoint;

        if (std::find(venueEndpoints.begin(), venueEndpoints.end(), endpoint) == venueEndpoints.end()) continue;
        for (const auto& [venueId, counts] : expected().at("perVenue").as_object()) {
            // A venue's URL finds the whole snapshot document, and its own document on the service.
            const std::string venueUrl = url + "&venueId=" + std::string(venueId);
            EXPECT_EQ(CVOfflineBundleHelper::offlinePathForEndpointUrl(venueUrl, id), bundled);
            EXPECT_TRUE(fs::is_regular_file(serviceFileForUrl(venueUrl))) << venueUrl;
        }
    }
    EXPECT_EQ(CVOfflineBundleHelper::offlinePathForEndpointData("sync/venues", "another-solution", GetParam()),
              std::nullopt);
}

TEST_P(SampleSolution, EveryIconUrlHasABundledImage) {
    std::set<std::string> urls;
    const auto solutionModel = solution();
    ASSERT_NE(solutionModel, nullptr);
    for (const auto& type : solutionModel->types) urls.insert(type->displayRule->iconUrl().value_or(""));
    for (const auto& location : locationsOf(document("locations"))) {
        if (location->displayRule && location->displayRule->iconUrl()) urls.insert(*location->displayRule->iconUrl());
    }
    const auto appData = CVAppData::fromString(document("appconfig"));
    ASSERT_NE(appData, nullptr);
    for (const auto& [name, items] : appData->menuInfo) {
        for (const auto& item : items) urls.insert(item->iconUrl.value_or(""));
    }

    std::set<std::string> names;
    for (const auto& url : urls) {
        const fs::path file = bundledIconFile(url);
        const std::string png = readFile(file);
        // An 8x8 PNG: the signature, then the header chunk's width and height.
        ASSERT_GE(png.size(), 24u) << url;
        EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8)) << url;
        EXPECT_EQ(png.substr(16, 8), std::string("\0\0\0\x08\0\0\0\x08", 8)) << url;
        names.insert(file.stem().string().substr(std::string_view("ax_icons_").size()));
    }
    const auto expectedIcons = expectedTexts("icons");
    EXPECT_EQ(names, std::set<std::string>(expectedIcons.begin(), expectedIcons.end()));
}

INSTANTIATE_TEST_SUITE_P(Languages, SampleSolution, ::testing::ValuesIn(std::vector<std::string>{"en", "da"}));

}  // namespace
}  // namespace ambrell
