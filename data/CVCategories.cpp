#include "data/CVCategories.h"

#include <string_view>

#include "jsonmodel/JSONModel/JSONModelDeclaration.h"
#include "jsonmodel/JSONModel/JSONParsing.h"

namespace ambrell {

bool CVCategories::initWithData(std::span<const std::uint8_t> data, JSONModelErrorOut error) {
    auto parsed = parseJSON(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
    if (parsed && parsed->is_object()) return initWithDictionary(*parsed, error);
    if (parsed && parsed->is_array()) {
        boost::json::object wrapped;
        wrapped["list"] = std::move(*parsed);
        return initWithDictionary(wrapped, error);
    }
    list.clear();
    return true;
}

}  // namespace ambrell

AMBRELL_JSON_MODEL_DEFINE(ambrell::CVCategories)
