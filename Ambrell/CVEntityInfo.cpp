#include "Ambrell/CVEntityInfo.h"

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <boost/json/value.hpp>

#include "Ambrell/ErrorObjects.h"

namespace ambrell {

std::optional<CVEntityInfo> CVEntityInfo::initWithDictionary(const boost::json::value& dictionary,
                                                             platform::NSError* error) {
    auto failure = [error](std::string text) -> std::optional<CVEntityInfo> {
        if (error != nullptr) *error = errorWithDescription("com.corvay.Ambrell.CVEntityInfo", 1, std::move(text));
        return std::nullopt;
    };
    const auto* object = dictionary.if_object();
    if (object == nullptr) return failure("Entity info is not a JSON object");
    CVEntityInfo info;
    if (const auto* name = object->if_contains("name"); name != nullptr && !name->is_null()) {
        if (!name->is_string()) return failure("Entity info \"name\" is not a text");
        info.name = std::string(name->get_string());
    }
    if (const auto* aliases = object->if_contains("aliases"); aliases != nullptr && !aliases->is_null()) {
        if (!aliases->is_array()) return failure("Entity info \"aliases\" is not an array");
        for (const auto& alias : aliases->get_array()) {
            if (!alias.is_string()) return failure("Entity info \"aliases\" holds a value that is not a text");
            info.aliases.emplace_back(alias.get_string());
        }
    }
    return info;
}

boost::json::object CVEntityInfo::JSONObject() const {
    boost::json::object object;
    object["name"] = name;
    boost::json::array list;
    for (const auto& alias : aliases) list.emplace_back(alias);
    object["aliases"] = std::move(list);
    return object;
}

}  // namespace ambrell
