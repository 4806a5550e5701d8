#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Ambrell/CVLocation.h"
#include "data/CVLocationFieldInternal.h"
#include "jsonmodel/JSONModel/JSONModel.h"

namespace ambrell {

// One entry of the categories list: {"key": "CANTEEN", "value": "Canteen",
// "fields": {...}}; "key" is required.
struct CVDataFieldInternal : JSONModelOf<CVDataFieldInternal>, CVDataField {
    std::string key;
    std::optional<std::string> value;
    std::optional<CVLocationFieldMap> fields;

    static void declareJSON(JSONModelDeclaration<CVDataFieldInternal>& d);

    // Key and value only: the fields stay with the original.
    [[nodiscard]] std::shared_ptr<CVDataFieldInternal> copyWithZone() const {
        auto copy = std::make_shared<CVDataFieldInternal>();
        copy->key = key;
        copy->value = value;
        return copy;
    }

    [[nodiscard]] const std::string& getKey() const override { return key; }
    [[nodiscard]] const std::optional<std::string>& getValue() const override { return value; }
};
BOOST_DESCRIBE_STRUCT(CVDataFieldInternal, (JSONModel), (key, value, fields))

}  // namespace ambrell
