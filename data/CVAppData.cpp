#include "data/CVAppData.h"

#include "foundation/CVLogger.h"
#include "jsonmodel/JSONModel/JSONModelDeclaration.h"

namespace ambrell {

void CVAppData::declareJSON(JSONModelDeclaration<CVAppData>& d) {
    d.optional({"colorPrimary", "colorPrimaryDark", "colorAccent", "venueImages", "appSettings"})
        .setter("menuInfo", &CVAppData::setMenuInfoWithNSDictionary);
}

bool CVAppData::initWithDictionary(const boost::json::value& dictionary, JSONModelErrorOut error) {
    const auto* input = dictionary.if_object();
    if (!JSONModel::initWithDictionary(dictionary, error) || input == nullptr) return false;
    populateMenus();
    const boost::json::value* logConfig = input->if_contains("logConfig");
    if (logConfig != nullptr && logConfig->is_object()) {
        loggingConfig = std::make_shared<CVLoggingConfig>(logConfig->get_object());
    } else {
        loggingConfig = std::make_shared<CVLoggingConfig>(boost::json::object());
    }
    return true;
}

void CVAppData::setMenuInfoWithNSDictionary(const boost::json::object& menus) {
    MenuInfo read;
    for (const auto& menu : menus) {
        auto& items = read[std::string(menu.key())];
        // A menu that is not a list has no item to offer.
        if (!menu.value().is_array()) continue;
        for (const auto& entry : menu.value().get_array()) {
            std::optional<JSONModelError> itemError;
            auto item = CVMenuItem::fromDictionary(entry, &itemError);
            if (item && !itemError) items.push_back(std::move(item));
        }
    }
    menuInfo = std::move(read);
}

void CVAppData::populateMenus() {
    if (menuInfo.empty()) return;
    std::erase_if(menuInfo, [](const auto& menu) { return menu.second.empty(); });
}

CVAppConfig::Menus CVAppData::getMenuInfo() const {
    Menus menus;
    for (const auto& [name, items] : menuInfo) {
        auto& shared = menus[name];
        shared.assign(items.begin(), items.end());
    }
    return menus;
}

}  // namespace ambrell

AMBRELL_JSON_MODEL_DEFINE(ambrell::CVMenuItem)
AMBRELL_JSON_MODEL_DEFINE(ambrell::CVAppData)
