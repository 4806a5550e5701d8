#include <gtest/gtest.h>

#include <boost/json/parse.hpp>

#include "Ambrell/CVEntityInfo.h"
#include "data/CVAppData.h"
#include "data/CVCategories.h"
#include "data/CVMapStyleInternal.h"
#include "foundation/CVLogger.h"
#include "tests/data/LocationDocuments.h"

namespace ambrell {
namespace {

using test::document;

std::span<const std::uint8_t> bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST(AppDataModel, KeepsReadableMenuItemsAndDropsEmptyMenus) {
    const auto appData = CVAppData::fromDictionary(document("appconfig.json"));
    ASSERT_NE(appData, nullptr);
    EXPECT_EQ(appData->colorPrimary, "#1E5AA8");
    EXPECT_EQ(appData->colorPrimaryDark, std::nullopt);
    EXPECT_EQ(appData->colorAccent, "#F2A900");
    ASSERT_TRUE(appData->venueImages);
    EXPECT_FALSE(appData->appSettings);

    ASSERT_EQ(appData->menuInfo.size(), 1u);
    const auto& main = appData->menuInfo.at("main");
    ASSERT_EQ(main.size(), 1u);
    EXPECT_EQ(main[0]->categoryKey, "a");
    EXPECT_EQ(main[0]->iconUrl, "https://example.org/a.png");
    EXPECT_EQ(main[0]->menuImageUrl, std::nullopt);
    EXPECT_EQ(appData->getMenuInfo().at("main").at(0)->getCategoryKey(), "a");
}

TEST(AppDataModel, LoggingSwitchComesFromLogConfig) {
    struct Case {
        const char* logConfig;
        bool enabled;
    };
    for (const Case& c : {Case{"null", true}, Case{R"({"eventLoggingEnabled": false})", false},
                          Case{R"({"eventLoggingEnabled": true})", true}, Case{"[1]", true}}) {
        SCOPED_TRACE(c.logConfig);
        auto input = document("appconfig.json");
        input.get_object()["logConfig"] = boost::json::parse(c.logConfig);
        const auto appData = CVAppData::fromDictionary(input);
        ASSERT_TRUE(appData && appData->loggingConfig);
        EXPECT_EQ(appData->loggingConfig->eventLoggingEnabled(), c.enabled);
    }
    auto withoutKey = document("appconfig.json");
    withoutKey.get_object().erase("logConfig");
    const auto appData = CVAppData::fromDictionary(withoutKey);
    ASSERT_TRUE(appData && appData->loggingConfig);
    EXPECT_TRUE(appData->loggingConfig->eventLoggingEnabled());
}

TEST(AppDataModel, RequiresMenuInfo) {
    auto input = document("appconfig.json");
    input.get_object().erase("menuInfo");
    std::optional<JSONModelError> error;
    EXPECT_EQ(CVAppData::fromDictionary(input, &error), nullptr);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->missingKeys(), std::vector<std::string>{"menuInfo"});
}

TEST(CategoriesModel, ReadsObjectsBareArraysAndNothingElse) {
    struct Case {
        const char* data;
        std::size_t count;
    };
    for (const Case& c : {Case{R"({"list": [{"key": "CANTEEN", "value": "Canteen"}]})", 1},
                          Case{R"([{"key": "A"}, {"key": "B", "fields": {}}])", 2}, Case{"not json", 0},
                          Case{"42", 0}, Case{"", 0}}) {
        SCOPED_TRACE(c.data);
        CVCategories categories;
        std::optional<JSONModelError> error;
        EXPECT_TRUE(categories.initWithData(bytes(c.data), &error));
        EXPECT_FALSE(error);
        EXPECT_EQ(categories.list.size(), c.count);
    }
    CVCategories withoutKey;
    EXPECT_FALSE(withoutKey.initWithData(bytes(R"([{"value": "no key"}])")));
}

TEST(MapStyleModel, RequiresFolderAndDisplayName) {
    EXPECT_NE(CVMapStyleInternal::fromString(R"({"folder": "dark", "displayName": "Dark", "extra": 1})"), nullptr);
    EXPECT_EQ(CVMapStyleInternal::fromString(R"({"folder": "dark"})"), nullptr);
    EXPECT_EQ(CVMapStyleInternal::fromString(R"({"displayName": "Dark"})"), nullptr);
}

TEST(EntityInfo, ReadsNameAndAliasesAndRefusesWrongKinds) {
    const auto info = CVEntityInfo::initWithDictionary(boost::json::parse(R"({"name": "N", "aliases": ["a"]})"));
    EXPECT_EQ(info, (CVEntityInfo{"N", {"a"}}));
    for (const char* bad : {R"("N")", R"({"name": 3})", R"({"aliases": "a"})", R"({"aliases": [1]})"}) {
        SCOPED_TRACE(bad);
        platform::NSError error;
        EXPECT_EQ(CVEntityInfo::initWithDictionary(boost::json::parse(bad), &error), std::nullopt);
        EXPECT_EQ(error.domain, "com.corvay.Ambrell.CVEntityInfo");
    }
}

}  // namespace
}  // namespace ambrell
