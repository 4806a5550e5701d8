#include "Ambrell/CVDisplayRule.h"

#include <array>
#include <string_view>
#include <utility>

#include <boost/json/object.hpp>
#include <boost/json/value.hpp>

#include "Ambrell/ErrorObjects.h"

namespace ambrell {

namespace {

using Data = CVDisplayRuleData;

template <typename T>
struct Key {
    std::string_view name;
    std::optional<T> Data::*member;
};

constexpr std::array<Key<bool>, 7> kFlagKeys{{
    {"visible", &Data::visible},
    {"iconVisible", &Data::iconVisible},
    {"labelVisible", &Data::labelVisible},
    {"polygonVisible", &Data::polygonVisible},
    {"extrusionVisible", &Data::extrusionVisible},
    {"wallsVisible", &Data::wallsVisible},
    {"clickable", &Data::clickable},
}};

constexpr std::array<Key<double>, 8> kNumberKeys{{
    {"zoomFrom", &Data::zoomFrom},
    {"zoomTo", &Data::zoomTo},
    {"labelMaxWidth", &Data::labelMaxWidth},
    {"polygonFillOpacity", &Data::polygonFillOpacity},
    {"polygonStrokeOpacity", &Data::polygonStrokeOpacity},
    {"polygonStrokeWidth", &Data::polygonStrokeWidth},
    {"extrusionHeight", &Data::extrusionHeight},
    {"wallsHeight", &Data::wallsHeight},
}};

constexpr std::array<Key<std::string>, 6> kTextKeys{{
    {"icon", &Data::iconUrl},
    {"label", &Data::label},
    {"polygonFillColor", &Data::polygonFillColor},
    {"polygonStrokeColor", &Data::polygonStrokeColor},
    {"extrusionColor", &Data::extrusionColor},
    {"wallsColor", &Data::wallsColor},
}};

bool failDisplayRule(platform::NSError* error, std::string text) {
    if (error != nullptr) *error = errorWithDescription("com.corvay.Ambrell.CVDisplayRule", 1, std::move(text));
    return false;
}

// A null value counts as absent, as the service writes unset values that way.
bool readNumber(const boost::json::object& object, std::string_view key, std::optional<double>& out,
                platform::NSError* error) {
    const auto* value = object.if_contains(key);
    if (value == nullptr || value->is_null()) return true;
    if (!value->is_number())
        return failDisplayRule(error, "Display rule value \"" + std::string(key) + "\" is not a number");
    out = value->to_number<double>();
    return true;
}

}  // namespace

std::shared_ptr<CVDisplayRule> CVDisplayRule::initWithDictionary(const boost::json::value& dictionary,
                                                                 platform::NSError* error) {
    const auto* object = dictionary.if_object();
    if (object == nullptr) {
        failDisplayRule(error, "A display rule is not a JSON object");
        return nullptr;
    }
    Data data;
    for (const auto& key : kFlagKeys) {
        const auto* value = object->if_contains(key.name);
        if (value == nullptr || value->is_null()) continue;
        if (!value->is_bool()) {
            failDisplayRule(error, "Display rule value \"" + std::string(key.name) + "\" is not a boolean");
            return nullptr;
        }
        data.*key.member = value->get_bool();
    }
    for (const auto& key : kNumberKeys) {
        if (!readNumber(*object, key.name, data.*key.member, error)) return nullptr;
    }
    for (const auto& key : kTextKeys) {
        const auto* value = object->if_contains(key.name);
        if (value == nullptr || value->is_null()) continue;
        if (!value->is_string()) {
            failDisplayRule(error, "Display rule value \"" + std::string(key.name) + "\" is not a text");
            return nullptr;
        }
        data.*key.member = std::string(value->get_string());
    }
    if (const auto* size = object->if_contains("iconSize"); size != nullptr && !size->is_null()) {
        const auto* sizeObject = size->if_object();
        if (sizeObject == nullptr) {
            failDisplayRule(error, "Display rule value \"iconSize\" is not an object");
            return nullptr;
        }
        if (!readNumber(*sizeObject, "width", data.iconWidth, error) ||
            !readNumber(*sizeObject, "height", data.iconHeight, error)) {
            return nullptr;
        }
    }
    return std::make_shared<CVDisplayRule>(std::move(data));
}

boost::json::object CVDisplayRule::JSONObject() const {
    boost::json::object object;
    for (const auto& key : kFlagKeys) {
        if (const auto& value = data_.*key.member) object[key.name] = *value;
    }
    for (const auto& key : kNumberKeys) {
        if (const auto& value = data_.*key.member) object[key.name] = *value;
    }
    for (const auto& key : kTextKeys) {
        if (const auto& value = data_.*key.member) object[key.name] = *value;
    }
    if (data_.iconWidth || data_.iconHeight) {
        boost::json::object size;
        if (data_.iconWidth) size["width"] = *data_.iconWidth;
        if (data_.iconHeight) size["height"] = *data_.iconHeight;
        object["iconSize"] = std::move(size);
    }
    return object;
}

}  // namespace ambrell
