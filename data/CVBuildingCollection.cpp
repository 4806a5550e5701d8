#include "data/CVBuildingCollection.h"

#include <string_view>

#include "data/CVModelText.h"
#include "jsonmodel/JSONModel/JSONModelDeclaration.h"
#include "jsonmodel/JSONModel/JSONParsing.h"

namespace ambrell {

bool CVBuildingCollection::initWithData(std::span<const std::uint8_t> data, JSONModelErrorOut error) {
    auto parsed = parseJSON(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
    if (parsed && parsed->is_object()) return initWithDictionary(*parsed, error);
    if (parsed && parsed->is_array()) {
        boost::json::object wrapped;
        wrapped["buildings"] = std::move(*parsed);
        return initWithDictionary(wrapped, error);
    }
    return false;
}

bool CVBuildingCollection::initWithDictionary(const boost::json::value& dictionary, JSONModelErrorOut error) {
    const auto* object = dictionary.if_object();
    const auto* listValue = object != nullptr ? object->if_contains("buildings") : nullptr;
    const auto* list = listValue != nullptr ? listValue->if_array() : nullptr;
    if (list == nullptr) return JSONModel::initWithDictionary(dictionary, error);
    // One malformed building must not cost the others: the rest of the
    // document is imported with an empty list, then each building on its own.
    auto rest = CVObjectWithoutKey(*object, "buildings");
    rest["buildings"] = boost::json::array();
    if (!JSONModel::initWithDictionary(rest, error)) return false;
    std::vector<std::shared_ptr<CVBuildingInternal>> kept;
    kept.reserve(list->size());
    CVReadEachElement(*list, "-[CVBuildingCollection initWithDictionary:error:]", "building",
                      [&kept](const boost::json::value& element, JSONModelErrorOut elementError) {
                          auto building = CVBuildingInternal::fromDictionary(element, elementError);
                          if (!building) return false;
                          kept.push_back(std::move(building));
                          return true;
                      });
    buildings = std::move(kept);
    return true;
}

}  // namespace ambrell

AMBRELL_JSON_MODEL_DEFINE(ambrell::CVBuildingCollection)
