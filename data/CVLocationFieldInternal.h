#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "Ambrell/CVLocation.h"
#include "jsonmodel/JSONModel/JSONModel.h"

namespace ambrell {

// {"type": "text", "text": "Email", "value": "desk@example.com"}: "type" is required.
struct CVLocationFieldInternal : JSONModelOf<CVLocationFieldInternal>, CVLocationField {
    std::string type;
    std::optional<std::string> text;
    std::optional<std::string> value;

    CVLocationFieldInternal() = default;
    CVLocationFieldInternal(std::string type, std::optional<std::string> text, std::optional<std::string> value)
        : type(std::move(type)), text(std::move(text)), value(std::move(value)) {}

    static void declareJSON(JSONModelDeclaration<CVLocationFieldInternal>& d);

    [[nodiscard]] std::shared_ptr<CVLocationFieldInternal> copyWithZone() const {
        return std::make_shared<CVLocationFieldInternal>(type, text, value);
    }

    [[nodiscard]] const std::string& getType() const override { return type; }
    [[nodiscard]] const std::optional<std::string>& getText() const override { return text; }
    [[nodiscard]] const std::optional<std::string>& getValue() const override { return value; }
};
BOOST_DESCRIBE_STRUCT(CVLocationFieldInternal, (JSONModel), (type, text, value))

// A dictionary of fields as documents hold them: field name to field.
using CVLocationFieldMap = std::map<std::string, std::shared_ptr<CVLocationFieldInternal>>;

}  // namespace ambrell
