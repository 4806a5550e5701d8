// The content models read from the web service's documents: solution,
// types and fields, app data, categories, derived geometry and resources.

#include <gtest/gtest.h>

#include <tuple>

#include <boost/json/parse.hpp>

#include "Ambrell/CVEntityInfo.h"
#include "data/CVAppData.h"
#include "data/CVBuildingInfo.h"
#include "data/CVCategories.h"
#include "data/CVDataFieldInternal.h"
#include "data/CVDerivedGeometry.h"
#include "data/CVMapStyleInternal.h"
#include "data/CVPointJSON.h"
#include "data/CVSolutionInternal.h"
#include "data/CVTypeInternal.h"
#include "data/CVUrlResourceCollection.h"
#include "data/CVUserRoleJSON.h"
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
    EXPECT_EQ(config.stateDisplayRules->selection->polygonFillColor, "#FF0000");
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
    for (const char* key : {"id", "name", "defaultLanguage", "availableLanguages", "modules"}) {
        SCOPED_TRACE(key);
        auto input = document("solution.json");
        input.get_object().erase(key);
        std::optional<JSONModelError> error;
        EXPECT_EQ(CVSolutionInternal::fromDictionary(input, &error), nullptr);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, kJSONModelErrorInvalidData);
    }

    const auto solution = CVSolutionInternal::fromDictionary(parse(
        R"({"id": "s", "name": "S", "defaultLanguage": "en", "availableLanguages": [], "modules": []})"));
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

TEST(SolutionModel, ConfigRoundTripsAndMapClientUrlAndDataSetIdFollowTheirSources) {
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
    solution->solutionId = "other";
    EXPECT_EQ(solution->dataSetId(), "other");
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

    for (const char* missing : {"name", "translatedName", "displayRule"}) {
        boost::json::object type{{"name", "A"}, {"translatedName", "A"}, {"displayRule", boost::json::object{}}};
        type.erase(missing);
        std::optional<JSONModelError> missingError;
        EXPECT_EQ(CVTypeInternal::fromDictionary(boost::json::value(type), &missingError), nullptr) << missing;
        ASSERT_TRUE(missingError);
        EXPECT_EQ(missingError->missingKeys(), Texts{missing});
    }
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

    auto withoutMenus = document("appconfig.json");
    withoutMenus.get_object().erase("menuInfo");
    std::optional<JSONModelError> error;
    EXPECT_EQ(CVAppData::fromDictionary(withoutMenus, &error), nullptr);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->missingKeys(), Texts{"menuInfo"});
}

TEST(AppDataModel, LoggingSwitchComesFromLogConfig) {
    // Without the key, null, or of another kind: enabled.
    for (const auto& [logConfig, enabled] : {std::pair<const char*, bool>(nullptr, true), {"null", true},
                                             {R"({"eventLoggingEnabled": false})", false},
                                             {R"({"eventLoggingEnabled": true})", true}, {"[1]", true}}) {
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
    for (const auto& [data, count] : {std::pair<const char*, std::size_t>(
                                          R"({"list": [{"key": "CANTEEN", "value": "Canteen"}]})", 1),
                                      {R"([{"key": "A"}, {"key": "B", "fields": {}}])", 2}, {"not json", 0},
                                      {"42", 0}, {"", 0}}) {
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
    EXPECT_NE(CVMapStyleInternal::fromString(R"({"folder": "dark", "displayName": "Dark", "extra": 1})"), nullptr);
    EXPECT_EQ(CVMapStyleInternal::fromString(R"({"folder": "dark"})"), nullptr);
    EXPECT_EQ(CVMapStyleInternal::fromString(R"({"displayName": "Dark"})"), nullptr);
    EXPECT_NE(CVBuildingInfo::fromString(R"({"name": "North", "aliases": ["N"]})"), nullptr);
    EXPECT_EQ(CVBuildingInfo::fromString(R"({"name": "North"})"), nullptr);
    EXPECT_EQ(CVBuildingInfo::fromString(R"({"aliases": []})"), nullptr);

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
}  // namespace
}  // namespace ambrell
