#pragma once

// The export side of the class operations on collections: models back to
// JSON dictionaries. (The import side lives on JSONModelOf.)

#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <boost/json/value.hpp>

#include "jsonmodel/JSONModel/JSONModel.h"

namespace ambrell {

// Each model's toDictionary, in order; none when a model is missing.
template <typename M>
std::optional<boost::json::array> arrayOfDictionariesFromModels(const std::vector<std::shared_ptr<M>>& models) {
    boost::json::array dictionaries;
    dictionaries.reserve(models.size());
    for (const auto& model : models) {
        if (!model) return std::nullopt;
        dictionaries.emplace_back(model->toDictionary());
    }
    return dictionaries;
}

// The same with toDictionaryWithKeys: each model exports only the named
// properties (none for an empty list).
template <typename M>
std::optional<boost::json::array> arrayOfDictionariesFromModels(const std::vector<std::shared_ptr<M>>& models,
                                                                std::span<const std::string> propertyNamesToExport) {
    boost::json::array dictionaries;
    dictionaries.reserve(models.size());
    for (const auto& model : models) {
        if (!model) return std::nullopt;
        dictionaries.emplace_back(model->toDictionaryWithKeys(propertyNamesToExport));
    }
    return dictionaries;
}

// Each model's toDictionary under its key; none when a model is missing.
template <typename M, typename Compare>
std::optional<boost::json::object> dictionaryOfDictionariesFromModels(
    const std::map<std::string, std::shared_ptr<M>, Compare>& models) {
    boost::json::object dictionaries;
    dictionaries.reserve(models.size());
    for (const auto& [key, model] : models) {
        if (!model) return std::nullopt;
        dictionaries[key] = model->toDictionary();
    }
    return dictionaries;
}

}  // namespace ambrell
