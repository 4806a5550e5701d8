#include "data/CVUserRoleJSON.h"

#include <boost/json/object.hpp>
#include <boost/json/value.hpp>

namespace ambrell {

std::optional<CVUserRole> CVUserRoleFromDictionary(const boost::json::value& dictionary) {
    const auto* object = dictionary.if_object();
    if (object == nullptr) return std::nullopt;
    const auto* id = object->if_contains("id");
    if (id == nullptr || !id->is_string()) return std::nullopt;
    CVUserRole role;
    role.userRoleId = std::string(id->get_string());
    if (const auto* name = object->if_contains("name"); name != nullptr && name->is_string()) {
        role.name = std::string(name->get_string());
    }
    return role;
}

}  // namespace ambrell
