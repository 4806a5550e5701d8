#include "data/CVSolutionInternal.h"

#include <boost/json/serialize.hpp>

#include "Ambrell/CVLog.h"
#include "Ambrell/ErrorObjects.h"
#include "data/CVModelText.h"
#include "jsonmodel/JSONModel/JSONModelDeclaration.h"

namespace ambrell {

void CVSolutionInternal::declareJSON(JSONModelDeclaration<CVSolutionInternal>& d) {
    d.keyMapper(JSONKeyMapper::initWithModelToJSONDictionary(
                    {{"config", "solutionConfig"}, {"solutionId", "id"}, {"whiteLabel", "whitelabel"}}))
        .optional({"config", "mapClientUrl", "positionProviderConfigs", "types", "whiteLabel"})
        .setter("name", &CVSolutionInternal::setNameWithNSString)
        .genericSetter("config", &CVSolutionInternal::setConfigWithJSONObject)
        .getter("config", &CVSolutionInternal::JSONObjectForConfig);
}

bool CVSolutionInternal::initWithDictionary(const boost::json::value& dictionary, JSONModelErrorOut error) {
    const auto* input = dictionary.if_object();
    if (input == nullptr) return JSONModel::initWithDictionary(dictionary, error);

    boost::json::object withoutTypes = *input;
    withoutTypes["types"] = boost::json::array();
    if (!JSONModel::initWithDictionary(withoutTypes, error)) return false;

    std::vector<std::shared_ptr<CVTypeInternal>> kept;
    if (const auto* list = input->if_contains("types"); list != nullptr && list->is_array()) {
        for (const auto& element : list->get_array()) {
            if (!element.is_object()) continue;
            std::optional<JSONModelError> typeError;
            auto type = CVTypeInternal::fromDictionary(element, &typeError);
            if (typeError || !type) {
                CVLog::core().error(
                    "{} [E] Error deserializing CVType: {}\n{}", "-[CVSolutionInternal initWithDictionary:error:]",
                    typeError ? errorDescription(*typeError) : std::string("(null)"), boost::json::serialize(element));
                continue;
            }
            kept.push_back(std::move(type));
        }
    }
    types = std::move(kept);
    return true;
}

void CVSolutionInternal::setNameWithNSString(std::string_view text) { name = CVNameWithLineBreaks(text); }

void CVSolutionInternal::setConfigWithJSONObject(const boost::json::value& value) {
    config = CVSolutionConfig::initWithDictionary(value);
}

boost::json::value CVSolutionInternal::JSONObjectForConfig() const {
    if (!config) return nullptr;
    return config->JSONObject();
}

std::optional<std::string> CVSolutionInternal::getMapClientUrlForVenueId(
    std::optional<std::string_view> venueId, std::optional<std::string_view> locationId) const {
    if (!venueId || !locationId || !mapClientUrl) return std::nullopt;
    auto replaceAll = [](std::string text, std::string_view placeholder, std::string_view value) {
        std::string result;
        std::size_t start = 0;
        for (std::size_t at = text.find(placeholder); at != std::string::npos; at = text.find(placeholder, start)) {
            result.append(text, start, at - start);
            result += value;
            start = at + placeholder.size();
        }
        result.append(text, start, std::string::npos);
        return result;
    };
    return replaceAll(replaceAll(*mapClientUrl, "{venueId}", *venueId), "{locationId}", *locationId);
}

}  // namespace ambrell

AMBRELL_JSON_MODEL_DEFINE(ambrell::CVSolutionInternal)
