#include "jsonmodel/JSONModel/JSONKeyMapper.h"

#include <utility>

namespace ambrell {
namespace {

bool isAsciiUpper(char c) { return c >= 'A' && c <= 'Z'; }
bool isAsciiDigit(char c) { return c >= '0' && c <= '9'; }
char toAsciiLower(char c) { return isAsciiUpper(c) ? static_cast<char>(c - 'A' + 'a') : c; }
char toAsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

JSONKeyMapper::JSONKeyMapper(KeyBlock modelToJSON) : modelToJSON_(std::move(modelToJSON)) {}

std::shared_ptr<const JSONKeyMapper> JSONKeyMapper::initWithModelToJSONBlock(KeyBlock modelToJSON) {
    return std::make_shared<const JSONKeyMapper>(std::move(modelToJSON));
}

std::shared_ptr<const JSONKeyMapper> JSONKeyMapper::initWithJSONToModelBlock(KeyBlock /*jsonToModel*/,
                                                                             KeyBlock modelToJSON) {
    return initWithModelToJSONBlock(std::move(modelToJSON));
}

std::shared_ptr<const JSONKeyMapper> JSONKeyMapper::initWithModelToJSONDictionary(KeyDictionary modelToJSON) {
    return initWithModelToJSONBlock([map = std::move(modelToJSON)](std::string_view name) {
        auto found = map.find(name);
        return found != map.end() ? found->second : std::string(name);
    });
}

std::shared_ptr<const JSONKeyMapper> JSONKeyMapper::initWithDictionary(const KeyDictionary& jsonToModel) {
    return initWithModelToJSONDictionary(swapKeysAndValuesInDictionary(jsonToModel));
}

std::string JSONKeyMapper::snakeCase(std::string_view name) {
    std::string text;
    text.reserve(name.size() + 8);
    for (char c : name) {
        if (isAsciiUpper(c)) {
            text += '_';
            text += toAsciiLower(c);
        } else {
            text += c;
        }
    }
    std::string result;
    result.reserve(text.size() + 4);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (isAsciiDigit(text[i]) && (i == 0 || !isAsciiDigit(text[i - 1]))) result += '_';
        result += text[i];
    }
    return result;
}

std::shared_ptr<const JSONKeyMapper> JSONKeyMapper::mapperForSnakeCase() {
    return initWithModelToJSONBlock([](std::string_view name) { return snakeCase(name); });
}

std::shared_ptr<const JSONKeyMapper> JSONKeyMapper::mapperFromUnderscoreCaseToCamelCase() {
    return mapperForSnakeCase();
}

std::shared_ptr<const JSONKeyMapper> JSONKeyMapper::mapperForTitleCase() {
    return initWithModelToJSONBlock([](std::string_view name) {
        std::string result(name);
        if (!result.empty()) result[0] = toAsciiUpper(result[0]);
        return result;
    });
}

std::shared_ptr<const JSONKeyMapper> JSONKeyMapper::mapperFromUpperCaseToLowerCase() {
    return initWithModelToJSONBlock([](std::string_view name) {
        std::string result(name);
        for (char& c : result) c = toAsciiUpper(c);
        return result;
    });
}

std::shared_ptr<const JSONKeyMapper> JSONKeyMapper::mapper(std::shared_ptr<const JSONKeyMapper> base,
                                                           const KeyDictionary& exceptions) {
    return baseMapper(std::move(base), swapKeysAndValuesInDictionary(exceptions));
}

std::shared_ptr<const JSONKeyMapper> JSONKeyMapper::baseMapper(std::shared_ptr<const JSONKeyMapper> base,
                                                               KeyDictionary modelToJSONExceptions) {
    return initWithModelToJSONBlock(
        [base = std::move(base), exceptions = std::move(modelToJSONExceptions)](std::string_view name) {
            auto found = exceptions.find(name);
            if (found != exceptions.end()) return found->second;
            return base ? base->convertValue(name) : std::string(name);
        });
}

std::string JSONKeyMapper::convertValue(std::string_view propertyName) const {
    return modelToJSON_ ? modelToJSON_(propertyName) : std::string(propertyName);
}

std::string JSONKeyMapper::convertValue(std::string_view propertyName, bool /*isImportingToModel*/) const {
    return convertValue(propertyName);
}

JSONKeyMapper::KeyDictionary JSONKeyMapper::swapKeysAndValuesInDictionary(const KeyDictionary& dictionary) {
    KeyDictionary swapped;
    for (const auto& [key, value] : dictionary) swapped.insert_or_assign(value, key);
    return swapped;
}

}  // namespace ambrell
