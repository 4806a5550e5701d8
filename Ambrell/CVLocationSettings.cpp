#include "Ambrell/CVLocationSettings.h"

#include <string>

#include <boost/json/object.hpp>
#include <boost/json/value.hpp>

#include "Ambrell/ErrorObjects.h"

namespace ambrell {

std::optional<CVLocationSettings> CVLocationSettings::initWithDictionary(const boost::json::value& dictionary,
                                                                         platform::NSError* error) {
    auto failure = [error](std::string text) -> std::optional<CVLocationSettings> {
        if (error != nullptr) {
            *error = errorWithDescription("com.corvay.Ambrell.CVLocationSettings", 1, std::move(text));
        }
        return std::nullopt;
    };
    const auto* object = dictionary.if_object();
    if (object == nullptr) return failure("Location settings are not a JSON object");
    CVLocationSettings settings;
    if (const auto* selectable = object->if_contains("selectable"); selectable != nullptr && !selectable->is_null()) {
        if (!selectable->is_bool()) return failure("Location setting \"selectable\" is not a boolean");
        settings.selectable = selectable->get_bool();
    }
    return settings;
}

boost::json::object CVLocationSettings::JSONObject() const {
    boost::json::object object;
    if (selectable) object["selectable"] = *selectable;
    return object;
}

}  // namespace ambrell
