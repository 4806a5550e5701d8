#include <gtest/gtest.h>

#include <boost/json/parse.hpp>

#include "data/CVSolutionInternal.h"
#include "data/CVUserRoleJSON.h"
#include "tests/data/LocationDocuments.h"
#include "tests/support/CapturingLogSink.h"

namespace ambrell {
namespace {

using test::document;

TEST(SolutionModel, ReadsEveryKeyOfTheDocument) {
    test::ScopedLogCapture capture;
    const auto solution = CVSolutionInternal::fromDictionary(document("solution.json"));
    ASSERT_NE(solution, nullptr);
    EXPECT_EQ(solution->solutionId, "5e0c7a1b2d3f4e5a6b7c8d9e0f1a2b3c");
    EXPECT_EQ(solution->name, "Harbour\nCampus");
    EXPECT_EQ(solution->defaultLanguage, "en");
    EXPECT_EQ(solution->availableLanguages, (std::vector<std::string>{"en", "da"}));
    EXPECT_EQ(solution->modules, (std::vector<std::string>{"map", "directions"}));
    EXPECT_TRUE(solution->whiteLabel);
    ASSERT_TRUE(solution->positionProviderConfigs);
    EXPECT_TRUE(solution->positionProviderConfigs->contains("beacons"));
    EXPECT_EQ(solution->dataSetId(), solution->solutionId);

    ASSERT_TRUE(solution->config);
    const CVSolutionConfig& config = *solution->config;
    EXPECT_TRUE(config.enableClustering);
    EXPECT_TRUE(config.newSelection);
    EXPECT_EQ(config.collisionHandling, CVCollisionHandling::removeLabelFirst);
    EXPECT_EQ(config.settings3D, (CVSettings3D{0.6, 0.8}));
    ASSERT_TRUE(config.mainDisplayRuleData);
    EXPECT_EQ(config.mainDisplayRuleData->zoomFrom, 17);
    EXPECT_FALSE(config.buildingDisplayRuleData);
    ASSERT_TRUE(config.stateDisplayRules && config.stateDisplayRules->selection);
    EXPECT_EQ(config.stateDisplayRules->selection->polygonFillColor, "#FF0000");
    EXPECT_FALSE(config.stateDisplayRules->highlight);
    EXPECT_EQ(config.locationSettings, (CVLocationSettings{false}));

    // The type without "translatedName" is logged and left out; the text is skipped silently.
    ASSERT_EQ(solution->types.size(), 2u);
    EXPECT_EQ(solution->types[0]->name, "MeetingRoom");
    EXPECT_EQ(solution->types[1]->name, "Kitchen");
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

TEST(SolutionModel, RequiresItsFiveKeys) {
    for (const char* key : {"id", "name", "defaultLanguage", "availableLanguages", "modules"}) {
        SCOPED_TRACE(key);
        auto input = document("solution.json");
        input.get_object().erase(key);
        std::optional<JSONModelError> error;
        EXPECT_EQ(CVSolutionInternal::fromDictionary(input, &error), nullptr);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, kJSONModelErrorInvalidData);
    }
}

TEST(SolutionModel, OptionalKeysMayBeMissing) {
    const auto solution = CVSolutionInternal::fromDictionary(boost::json::parse(
        R"({"id": "s", "name": "S", "defaultLanguage": "en", "availableLanguages": [], "modules": []})"));
    ASSERT_NE(solution, nullptr);
    EXPECT_TRUE(solution->types.empty());
    EXPECT_FALSE(solution->config);
    EXPECT_FALSE(solution->mapClientUrl);
    EXPECT_FALSE(solution->whiteLabel);
    // The configuration exports, so the model copies.
    EXPECT_NE(solution->copy(), nullptr);
}

TEST(SolutionModel, UnreadableConfigIsLeftUnsetWithoutFailing) {
    for (const char* config : {R"("text")", R"({"enableClustering": "yes"})", R"({"collisionHandling": 9})",
                               R"({"mainDisplayRule": {"visible": 3}})"}) {
        SCOPED_TRACE(config);
        auto input = document("solution.json");
        input.get_object()["solutionConfig"] = boost::json::parse(config);
        const auto solution = CVSolutionInternal::fromDictionary(input);
        ASSERT_NE(solution, nullptr);
        EXPECT_FALSE(solution->config);
    }
}

TEST(SolutionModel, ConfigRoundTripsThroughItsExport) {
    const auto solution = CVSolutionInternal::fromDictionary(document("solution.json"));
    ASSERT_TRUE(solution && solution->config);
    EXPECT_EQ(CVSolutionConfig::initWithDictionary(solution->config->JSONObject()), solution->config);
    const auto copy = solution->copy();
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->config, solution->config);
    EXPECT_EQ(copy->types.size(), 2u);
}

TEST(SolutionModel, MapClientUrlAndDataSetIdFollowTheirSources) {
    auto solution = CVSolutionInternal::fromDictionary(document("solution.json"));
    ASSERT_NE(solution, nullptr);
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
    EXPECT_EQ(CVUserRoleFromDictionary(boost::json::parse(R"({"id": "r1", "name": "Staff"})")),
              (CVUserRole{"r1", "Staff"}));
    EXPECT_EQ(CVUserRoleFromDictionary(boost::json::parse(R"({"id": "r2", "name": 4})")), (CVUserRole{"r2", ""}));
    EXPECT_EQ(CVUserRoleFromDictionary(boost::json::parse(R"({"id": 7, "name": "Staff"})")), std::nullopt);
    EXPECT_EQ(CVUserRoleFromDictionary(boost::json::parse(R"(["r1"])")), std::nullopt);
}

}  // namespace
}  // namespace ambrell
