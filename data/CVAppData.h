#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <boost/json/object.hpp>

#include "Ambrell/CVAppConfig.h"
#include "Ambrell/CVMenuItem.h"
#include "jsonmodel/JSONModel/JSONModel.h"

namespace ambrell {

class CVLoggingConfig;

// One entry of an app menu: {"categoryKey": "CANTEEN", "menuImageUrl": "...",
// "iconUrl": "..."}; every key is optional.
struct CVMenuItem : JSONModelOf<CVMenuItem>, CVMenuInfo {
    std::optional<std::string> categoryKey;
    std::optional<std::string> menuImageUrl;
    std::optional<std::string> iconUrl;

    [[nodiscard]] std::optional<std::string> getCategoryKey() const override { return categoryKey; }
    [[nodiscard]] std::optional<std::string> getMenuImageUrl() const override { return menuImageUrl; }
    [[nodiscard]] std::optional<std::string> getIconUrl() const override { return iconUrl; }
};
BOOST_DESCRIBE_STRUCT(CVMenuItem, (JSONModel), (categoryKey, menuImageUrl, iconUrl))

// The solution's app data, the "appconfig" sync document: theme colours,
// menus by name ("menuInfo", required), venue images, app settings, and
// the usage-event switch under "logConfig".
struct CVAppData : JSONModelOf<CVAppData>, CVAppConfig {
    // A menu holds its readable items only; a menu left with none is dropped.
    using MenuInfo = std::map<std::string, std::vector<std::shared_ptr<CVMenuItem>>>;

    std::optional<std::string> colorPrimary;
    std::optional<std::string> colorPrimaryDark;
    std::optional<std::string> colorAccent;
    MenuInfo menuInfo;
    std::optional<boost::json::object> venueImages;
    std::optional<boost::json::object> appSettings;
    // From "logConfig" (an absent or null one reads as an empty object).
    std::shared_ptr<CVLoggingConfig> loggingConfig;
    static constexpr std::string_view kJSONIgnoredMembers[] = {"loggingConfig"};

    static void declareJSON(JSONModelDeclaration<CVAppData>& d);
    // Base import, then the menus are rebuilt, then the logging switch is read.
    bool initWithDictionary(const boost::json::value& dictionary, JSONModelErrorOut error = nullptr) override;

    // Each menu's entries that read as menu items, in order; the rest are
    // left out without a word.
    void setMenuInfoWithNSDictionary(const boost::json::object& menus);
    // Drops the menus left without an item.
    void populateMenus();

    [[nodiscard]] std::optional<std::string> getColorPrimary() const override { return colorPrimary; }
    [[nodiscard]] std::optional<std::string> getColorPrimaryDark() const override { return colorPrimaryDark; }
    [[nodiscard]] std::optional<std::string> getColorAccent() const override { return colorAccent; }
    [[nodiscard]] Menus getMenuInfo() const override;
    [[nodiscard]] boost::json::object getVenueImages() const override {
        return venueImages.value_or(boost::json::object());
    }
    [[nodiscard]] boost::json::object getAppSettings() const override {
        return appSettings.value_or(boost::json::object());
    }
};
BOOST_DESCRIBE_STRUCT(CVAppData, (JSONModel),
                      (colorPrimary, colorPrimaryDark, colorAccent, menuInfo, venueImages, appSettings, loggingConfig))

}  // namespace ambrell
