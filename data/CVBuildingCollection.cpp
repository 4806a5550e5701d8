#include "data/CVBuildingCollection.h"

#include <string_view>

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

}  // namespace ambrell

AMBRELL_JSON_MODEL_DEFINE(ambrell::CVBuildingCollection)
