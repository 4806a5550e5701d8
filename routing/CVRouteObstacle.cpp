#include "routing/CVRouteObstacle.h"

#include <boost/json/value.hpp>

namespace ambrell {

namespace route_obstacle {
namespace {

std::string textMember(const boost::json::object& object, std::string_view key) {
    const auto* value = object.if_contains(key);
    return value != nullptr && value->is_string() ? std::string(value->get_string()) : std::string();
}

std::vector<std::string> textsMember(const boost::json::object& object, std::string_view key) {
    std::vector<std::string> texts;
    const auto* value = object.if_contains(key);
    if (value == nullptr || !value->is_array()) return texts;
    for (const auto& member : value->get_array()) {
        if (member.is_string()) texts.emplace_back(member.get_string());
    }
    return texts;
}

}  // namespace
}  // namespace route_obstacle

std::shared_ptr<CVRouteObstacle> CVRouteObstacle::initWithDictionary(const boost::json::value& dictionary) {
    const auto* object = dictionary.if_object();
    if (object == nullptr) return nullptr;
    const auto* geometry = object->if_contains("geometry");
    if (geometry == nullptr || !geometry->is_object()) return nullptr;
    auto obstacle = std::make_shared<CVRouteObstacle>();
    obstacle->elementId_ = route_obstacle::textMember(*object, "id");
    obstacle->restrictions_ = route_obstacle::textsMember(*object, "restrictions");
    obstacle->roomIdList_ = route_obstacle::textsMember(*object, "roomIdList");
    obstacle->graphId_ = route_obstacle::textMember(*object, "graphId");
    obstacle->geometry_ = CVPolygonGeometry::initWithDictionary(*geometry);
    return obstacle;
}

}  // namespace ambrell
