#include "routing/Graph/CVRouteNetworkValueMapper.h"

#include <boost/json/object.hpp>

#include <array>
#include <utility>

namespace ambrell {

std::shared_ptr<const CVRouteNetworkValueMapper> CVRouteNetworkValueMapper::newMapperWithPropertyNames(
    std::vector<std::string> names, std::vector<std::vector<std::string>> values,
    std::optional<std::vector<std::string>> flagValues) {
    if (names.size() != values.size()) return nullptr;
    std::shared_ptr<CVRouteNetworkValueMapper> mapper(new CVRouteNetworkValueMapper());
    for (std::size_t i = 0; i < names.size(); ++i) {
        // A repeated name answers its last position, as a dictionary filled in
        // order would.
        mapper->propertyIndexMapping_.insert_or_assign(names[i], i);
    }
    mapper->names_ = std::move(names);
    mapper->propertyValueMapping_ = std::move(values);
    constexpr std::array<std::string_view, 9> kKnownNames = {
        "boundary", "barrier", "floorname", "waittime", "highway", "context", "distance", "speedFactor", "flags"};
    for (std::size_t i = 0; i < kKnownNames.size(); ++i) {
        mapper->knownPositions_[i] = mapper->indexForProperty(kKnownNames[i]);
    }
    if (flagValues) {
        auto& flags = mapper->flagBitMaskMapping_.emplace();
        std::uint64_t bit = 1;
        for (auto& name : *flagValues) {
            if (bit == 0) break;  // more than 64 flags cannot be told apart
            flags.try_emplace(std::move(name), bit);
            bit <<= 1U;
        }
    }
    return mapper;
}

std::shared_ptr<const CVRouteNetworkValueMapper> CVRouteNetworkValueMapper::newWithDict(
    const boost::json::object& dict, std::optional<std::vector<std::string>> flagValues) {
    const auto* properties = dict.if_contains("properties");
    const auto* values = dict.if_contains("values");
    if (properties == nullptr || values == nullptr || !properties->is_array() || !values->is_array()) return nullptr;
    std::vector<std::string> names;
    for (const auto& name : properties->get_array()) {
        if (!name.is_string()) return nullptr;
        names.emplace_back(name.get_string());
    }
    std::vector<std::vector<std::string>> valueLists;
    for (const auto& list : values->get_array()) {
        if (!list.is_array()) return nullptr;
        auto& texts = valueLists.emplace_back();
        for (const auto& text : list.get_array()) {
            if (!text.is_string()) return nullptr;
            texts.emplace_back(text.get_string());
        }
    }
    return newMapperWithPropertyNames(std::move(names), std::move(valueLists), std::move(flagValues));
}

const std::vector<std::string>* CVRouteNetworkValueMapper::objectForKeyedSubscript(std::string_view name) const {
    const auto found = propertyIndexMapping_.find(name);
    return found == propertyIndexMapping_.end() ? nullptr : &propertyValueMapping_[found->second];
}

std::int64_t CVRouteNetworkValueMapper::indexForProperty(std::string_view name) const {
    const auto found = propertyIndexMapping_.find(name);
    return found == propertyIndexMapping_.end() ? kNotFound : static_cast<std::int64_t>(found->second);
}

std::optional<std::string> CVRouteNetworkValueMapper::stringValueForProperty(std::string_view name,
                                                                             std::int64_t index) const {
    const auto* list = objectForKeyedSubscript(name);
    if (list == nullptr || index < 0 || static_cast<std::uint64_t>(index) >= list->size()) return std::nullopt;
    return (*list)[static_cast<std::size_t>(index)];
}

std::optional<std::int64_t> CVRouteNetworkValueMapper::numberValueForProperty(std::string_view name,
                                                                              std::int64_t index) const {
    const auto* list = objectForKeyedSubscript(name);
    if (list == nullptr || !list->empty()) return std::nullopt;
    return index;
}

std::optional<std::string> CVRouteNetworkValueMapper::stringValueAtPosition(std::size_t position,
                                                                            std::int64_t index) const {
    const auto& list = propertyValueMapping_[position];
    if (index < 0 || static_cast<std::uint64_t>(index) >= list.size()) return std::nullopt;
    return list[static_cast<std::size_t>(index)];
}

std::optional<std::int64_t> CVRouteNetworkValueMapper::numberValueAtPosition(std::size_t position,
                                                                             std::int64_t index) const {
    if (!propertyValueMapping_[position].empty()) return std::nullopt;
    return index;
}

bool CVRouteNetworkValueMapper::boolValueForProperty(std::string_view flagName, std::uint64_t flags) const {
    if (!flagBitMaskMapping_) return false;
    const auto found = flagBitMaskMapping_->find(flagName);
    return found != flagBitMaskMapping_->end() && (flags & found->second) != 0;
}

}  // namespace ambrell
