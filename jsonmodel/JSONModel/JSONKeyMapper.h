#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace ambrell {

// Turns a model property name into the JSON key path that holds its value
// ("venueId" -> "id", "name" -> "venueInfo.name"). Mapping works in the
// model-to-JSON direction only; a mapper is immutable once made, so one
// instance is shared by every thread that imports or exports.
class JSONKeyMapper {
public:
    using KeyBlock = std::function<std::string(std::string_view)>;
    using KeyDictionary = std::map<std::string, std::string, std::less<>>;

    explicit JSONKeyMapper(KeyBlock modelToJSON);

    static std::shared_ptr<const JSONKeyMapper> initWithModelToJSONBlock(KeyBlock modelToJSON);
    // The first block is dropped: nothing maps JSON keys back to properties.
    static std::shared_ptr<const JSONKeyMapper> initWithJSONToModelBlock(KeyBlock jsonToModel, KeyBlock modelToJSON);
    // Property name -> JSON key path; names without an entry map to themselves.
    static std::shared_ptr<const JSONKeyMapper> initWithModelToJSONDictionary(KeyDictionary modelToJSON);
    // JSON key path -> property name (the reverse of the above).
    static std::shared_ptr<const JSONKeyMapper> initWithDictionary(const KeyDictionary& jsonToModel);

    // version2Name -> version_2_name, venueId -> venue_id.
    static std::shared_ptr<const JSONKeyMapper> mapperForSnakeCase();
    static std::shared_ptr<const JSONKeyMapper> mapperFromUnderscoreCaseToCamelCase();
    // name -> Name.
    static std::shared_ptr<const JSONKeyMapper> mapperForTitleCase();
    // name -> NAME: for documents whose keys are upper case.
    static std::shared_ptr<const JSONKeyMapper> mapperFromUpperCaseToLowerCase();
    // Exceptions given JSON key -> property name.
    static std::shared_ptr<const JSONKeyMapper> mapper(std::shared_ptr<const JSONKeyMapper> base,
                                                       const KeyDictionary& exceptions);
    // Exceptions given property name -> JSON key; every other name goes through the base mapper.
    static std::shared_ptr<const JSONKeyMapper> baseMapper(std::shared_ptr<const JSONKeyMapper> base,
                                                           KeyDictionary modelToJSONExceptions);

    [[nodiscard]] std::string convertValue(std::string_view propertyName) const;
    // The direction flag is ignored, as the mapper has one direction only.
    [[nodiscard]] std::string convertValue(std::string_view propertyName, bool isImportingToModel) const;

    [[nodiscard]] const KeyBlock& modelToJSONKeyBlock() const { return modelToJSON_; }

    [[nodiscard]] static KeyDictionary swapKeysAndValuesInDictionary(const KeyDictionary& dictionary);
    [[nodiscard]] static std::string snakeCase(std::string_view name);

private:
    KeyBlock modelToJSON_;
};

}  // namespace ambrell
