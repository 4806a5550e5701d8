#include "Ambrell/CVSolutionConfig.h"

#include <array>
#include <cmath>
#include <string>
#include <string_view>
#include <utility>

#include <boost/json/object.hpp>
#include <boost/json/value.hpp>

#include "Ambrell/CVAsciiText.h"
#include "Ambrell/ErrorObjects.h"

namespace ambrell {

namespace {

using Object = boost::json::object;
using Value = boost::json::value;

constexpr std::array<std::pair<std::string_view, CVCollisionHandling>, 4> kCollisionNames{{
    {"ALLOW_OVERLAP", CVCollisionHandling::allowOverlap},
    {"REMOVE_LABEL_FIRST", CVCollisionHandling::removeLabelFirst},
    {"REMOVE_ICON_FIRST", CVCollisionHandling::removeIconFirst},
    {"REMOVE_ICON_AND_LABEL", CVCollisionHandling::removeIconAndLabel},
}};

// Collects the first problem; once there is one, the rest is not read.
class Reader {
public:
    explicit Reader(const Object& object) : object_(object) {}

    [[nodiscard]] bool failed() const { return failure_.has_value(); }
    [[nodiscard]] const std::string& failure() const { return *failure_; }

    // The value under the key, or null when it is absent or null.
    const Value* find(std::string_view key) const {
        const Value* value = object_.if_contains(key);
        return value == nullptr || value->is_null() ? nullptr : value;
    }

    void flag(std::string_view key, bool& out) {
        const Value* value = find(key);
        if (value == nullptr || failed()) return;
        if (!value->is_bool()) return fail(key, "is not a boolean");
        out = value->get_bool();
    }

    void collisionHandling(std::string_view key, CVCollisionHandling& out) {
        const Value* value = find(key);
        if (value == nullptr || failed()) return;
        if (value->is_int64() || value->is_uint64()) {
            const double raw = value->to_number<double>();
            if (raw >= 0 && raw < static_cast<double>(kCollisionNames.size())) {
                out = kCollisionNames[static_cast<std::size_t>(raw)].second;
                return;
            }
        } else if (value->is_string()) {
            const std::string_view text = value->get_string();
            for (const auto& [name, handling] : kCollisionNames) {
                if (equalsIgnoringASCIICase(name, text)) {
                    out = handling;
                    return;
                }
            }
        }
        fail(key, "names no collision handling");
    }

    void opacity(const Object& object, std::string_view key, double& out) {
        const Value* value = object.if_contains(key);
        if (value == nullptr || value->is_null() || failed()) return;
        if (!value->is_number() || !std::isfinite(value->to_number<double>())) return fail(key, "is not a number");
        out = value->to_number<double>();
    }

    void settings3D(std::string_view key, CVSettings3D& out) {
        const Value* value = find(key);
        if (value == nullptr || failed()) return;
        if (!value->is_object()) return fail(key, "is not an object");
        opacity(value->get_object(), "wallOpacity", out.wallOpacity);
        opacity(value->get_object(), "extrusionOpacity", out.extrusionOpacity);
    }

    void rule(const Value* value, std::string_view key, std::optional<CVDisplayRuleData>& out) {
        if (value == nullptr || value->is_null() || failed()) return;
        platform::NSError error;
        const auto rule = CVDisplayRule::initWithDictionary(*value, &error);
        if (!rule) return fail(key, "is not a display rule: " + error.localizedDescription());
        out = rule->data();
    }

    void stateRules(std::string_view key, std::optional<CVStateDisplayRules>& out) {
        const Value* value = find(key);
        if (value == nullptr || failed()) return;
        if (!value->is_object()) return fail(key, "is not an object");
        CVStateDisplayRules rules;
        rule(value->get_object().if_contains("selection"), "selection", rules.selection);
        rule(value->get_object().if_contains("highlight"), "highlight", rules.highlight);
        if (!failed()) out = std::move(rules);
    }

    void settings(std::string_view key, std::optional<CVLocationSettings>& out) {
        const Value* value = find(key);
        if (value == nullptr || failed()) return;
        platform::NSError error;
        out = CVLocationSettings::initWithDictionary(*value, &error);
        if (!out) fail(key, "are not location settings: " + error.localizedDescription());
    }

private:
    void fail(std::string_view key, std::string_view problem) {
        if (failed()) return;
        std::string text = "Solution config \"";
        text += key;
        text += "\" ";
        text += problem;
        failure_ = std::move(text);
    }

    const Object& object_;
    std::optional<std::string> failure_;
};

}  // namespace

std::optional<CVSolutionConfig> CVSolutionConfig::initWithDictionary(const boost::json::value& dictionary,
                                                                     platform::NSError* error) {
    auto failure = [error](std::string text) -> std::optional<CVSolutionConfig> {
        if (error != nullptr) *error = errorWithDescription("com.corvay.Ambrell.CVSolutionConfig", 1, std::move(text));
        return std::nullopt;
    };
    const auto* object = dictionary.if_object();
    if (object == nullptr) return failure("Solution config is not a JSON object");

    CVSolutionConfig config;
    Reader reader(*object);
    reader.flag("enableClustering", config.enableClustering);
    reader.flag("newSelection", config.newSelection);
    reader.collisionHandling("collisionHandling", config.collisionHandling);
    reader.settings3D("settings3D", config.settings3D);
    reader.rule(reader.find("mainDisplayRule"), "mainDisplayRule", config.mainDisplayRuleData);
    reader.rule(reader.find("buildingDisplayRule"), "buildingDisplayRule", config.buildingDisplayRuleData);
    reader.stateRules("stateDisplayRules", config.stateDisplayRules);
    reader.settings("locationSettings", config.locationSettings);
    if (reader.failed()) return failure(reader.failure());
    return config;
}

boost::json::object CVSolutionConfig::JSONObject() const {
    Object object;
    object["enableClustering"] = enableClustering;
    object["newSelection"] = newSelection;
    for (const auto& [name, handling] : kCollisionNames) {
        if (handling == collisionHandling) object["collisionHandling"] = name;
    }
    object["settings3D"] =
        Object{{"wallOpacity", settings3D.wallOpacity}, {"extrusionOpacity", settings3D.extrusionOpacity}};
    if (mainDisplayRuleData) object["mainDisplayRule"] = CVDisplayRule(*mainDisplayRuleData).JSONObject();
    if (buildingDisplayRuleData) object["buildingDisplayRule"] = CVDisplayRule(*buildingDisplayRuleData).JSONObject();
    if (stateDisplayRules) {
        Object states;
        if (const auto& selection = stateDisplayRules->selection) {
            states["selection"] = CVDisplayRule(*selection).JSONObject();
        }
        if (const auto& highlight = stateDisplayRules->highlight) {
            states["highlight"] = CVDisplayRule(*highlight).JSONObject();
        }
        object["stateDisplayRules"] = std::move(states);
    }
    if (locationSettings) object["locationSettings"] = locationSettings->JSONObject();
    return object;
}

}  // namespace ambrell
