// The content models read from the web service's documents: solution,
// types and fields, app data, categories, derived geometry, resources, and
// venues, buildings and floors with the locations that stand for them.

#include <gtest/gtest.h>

#include <thread>
#include <tuple>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

#include "Ambrell/CVEntityInfo.h"
#include "data/CVAppData.h"
#include "data/CVBuildingCollection.h"
#include "data/CVBuildingInfo.h"
#include "data/CVCategories.h"
#include "data/CVDataFieldInternal.h"
#include "data/CVDerivedGeometry.h"
#include "data/CVLocationSourceIndex.h"
#include "data/CVMapStyleInternal.h"
#include "data/CVPointJSON.h"
#include "data/CVSolutionInternal.h"
#include "data/CVTypeInternal.h"
#include "data/CVUrlResourceCollection.h"
#include "data/CVUserRoleJSON.h"
#include "data/CVVenueInternal.h"
#include "foundation/CVLogger.h"
#include "tests/data/LocationDocuments.h"
#include "tests/support/CapturingLogSink.h"

namespace ambrell {
namespace {

using boost::json::parse;
using test::document;
using Texts = std::vector<std::string>;

TEST(SolutionModel, ReadsEveryKeyOfTheDocument) {
    test::ScopedLogCapture capture;
    const auto solution = CVSolutionInternal::fromDictionary(document("solution.json"));
    ASSERT_NE(solution, nullptr);
    EXPECT_EQ(std::tie(solution->solutionId, solution->name, solution->defaultLanguage),
              std::tuple("5e0c7a1b2d3f4e5a6b7c8d9e0f1a2b3c", "Harbour\nCampus", "en"));
    EXPECT_EQ(std::tie(solution->availableLanguages, solution->modules),
              std::tuple(Texts{"en", "da"}, Texts{"map", "directions"}));
    EXPECT_TRUE(solution->whiteLabel);
    ASSERT_TRUE(solution->positionProviderConfigs);
    EXPECT_TRUE(solution->positionProviderConfigs->contains("beacons"));
    EXPECT_EQ(solution->dataSetId(), solution->solutionId);

    ASSERT_TRUE(solution->config);
    const CVSolutionConfig& config = *solution->config;
    EXPECT_EQ(std::tie(config.enableClustering, config.newSelection, config.collisionHandling, config.settings3D),
              std::tuple(true, true, CVCollisionHandling::removeLabelFirst, CVSettings3D{0.6, 0.8}));
    EXPECT_EQ(config.mainDisplayRuleData.value().zoomFrom, 17);
    EXPECT_FALSE(config.buildingDisplayRuleData);
    ASSERT_TRUE(config.stateDisplayRules && config.stateDisplayRules->selection);
    EXPECT_EQ(config.stateDisplayRules->selection->polygonFillColor, platform::Color::fromRGBA(1, 0, 0));
    EXPECT_FALSE(config.stateDisplayRules->highlight);
    EXPECT_EQ(config.locationSettings, (CVLocationSettings{false}));

    // The type without "translatedName" is logged and left out; the text is skipped silently.
    ASSERT_EQ(solution->types.size(), 2u);
    EXPECT_EQ(std::tie(solution->types[0]->name, solution->types[1]->name), std::tuple("MeetingRoom", "Kitchen"));
    int refused = 0;
    for (const auto& entry : capture.sink().messages()) {
        if (entry.message.starts_with(
                "-[CVSolutionInternal initWithDictionary:error:] [E] Error deserializing CVType: ")) {
            ++refused;
            EXPECT_NE(entry.message.find("\"Toilet\""), std::string::npos);
        }
    }
    EXPECT_EQ(refused, 1);
}

TEST(SolutionModel, RequiredOptionalAndUnreadableKeys) {
    test::expectRefusedWithout<CVSolutionInternal>(document("solution.json"),
                                                   {"id", "name", "defaultLanguage", "availableLanguages", "modules"},
                                                   {{"id", "solutionId"}});

    const auto solution = CVSolutionInternal::fromDictionary(
        parse(R"({"id": "s", "name": "S", "defaultLanguage": "en", "availableLanguages": [], "modules": []})"));
    ASSERT_NE(solution, nullptr);
    EXPECT_TRUE(solution->types.empty());
    EXPECT_FALSE(solution->config);
    EXPECT_FALSE(solution->mapClientUrl);
    EXPECT_FALSE(solution->whiteLabel);
    // The configuration exports, so the model copies.
    EXPECT_NE(solution->copy(), nullptr);

    // An unreadable configuration is left unset without failing.
    for (const char* config : {R"("text")", R"({"enableClustering": "yes"})", R"({"collisionHandling": 9})",
                               R"({"mainDisplayRule": {"visible": 3}})"}) {
        SCOPED_TRACE(config);
        auto input = document("solution.json");
        input.get_object()["solutionConfig"] = parse(config);
        const auto withConfig = CVSolutionInternal::fromDictionary(input);
        ASSERT_NE(withConfig, nullptr);
        EXPECT_FALSE(withConfig->config);
    }
}

TEST(SolutionModel, ConfigRoundTripsAndMapClientUrlFillsItsPlaceholders) {
    auto solution = CVSolutionInternal::fromDictionary(document("solution.json"));
    ASSERT_TRUE(solution && solution->config);
    EXPECT_EQ(CVSolutionConfig::initWithDictionary(solution->config->JSONObject()), solution->config);
    const auto copy = solution->copy();
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->config, solution->config);
    EXPECT_EQ(copy->types.size(), 2u);

    solution->mapClientUrl = "map/{venueId}/{locationId}?again={venueId}";
    EXPECT_EQ(solution->getMapClientUrlForVenueId("A", "B"), "map/A/B?again=A");
    EXPECT_EQ(solution->getMapClientUrlForVenueId("A", std::nullopt), std::nullopt);
    EXPECT_EQ(solution->getMapClientUrlForVenueId(std::nullopt, "B"), std::nullopt);
    solution->mapClientUrl.reset();
    EXPECT_EQ(solution->getMapClientUrlForVenueId("A", "B"), std::nullopt);
}

TEST(UserRoleJSON, NeedsATextId) {
    EXPECT_EQ(CVUserRoleFromDictionary(parse(R"({"id": "r1", "name": "Staff"})")), (CVUserRole{"r1", "Staff"}));
    EXPECT_EQ(CVUserRoleFromDictionary(parse(R"({"id": "r2", "name": 4})")), (CVUserRole{"r2", ""}));
    EXPECT_EQ(CVUserRoleFromDictionary(parse(R"({"id": 7, "name": "Staff"})")), std::nullopt);
    EXPECT_EQ(CVUserRoleFromDictionary(parse(R"(["r1"])")), std::nullopt);
}

TEST(CVTypeInternal, RequiredOptionalAndIgnoredKeys) {
    std::optional<JSONModelError> error;
    auto types = CVTypeInternal::arrayOfModelsFromDictionaries(document("types.json"), &error);
    ASSERT_TRUE(types) << (error ? error->localizedDescription() : "");
    ASSERT_EQ(types->size(), 3u);

    const auto& meeting = *types->at(0);
    EXPECT_EQ(std::tuple(meeting.getName(), meeting.getTranslatedName()), std::tuple("MeetingRoom", "Meeting room"));
    EXPECT_EQ(meeting.getDisplayRule()->iconUrl(), "https://icons/meet.png");
    EXPECT_EQ(meeting.fields->at("capacity")->value, "8");
    EXPECT_EQ(meeting.restrictions, Texts{"staff"});
    EXPECT_EQ(meeting.getLocationSettings()->selectable, true);
    EXPECT_FALSE(meeting.toDictionary().contains("colour"));

    const auto& cafe = *types->at(1);
    EXPECT_EQ(cafe.getTranslatedName(), "Café");
    EXPECT_FALSE(cafe.fields);
    EXPECT_FALSE(cafe.restrictions);

    // Settings and rules that do not read are dropped, not the type.
    EXPECT_EQ(types->at(2)->displayRule, nullptr);
    EXPECT_FALSE(types->at(2)->locationSettings);
    test::expectRefusedWithout<CVTypeInternal>(document("types.json").at(1), {"name", "translatedName", "displayRule"});
}

TEST(FieldModels, RequiredKeysAndCopies) {
    auto field = CVLocationFieldInternal::fromString(R"({"type": "text"})");
    ASSERT_NE(field, nullptr);
    EXPECT_FALSE(field->text);
    EXPECT_FALSE(field->value);
    EXPECT_EQ(CVLocationFieldInternal::fromString(R"({"text": "Email", "value": "x"})"), nullptr);

    auto full = CVLocationFieldInternal::fromString(R"({"type": "text", "text": "Email", "value": "x"})");
    auto copy = full->copyWithZone();
    EXPECT_NE(copy, full);
    EXPECT_EQ(std::tuple(copy->getType(), copy->getText(), copy->getValue()), std::tuple("text", "Email", "x"));

    // A data field needs its key, and its copies leave the fields behind.
    auto category = CVDataFieldInternal::fromString(
        R"({"key": "CANTEEN", "value": "Canteen", "fields": {"hours": {"type": "text", "value": "8-16"}}})");
    ASSERT_NE(category, nullptr);
    EXPECT_EQ(category->fields->at("hours")->value, "8-16");
    const auto categoryCopy = category->copyWithZone();
    EXPECT_EQ(std::tuple(categoryCopy->getKey(), categoryCopy->getValue()), std::tuple("CANTEEN", "Canteen"));
    EXPECT_FALSE(categoryCopy->fields);
    EXPECT_EQ(CVDataFieldInternal::fromString(R"({"value": "Canteen"})"), nullptr);
}

TEST(CVPointJSON, ReadsLongitudeThenLatitude) {
    auto point = CVPointFromNSDictionary(parse(R"({"coordinates": [12.5, 55.7]})"));
    ASSERT_TRUE(point);
    EXPECT_EQ(std::tuple(point->latitude(), point->longitude(), point->z()), std::tuple(55.7, 12.5, 0));

    for (const char* text : {R"({"coordinates": [12.5]})", R"({"coordinates": []})", R"({"coordinates": "x"})",
                             R"({"coordinates": ["a", 1]})", R"({})", R"([12.5, 55.7])"}) {
        platform::NSError error;
        EXPECT_FALSE(CVPointInitWithDictionary(parse(text), &error)) << text;
        EXPECT_FALSE(error.localizedDescription().empty()) << text;
    }
    const auto written = CVPointJSONObject(CVPoint(55.7, 12.5));
    EXPECT_EQ(CVPointFromNSDictionary(written)->coordinate(), (CLLocationCoordinate2D{55.7, 12.5}));
}

TEST(AppDataModel, KeepsReadableMenuItemsDropsEmptyMenusAndRequiresMenuInfo) {
    const auto appData = CVAppData::fromDictionary(document("appconfig.json"));
    ASSERT_NE(appData, nullptr);
    EXPECT_EQ(std::tie(appData->colorPrimary, appData->colorAccent), std::tuple("#1E5AA8", "#F2A900"));
    EXPECT_EQ(appData->colorPrimaryDark, std::nullopt);
    ASSERT_TRUE(appData->venueImages);
    EXPECT_FALSE(appData->appSettings);

    ASSERT_EQ(appData->menuInfo.size(), 1u);
    const auto& main = appData->menuInfo.at("main");
    ASSERT_EQ(main.size(), 1u);
    EXPECT_EQ(std::tie(main[0]->categoryKey, main[0]->iconUrl), std::tuple("a", "https://example.org/a.png"));
    EXPECT_EQ(main[0]->menuImageUrl, std::nullopt);
    EXPECT_EQ(appData->getMenuInfo().at("main").at(0)->getCategoryKey(), "a");
    test::expectRefusedWithout<CVAppData>(document("appconfig.json"), {"menuInfo"});
}

TEST(AppDataModel, LoggingSwitchComesFromLogConfig) {
    // Without the key, null, or of another kind: enabled.
    for (const auto& [logConfig, enabled] : {std::pair<const char*, bool>(nullptr, true),
                                             {"null", true},
                                             {R"({"eventLoggingEnabled": false})", false},
                                             {R"({"eventLoggingEnabled": true})", true},
                                             {"[1]", true}}) {
        SCOPED_TRACE(logConfig ? logConfig : "(no key)");
        auto input = document("appconfig.json");
        if (logConfig) input.get_object()["logConfig"] = parse(logConfig);
        else input.get_object().erase("logConfig");
        const auto appData = CVAppData::fromDictionary(input);
        ASSERT_TRUE(appData && appData->loggingConfig);
        EXPECT_EQ(appData->loggingConfig->eventLoggingEnabled(), enabled);
    }
}

TEST(CategoriesModel, ReadsObjectsBareArraysAndNothingElse) {
    for (const auto& [data, count] :
         {std::pair<const char*, std::size_t>(R"({"list": [{"key": "CANTEEN", "value": "Canteen"}]})", 1),
          {R"([{"key": "A"}, {"key": "B", "fields": {}}])", 2},
          {"not json", 0},
          {"42", 0},
          {"", 0}}) {
        SCOPED_TRACE(data);
        CVCategories categories;
        std::optional<JSONModelError> error;
        EXPECT_TRUE(categories.initWithData(test::bytes(data), &error));
        EXPECT_FALSE(error);
        EXPECT_EQ(categories.list.size(), count);
    }
    CVCategories withoutKey;
    EXPECT_FALSE(withoutKey.initWithData(test::bytes(R"([{"value": "no key"}])")));
}

TEST(SmallModels, RequiredKeysAndWrongKinds) {
    const auto style = parse(R"({"folder": "dark", "displayName": "Dark", "extra": 1})");
    EXPECT_NE(CVMapStyleInternal::fromDictionary(style), nullptr);
    test::expectRefusedWithout<CVMapStyleInternal>(style, {"folder", "displayName"});
    const auto buildingInfo = parse(R"({"name": "North", "aliases": ["N"]})");
    EXPECT_NE(CVBuildingInfo::fromDictionary(buildingInfo), nullptr);
    test::expectRefusedWithout<CVBuildingInfo>(buildingInfo, {"name", "aliases"});

    const auto info = CVEntityInfo::initWithDictionary(parse(R"({"name": "N", "aliases": ["a"]})"));
    EXPECT_EQ(info, (CVEntityInfo{"N", {"a"}}));
    for (const char* bad : {R"("N")", R"({"name": 3})", R"({"aliases": "a"})", R"({"aliases": [1]})"}) {
        SCOPED_TRACE(bad);
        platform::NSError error;
        EXPECT_EQ(CVEntityInfo::initWithDictionary(parse(bad), &error), std::nullopt);
        EXPECT_EQ(error.domain, "com.corvay.Ambrell.CVEntityInfo");
    }
}

TEST(DerivedGeometry, BuildsPolygonsKeepsOtherGeometriesAndFilesThemByKind) {
    const auto list = CVDerivedGeometry::arrayOfModelsFromDictionaries(document("derivedGeometry.json"));
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), 7u);
    const auto& floorplan = *list->at(0);
    EXPECT_EQ(floorplan.geodataType, "room");
    ASSERT_NE(floorplan.cvGeometry, nullptr);
    EXPECT_EQ(floorplan.cvGeometry->geometryType(), "MultiPolygon");

    const auto& point = *list->at(4);
    ASSERT_TRUE(point.geometry);
    EXPECT_EQ(point.geometry->at("type"), "Point");
    EXPECT_EQ(point.cvGeometry, nullptr);
    EXPECT_NE(list->at(1)->copy(), nullptr);

    // Floor plans, walls and extrusions are filed.
    const CVDerivedGeometryCollection collection(*list);
    EXPECT_EQ(collection.floor().size(), 1u);
    EXPECT_EQ(collection.extrusions().size(), 1u);
    EXPECT_TRUE(collection.glass().empty());
    // L2's second wall replaces its first; the wall without a location id is not filed.
    ASSERT_EQ(collection.walls().size(), 2u);
    EXPECT_EQ(collection.walls().at("L2"), list->at(5));

    const auto forL1 = collection.getDerivedGeometriesForLocationId("L1");
    EXPECT_EQ(forL1, (std::vector<std::shared_ptr<CVDerivedGeometry>>{list->at(0), list->at(1), list->at(2)}));
    EXPECT_EQ(collection.getDerivedGeometriesForLocationId("L2").size(), 1u);
    EXPECT_TRUE(collection.getDerivedGeometriesForLocationId("nowhere").empty());

    CVDerivedGeometryCollection withGlass(*list);
    withGlass.setGlass({{"L1", list->at(3)}});
    EXPECT_EQ(withGlass.getDerivedGeometriesForLocationId("L1").size(), 3u);
}

TEST(UrlResources, GroupsAreCanonicalisedAndFiledByType) {
    const auto collection = CVUrlResourceCollection::initWithJsonValue(parse(R"({
        "id": "ds-1", "name": "Harbour", "totalEstimatedSize": 123456.9,
        "resources": [
            {"type": "Images", "urls": ["a", 3, "b"]},
            {"type": "JSON", "urls": ["first"], "estimatedSize": 10},
            {"type": "json", "urls": ["second"], "estimatedSize": "20"},
            {"type": "Sprites", "urls": "none", "estimatedSize": 1e30},
            {"type": 5, "urls": []},
            "not a group"
        ]})"));
    ASSERT_TRUE(collection);
    EXPECT_EQ(std::tuple(collection->datasetId(), collection->name(), collection->totalEstimatedSize()),
              std::tuple("ds-1", "Harbour", 123456));

    const auto& resources = collection->resources();
    EXPECT_EQ(resources.size(), 3u);
    EXPECT_EQ(std::tuple(resources.at("images").urls(), resources.at("images").estimatedSize()),
              std::tuple(Texts{"a", "b"}, 0));
    EXPECT_EQ(std::tuple(resources.at("json").urls(), resources.at("json").estimatedSize()),
              std::tuple(Texts{"second"}, 0));
    EXPECT_EQ(resources.at("Sprites").urls(), std::nullopt);
    EXPECT_EQ(resources.at("Sprites").estimatedSize(), std::numeric_limits<std::int64_t>::max());

    EXPECT_EQ(CVUrlResourceCollection::initWithJsonValue(parse("[1]")), std::nullopt);
    EXPECT_EQ(CVUrlResourceGroup::initWithJsonValue(parse("\"tiles\"")), std::nullopt);
    EXPECT_EQ(CVUrlResourceGroup(std::string("ExternalImages"), std::nullopt, 7).type(), "externalimages");
}

boost::json::value venueDocument() { return document("venues.json").as_array().at(0); }
boost::json::value buildingDocument() { return document("buildings.json").at("buildings").as_array().at(0); }

class VenueModels : public ::testing::Test {
protected:
    void SetUp() override {
        venue_ = CVVenueInternal::fromDictionary(venueDocument());
        building_ = CVBuildingInternal::fromDictionary(buildingDocument());
        ASSERT_NE(venue_, nullptr);
        ASSERT_NE(building_, nullptr);
    }
    ~VenueModels() override {
        CVLocationSourceIndex::clear();
        CVVenueInternal::resetForTesting();
    }
    test::ScopedLogCapture log_;
    std::shared_ptr<CVVenueInternal> venue_;
    std::shared_ptr<CVBuildingInternal> building_;
};

TEST_F(VenueModels, VenueReadsEveryKeyAndIgnoresDerivedOnes) {
    EXPECT_EQ(std::tie(venue_->venueId, venue_->name, venue_->administrativeId, venue_->defaultFloor, venue_->graphId),
              std::tuple("v-harbour", "Harbour\nCampus", "HARBOUR", 1, "HARBOUR_GRAPH"));
    ASSERT_NE(venue_->venueInfo, nullptr);
    EXPECT_EQ(*venue_->venueInfo, (CVEntityInfo{"Harbour\\nCampus", {"Docks"}}));
    ASSERT_EQ(venue_->properties.count("website"), 1u);
    EXPECT_EQ(venue_->properties.at("website")->value, "https://example.org");
    ASSERT_TRUE(venue_->anchor);
    EXPECT_EQ(venue_->anchor->coordinate(), (CLLocationCoordinate2D{55.25, 10.25}));
    ASSERT_NE(venue_->geometry(), nullptr);

    // The unreadable entry point between two good ones is skipped.
    ASSERT_EQ(venue_->entryPoints.size(), 2u);
    EXPECT_EQ(venue_->entryPoints[1]->coordinate(), (CLLocationCoordinate2D{55.4, 10.5}));

    EXPECT_EQ(venue_->boundingBox(), CVGeoBounds({55.0, 10.0}, {55.5, 10.5}));

    // "hasGraph" in the document is not read: only the venue handler knows.
    EXPECT_FALSE(venue_->hasGraph());
    CVVenueInternal::setGraphDeterminer([](const CVVenueInternal& v) { return v.graphId.has_value(); });
    EXPECT_TRUE(venue_->hasGraph());
    EXPECT_NE(venue_->copy(), nullptr);
}

TEST_F(VenueModels, VenueRequiresIdAndInfo) {
    test::expectRefusedWithout<CVVenueInternal>(venueDocument(), {"id", "venueInfo"}, {{"id", "venueId"}});
    // Styles that are not a list still refuse the venue: there is no element to skip.
    auto notAList = venueDocument();
    notAList.get_object()["styles"] = "dark";
    EXPECT_EQ(CVVenueInternal::fromDictionary(notAList), nullptr);

    const auto bare = CVVenueInternal::fromString(R"({"id": "v", "venueInfo": {}, "geometry": {"bbox": [1, 2]}})");
    ASSERT_NE(bare, nullptr);
    EXPECT_EQ(bare->boundingBox(), std::nullopt);
    EXPECT_EQ(bare->defaultStyle(), nullptr);
    EXPECT_EQ(bare->geometry(), nullptr);
}

TEST_F(VenueModels, DefaultStylePrefersTheOverrideIgnoringCase) {
    EXPECT_EQ(venue_->defaultStyle()->getDisplayName(), "Dark");
    EXPECT_EQ(venue_->getMapStyleOverride()->getDisplayName(), "Night");
    venue_->setMapStyleOverride(nullptr);
    EXPECT_EQ(venue_->defaultStyle()->getFolder(), "Default");
    auto other = std::make_shared<CVMapStyleInternal>();
    other->folder = "satellite";
    venue_->setMapStyleOverride(other);
    EXPECT_EQ(venue_->defaultStyle()->getFolder(), "Default");

    auto input = venueDocument();
    input.get_object().erase("styleOverride");
    input.get_object()["mapStyleOverride"] = parse(R"({"folder": "d*", "displayName": "D"})");
    const auto venue = CVVenueInternal::fromDictionary(input);
    ASSERT_NE(venue, nullptr);
    EXPECT_EQ(venue->defaultStyle()->getFolder(), "Default");
}

TEST_F(VenueModels, VenueLocationAndItsReadableId) {
    venue_->cv_setGeoDataStatus(1);
    const auto location = venue_->getLocationObject();
    EXPECT_NE(location, venue_->getLocationObject());
    EXPECT_EQ(std::tie(location->locationId, location->name, location->type, location->externalId, location->venue),
              std::tuple("v-harbour", "Harbour\nCampus", "VENUE", "ext-harbour", "harbour"));
    EXPECT_EQ(location->baseType(), CVLocationBaseType::venue);
    EXPECT_EQ(std::tie(location->aliases, location->categories), std::tuple(Texts{"harbour"}, Texts{"VENUE"}));
    EXPECT_EQ(location->getFloorIndex(), 0);
    EXPECT_EQ(location->getPosition().coordinate(), (CLLocationCoordinate2D{55.25, 10.25}));
    ASSERT_NE(location->cv_polygon(), nullptr);
    EXPECT_EQ(location->cv_polygon()->coordinates(), venue_->geometry()->coordinates());
    EXPECT_EQ(location->fields.count("website"), 1u);
    EXPECT_EQ(location->cv_geoDataStatus(), 1u);
    EXPECT_EQ(CVLocationSourceIndex::current()->parentIdForReadableId("ax_v_harbour"), "v-harbour");
}

TEST_F(VenueModels, BuildingReadsFloorsAndNumbersThemByKeyAndKeepsOnlyAPolygonOutline) {
    EXPECT_EQ(std::tie(building_->buildingId, building_->name, building_->address, building_->venueId),
              std::tuple("b-north", "North\nHouse", "1 Dock Road", "v-harbour"));
    EXPECT_EQ(building_->properties.at("phone")->value, "+45 1234");
    EXPECT_EQ(building_->cv_geoDataStatus(), 1u);
    ASSERT_EQ(building_->floors.size(), 2u);
    EXPECT_EQ(building_->floors.at("0")->floorIndex, 0);
    EXPECT_EQ(building_->floors.at("1")->floorIndex, 5);
    EXPECT_EQ(building_->floors.at("0")->aliases, Texts{"G"});
    EXPECT_EQ(building_->boundingBox(), CVGeoBounds({55.1, 10.1}, {55.3, 10.3}));

    // Only a polygon outline is kept.
    auto input = buildingDocument();
    input.get_object()["geometry"] = parse(R"({"type": "Point", "coordinates": [10, 55]})");
    const auto pointOutline = CVBuildingInternal::fromDictionary(input);
    ASSERT_NE(pointOutline, nullptr);
    EXPECT_EQ(pointOutline->geometry(), nullptr);
    EXPECT_EQ(pointOutline->boundingBox(), std::nullopt);

    // Floors that are not an object still refuse the building: there is no floor to skip.
    input = buildingDocument();
    input.get_object()["floors"] = parse("[1]");
    EXPECT_EQ(CVBuildingInternal::fromDictionary(input), nullptr);
}

// The error lines that name a skipped element, by their start.
std::vector<std::string> errorLinesStartingWith(const test::CapturingLogSink& sink, std::string_view start) {
    std::vector<std::string> lines;
    for (const auto& entry : sink.messages()) {
        if (entry.level == platform::LogLevel::error && entry.channel == "core" && entry.message.starts_with(start)) {
            lines.push_back(entry.message);
        }
    }
    return lines;
}

TEST_F(VenueModels, MalformedFloorsAreSkippedAndTheirBuildingsAndTheDocumentKept) {
    auto north = buildingDocument();
    auto& northFloors = north.at("floors").as_object();
    northFloors.at("0").as_object().erase("geometry");
    northFloors["2"] = parse(R"({"name": "No id", "geometry": {"type": "Polygon",
                                  "coordinates": [[[0, 0], [1, 0], [1, 1], [0, 0]]]}})");
    northFloors["3"] = nullptr;
    auto south = buildingDocument();
    south.at("id") = "b-south";
    south.at("administrativeId") = "South-1";
    const std::string text = boost::json::serialize(boost::json::object{{"buildings", {north, south}}});

    CVBuildingCollection collection;
    ASSERT_TRUE(collection.initWithData(test::bytes(text)));
    ASSERT_EQ(collection.buildings.size(), 2u);
    const auto& kept = *collection.buildings[0];
    EXPECT_EQ(kept.buildingId, "b-north");
    ASSERT_EQ(kept.floors.size(), 1u);
    EXPECT_EQ(kept.floors.at("1")->floorId, "f-north-5");
    EXPECT_EQ(kept.floors.at("1")->floorIndex, 5);
    // The building's own locations stand for the floors it kept.
    EXPECT_EQ(kept.getLocationsForBuildingAndFloors().size(), 2u);
    EXPECT_EQ(collection.buildings[1]->buildingId, "b-south");
    EXPECT_EQ(collection.buildings[1]->floors.size(), 2u);

    const auto skipped =
        errorLinesStartingWith(log_.sink(), "-[CVBuildingInternal initWithDictionary:error:] [E] Skipped floor ");
    ASSERT_EQ(skipped.size(), 3u);
    EXPECT_TRUE(skipped[0].starts_with(
        R"(-[CVBuildingInternal initWithDictionary:error:] [E] Skipped floor "0" (id "f-north-0") of building "b-north": )"))
        << skipped[0];
    EXPECT_NE(skipped[1].find(R"(floor "2" (id none) of building "b-north": )"), std::string::npos) << skipped[1];
    EXPECT_NE(skipped[1].find("floorId"), std::string::npos) << skipped[1];
    EXPECT_NE(skipped[2].find(R"(floor "3" (id none))"), std::string::npos) << skipped[2];
}

TEST_F(VenueModels, MalformedStylesAreSkippedAndEveryVenueKept) {
    auto harbour = venueDocument();
    harbour.at("styles") = parse(R"([{"folder": "dark"}, {"folder": "Default", "displayName": "Default"},
                                     {"displayName": "No folder"}, 7])");
    auto other = venueDocument();
    other.at("id") = "v-other";
    const std::string text = boost::json::serialize(boost::json::array{harbour, other});

    const auto venues = CVVenueInternal::venuesFromDocument(text);
    ASSERT_TRUE(venues);
    ASSERT_EQ(venues->size(), 2u);
    const auto& kept = *venues->at(0);
    ASSERT_EQ(kept.styles.size(), 1u);
    EXPECT_EQ(kept.styles[0]->displayName, "Default");
    // The override names a style that was skipped: the first kept one serves.
    EXPECT_EQ(kept.defaultStyle(), kept.styles[0]);
    EXPECT_EQ(venues->at(1)->venueId, "v-other");
    EXPECT_EQ(venues->at(1)->styles.size(), 2u);

    const auto skipped =
        errorLinesStartingWith(log_.sink(), "-[CVVenueInternal initWithDictionary:error:] [E] Skipped map style ");
    ASSERT_EQ(skipped.size(), 3u);
    EXPECT_TRUE(
        skipped[0].starts_with("-[CVVenueInternal initWithDictionary:error:] [E] Skipped map style at index 0 "
                               R"((folder "dark") of venue "v-harbour": )"))
        << skipped[0];
    EXPECT_NE(skipped[0].find("displayName"), std::string::npos) << skipped[0];
    EXPECT_NE(skipped[1].find("index 2 (folder none)"), std::string::npos) << skipped[1];
    EXPECT_NE(skipped[2].find("index 3 (folder none)"), std::string::npos) << skipped[2];
}

TEST_F(VenueModels, MalformedBuildingsAreSkippedAndTheRestOfTheDocumentKept) {
    auto south = buildingDocument();
    south.at("id") = "b-south";
    const boost::json::array list{buildingDocument(), parse(R"({"id": "b-bad", "floors": [1]})"), 7, south};
    for (const auto& text :
         {boost::json::serialize(list), boost::json::serialize(boost::json::object{{"buildings", list}})}) {
        SCOPED_TRACE(text.substr(0, 1));
        test::ScopedLogCapture log;
        CVBuildingCollection collection;
        ASSERT_TRUE(collection.initWithData(test::bytes(text)));
        ASSERT_EQ(collection.buildings.size(), 2u);
        EXPECT_EQ(std::tie(collection.buildings[0]->buildingId, collection.buildings[1]->buildingId),
                  std::tuple("b-north", "b-south"));
        EXPECT_EQ(collection.buildings[1]->floors.size(), 2u);
        const auto skipped = errorLinesStartingWith(
            log.sink(), "-[CVBuildingCollection initWithDictionary:error:] [E] Skipped building ");
        ASSERT_EQ(skipped.size(), 2u);
        EXPECT_TRUE(skipped[0].starts_with(
            R"(-[CVBuildingCollection initWithDictionary:error:] [E] Skipped building at index 1 (id "b-bad"): )"))
            << skipped[0];
        EXPECT_NE(skipped[0].find("at floors"), std::string::npos) << skipped[0];
        EXPECT_NE(skipped[1].find("at index 2 (id none)"), std::string::npos) << skipped[1];
    }
}

TEST_F(VenueModels, MalformedVenuesAreSkippedAndTheRestOfTheDocumentKept) {
    auto other = venueDocument();
    other.at("id") = "v-other";
    const boost::json::array list{venueDocument(), parse(R"({"id": "v-bad"})"), other};
    for (const auto& text :
         {boost::json::serialize(list), boost::json::serialize(boost::json::object{{"venues", list}})}) {
        SCOPED_TRACE(text.substr(0, 1));
        test::ScopedLogCapture log;
        const auto venues = CVVenueInternal::venuesFromDocument(text);
        ASSERT_TRUE(venues);
        ASSERT_EQ(venues->size(), 2u);
        EXPECT_EQ(std::tie(venues->at(0)->venueId, venues->at(1)->venueId), std::tuple("v-harbour", "v-other"));
        const auto skipped =
            errorLinesStartingWith(log.sink(), "+[CVVenueInternal venuesFromDocument:] [E] Skipped venue ");
        ASSERT_EQ(skipped.size(), 1u);
        EXPECT_TRUE(skipped[0].starts_with(
            R"(+[CVVenueInternal venuesFromDocument:] [E] Skipped venue at index 1 (id "v-bad"): )"))
            << skipped[0];
        EXPECT_NE(skipped[0].find("missing keys: venueInfo"), std::string::npos) << skipped[0];
    }
    for (const char* other : {"42", "{not json", R"({"venues": 5})", R"({"list": []})"}) {
        EXPECT_EQ(CVVenueInternal::venuesFromDocument(other), std::nullopt) << other;
    }
    EXPECT_EQ(CVVenueInternal::venuesFromDocument("[]"), std::vector<std::shared_ptr<CVVenueInternal>>());
}

TEST_F(VenueModels, RefusedElementsOfAListGiveAHundredLinesAndACount) {
    const boost::json::array refused(250, boost::json::value(5));
    CVBuildingCollection collection;
    ASSERT_TRUE(collection.initWithData(test::bytes(boost::json::serialize(refused))));
    EXPECT_TRUE(collection.buildings.empty());
    EXPECT_EQ(CVVenueInternal::venuesFromDocument(boost::json::serialize(refused)).value().size(), 0u);
    auto building = buildingDocument();
    for (int i = 0; i < 250; ++i) building.at("floors").as_object()[std::to_string(100 + i)] = 5;
    ASSERT_EQ(CVBuildingInternal::fromDictionary(building)->floors.size(), 2u);
    auto venue = venueDocument();
    venue.at("styles") = refused;
    ASSERT_TRUE(CVVenueInternal::fromDictionary(venue)->styles.empty());

    for (const auto& [operation, kind] : {std::pair("-[CVBuildingCollection initWithDictionary:error:]", "building"),
                                          {"+[CVVenueInternal venuesFromDocument:]", "venue"},
                                          {"-[CVBuildingInternal initWithDictionary:error:]", "floor"},
                                          {"-[CVVenueInternal initWithDictionary:error:]", "map style"}}) {
        const auto lines = errorLinesStartingWith(log_.sink(), std::string(operation) + " [E] Skipped ");
        ASSERT_EQ(lines.size(), 101u) << operation;
        EXPECT_EQ(lines[100], std::string(operation) + " [E] Skipped 150 more " + kind + " entries of this list");
    }
    EXPECT_NE(errorLinesStartingWith(log_.sink(), "+[CVVenueInternal")[99].find("at index 99 (id none)"),
              std::string::npos);
}

TEST_F(VenueModels, BuildingAndFloorLocationsAreMadeOnceAndRegistered) {
    const auto locations = building_->getLocationsForBuildingAndFloors();
    EXPECT_EQ(building_->getLocationsForBuildingAndFloors(), locations);
    EXPECT_EQ(building_->asLocationObject(), locations.at(0));
    ASSERT_EQ(locations.size(), 3u);

    const auto& house = *locations[0];
    EXPECT_EQ(std::tie(house.locationId, house.type, house.aliases, house.categories),
              std::tuple("b-north", "BUILDING", Texts{"north-1"}, Texts{"BUILDING"}));
    EXPECT_EQ(house.baseType(), CVLocationBaseType::building);
    EXPECT_EQ(house.getFloorIndex(), 0);
    ASSERT_EQ(house.fields.count("address"), 1u);
    const auto& address = *house.fields.at("address");
    EXPECT_EQ(std::tie(address.type, address.text, address.value), std::tuple("text", "address", "1 Dock Road"));
    EXPECT_EQ(house.fields.count("phone"), 1u);
    EXPECT_NE(house.cv_polygon(), nullptr);
    EXPECT_EQ(house.cv_geoDataStatus(), 1u);

    const auto& roof = *locations[2];
    EXPECT_EQ(std::tie(roof.locationId, roof.name, roof.type, roof.building, roof.categories),
              std::tuple("f-north-5", "Roof", "FLOOR", "north-1", Texts{"FLOOR"}));
    EXPECT_EQ(roof.baseType(), CVLocationBaseType::floor);
    EXPECT_EQ(std::tuple(roof.getFloorIndex(), roof.getPosition().z()), std::tuple(5, 5));
    EXPECT_NE(roof.cv_multiPolygon(), nullptr);
    // The floor read inside its building keeps its own status.
    EXPECT_EQ(roof.cv_geoDataStatus(), 0u);
    EXPECT_EQ(locations[1]->aliases, Texts{"G"});

    const auto index = CVLocationSourceIndex::current();
    EXPECT_EQ(index->parentIdForReadableId("ax_b_north-1"), "b-north");
    EXPECT_EQ(index->parentIdForReadableId("north-1-0"), "f-north-0");
    EXPECT_EQ(index->parentIdForReadableId("north-1-5"), "f-north-5");
}

TEST_F(VenueModels, ConcurrentFirstReadersShareOneResult) {
    constexpr int kReaders = 8;
    std::vector<std::vector<std::shared_ptr<CVLocationInternal>>> seen(kReaders);
    std::vector<std::optional<CVGeoBounds>> bounds(kReaders);
    std::vector<std::jthread> readers;
    for (int i = 0; i < kReaders; ++i) {
        readers.emplace_back([&, i] {
            bounds[i] = building_->boundingBox();
            seen[i] = building_->getLocationsForBuildingAndFloors();
        });
    }
    readers.clear();  // joins
    for (int i = 1; i < kReaders; ++i) {
        EXPECT_EQ(seen[i], seen[0]);
        EXPECT_EQ(bounds[i], bounds[0]);
    }
}

TEST_F(VenueModels, FloorNeedsIdNameAndAnOutline) {
    const auto floor = CVFloorInternal::fromString(
        R"({"id": "f", "name": "F", "style": "s", "buildingId": "b",
            "geometry": {"type": "Polygon", "coordinates": [[[0, 0], [1, 0], [1, 1], [0, 0]]]}})");
    ASSERT_NE(floor, nullptr);
    EXPECT_EQ(floor->floorIndex, std::nullopt);
    EXPECT_EQ(std::tie(floor->style, floor->buildingId), std::tuple("s", "b"));

    const char* withoutGeometry = R"({"id": "f", "name": "F"})";
    EXPECT_EQ(CVFloorInternal::fromString(withoutGeometry), nullptr);
    EXPECT_TRUE(
        log_.sink().contains("-[CVFloorInternal initWithDictionary:error:] [E] Failed to construct CVFloor "
                             R"(from dict: {"id":"f","name":"F"})"));

    const char* pointOutline = R"({"id": "f", "name": "F", "geometry": {"type": "Point", "coordinates": [0, 0]}})";
    EXPECT_EQ(CVFloorInternal::fromString(pointOutline), nullptr);
    // A caller asking for the error gets the fields' verdict alone.
    CVFloorInternal asked;
    std::optional<JSONModelError> error;
    EXPECT_TRUE(asked.initWithString(pointOutline, &error));
    EXPECT_EQ(asked.cv_effectiveGeometry(), nullptr);

    test::expectRefusedWithout<CVFloorInternal>(parse(R"({"id": "f", "name": "F", "geometry": {}})"), {"id", "name"},
                                                {{"id", "floorId"}});
}

TEST_F(VenueModels, BuildingCollectionReadsObjectsAndBareArrays) {
    const std::string list = boost::json::serialize(document("buildings.json").at("buildings"));
    for (const auto& [data, read] : {std::pair(test::documentText("buildings.json"), true),
                                     {list, true},
                                     {std::string("42"), false},
                                     {std::string("{not json"), false}}) {
        SCOPED_TRACE(data.substr(0, 20));
        CVBuildingCollection collection;
        EXPECT_EQ(collection.initWithData(test::bytes(data)), read);
        EXPECT_EQ(collection.buildings.size(), read ? 1u : 0u);
    }
}

}  // namespace
}  // namespace ambrell
